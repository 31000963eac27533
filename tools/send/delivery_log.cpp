// SPDX-License-Identifier: Apache-2.0
#include "tools/send/delivery_log.h"

#include "tools/send/send_options.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

namespace {

// A value as it can stand after "key=": bare when it holds no blank, quote
// or control character, else quoted with " and \ escaped. The lines of a
// multi-line reply are joined with a blank.
std::string value_text(const std::string& value) {
  std::string flat;
  bool quote = value.empty();
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\r' && i + 1 < value.size() && value[i + 1] == '\n') continue;
    const char shown = c == '\n' || c == '\r' || c == '\t' ? ' ' : c;
    if (shown == ' ' || shown == '"' || shown == '\\' || shown == '=') quote = true;
    if (shown == '"' || shown == '\\') flat += '\\';
    flat += static_cast<unsigned char>(shown) < 0x20 ? '?' : shown;
  }
  return quote ? "\"" + flat + "\"" : flat;
}

}  // namespace

std::string DeliveryLogLine(const DeliveryEvent& event) {
  std::string recipients;
  for (const std::string& recipient : event.recipients) recipients += (recipients.empty() ? "<" : ",<") + recipient + ">";
  std::string line = "id=" + value_text(event.id) + " sender=" + value_text("<" + event.sender + ">") +
                     " recipients=" + value_text(recipients) + " server=" + value_text(event.server.empty() ? "-" : event.server) +
                     " status=" + event.status + " delay=" + std::to_string(event.delay);
  if (!event.reply.empty()) line += " reply=" + value_text(event.reply);
  return line;
}

DeliveryLog::DeliveryLog(std::optional<std::string> file) : m_file(std::move(file)) {
  if (!m_file) openlog(kSendProgram, LOG_PID, LOG_MAIL);
}

void DeliveryLog::Write(const DeliveryEvent& event) {
  const std::string line = DeliveryLogLine(event);
  if (!m_file) {
    const int priority = event.status == "failed" ? LOG_ERR : event.status == "deferred" ? LOG_WARNING : LOG_INFO;
    syslog(priority, "%s", line.c_str());
    return;
  }
  char stamp[64];
  const std::time_t now = std::time(nullptr);
  std::tm local;
  localtime_r(&now, &local);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S%z", &local);
  const std::string text =
      std::string(stamp) + " " + kSendProgram + "[" + std::to_string(getpid()) + "]: " + line + "\n";
  // One write of the whole line to a file opened for appending: lines of
  // processes logging at once do not mix.
  const int fd = open(m_file->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  const bool written = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int error = errno;
  if (fd >= 0) close(fd);
  if (!written && !m_warned) {
    std::fprintf(stderr, "%s: warning: cannot write the delivery log %s: %s\n", kSendProgram, m_file->c_str(),
                 std::strerror(error));
    m_warned = true;
  }
}

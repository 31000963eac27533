// SPDX-License-Identifier: Apache-2.0
#include "tools/send/sendmail_entry.h"

#include <tarvenkel/smtp/smtp.h>
#include "tools/send/dialogue_trace.h"
#include "tools/send/send_charset.h"
#include "tools/send/send_failure.h"
#include "tools/send/send_login.h"
#include "tools/send/send_queue.h"
#include "tools/send/send_settings.h"
#include "tools/send/sendmail_input.h"
#include "tools/send/spool_file.h"
#include "tools/send/spooled_message.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <strings.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

// The current local time as a Date line gives it, with a four-digit year.
std::string date_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local;
  char text[64];
  localtime_r(&now, &local);
  return std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S %z", &local) ? text : "";
}

// A Message-ID for a message that lacks one, at the sender's domain (or the
// host's name for a sender without one): the time, the process and a random
// number make it unique.
std::string new_message_id(const std::string& sender) {
  std::string domain = sender.substr(sender.rfind('@') + 1);
  if (sender.find('@') == std::string::npos) {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    domain = name[0] != '\0' ? name : "localhost";
  }
  std::random_device random;
  char text[64];
  std::snprintf(text, sizeof text, "<%lld.%d.%08x%08x@", static_cast<long long>(std::time(nullptr)),
                static_cast<int>(getpid()), random(), random());
  return text + domain + ">";
}

bool same_address(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// The exit status of a message sendmail-style: 0 accepted, else what the
// failure was, in the codes of <sysexits.h>, as for a normal send.
int send_incoming(const SendSettings& settings, CMailMessage& message) {
  CStreamingSMTP smtp;
  ConfigureSession(smtp, settings);
  if (const int status = ConnectSession(smtp, settings); status != EX_OK) return status;
  const BOOL accepted = smtp.SendMessage(&message);
  const SendFailure failure(smtp);
  smtp.Disconnect();
  const SendRefusals refused = SendRefusals::Report(smtp, accepted != FALSE);
  if (accepted) return EX_OK;
  return SendFailureStatus(settings, failure, refused, message.GetNumRecipients(CMailMessage::TO));
}

// Reads the message on standard input: its header into the reader, its body
// into the spool file. EX_OK, or the exit status of what went wrong, said on
// standard error.
int read_incoming(IncomingMessageReader& reader, SpoolFile& spool) {
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::fprintf(stderr, "%s: cannot read the message from standard input: %s\n", kSendProgram,
                   std::strerror(errno));
      return EX_IOERR;
    }
    if (n == 0 || !reader.Put(buffer.data(), static_cast<std::size_t>(n))) break;
  }
  reader.Finish();
  if (reader.Refused()) {
    std::fprintf(stderr, "%s: not sent: line %lu of the message holds a NUL byte\n", kSendProgram, reader.NulLine());
    return EX_DATAERR;
  }
  if (reader.SinkFailed() || !spool.Flush()) {
    std::fprintf(stderr, "%s: not sent: %s\n", kSendProgram, spool.Error().c_str());
    return EX_TEMPFAIL;
  }
  return EX_OK;
}

// The recipients of the arguments, and with -t those of the message, each
// once; EX_OK, or the exit status of the mistake after reporting it.
int collect_recipients(const SendSettings& settings, const IncomingMessage& incoming,
                       std::vector<std::string>& recipients) {
  auto add = [&recipients](const std::string& address) {
    for (const std::string& known : recipients)
      if (same_address(known, address)) return;
    recipients.push_back(address);
  };
  // Names without a domain become the addresses of their aliases, or get the default domain.
  std::vector<std::string> warnings;
  auto resolve = [&](const std::string& address) {
    for (const std::string& resolved : settings.addresses.Recipient(address, &warnings)) add(resolved);
  };
  for (const std::string& argument : settings.arguments)
    for (const std::string& address : AddressesOf(argument)) resolve(address);
  if (settings.headerRecipients)
    for (const std::string& address : incoming.recipients) resolve(address);
  for (size_t i = 0; i < warnings.size(); ++i)
    if (std::find(warnings.begin(), warnings.begin() + i, warnings[i]) == warnings.begin() + i)
      std::fprintf(stderr, "%s: warning: %s\n", kSendProgram, warnings[i].c_str());
  if (recipients.empty())
    return ReportUsageError(settings.headerRecipients ? "no recipients: the message has no To, Cc or Bcc address"
                                                      : "no recipients: give their addresses, or -t to take them "
                                                        "from the message");
  for (const std::string& address : recipients)
    if (address.find_first_of("\r\n<>") != std::string::npos)
      return ReportUsageError("recipient '" + address + "': not an address");
  return EX_OK;
}

// The header with the addresses of its From, To and Cc fields qualified
// (see Aliases::QualifyField); a field whose addresses all have a domain
// stays as written.
std::string qualified_header(const std::string& header, const Aliases& addresses) {
  std::string out;
  for (size_t start = 0; start < header.size();) {
    // A field: its first line and the lines that continue it.
    size_t end = start;
    do {
      end = header.find("\r\n", end);
      end = end == std::string::npos ? header.size() : end + 2;
    } while (end < header.size() && (header[end] == ' ' || header[end] == '\t'));
    const std::string field = header.substr(start, end - start);
    start = end;
    const size_t colon = field.find(':');
    std::string name = field.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    const bool sender = strcasecmp(name.c_str(), "From") == 0;
    if (colon == std::string::npos ||
        (!sender && strcasecmp(name.c_str(), "To") != 0 && strcasecmp(name.c_str(), "Cc") != 0)) {
      out += field;
      continue;
    }
    out += field.substr(0, colon + 1) + addresses.QualifyField(field.substr(colon + 1), sender);
  }
  return out;
}

// The message's header with the From, Date and Message-ID lines it lacks.
std::string completed_header(const SendSettings& settings, const IncomingMessage& incoming) {
  std::string header = qualified_header(incoming.header, settings.addresses);
  const std::string& from = *settings.from;
  if (!incoming.hasFrom) {
    std::string name;
    for (char c : settings.fullName)
      if (c != '\r' && c != '\n') name += c == '"' || c == '\\' ? std::string{'\\', c} : std::string(1, c);
    header += "From: " + (name.empty() ? from : "\"" + name + "\" <" + from + ">") + "\r\n";
  }
  if (!incoming.hasDate) header += "Date: " + date_now() + "\r\n";
  if (!incoming.hasMessageId) header += "Message-ID: " + new_message_id(from) + "\r\n";
  return header;
}

}  // namespace

int RunSendmailEntry(SendSettings& settings) {
  if (settings.fullName.empty()) settings.fullName = settings.fromName;
  if (!settings.charset) {
    const std::string codeset = LocaleCodeset();
    settings.charset = CodesetIsAsciiOnly(codeset) ? "UTF-8" : codeset;
  }

  SpoolFile spool;
  if (!spool.Create(SpoolFile::DefaultFolder())) {
    std::fprintf(stderr, "%s: not sent: %s\n", kSendProgram, spool.Error().c_str());
    return EX_TEMPFAIL;
  }
  IncomingMessageReader reader(!settings.ignoreDots, spool);
  if (const int status = read_incoming(reader, spool); status != EX_OK) return status;
  const IncomingMessage& incoming = reader.Message();

  std::vector<std::string> recipients;
  if (const int status = collect_recipients(settings, incoming, recipients); status != EX_OK) return status;
  if (!settings.from) settings.from = incoming.fromAddress;
  settings.from = settings.addresses.Sender(*settings.from);
  if (!settings.HasSender())
    return ReportUsageError("no sender: give -f ADDRESS, --from, or from in the configuration file");
  if (settings.from->find_first_of("\r\n<>") != std::string::npos)
    return ReportUsageError("sender '" + *settings.from + "': give the bare address");

  CSpooledMessage message(spool, completed_header(settings, incoming));
  message.m_sFrom = settings.from->c_str();
  for (const std::string& address : recipients) message.AddRecipient(address.c_str());

  std::optional<int> queued;
  if (settings.queue) queued = SendThroughQueue(settings, message);
  DialogueTrace trace(settings.password.value_or(""));
  if (settings.verbose && !queued) trace.Start();
  const int status = queued ? *queued : send_incoming(settings, message);
  if (settings.verbose && !queued) trace.Stop();
  if (message.GetReadError() != 0)
    std::fprintf(stderr, "%s: cannot read the message back from its temporary file: %s\n", kSendProgram,
                 std::strerror(message.GetReadError()));
  return status;
}

#include "tools/send/send_config.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Stores a value once; a key given twice is a mistake, not an override.
template <typename T>
bool store(std::optional<T>& target, T value, std::string& error) {
  if (target) {
    error = "given twice";
    return false;
  }
  target = std::move(value);
  return true;
}

bool set_number(std::optional<unsigned>& target, const std::string& value, unsigned long low, unsigned long high,
                std::string& error) {
  unsigned long number = 0;
  if (!ParseDecimal(value, high, number) || number < low) {
    error = "'" + value + "' is not a number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  return store(target, static_cast<unsigned>(number), error);
}

bool set_text(std::optional<std::string>& target, const std::string& value, std::string& error) {
  if (value.empty()) {
    error = "empty value";
    return false;
  }
  return store(target, value, error);
}

// One "key = value" setting; false with the reason when it is not valid.
bool set(SendConfig& config, const std::string& key, const std::string& value, std::string& error) {
  if (key == "server") return set_text(config.server, value, error);
  if (key == "port") return set_number(config.port, value, 1, 65535, error);
  if (key == "timeout") return set_number(config.timeout, value, 0, UINT_MAX / 1000, error);
  if (key == "ca-file") return set_text(config.caFile, value, error);
  if (key == "user") return set_text(config.user, value, error);
  if (key == "password-file") return set_text(config.passwordFile, value, error);
  if (key == "from") return set_text(config.from, value, error);
  if (key == "charset") return set_text(config.charset, value, error);
  if (key == "security") {
    if (value == "none") return store(config.security, SendConfig::kNone, error);
    if (value == "starttls") return store(config.security, SendConfig::kStartTls, error);
    if (value == "tls") return store(config.security, SendConfig::kTls, error);
    error = "'" + value + "' is not none, starttls or tls";
    return false;
  }
  if (key == "short-dialogue") {
    if (value == "yes" || value == "no") return store(config.shortDialogue, value == "yes", error);
    error = "'" + value + "' is not yes or no";
    return false;
  }
  error = "unknown key '" + key + "'";
  return false;
}

}  // namespace

bool ParseDecimal(const std::string& text, unsigned long limit, unsigned long& value) {
  if (text.empty() || text.size() > 10) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value <= limit;
}

bool ParseSendConfig(const std::string& text, SendConfig& config, std::string& error) {
  size_t start = 0;
  for (int number = 1; start < text.size(); ++number) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    std::string reason;
    if (equals == std::string::npos)
      reason = "expected 'key = value'";
    else if (set(config, trim(line.substr(0, equals)), trim(line.substr(equals + 1)), reason))
      continue;
    error = "line " + std::to_string(number) + ": " + reason;
    return false;
  }
  return true;
}

bool ReadSendConfig(const std::string& path, SendConfig& config, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  // The mode is that of the file read, not of whatever the path names later.
  struct stat info;
  std::string text;
  bool ok = fstat(fd, &info) == 0;
  if (ok && !S_ISREG(info.st_mode)) {
    close(fd);
    error = path + ": not a regular file";
    return false;
  }
  char buffer[4096];
  ssize_t n = 0;
  while (ok && (n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ok = ok && n == 0;
  const int saved = errno;
  close(fd);
  if (!ok) {
    error = path + ": " + std::strerror(saved);
    return false;
  }
  if (!ParseSendConfig(text, config, error)) {
    error = path + ": " + error;
    return false;
  }
  if (config.passwordFile && (info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    error = path + ": names a password file but others than its owner may read it (mode " + mode +
            "); make it private with chmod 600 " + path;
    return false;
  }
  return true;
}

std::string DefaultSendConfigPath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0')
    base = xdg;
  else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
    base = std::string(home) + "/.config";
  for (const std::string& path : {base.empty() ? std::string() : base + "/tarvenkel/send.conf",
                                  std::string("/etc/tarvenkel/send.conf")}) {
    struct stat info;
    if (!path.empty() && stat(path.c_str(), &info) == 0) return path;
  }
  return "";
}

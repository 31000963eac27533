#include "tools/send/send_config.h"

#include <algorithm>
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

bool set_yes_no(std::optional<bool>& target, const std::string& value, std::string& error) {
  if (value == "yes" || value == "no") return store(target, value == "yes", error);
  error = "'" + value + "' is not yes or no";
  return false;
}

bool set_security(std::optional<SendConfig::Security>& target, const std::string& value, std::string& error) {
  if (value == "none") return store(target, SendConfig::kNone, error);
  if (value == "starttls") return store(target, SendConfig::kStartTls, error);
  if (value == "tls") return store(target, SendConfig::kTls, error);
  error = "'" + value + "' is not none, starttls or tls";
  return false;
}

// One key: its name (that of its option) and how it stores its value.
struct Key {
  const char* name;
  bool (*set)(SendConfig& config, const std::string& value, std::string& error);
};

const Key kKeys[] = {
    {"server", [](SendConfig& c, const std::string& v, std::string& e) { return set_text(c.server, v, e); }},
    {"port", [](SendConfig& c, const std::string& v, std::string& e) { return set_number(c.port, v, 1, 65535, e); }},
    {"security", [](SendConfig& c, const std::string& v, std::string& e) { return set_security(c.security, v, e); }},
    {"cafile", [](SendConfig& c, const std::string& v, std::string& e) { return set_text(c.caFile, v, e); }},
    {"ca-file", [](SendConfig& c, const std::string& v, std::string& e) { return set_text(c.caFile, v, e); }},
    {"user", [](SendConfig& c, const std::string& v, std::string& e) { return set_text(c.user, v, e); }},
    {"password", [](SendConfig& c, const std::string& v, std::string& e) { return set_text(c.password, v, e); }},
    {"password-file",
     [](SendConfig& c, const std::string& v, std::string& e) { return set_text(c.passwordFile, v, e); }},
    {"plaintext-login",
     [](SendConfig& c, const std::string& v, std::string& e) { return set_yes_no(c.plaintextLogin, v, e); }},
    {"from", [](SendConfig& c, const std::string& v, std::string& e) { return set_text(c.from, v, e); }},
    {"timeout",
     [](SendConfig& c, const std::string& v, std::string& e) { return set_number(c.timeout, v, 0, UINT_MAX / 1000, e); }},
    {"charset", [](SendConfig& c, const std::string& v, std::string& e) { return set_text(c.charset, v, e); }},
    {"short-dialogue",
     [](SendConfig& c, const std::string& v, std::string& e) { return set_yes_no(c.shortDialogue, v, e); }},
};

// One "key = value" setting; false with the reason when it is not valid.
bool set(SendConfig& config, const std::string& key, const std::string& value, std::string& error) {
  for (const Key& known : kKeys)
    if (key == known.name) return known.set(config, value, error);
  error = "unknown key '" + key + "'";
  const std::string nearest = NearestName(key, SendConfigKeys());
  if (!nearest.empty()) error += " (did you mean '" + nearest + "'?)";
  return false;
}

// The mode as ls and chmod write it, "0644".
std::string mode_text(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// Reads a whole regular file; false with an error that starts with the path.
bool read_regular_file(const std::string& path, std::string& text, struct stat& info, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  // The mode is that of the file read, not of whatever the path names later.
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
  return true;
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

const std::vector<std::string>& SendConfigKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> names;
    for (const Key& key : kKeys) names.push_back(key.name);
    return names;
  }();
  return keys;
}

std::string NearestName(const std::string& word, const std::vector<std::string>& names) {
  // Levenshtein distance, one row at a time.
  auto distance = [](const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
      size_t diagonal = row[0];
      row[0] = i;
      for (size_t j = 1; j <= b.size(); ++j) {
        const size_t above = row[j];
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
        diagonal = above;
      }
    }
    return row[b.size()];
  };
  std::string nearest;
  size_t best = 0;
  for (const std::string& name : names) {
    const size_t d = distance(word, name);
    if (nearest.empty() || d < best) {
      nearest = name;
      best = d;
    }
  }
  // A third of the letters wrong is still a typing mistake; more is another word.
  return !nearest.empty() && best <= std::max<size_t>(2, nearest.size() / 3) ? nearest : std::string();
}

bool ParseSendConfig(const std::string& text, SendConfig& config, std::string& error) {
  // An editor may start a UTF-8 file with a byte-order mark; it is no part of the first key.
  size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
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

bool SecretFileModeIsSafe(const std::string& path, mode_t mode, std::string& error) {
  if ((mode & S_IROTH) == 0) return true;
  error = path + ": holds a secret but every user of this machine may read it (mode " + mode_text(mode) +
          "); make it private with chmod 600 " + path + ", or share it with one group with chmod 640";
  return false;
}

bool ReadSendConfig(const std::string& path, SendConfig& config, std::string& error) {
  struct stat info;
  std::string text;
  if (!read_regular_file(path, text, info, error)) return false;
  if (!ParseSendConfig(text, config, error)) {
    error = path + ": " + error;
    return false;
  }
  return !config.password || SecretFileModeIsSafe(path, info.st_mode, error);
}

bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error, bool* pExposed) {
  struct stat info;
  std::string text;
  if (!read_regular_file(path, text, info, error)) return false;
  if (!SecretFileModeIsSafe(path, info.st_mode, error)) {
    if (pExposed != nullptr) *pExposed = true;
    return false;
  }
  password = text.substr(0, text.find_first_of("\r\n"));
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

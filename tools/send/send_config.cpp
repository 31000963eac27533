// SPDX-License-Identifier: Apache-2.0
#include "tools/send/send_config.h"

#include "tools/send/send_options.h"

#include <algorithm>
#include <cerrno>
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

// One "key = value" setting, stored by the key's row of the option table;
// false with the reason when it is not valid. A key given before, under
// either spelling, is a mistake, not an override.
bool set(SendOptions& options, std::vector<const SendOption*>& given, const std::string& key,
         const std::string& value, std::string& error) {
  const SendOption* option = FindSendConfigKey(key);
  if (!option) {
    error = "unknown key '" + key + "'";
    const std::string nearest = NearestName(key, SendConfigKeys());
    if (!nearest.empty()) error += " (did you mean '" + nearest + "'?)";
    return false;
  }
  if (std::find(given.begin(), given.end(), option) != given.end()) {
    error = "given twice";
    return false;
  }
  given.push_back(option);
  return option->store(options, value, true, error);
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
    for (const SendOption& option : SendOptionTable()) {
      if (!option.key) continue;
      names.push_back(option.key);
      if (option.alias) names.push_back(option.alias);
    }
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
  SendOptions settings;
  static_cast<SendConfig&>(settings) = config;
  std::vector<const SendOption*> given;
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
    else if (set(settings, given, trim(line.substr(0, equals)), trim(line.substr(equals + 1)), reason))
      continue;
    error = "line " + std::to_string(number) + ": " + reason;
    return false;
  }
  config = settings;
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
                                  std::string(kSystemSendConfig)}) {
    struct stat info;
    if (!path.empty() && stat(path.c_str(), &info) == 0) return path;
  }
  return "";
}

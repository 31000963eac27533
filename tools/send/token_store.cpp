// SPDX-License-Identifier: Apache-2.0
#include "tools/send/token_store.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string mode_text(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string folder_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ReadTokenStore(const std::string& path, TokenStore& store, std::string& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "token store " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info;
  std::string text;
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  char buffer[4096];
  ssize_t n = 0;
  while (ok && (n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  ok = ok && n == 0;
  close(fd);
  if (!ok) {
    error = "token store " + path + ": cannot be read";
    return false;
  }
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    error = "token store " + path + ": others than its owner may read it (mode " + mode_text(info.st_mode) +
            "); make it private with chmod 600 " + path;
    return false;
  }
  const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  if (!json.is_object() || !json.contains("refresh_token") || !json["refresh_token"].is_string()) {
    error = "token store " + path + ": not a token store (no refresh token); run tarvenkel-send --authorize";
    return false;
  }
  store = TokenStore{};
  store.refreshToken = json["refresh_token"].get<std::string>();
  if (json.contains("access_token") && json["access_token"].is_string())
    store.accessToken = json["access_token"].get<std::string>();
  if (json.contains("expires_at") && json["expires_at"].is_number_integer())
    store.expiresAt = json["expires_at"].get<std::time_t>();
  return true;
}

bool WriteTokenStore(const std::string& path, const TokenStore& store, std::string& error) {
  nlohmann::json json = {{"refresh_token", store.refreshToken},
                         {"access_token", store.accessToken},
                         {"expires_at", static_cast<long long>(store.expiresAt)}};
  const std::string text = json.dump(2) + "\n";
  // The temporary file is created private, so the token is never readable
  // by others, not even for a moment.
  std::string temporary = path + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    error = "token store " + path + ": cannot create a file beside it: " + std::strerror(errno);
    return false;
  }
  const bool written = fchmod(fd, 0600) == 0 && write_all(fd, text) && fsync(fd) == 0;
  const int saved = errno;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
    const int reason = written && closed ? errno : saved;
    unlink(temporary.c_str());
    error = "token store " + path + ": cannot be written: " + std::strerror(reason);
    return false;
  }
  // The rename is durable only once the folder is synced.
  const int folder = open(folder_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    fsync(folder);
    close(folder);
  }
  return true;
}

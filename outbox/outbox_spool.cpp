// SPDX-License-Identifier: Apache-2.0
#include "outbox/internal/outbox_spool.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvenkel::detail {

namespace {

constexpr const char kFormatLine[] = "tarvenkel-outbox 1";
// An envelope is a few lines per recipient; a longer one is not ours.
constexpr std::size_t kMaxEnvelope = 1 << 20;

std::string errno_text() {
  return std::strerror(errno);
}

bool write_all(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool sync_folder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

// Writes a file under a temporary name, syncs it and renames it into place;
// nothing is left behind on failure.
bool write_whole(const std::string& folder, const std::string& target, const std::string& temporary,
                 const std::function<bool(int, std::string&)>& write, std::string& error) {
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = "cannot create " + temporary + ": " + errno_text();
    return false;
  }
  bool ok = write(fd, error);
  if (ok && ::fsync(fd) != 0) {
    error = "cannot write " + temporary + ": " + errno_text();
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    error = "cannot write " + temporary + ": " + errno_text();
    ok = false;
  }
  if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
    error = "cannot rename " + temporary + ": " + errno_text();
    ok = false;
  }
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  if (!sync_folder(folder)) {
    error = "cannot sync " + folder + ": " + errno_text();
    return false;
  }
  return true;
}

bool write_text(int fd, const std::string& text, const std::string& path, std::string& error) {
  if (write_all(fd, text)) return true;
  error = "cannot write " + path + ": " + errno_text();
  return false;
}

std::string new_id() {
  static std::atomic<unsigned> counter{0};
  const long long micros = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  char id[64];
  std::snprintf(id, sizeof id, "%017lld-%d-%u", micros, static_cast<int>(::getpid()), counter++);
  return id;
}

bool has_line_break(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// Reads the envelope of a message file: the lines up to the empty one.
// Returns the offset of the message's first byte, or -1.
off_t read_envelope(int fd, OutboxEntry& entry) {
  std::string text;
  char buffer[4096];
  std::size_t end = std::string::npos;
  while ((end = text.find("\n\n")) == std::string::npos && text.size() < kMaxEnvelope) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return -1;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  if (end == std::string::npos) return -1;
  std::size_t start = 0;
  bool first = true;
  while (start < end + 1) {
    const std::size_t nl = text.find('\n', start);
    const std::string line = text.substr(start, nl - start);
    start = nl + 1;
    if (first) {
      if (line != kFormatLine) return -1;
      first = false;
    } else if (line.rfind("from ", 0) == 0) {
      entry.sender = line.substr(5);
    } else if (line.rfind("to ", 0) == 0) {
      entry.recipients.push_back(line.substr(3));
    } else if (line.rfind("queued ", 0) == 0) {
      entry.queued = static_cast<std::time_t>(std::atoll(line.c_str() + 7));
    }
  }
  return static_cast<off_t>(end + 2);
}

void read_state(const std::string& path, OutboxEntry& entry) {
  std::FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr) return;
  char line[8192];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (text.rfind("tries ", 0) == 0)
      entry.tries = std::atoi(text.c_str() + 6);
    else if (text.rfind("next ", 0) == 0)
      entry.nextTry = static_cast<std::time_t>(std::atoll(text.c_str() + 5));
    else if (text.rfind("done ", 0) == 0)
      entry.done.push_back(text.substr(5));
    else if (text.rfind("reply ", 0) == 0)
      entry.lastReply += (entry.lastReply.empty() ? "" : "\r\n") + text.substr(6);
  }
  std::fclose(file);
}

std::string state_text(const OutboxEntry& entry) {
  std::string text = "tries " + std::to_string(entry.tries) + "\nnext " + std::to_string(entry.nextTry) + "\n";
  for (const std::string& address : entry.done) text += "done " + address + "\n";
  // A reply of several lines keeps them, one "reply" line each.
  std::size_t start = 0;
  while (start < entry.lastReply.size()) {
    std::size_t end = entry.lastReply.find_first_of("\r\n", start);
    if (end == std::string::npos) end = entry.lastReply.size();
    if (end > start) text += "reply " + entry.lastReply.substr(start, end - start) + "\n";
    start = end + 1;
  }
  return text;
}

bool make_private_folder(const std::string& folder, std::string& error) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + folder + ": " + errno_text();
    return false;
  }
  struct stat info;
  if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    error = folder + " is not a folder";
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    error = folder + " belongs to another user";
    return false;
  }
  // The messages are private mail: nobody else may list or read them.
  if ((info.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
    error = "cannot make " + folder + " private: " + errno_text();
    return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> OutboxEntry::Pending() const {
  std::vector<std::string> pending;
  for (const std::string& address : recipients)
    if (std::find(done.begin(), done.end(), address) == done.end()) pending.push_back(address);
  return pending;
}

OutboxSpool::OutboxSpool(std::string folder) : m_folder(std::move(folder)) {
  while (m_folder.size() > 1 && m_folder.back() == '/') m_folder.pop_back();
}

std::string OutboxSpool::path(const std::string& name, bool bFailed) const {
  return m_folder + (bFailed ? "/failed/" : "/") + name;
}

bool OutboxSpool::Open(std::string& error) {
  return make_private_folder(m_folder, error) && make_private_folder(m_folder + "/failed", error);
}

bool OutboxSpool::Add(const std::string& sender, const std::vector<std::string>& recipients,
                      const std::function<bool(int, std::string&)>& write, std::string& id, std::string& error) {
  if (recipients.empty()) {
    error = "no recipients";
    return false;
  }
  if (has_line_break(sender) ||
      std::any_of(recipients.begin(), recipients.end(), [](const std::string& a) { return has_line_break(a); })) {
    error = "Invalid address";
    return false;
  }
  const std::string newId = new_id();
  std::string envelope = std::string(kFormatLine) + "\nfrom " + sender + "\n";
  for (const std::string& address : recipients) envelope += "to " + address + "\n";
  envelope += "queued " + std::to_string(static_cast<long long>(std::time(nullptr))) + "\n\n";
  const std::string temporary = path(".tmp-" + newId);
  if (!write_whole(
          m_folder, path(newId + ".msg"), temporary,
          [&](int fd, std::string& why) { return write_text(fd, envelope, temporary, why) && write(fd, why); },
          error))
    return false;
  id = newId;
  return true;
}

bool OutboxSpool::Load(const std::string& id, OutboxEntry& entry, bool bFailed) const {
  const int fd = ::open(path(id + ".msg", bFailed).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  entry = OutboxEntry{};
  entry.id = id;
  const bool ok = read_envelope(fd, entry) >= 0;
  ::close(fd);
  if (ok) read_state(path(id + ".state", bFailed), entry);
  return ok;
}

std::vector<OutboxEntry> OutboxSpool::List(bool bFailed) const {
  std::vector<std::string> ids;
  if (DIR* dir = ::opendir(bFailed ? (m_folder + "/failed").c_str() : m_folder.c_str())) {
    while (const dirent* item = ::readdir(dir)) {
      const std::string name = item->d_name;
      if (name.size() > 4 && name[0] != '.' && name.compare(name.size() - 4, 4, ".msg") == 0)
        ids.push_back(name.substr(0, name.size() - 4));
    }
    ::closedir(dir);
  }
  std::sort(ids.begin(), ids.end());
  std::vector<OutboxEntry> entries;
  for (const std::string& id : ids) {
    OutboxEntry entry;
    if (Load(id, entry, bFailed)) entries.push_back(std::move(entry));
  }
  return entries;
}

bool OutboxSpool::SaveState(const OutboxEntry& entry, std::string& error) {
  const std::string text = state_text(entry);
  const std::string temporary = path(".tmp-" + entry.id + ".state");
  ::unlink(temporary.c_str());
  return write_whole(
      m_folder, path(entry.id + ".state"), temporary,
      [&](int fd, std::string& why) { return write_text(fd, text, temporary, why); }, error);
}

bool OutboxSpool::Remove(const std::string& id, bool bFailed, bool bSync) {
  // The message goes first: a state left without it is ignored.
  const bool removed = ::unlink(path(id + ".msg", bFailed).c_str()) == 0;
  ::unlink(path(id + ".state", bFailed).c_str());
  if (bSync) sync_folder(bFailed ? m_folder + "/failed" : m_folder);
  return removed;
}

void OutboxSpool::Sync() const {
  sync_folder(m_folder);
}

bool OutboxSpool::MoveToFailed(const OutboxEntry& entry, std::string& error) {
  const std::string text = state_text(entry);
  const std::string failed = m_folder + "/failed";
  const std::string temporary = path(".tmp-" + entry.id + ".state", true);
  ::unlink(temporary.c_str());
  if (!write_whole(
          failed, path(entry.id + ".state", true), temporary,
          [&](int fd, std::string& why) { return write_text(fd, text, temporary, why); }, error))
    return false;
  if (::rename(path(entry.id + ".msg").c_str(), path(entry.id + ".msg", true).c_str()) != 0) {
    error = "cannot move " + entry.id + " to " + failed + ": " + errno_text();
    return false;
  }
  ::unlink(path(entry.id + ".state").c_str());
  sync_folder(failed);
  sync_folder(m_folder);
  return true;
}

int OutboxSpool::OpenMessage(const std::string& id) const {
  const int fd = ::open(path(id + ".msg").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  OutboxEntry entry;
  const off_t start = read_envelope(fd, entry);
  if (start < 0 || ::lseek(fd, start, SEEK_SET) != start) {
    ::close(fd);
    return -1;
  }
  return fd;
}

OutboxSpool::FlushLock::FlushLock(const OutboxSpool& spool) {
  m_fd = ::open((spool.Folder() + "/.flush.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

OutboxSpool::FlushLock::~FlushLock() {
  if (m_fd >= 0) ::close(m_fd);
}

}  // namespace tarvenkel::detail

// SPDX-License-Identifier: Apache-2.0
#include "tools/send/spool_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

SpoolFile::~SpoolFile() {
  if (m_fd >= 0) close(m_fd);
}

std::string SpoolFile::DefaultFolder() {
  const char* folder = std::getenv("TMPDIR");
  struct stat info;
  if (folder != nullptr && folder[0] == '/' && stat(folder, &info) == 0 && S_ISDIR(info.st_mode)) return folder;
  return "/tmp";
}

bool SpoolFile::Create(const std::string& folder) {
  m_folder = folder;
  m_fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
    // A file system without nameless files: a private name, removed at once.
    std::string path = folder + "/tarvenkel-send.XXXXXX";
    m_fd = mkostemp(path.data(), O_CLOEXEC);
    if (m_fd >= 0 && unlink(path.c_str()) != 0) {
      const int error = errno;
      close(m_fd);
      m_fd = -1;
      return fail("cannot remove the name of a temporary file in", error);
    }
  }
  if (m_fd < 0) return fail("cannot create a temporary file in", errno);
  m_buffer.reserve(kBufferBytes);
  return true;
}

bool SpoolFile::Write(const char* data, std::size_t length) {
  m_size += length;
  if (m_buffer.size() + length > kBufferBytes && !Flush()) return false;
  // A piece as large as the buffer goes out from where it is.
  if (length >= kBufferBytes) return write_all(data, length);
  m_buffer.append(data, length);
  return true;
}

bool SpoolFile::Flush() {
  if (!write_all(m_buffer.data(), m_buffer.size())) return false;
  m_buffer.clear();
  return true;
}

bool SpoolFile::write_all(const char* p, std::size_t left) {
  while (left > 0) {
    const ssize_t n = write(m_fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("cannot write the message to a temporary file in", errno);
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

long SpoolFile::Read(unsigned long long offset, char* data, std::size_t length) const {
  for (;;) {
    const ssize_t n = pread(m_fd, data, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

bool SpoolFile::fail(const char* what, int error) {
  m_error = std::string(what) + " " + m_folder + ": " + std::strerror(error);
  return false;
}

// SPDX-License-Identifier: Apache-2.0
#include "outbox/internal/queued_message.h"

#include "framework/core/exception.h"
#include "framework/io/file.h"

#include <cerrno>
#include <vector>

#include <unistd.h>

namespace tarvenkel::detail {

QueuedMessage::QueuedMessage(int fd, const std::string& sender, const std::vector<std::string>& recipients)
    : m_fd(fd), m_nStart(::lseek(fd, 0, SEEK_CUR)) {
  m_sFrom = CString(sender.c_str());
  for (const std::string& address : recipients) AddRecipient(address.c_str(), "", BCC);
}

QueuedMessage::~QueuedMessage() {
  if (m_fd >= 0) ::close(m_fd);
}

void QueuedMessage::write_body(CFile& file) {
  if (m_nStart < 0 || ::lseek(m_fd, m_nStart, SEEK_SET) != m_nStart)
    AfxThrowFileException(CFileException::genericException, errno);
  std::vector<char> buffer(64 * 1024);
  for (;;) {
    const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) AfxThrowFileException(CFileException::genericException, errno);
    if (n == 0) return;
    file.Write(buffer.data(), static_cast<UINT>(n));
  }
}

}  // namespace tarvenkel::detail

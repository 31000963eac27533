// SPDX-License-Identifier: Apache-2.0
#include "outbox/internal/descriptor_file.h"

#include "framework/core/exception.h"

#include <cerrno>

#include <unistd.h>

namespace tarvenkel::detail {

void DescriptorFile::Write(const void* lpBuf, UINT nCount) {
  const char* pData = static_cast<const char*>(lpBuf);
  while (nCount > 0) {
    const ssize_t n = ::write(m_fd, pData, nCount);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (m_nError == 0) m_nError = n < 0 ? errno : EIO;
      AfxThrowFileException(CFileException::genericException, m_nError);
    }
    pData += n;
    nCount -= static_cast<UINT>(n);
  }
}

UINT DescriptorFile::Read(void* lpBuf, UINT nCount) {
  for (;;) {
    const ssize_t n = ::read(m_fd, lpBuf, nCount);
    if (n >= 0) return static_cast<UINT>(n);
    if (errno == EINTR) continue;
    if (m_nError == 0) m_nError = errno;
    AfxThrowFileException(CFileException::genericException, m_nError);
  }
}

}  // namespace tarvenkel::detail

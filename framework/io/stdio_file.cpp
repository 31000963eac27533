// SPDX-License-Identifier: Apache-2.0
#include "framework/io/stdio_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large enough that a caller reading in small blocks costs one system call
// per block of this size.
constexpr std::size_t kBufferSize = 256 * 1024;

void set_error(CFileException* pError, int cause, int nErrno, LPCTSTR path) {
  if (pError == nullptr) return;
  pError->m_cause = cause;
  pError->m_lOsError = nErrno;
  pError->m_strFileName = path ? path : "";
}

}  // namespace

CStdioFile::CStdioFile() : m_hFile(-1) {}

CStdioFile::~CStdioFile() {
  try {
    Close();
  } catch (CException* e) {
    e->Delete();
  }
}

BOOL CStdioFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  if (IsOpen()) Abort();
  if (lpszFileName == nullptr || *lpszFileName == '\0') {
    set_error(pError, CFileException::badPath, ENOENT, lpszFileName);
    return FALSE;
  }
  const int fd = CFile::OpenDescriptor(lpszFileName, nOpenFlags, TRUE, pError);
  if (fd < 0) return FALSE;
  const bool writable = (nOpenFlags & 3) != modeRead;
  m_hFile = fd;
  m_bWritable = writable;
  m_strFileName = lpszFileName;
  m_nBufferPos = m_nBufferEnd = m_nPendingOut = 0;
  return TRUE;
}

void CStdioFile::throw_os_error(int nErrno) const {
  AfxThrowFileException(CFileException::OsErrorToException(nErrno), nErrno, m_strFileName);
}

UINT CStdioFile::Read(void* lpBuf, UINT nCount) {
  if (!IsOpen()) AfxThrowFileException(CFileException::invalidFile, EBADF, m_strFileName);
  if (nCount == 0) return 0;
  if (lpBuf == nullptr) AfxThrowFileException(CFileException::genericException, EINVAL, m_strFileName);
  flush_output();
  char* out = static_cast<char*>(lpBuf);
  std::size_t done = 0;
  while (done < nCount) {
    if (m_nBufferPos < m_nBufferEnd) {
      const std::size_t n = std::min<std::size_t>(nCount - done, m_nBufferEnd - m_nBufferPos);
      std::memcpy(out + done, m_buffer.data() + m_nBufferPos, n);
      m_nBufferPos += n;
      done += n;
      continue;
    }
    const std::size_t want = nCount - done;
    // A request as large as the buffer goes straight into the caller's memory.
    const bool direct = want >= kBufferSize;
    if (!direct && m_buffer.size() < kBufferSize) m_buffer.resize(kBufferSize);
    char* target = direct ? out + done : m_buffer.data();
    const std::size_t room = direct ? want : kBufferSize;
    ssize_t got;
    do {
      got = ::read(m_hFile, target, room);
    } while (got < 0 && errno == EINTR);
    if (got < 0) throw_os_error(errno);
    if (got == 0) break;
    if (direct) {
      done += static_cast<std::size_t>(got);
    } else {
      m_nBufferPos = 0;
      m_nBufferEnd = static_cast<std::size_t>(got);
    }
  }
  return static_cast<UINT>(done);
}

void CStdioFile::flush_output() {
  std::size_t off = 0;
  while (off < m_nPendingOut) {
    const ssize_t n = ::write(m_hFile, m_buffer.data() + off, m_nPendingOut - off);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      m_nPendingOut = 0;
      throw_os_error(e);
    }
    off += static_cast<std::size_t>(n);
  }
  m_nPendingOut = 0;
}

void CStdioFile::Write(const void* lpBuf, UINT nCount) {
  if (!IsOpen() || !m_bWritable) AfxThrowFileException(CFileException::accessDenied, EBADF, m_strFileName);
  if (nCount == 0) return;
  if (lpBuf == nullptr) AfxThrowFileException(CFileException::genericException, EINVAL, m_strFileName);
  // Bytes read ahead but not consumed: move the file position back to where
  // the caller believes it is before writing.
  if (m_nBufferPos < m_nBufferEnd) {
    ::lseek(m_hFile, -static_cast<off_t>(m_nBufferEnd - m_nBufferPos), SEEK_CUR);
  }
  m_nBufferPos = m_nBufferEnd = 0;
  if (m_buffer.size() < kBufferSize) m_buffer.resize(kBufferSize);
  const char* in = static_cast<const char*>(lpBuf);
  if (m_nPendingOut + nCount > kBufferSize) flush_output();
  if (nCount >= kBufferSize) {
    std::size_t off = 0;
    while (off < nCount) {
      const ssize_t n = ::write(m_hFile, in + off, nCount - off);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw_os_error(errno);
      off += static_cast<std::size_t>(n);
    }
    return;
  }
  std::memcpy(m_buffer.data() + m_nPendingOut, in, nCount);
  m_nPendingOut += nCount;
}

void CStdioFile::Close() {
  if (!IsOpen()) return;
  try {
    flush_output();
  } catch (CException*) {
    Abort();
    throw;
  }
  const int fd = m_hFile;
  m_hFile = -1;
  if (::close(fd) != 0 && errno != EINTR) throw_os_error(errno);
}

void CStdioFile::Abort() {
  if (!IsOpen()) return;
  ::close(m_hFile);
  m_hFile = -1;
  m_nBufferPos = m_nBufferEnd = m_nPendingOut = 0;
}

std::uint64_t CStdioFile::GetLength() {
  struct stat st {};
  if (!IsOpen()) return 0;
  flush_output();
  if (::fstat(m_hFile, &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

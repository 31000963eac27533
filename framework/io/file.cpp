// SPDX-License-Identifier: Apache-2.0
#include "framework/io/file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

CFile::CFile() : m_hFile(hFileNull), m_bCloseOnDelete(FALSE) {}

CFile::CFile(int hFile) : m_hFile(hFile), m_bCloseOnDelete(FALSE) {}

CFile::CFile(LPCTSTR lpszFileName, UINT nOpenFlags) : m_hFile(hFileNull), m_bCloseOnDelete(FALSE) {
  CFileException error;
  if (!Open(lpszFileName, nOpenFlags, &error))
    AfxThrowFileException(error.m_cause, error.m_lOsError, error.m_strFileName.c_str());
}

CFile::~CFile() {
  if (m_hFile != hFileNull && m_bCloseOnDelete) ::close(m_hFile);
}

void CFile::throw_os_error(int nErrno) const {
  AfxThrowFileException(CFileException::OsErrorToException(nErrno), nErrno, m_strFileName);
}

namespace {

// Fills *pError (when given) and returns hFileNull.
int open_failed(CFileException* pError, int nCause, int nErrno, LPCTSTR lpszFileName) {
  if (pError != nullptr) {
    pError->m_cause = nCause;
    pError->m_lOsError = nErrno;
    pError->m_strFileName = lpszFileName ? lpszFileName : "";
  }
  return CFile::hFileNull;
}

// Takes the locks of the share mode on fd; false when another holder's lock
// conflicts (errno tells which).
bool take_share_lock(int fd, UINT nShare, int nAccess) {
  const bool exclusive = nShare == CFile::shareExclusive || nShare == CFile::shareDenyRead;
  if (!exclusive && nShare != CFile::shareDenyWrite) return true;
  // A record lock for reading needs a readable descriptor, one for writing a
  // writable one.
  struct flock record {};
  record.l_type = (exclusive && nAccess != O_RDONLY) || nAccess == O_WRONLY ? F_WRLCK : F_RDLCK;
  record.l_whence = SEEK_SET;
  if (::fcntl(fd, F_OFD_SETLK, &record) != 0 && (errno == EAGAIN || errno == EACCES)) return false;
  const int whole = exclusive || nAccess == O_WRONLY ? LOCK_EX : LOCK_SH;
  return !(::flock(fd, whole | LOCK_NB) != 0 && errno == EWOULDBLOCK);
}

}  // namespace

int CFile::OpenDescriptor(LPCTSTR lpszFileName, UINT nOpenFlags, BOOL bRegularOnly, CFileException* pError) {
  int access;
  switch (nOpenFlags & 3) {
    case modeRead: access = O_RDONLY; break;
    case modeWrite: access = O_WRONLY; break;
    case modeReadWrite: access = O_RDWR; break;
    default: return open_failed(pError, CFileException::genericException, EINVAL, lpszFileName);
  }
  // No O_TRUNC: truncation waits for the lock.
  int flags = O_CLOEXEC | access;
  if (nOpenFlags & modeCreate) flags |= O_CREAT;
  if (bRegularOnly) flags |= O_NONBLOCK;
  int fd;
  do {
    fd = ::open(lpszFileName, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return open_failed(pError, CFileException::OsErrorToException(errno), errno, lpszFileName);
  const auto refuse = [&](int nCause, int nErrno) {
    ::close(fd);
    return open_failed(pError, nCause, nErrno, lpszFileName);
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return refuse(CFileException::OsErrorToException(errno), errno);
  if (S_ISDIR(st.st_mode)) return refuse(CFileException::invalidFile, EISDIR);
  if (bRegularOnly && !S_ISREG(st.st_mode)) return refuse(CFileException::accessDenied, EINVAL);
  if (bRegularOnly) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!take_share_lock(fd, nOpenFlags & 0x70, access)) return refuse(CFileException::sharingViolation, errno);
  const bool truncate = (nOpenFlags & modeCreate) && !(nOpenFlags & modeNoTruncate) && S_ISREG(st.st_mode);
  if (truncate && ::ftruncate(fd, 0) != 0) return refuse(CFileException::OsErrorToException(errno), errno);
  return fd;
}

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  if (m_hFile != hFileNull || lpszFileName == nullptr) {
    open_failed(pError, CFileException::OsErrorToException(EINVAL), EINVAL, lpszFileName);
    return FALSE;
  }
  const int fd = OpenDescriptor(lpszFileName, nOpenFlags, FALSE, pError);
  if (fd == hFileNull) return FALSE;
  m_hFile = fd;
  m_bCloseOnDelete = TRUE;
  m_strFileName = lpszFileName;
  return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
  auto* p = static_cast<char*>(lpBuf);
  UINT nDone = 0;
  while (nDone < nCount) {
    ssize_t n = ::read(m_hFile, p + nDone, nCount - nDone);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_os_error(errno);
    }
    if (n == 0) break;
    nDone += static_cast<UINT>(n);
  }
  return nDone;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
  const auto* p = static_cast<const char*>(lpBuf);
  UINT nDone = 0;
  while (nDone < nCount) {
    ssize_t n = ::write(m_hFile, p + nDone, nCount - nDone);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw_os_error(errno);
    }
    if (n == 0) throw_os_error(ENOSPC);
    nDone += static_cast<UINT>(n);
  }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom) {
  int whence = nFrom == begin ? SEEK_SET : nFrom == current ? SEEK_CUR : nFrom == end ? SEEK_END : -1;
  if (whence < 0) throw_os_error(EINVAL);
  off_t pos = ::lseek(m_hFile, static_cast<off_t>(lOff), whence);
  if (pos < 0) throw_os_error(errno);
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetPosition() const {
  off_t pos = ::lseek(m_hFile, 0, SEEK_CUR);
  if (pos < 0) throw_os_error(errno);
  return static_cast<ULONGLONG>(pos);
}

ULONGLONG CFile::GetLength() const {
  struct stat st;
  if (::fstat(m_hFile, &st) != 0) throw_os_error(errno);
  return static_cast<ULONGLONG>(st.st_size);
}

void CFile::SetLength(ULONGLONG dwNewLen) {
  if (::ftruncate(m_hFile, static_cast<off_t>(dwNewLen)) != 0) throw_os_error(errno);
}

void CFile::Flush() {
  if (m_hFile == hFileNull) return;
  // Pipes, sockets and some file systems cannot be synchronised; that is not
  // an error of the data written.
  if (::fsync(m_hFile) != 0 && errno != EINVAL && errno != EROFS) throw_os_error(errno);
}

void CFile::Close() {
  if (m_hFile == hFileNull) return;
  int fd = m_hFile;
  BOOL bOwned = m_bCloseOnDelete;
  m_hFile = hFileNull;
  m_bCloseOnDelete = FALSE;
  if (bOwned && ::close(fd) != 0 && errno != EINTR) throw_os_error(errno);
}

void CFile::Abort() {
  if (m_hFile != hFileNull && m_bCloseOnDelete) ::close(m_hFile);
  m_hFile = hFileNull;
  m_bCloseOnDelete = FALSE;
}

CMemFile::CMemFile(UINT nGrowBytes)
    : m_nGrowBytes(nGrowBytes), m_nPosition(0), m_nBufferSize(0), m_nFileSize(0), m_lpBuffer(nullptr),
      m_bAutoDelete(TRUE) {}

CMemFile::CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) : CMemFile(nGrowBytes) {
  Attach(lpBuffer, nBufferSize, nGrowBytes);
}

CMemFile::~CMemFile() {
  free_memory();
}

void CMemFile::free_memory() {
  if (m_bAutoDelete) AfxFreeMemory(m_lpBuffer);
  m_lpBuffer = nullptr;
  m_nBufferSize = m_nFileSize = m_nPosition = 0;
}

void CMemFile::Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes) {
  free_memory();
  m_lpBuffer = lpBuffer;
  m_nBufferSize = nBufferSize;
  m_nGrowBytes = nGrowBytes;
  m_nFileSize = nGrowBytes == 0 ? nBufferSize : 0;
  m_nPosition = 0;
  m_bAutoDelete = FALSE;
}

BYTE* CMemFile::Detach() {
  BYTE* p = m_lpBuffer;
  m_lpBuffer = nullptr;
  m_nBufferSize = m_nFileSize = m_nPosition = 0;
  m_bAutoDelete = TRUE;
  return p;
}

BOOL CMemFile::Open(LPCTSTR, UINT, CFileException* pError) {
  // A memory file has no name to open.
  if (pError != nullptr) pError->m_cause = CFileException::genericException;
  return FALSE;
}

void CMemFile::grow_file(std::size_t nNewSize) {
  if (nNewSize <= m_nBufferSize) return;
  if (m_nGrowBytes == 0) AfxThrowMemoryException();
  std::size_t nSize = m_nBufferSize;
  while (nSize < nNewSize) {
    std::size_t nStep = std::max(m_nGrowBytes, nSize / 2);
    if (nSize > std::numeric_limits<std::size_t>::max() - nStep) AfxThrowMemoryException();
    nSize += nStep;
  }
  auto* p = static_cast<BYTE*>(AfxAllocMemory(nSize));
  if (m_nFileSize > 0) std::memcpy(p, m_lpBuffer, m_nFileSize);
  // A caller's attached buffer is left to the caller; the grown copy is ours.
  if (m_bAutoDelete) AfxFreeMemory(m_lpBuffer);
  m_bAutoDelete = TRUE;
  m_lpBuffer = p;
  m_nBufferSize = nSize;
}

UINT CMemFile::Read(void* lpBuf, UINT nCount) {
  if (m_nPosition >= m_nFileSize) return 0;
  std::size_t n = std::min<std::size_t>(nCount, m_nFileSize - m_nPosition);
  std::memcpy(lpBuf, m_lpBuffer + m_nPosition, n);
  m_nPosition += n;
  return static_cast<UINT>(n);
}

void CMemFile::Write(const void* lpBuf, UINT nCount) {
  if (nCount == 0) return;
  std::size_t nEnd = m_nPosition + nCount;
  grow_file(nEnd);
  // A write that starts past the end leaves a zero-filled gap, as a sparse file would.
  if (m_nPosition > m_nFileSize) std::memset(m_lpBuffer + m_nFileSize, 0, m_nPosition - m_nFileSize);
  std::memcpy(m_lpBuffer + m_nPosition, lpBuf, nCount);
  m_nPosition = nEnd;
  m_nFileSize = std::max(m_nFileSize, nEnd);
}

ULONGLONG CMemFile::Seek(LONGLONG lOff, UINT nFrom) {
  LONGLONG base = nFrom == begin ? 0 : nFrom == current ? static_cast<LONGLONG>(m_nPosition)
                                    : static_cast<LONGLONG>(m_nFileSize);
  if (nFrom > end || (lOff < 0 && -lOff > base)) AfxThrowFileException(CFileException::badSeek, EINVAL);
  m_nPosition = static_cast<std::size_t>(base + lOff);
  return m_nPosition;
}

void CMemFile::SetLength(ULONGLONG dwNewLen) {
  if (dwNewLen > m_nFileSize) {
    grow_file(static_cast<std::size_t>(dwNewLen));
    std::memset(m_lpBuffer + m_nFileSize, 0, static_cast<std::size_t>(dwNewLen) - m_nFileSize);
  }
  m_nFileSize = static_cast<std::size_t>(dwNewLen);
  if (m_nPosition > m_nFileSize) m_nPosition = m_nFileSize;
}

void CMemFile::Close() {
  free_memory();
}

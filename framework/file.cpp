#include "framework/file.h"

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

BOOL CFile::Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError) {
  auto fail = [&](int nErrno) {
    if (pError != nullptr) {
      pError->m_cause = CFileException::OsErrorToException(nErrno);
      pError->m_lOsError = nErrno;
      pError->m_strFileName = lpszFileName ? lpszFileName : "";
    }
    return FALSE;
  };
  if (m_hFile != hFileNull || lpszFileName == nullptr) return fail(EINVAL);

  int flags = O_CLOEXEC;
  switch (nOpenFlags & 3) {
    case modeRead: flags |= O_RDONLY; break;
    case modeWrite: flags |= O_WRONLY; break;
    case modeReadWrite: flags |= O_RDWR; break;
    default: return fail(EINVAL);
  }
  if (nOpenFlags & modeCreate) {
    flags |= O_CREAT;
    if (!(nOpenFlags & modeNoTruncate)) flags |= O_TRUNC;
  }
  int fd;
  do {
    fd = ::open(lpszFileName, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(errno);

  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    return fail(EISDIR);
  }
  int lock = 0;
  switch (nOpenFlags & 0x70) {
    case shareExclusive:
    case shareDenyRead: lock = LOCK_EX; break;
    case shareDenyWrite: lock = LOCK_SH; break;
    default: break;
  }
  if (lock != 0 && ::flock(fd, lock | LOCK_NB) != 0) {
    int nErrno = errno;
    ::close(fd);
    return fail(nErrno);
  }
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

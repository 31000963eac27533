// SPDX-License-Identifier: Apache-2.0
#include "framework/core/exception.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Copies text into a caller's buffer of nMax bytes, always terminated.
BOOL copy_message(const std::string& text, LPTSTR out, UINT nMax) {
  if (out == nullptr || nMax == 0) return FALSE;
  std::snprintf(out, nMax, "%s", text.c_str());
  return TRUE;
}

// Built before any code runs: a module linked into the program may be
// started (and run out of memory) before this unit's dynamic initialisers.
constinit CMemoryException g_memoryException;

}  // namespace

void CException::Delete() {
  if (m_bAutoDelete) delete this;
}

BOOL CException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT*) const {
  if (lpszError != nullptr && nMaxError > 0) lpszError[0] = '\0';
  return FALSE;
}

BOOL CMemoryException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT*) const {
  return copy_message("Out of memory.", lpszError, nMaxError);
}

CFileException::CFileException(int cause, LONG lOsError, LPCTSTR lpszFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(lpszFileName ? lpszFileName : "") {}

BOOL CFileException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT*) const {
  std::string text = "File error";
  if (!m_strFileName.empty()) text += " on '" + m_strFileName + "'";
  if (m_lOsError > 0) text += std::string(": ") + std::strerror(static_cast<int>(m_lOsError));
  return copy_message(text, lpszError, nMaxError);
}

int CFileException::OsErrorToException(LONG lOsError) {
  switch (lOsError) {
    case 0: return none;
    case ENOENT: return fileNotFound;
    case ENOTDIR: case ENAMETOOLONG: case ELOOP: return badPath;
    case EMFILE: case ENFILE: return tooManyOpenFiles;
    case EACCES: case EPERM: case EROFS: return accessDenied;
    case EBADF: case EISDIR: return invalidFile;
    case ESPIPE: case EINVAL: return badSeek;
    case EIO: return hardIO;
    case ETXTBSY: case EBUSY: return sharingViolation;
    case EWOULDBLOCK: return lockViolation;
    case ENOSPC: case EDQUOT: return diskFull;
    default: return genericException;
  }
}

CArchiveException::CArchiveException(int cause, LPCTSTR lpszArchiveName)
    : m_cause(cause), m_strFileName(lpszArchiveName ? lpszArchiveName : "") {}

BOOL CArchiveException::GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT*) const {
  static const char* const kCauses[] = {
      "no error", "archive error", "archive is read-only", "unexpected end of archive",
      "archive is write-only", "bad object index", "bad class in archive", "bad schema in archive"};
  const char* what = (m_cause >= 0 && m_cause <= badSchema) ? kCauses[m_cause] : "archive error";
  std::string text = what;
  if (!m_strFileName.empty()) text += " (" + m_strFileName + ")";
  return copy_message(text, lpszError, nMaxError);
}

void AfxThrowMemoryException() {
  throw &g_memoryException;
}

void AfxThrowFileException(int cause, LONG lOsError, LPCTSTR lpszFileName) {
  throw new CFileException(cause, lOsError, lpszFileName);
}

void AfxThrowArchiveException(int cause, LPCTSTR lpszArchiveName) {
  throw new CArchiveException(cause, lpszArchiveName);
}

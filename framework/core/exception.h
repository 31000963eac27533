// SPDX-License-Identifier: Apache-2.0
// The framework's exception classes. As in the framework this layer stands in
// for, exceptions are thrown by pointer and the catcher releases them with
// Delete(); the memory exception is one shared object that Delete() leaves alone.
#pragma once

#include "framework/core/win_types.h"

#include <string>

// The base of the framework's exceptions.
class AFX_EXT_CLASS CException {
public:
  // bAutoDelete: Delete() frees the object (it was allocated with new).
  explicit constexpr CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
  CException(const CException&) = delete;
  CException& operator=(const CException&) = delete;
  virtual ~CException() = default;

  // Releases the exception if it was allocated for this throw.
  void Delete();
  // Copies a description of the error into the buffer, cut to nMaxError
  // bytes with the terminator; FALSE when there is none or no buffer. The
  // help context is not used.
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const;

  BOOL m_bAutoDelete;  // see the constructor
};

// Memory ran out. One shared object, thrown by AfxThrowMemoryException.
class AFX_EXT_CLASS CMemoryException : public CException {
public:
  // A memory exception that Delete() leaves alone.
  constexpr CMemoryException() : CException(FALSE) {}
  // "Out of memory."
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const override;
};

// A file operation failed: the cause, the system's errno and the file.
class AFX_EXT_CLASS CFileException : public CException {
public:
  // The causes.
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };

  // An exception of the cause, errno value (-1: none) and file name (may be null).
  explicit CFileException(int cause = none, LONG lOsError = -1, LPCTSTR lpszFileName = nullptr);
  // "File error", the file name in quotes when known, and the system's text
  // for the errno value when there is one.
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const override;
  // Maps an errno value onto a cause (genericException for the unknown ones).
  static int OsErrorToException(LONG lOsError);

  int m_cause;                // one of the causes above
  LONG m_lOsError;            // the errno value; -1 when there is none
  std::string m_strFileName;  // the file, empty when not known
};

// An archive operation failed: the cause and the archive's name.
class AFX_EXT_CLASS CArchiveException : public CException {
public:
  // The causes.
  enum {
    none,
    genericException,
    readOnly,
    endOfFile,
    writeOnly,
    badIndex,
    badClass,
    badSchema
  };

  // An exception of the cause and archive name (may be null).
  explicit CArchiveException(int cause = none, LPCTSTR lpszArchiveName = nullptr);
  // The cause in words ("unexpected end of archive", ...), and the archive's
  // name in parentheses when known.
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const override;

  int m_cause;                // one of the causes above
  std::string m_strFileName;  // the archive's name, empty when not known
};

// Throws the shared CMemoryException*.
[[noreturn]] AFX_API_EXPORT void AfxThrowMemoryException();
// Throws a new CFileException* with these fields.
[[noreturn]] AFX_API_EXPORT void AfxThrowFileException(int cause, LONG lOsError = -1, LPCTSTR lpszFileName = nullptr);
// Throws a new CArchiveException* with these fields.
[[noreturn]] AFX_API_EXPORT void AfxThrowArchiveException(int cause, LPCTSTR lpszArchiveName = nullptr);

// The framework's exception classes. As in the framework this layer stands in
// for, exceptions are thrown by pointer and the catcher releases them with
// Delete(); the memory exception is one shared object that Delete() leaves alone.
#pragma once

#include "framework/win_types.h"

#include <string>

class AFX_EXT_CLASS CException {
public:
  explicit constexpr CException(BOOL bAutoDelete = TRUE) : m_bAutoDelete(bAutoDelete) {}
  CException(const CException&) = delete;
  CException& operator=(const CException&) = delete;
  virtual ~CException() = default;

  // Releases the exception if it was allocated for this throw.
  void Delete();
  // Copies a description of the error into the buffer; FALSE when there is none.
  virtual BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const;

  BOOL m_bAutoDelete;
};

class AFX_EXT_CLASS CMemoryException : public CException {
public:
  constexpr CMemoryException() : CException(FALSE) {}
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const override;
};

class AFX_EXT_CLASS CFileException : public CException {
public:
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

  explicit CFileException(int cause = none, LONG lOsError = -1, LPCTSTR lpszFileName = nullptr);
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const override;
  // Maps an errno value onto a cause.
  static int OsErrorToException(LONG lOsError);

  int m_cause;
  LONG m_lOsError;
  std::string m_strFileName;
};

class AFX_EXT_CLASS CArchiveException : public CException {
public:
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

  explicit CArchiveException(int cause = none, LPCTSTR lpszArchiveName = nullptr);
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, UINT* pnHelpContext = nullptr) const override;

  int m_cause;
  std::string m_strFileName;
};

[[noreturn]] AFX_API_EXPORT void AfxThrowMemoryException();
[[noreturn]] AFX_API_EXPORT void AfxThrowFileException(int cause, LONG lOsError = -1, LPCTSTR lpszFileName = nullptr);
[[noreturn]] AFX_API_EXPORT void AfxThrowArchiveException(int cause, LPCTSTR lpszArchiveName = nullptr);

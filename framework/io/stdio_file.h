// SPDX-License-Identifier: Apache-2.0
// CStdioFile: a file opened by path with the framework's open-mode word, read
// and written in bytes through an internal buffer, closed by its destructor.
#pragma once

#include "framework/core/exception.h"
#include "framework/core/string.h"
#include "framework/core/win_types.h"
#include "framework/io/file.h"

#include <cstdint>
#include <vector>

class AFX_EXT_CLASS CStdioFile {
public:
  // The open-mode word is the framework's, the same bits as CFile's.
  using OpenFlags = CFile::OpenFlags;
  using enum CFile::OpenFlags;  // CFile's open-mode values, usable here as CStdioFile::modeRead etc.

  CStdioFile();
  CStdioFile(const CStdioFile&) = delete;
  CStdioFile& operator=(const CStdioFile&) = delete;
  virtual ~CStdioFile();

  // Opens the file through CFile::OpenDescriptor; FALSE on failure, with the
  // cause in *pError when given. Only regular files open: a directory, FIFO
  // or device is refused, so that a read can neither fail on a directory nor
  // wait for ever on a pipe. The share locks keep out writers that lock the
  // file themselves, with fcntl, lockf or flock, while it is open, and the
  // open fails with sharingViolation while such a writer holds its lock.
  // Linux has no mandatory locking, so a writer that never asks for a lock
  // is not stopped. typeText and typeBinary change nothing: Linux does not
  // translate line ends.
  virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
  // Reads up to nCount bytes; fewer only at the end of the file. Throws
  // CFileException* on a read error.
  virtual UINT Read(void* lpBuf, UINT nCount);
  // Writes all nCount bytes; throws CFileException* on a write error.
  virtual void Write(const void* lpBuf, UINT nCount);
  // Closes the file; throws CFileException* when pending output cannot be written.
  virtual void Close();
  // Closes the file, ignoring errors.
  virtual void Abort();

  // The size of the file in bytes, pending output included.
  std::uint64_t GetLength();
  // TRUE while a file is open.
  BOOL IsOpen() const { return m_hFile >= 0; }
  // The path given to Open.
  const CString& GetFilePath() const { return m_strFileName; }

  // The descriptor, -1 while closed.
  int m_hFile;

private:
  [[noreturn]] void throw_os_error(int nErrno) const;
  void flush_output();

  CString m_strFileName;
  BOOL m_bWritable = FALSE;
  std::vector<char> m_buffer;
  std::size_t m_nBufferPos = 0;   // next unread byte of m_buffer
  std::size_t m_nBufferEnd = 0;   // end of the bytes read into m_buffer
  std::size_t m_nPendingOut = 0;  // bytes of m_buffer waiting to be written
};

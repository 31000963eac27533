// SPDX-License-Identifier: Apache-2.0
// CFile, a binary file over a file descriptor, and CMemFile, the same
// interface over a growable block of memory. Errors are thrown as
// CFileException* (CMemoryException* when memory runs out).
#pragma once

#include "framework/core/exception.h"
#include "framework/core/object.h"
#include "framework/core/string.h"

using LONGLONG = std::int64_t;    // signed file offsets
using ULONGLONG = std::uint64_t;  // file positions and lengths

class AFX_EXT_CLASS CFile : public CObject {
public:
  // The open-mode word: one access mode, one share mode, and creation flags.
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000
  };
  // What a Seek offset counts from.
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };
  // m_hFile of a closed file.
  static constexpr int hFileNull = -1;

  // The one translation of the open-mode word, for CFile and CStdioFile:
  // opens the file and returns its descriptor, or hFileNull with the cause
  // in *pError when given. The share flags take advisory locks in both of
  // Linux's families (an open-file-description record lock and flock), which
  // cooperating openers respect: exclusive and deny-read lock exclusively,
  // deny-write shares the lock with other readers; a conflicting lock refuses
  // the open with sharingViolation, and a file system without locks opens
  // unguarded. modeCreate without modeNoTruncate empties the file only once
  // the lock is held, so a refused open leaves the file as it was. A
  // directory is refused; with bRegularOnly so is anything but a regular
  // file, and then opening a FIFO does not wait for its other end.
  static int OpenDescriptor(LPCTSTR lpszFileName, UINT nOpenFlags, BOOL bRegularOnly, CFileException* pError);

  CFile();
  // Attaches an open descriptor; the object does not close it on destruction.
  explicit CFile(int hFile);
  // Opens the file or throws CFileException*.
  CFile(LPCTSTR lpszFileName, UINT nOpenFlags);
  // Closes the descriptor if the object opened it; errors are ignored here.
  ~CFile() override;

  // Opens a file through OpenDescriptor; on failure returns FALSE and, when
  // given, fills pError. Any kind of file but a directory opens.
  virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
  // Reads up to nCount bytes; fewer only at the end of the file. Throws
  // CFileException* on a read error.
  virtual UINT Read(void* lpBuf, UINT nCount);
  // Writes all nCount bytes or throws CFileException*.
  virtual void Write(const void* lpBuf, UINT nCount);
  // Moves the position; returns the new position from the start. Throws
  // CFileException* for a bad origin or a position before the start.
  virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
  // The position from the start; throws CFileException* on failure.
  virtual ULONGLONG GetPosition() const;
  // The file's length in bytes; throws CFileException* on failure.
  virtual ULONGLONG GetLength() const;
  // Cuts or extends (with zeros) the file; throws CFileException* on failure.
  virtual void SetLength(ULONGLONG dwNewLen);
  // Pushes written data to the storage device; throws CFileException* when
  // the system reports an error (not for files that cannot be synced).
  virtual void Flush();
  // Closes the file; throws if the system reports an error.
  virtual void Close();
  // Closes the file, ignoring errors.
  virtual void Abort();

  // Moves to the start (see Seek).
  void SeekToBegin() { Seek(0, begin); }
  // Moves to the end and returns the length (see Seek).
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  // The path given to Open; empty for an attached descriptor.
  CString GetFilePath() const { return m_strFileName; }
  // TRUE while the object holds a descriptor.
  BOOL IsOpen() const { return m_hFile != hFileNull; }

  int m_hFile;  // the descriptor; hFileNull while closed

protected:
  // Throws the file exception that matches errno.
  [[noreturn]] void throw_os_error(int nErrno) const;

  BOOL m_bCloseOnDelete;  // the object opened the descriptor and closes it
  CString m_strFileName;  // see GetFilePath
};

// A file in memory: reads, writes, seeks and length changes work on a block
// that grows as needed (throwing CMemoryException* when it cannot).
class AFX_EXT_CLASS CMemFile : public CFile {
public:
  // A file that grows in steps of nGrowBytes as it is written.
  explicit CMemFile(UINT nGrowBytes = 1024);
  // A file over the caller's buffer; with nGrowBytes 0 it cannot grow, and
  // the first nBufferSize bytes are its content.
  CMemFile(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
  ~CMemFile() override;

  // Takes the caller's buffer as the file's memory (see the constructor).
  void Attach(BYTE* lpBuffer, UINT nBufferSize, UINT nGrowBytes = 0);
  // Gives up the memory and returns it; the caller releases a grown block
  // with AfxFreeMemory.
  BYTE* Detach();

  // A memory file has no name to open: always FALSE, with genericException
  // in *pError when given.
  BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
  // Reads up to nCount bytes from the position; fewer only at the end.
  UINT Read(void* lpBuf, UINT nCount) override;
  // Writes at the position, growing the block; throws CMemoryException*
  // when it cannot grow.
  void Write(const void* lpBuf, UINT nCount) override;
  // Moves the position, also past the end; throws CFileException* badSeek
  // for a bad origin or a position before the start.
  ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
  // The position from the start.
  ULONGLONG GetPosition() const override { return m_nPosition; }
  // The content's length in bytes.
  ULONGLONG GetLength() const override { return m_nFileSize; }
  // Cuts the content or extends it with zeros (growing the block, or
  // throwing CMemoryException*).
  void SetLength(ULONGLONG dwNewLen) override;
  // Nothing to do in memory.
  void Flush() override {}
  // Releases the block (unless it is the caller's) and empties the file.
  void Close() override;
  // The same as Close.
  void Abort() override { Close(); }

protected:
  // Makes the block at least nNewSize bytes long; throws CMemoryException*
  // when it cannot grow (nGrowBytes 0, or no memory).
  void grow_file(std::size_t nNewSize);
  // Releases a block the file owns and empties the file.
  void free_memory();

  std::size_t m_nGrowBytes;   // growth step; 0: the block cannot grow
  std::size_t m_nPosition;    // the position from the start
  std::size_t m_nBufferSize;  // the block's size
  std::size_t m_nFileSize;    // the content's length
  BYTE* m_lpBuffer;           // the block
  BOOL m_bAutoDelete;         // the file owns the block and releases it
};

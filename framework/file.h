// CFile, a binary file over a file descriptor, and CMemFile, the same
// interface over a growable block of memory. Errors are thrown as
// CFileException* (CMemoryException* when memory runs out).
#pragma once

#include "framework/exception.h"
#include "framework/object.h"
#include "framework/string.h"

using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;

class AFX_EXT_CLASS CFile : public CObject {
public:
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
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };
  static constexpr int hFileNull = -1;

  CFile();
  // Attaches an open descriptor; the object does not close it on destruction.
  explicit CFile(int hFile);
  // Opens the file or throws CFileException*.
  CFile(LPCTSTR lpszFileName, UINT nOpenFlags);
  // Closes the descriptor if the object opened it; errors are ignored here.
  ~CFile() override;

  // Opens a file; on failure returns FALSE and, when given, fills pError.
  // The share flags take advisory locks (flock) that other cooperating
  // openers respect: exclusive and deny-read lock exclusively, deny-write
  // shares the lock with other readers.
  virtual BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
  // Reads up to nCount bytes; fewer only at the end of the file.
  virtual UINT Read(void* lpBuf, UINT nCount);
  // Writes all nCount bytes or throws.
  virtual void Write(const void* lpBuf, UINT nCount);
  // Moves the position; returns the new position from the start.
  virtual ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
  virtual ULONGLONG GetPosition() const;
  virtual ULONGLONG GetLength() const;
  virtual void SetLength(ULONGLONG dwNewLen);
  // Pushes written data to the storage device.
  virtual void Flush();
  // Closes the file; throws if the system reports an error.
  virtual void Close();
  // Closes the file, ignoring errors.
  virtual void Abort();

  void SeekToBegin() { Seek(0, begin); }
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  CString GetFilePath() const { return m_strFileName; }
  BOOL IsOpen() const { return m_hFile != hFileNull; }

  int m_hFile;

protected:
  // Throws the file exception that matches errno.
  [[noreturn]] void throw_os_error(int nErrno) const;

  BOOL m_bCloseOnDelete;
  CString m_strFileName;
};

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

  BOOL Open(LPCTSTR lpszFileName, UINT nOpenFlags, CFileException* pError = nullptr) override;
  UINT Read(void* lpBuf, UINT nCount) override;
  void Write(const void* lpBuf, UINT nCount) override;
  ULONGLONG Seek(LONGLONG lOff, UINT nFrom) override;
  ULONGLONG GetPosition() const override { return m_nPosition; }
  ULONGLONG GetLength() const override { return m_nFileSize; }
  void SetLength(ULONGLONG dwNewLen) override;
  void Flush() override {}
  void Close() override;
  void Abort() override { Close(); }

protected:
  // Makes the block at least nNewSize bytes long.
  void grow_file(std::size_t nNewSize);
  void free_memory();

  std::size_t m_nGrowBytes;
  std::size_t m_nPosition;
  std::size_t m_nBufferSize;
  std::size_t m_nFileSize;
  BYTE* m_lpBuffer;
  BOOL m_bAutoDelete;
};

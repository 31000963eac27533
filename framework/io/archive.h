// SPDX-License-Identifier: Apache-2.0
// CArchive: a buffered, one-direction byte stream over a CFile in which
// objects store and load themselves. Integers travel little-endian whatever
// the host's byte order, so archives move between machines unchanged.
#pragma once

#include "framework/io/file.h"

class AFX_EXT_CLASS CArchive {
public:
  // The mode word: store or load, and whether the destructor may flush.
  enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2 };

  // An archive over pFile in load or store mode with a buffer of nBufSize
  // bytes (at least 16); lpBuf, when given, is used as the buffer and must
  // stay valid for the archive's life. A smaller buffer is not used (one of
  // 16 bytes is allocated); allocation throws CMemoryException*. Exceptions
  // name the archive by the file's path.
  CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096, void* lpBuf = nullptr);
  // Flushes a storing archive that was not closed (errors are swallowed:
  // call Close to see them).
  ~CArchive();
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  // TRUE for an archive that loads.
  BOOL IsLoading() const { return (m_nMode & load) != 0; }
  // TRUE for an archive that stores.
  BOOL IsStoring() const { return (m_nMode & load) == 0; }
  // TRUE when no loaded byte is waiting in the buffer.
  BOOL IsBufferEmpty() const { return m_lpBufCur == m_lpBufMax; }
  // The file the archive works on; null after Close or Abort.
  CFile* GetFile() const { return m_pFile; }

  // Reads up to nMax bytes; returns the count delivered, fewer only at the
  // end of the file. Throws CArchiveException* writeOnly on a storing
  // archive, and passes on the file's exceptions.
  UINT Read(void* lpBuf, UINT nMax);
  // Writes nMax bytes through the buffer. Throws CArchiveException*
  // readOnly on a loading archive, genericException after Close, and passes
  // on the file's exceptions.
  void Write(const void* lpBuf, UINT nMax);
  // Storing: writes the buffered bytes to the file. Loading: gives the
  // unread buffered bytes back to the file by seeking back over them.
  void Flush();
  // Makes nBytesNeeded bytes available in the buffer beyond the unread ones,
  // reading the file; throws CArchiveException* endOfFile if it ends first.
  void FillBuffer(UINT nBytesNeeded);
  // Flushes and detaches the file (the file stays open).
  void Close();
  // Detaches the file without flushing.
  void Abort();

  // Stores the value, little-endian, and returns the archive. Throws
  // CArchiveException* readOnly on a loading archive.
  CArchive& operator<<(BYTE by);
  CArchive& operator<<(WORD w);
  CArchive& operator<<(LONG l);
  CArchive& operator<<(DWORD dw);
  // Loads the value, little-endian, and returns the archive. Throws
  // CArchiveException* endOfFile when the file ends first, writeOnly on a
  // storing archive.
  CArchive& operator>>(BYTE& by);
  CArchive& operator>>(WORD& w);
  CArchive& operator>>(LONG& l);
  CArchive& operator>>(DWORD& dw);

  CString m_strFileName;  // named in the archive's exceptions; empty by default

protected:
  // Throws CArchiveException* writeOnly unless the archive loads.
  void check_loading() const;
  // Throws CArchiveException* readOnly unless the archive stores.
  void check_storing() const;
  // Makes n bytes readable at m_lpBufCur, refilling the buffer if needed.
  void need_bytes(UINT n);
  // Makes room for n bytes at m_lpBufCur, flushing the buffer if needed.
  void need_room(UINT n);
  // Reads from the file into the buffer until nWanted bytes are there or the
  // file ends; returns the count read.
  UINT read_file(BYTE* lpBuf, UINT nWanted);

  CFile* m_pFile;       // the file; null once closed or aborted
  UINT m_nMode;         // the Mode bits given to the constructor
  UINT m_nBufSize;      // the buffer's size in bytes
  BOOL m_bUserBuf;      // the buffer is the caller's and is not freed
  BYTE* m_lpBufStart;   // the buffer
  BYTE* m_lpBufCur;     // next byte to load or store
  BYTE* m_lpBufMax;     // loading: end of the loaded bytes; storing: end of the buffer
};

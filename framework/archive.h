// CArchive: a buffered, one-direction byte stream over a CFile in which
// objects store and load themselves. Integers travel little-endian whatever
// the host's byte order, so archives move between machines unchanged.
#pragma once

#include "framework/file.h"

class AFX_EXT_CLASS CArchive {
public:
  enum Mode : UINT { store = 0, load = 1, bNoFlushOnDelete = 2 };

  // An archive over pFile in load or store mode with a buffer of nBufSize
  // bytes (at least 16); lpBuf, when given, is used as the buffer and must
  // stay valid for the archive's life.
  CArchive(CFile* pFile, UINT nMode, int nBufSize = 4096, void* lpBuf = nullptr);
  // Flushes a storing archive that was not closed (errors are swallowed:
  // call Close to see them).
  ~CArchive();
  CArchive(const CArchive&) = delete;
  CArchive& operator=(const CArchive&) = delete;

  BOOL IsLoading() const { return (m_nMode & load) != 0; }
  BOOL IsStoring() const { return (m_nMode & load) == 0; }
  BOOL IsBufferEmpty() const { return m_lpBufCur == m_lpBufMax; }
  CFile* GetFile() const { return m_pFile; }

  // Reads up to nMax bytes; returns the count delivered, fewer only at the
  // end of the file.
  UINT Read(void* lpBuf, UINT nMax);
  // Writes nMax bytes through the buffer.
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

  CArchive& operator<<(BYTE by);
  CArchive& operator<<(WORD w);
  CArchive& operator<<(LONG l);
  CArchive& operator<<(DWORD dw);
  CArchive& operator>>(BYTE& by);
  CArchive& operator>>(WORD& w);
  CArchive& operator>>(LONG& l);
  CArchive& operator>>(DWORD& dw);

  CString m_strFileName;

protected:
  // Throws unless the archive is in the mode the operation needs.
  void check_loading() const;
  void check_storing() const;
  // Makes n bytes readable at m_lpBufCur, refilling the buffer if needed.
  void need_bytes(UINT n);
  // Makes room for n bytes at m_lpBufCur, flushing the buffer if needed.
  void need_room(UINT n);
  // Reads from the file into the buffer until nWanted bytes are there or the
  // file ends; returns the count read.
  UINT read_file(BYTE* lpBuf, UINT nWanted);

  CFile* m_pFile;
  UINT m_nMode;
  UINT m_nBufSize;
  BOOL m_bUserBuf;
  BYTE* m_lpBufStart;
  BYTE* m_lpBufCur;
  BYTE* m_lpBufMax;
};

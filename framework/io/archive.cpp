// SPDX-License-Identifier: Apache-2.0
#include "framework/io/archive.h"

#include <algorithm>
#include <cstring>

CArchive::CArchive(CFile* pFile, UINT nMode, int nBufSize, void* lpBuf)
    : m_pFile(pFile), m_nMode(nMode), m_nBufSize(static_cast<UINT>(std::max(nBufSize, 16))),
      m_bUserBuf(lpBuf != nullptr && nBufSize >= 16) {
  if (pFile != nullptr) m_strFileName = pFile->GetFilePath();
  m_lpBufStart = m_bUserBuf ? static_cast<BYTE*>(lpBuf) : static_cast<BYTE*>(AfxAllocMemory(m_nBufSize));
  m_lpBufCur = m_lpBufStart;
  // A loading archive starts empty; a storing one has the whole buffer free.
  m_lpBufMax = IsLoading() ? m_lpBufStart : m_lpBufStart + m_nBufSize;
}

CArchive::~CArchive() {
  if (m_pFile != nullptr && !(m_nMode & bNoFlushOnDelete)) {
    try {
      Close();
    } catch (CException* e) {
      e->Delete();
    }
  }
  if (!m_bUserBuf) AfxFreeMemory(m_lpBufStart);
}

void CArchive::check_loading() const {
  if (!IsLoading()) AfxThrowArchiveException(CArchiveException::writeOnly, m_strFileName);
}

void CArchive::check_storing() const {
  if (!IsStoring()) AfxThrowArchiveException(CArchiveException::readOnly, m_strFileName);
}

UINT CArchive::read_file(BYTE* lpBuf, UINT nWanted) {
  UINT nRead = 0;
  while (nRead < nWanted) {
    UINT n = m_pFile->Read(lpBuf + nRead, nWanted - nRead);
    if (n == 0) break;
    nRead += n;
  }
  return nRead;
}

void CArchive::FillBuffer(UINT nBytesNeeded) {
  check_loading();
  if (m_pFile == nullptr) AfxThrowArchiveException(CArchiveException::genericException, m_strFileName);
  UINT nUnused = static_cast<UINT>(m_lpBufMax - m_lpBufCur);
  UINT nTotalNeeded = nBytesNeeded + nUnused;
  if (nTotalNeeded > m_nBufSize || nTotalNeeded < nBytesNeeded)
    AfxThrowArchiveException(CArchiveException::genericException, m_strFileName);
  // Keep the unread bytes, move them to the front, and top the buffer up:
  // one read asks for the whole free space so that small reads stay rare.
  if (nUnused > 0 && m_lpBufCur != m_lpBufStart) std::memmove(m_lpBufStart, m_lpBufCur, nUnused);
  m_lpBufCur = m_lpBufStart;
  m_lpBufMax = m_lpBufStart + nUnused;
  UINT nHave = nUnused;
  while (nHave < nTotalNeeded) {
    UINT n = m_pFile->Read(m_lpBufStart + nHave, m_nBufSize - nHave);
    if (n == 0) break;
    nHave += n;
  }
  m_lpBufMax = m_lpBufStart + nHave;
  if (nHave < nTotalNeeded) AfxThrowArchiveException(CArchiveException::endOfFile, m_strFileName);
}

UINT CArchive::Read(void* lpBuf, UINT nMax) {
  check_loading();
  if (nMax == 0 || m_pFile == nullptr) return 0;
  auto* out = static_cast<BYTE*>(lpBuf);
  UINT nDone = std::min(nMax, static_cast<UINT>(m_lpBufMax - m_lpBufCur));
  std::memcpy(out, m_lpBufCur, nDone);
  m_lpBufCur += nDone;
  UINT nLeft = nMax - nDone;
  if (nLeft == 0) return nDone;

  // Whole buffers' worth goes straight from the file to the caller.
  UINT nDirect = nLeft - nLeft % m_nBufSize;
  if (nDirect > 0) {
    UINT n = read_file(out + nDone, nDirect);
    nDone += n;
    nLeft -= n;
    if (n < nDirect) return nDone;
  }
  if (nLeft == 0) return nDone;

  // The tail is read through the buffer, which keeps what follows it.
  m_lpBufCur = m_lpBufStart;
  UINT nHave = 0;
  while (nHave < nLeft) {
    UINT n = m_pFile->Read(m_lpBufStart + nHave, m_nBufSize - nHave);
    if (n == 0) break;
    nHave += n;
  }
  m_lpBufMax = m_lpBufStart + nHave;
  UINT nCopy = std::min(nLeft, nHave);
  std::memcpy(out + nDone, m_lpBufCur, nCopy);
  m_lpBufCur += nCopy;
  return nDone + nCopy;
}

void CArchive::Write(const void* lpBuf, UINT nMax) {
  check_storing();
  if (nMax == 0) return;
  if (m_pFile == nullptr) AfxThrowArchiveException(CArchiveException::genericException, m_strFileName);
  const auto* in = static_cast<const BYTE*>(lpBuf);
  UINT nCopy = std::min(nMax, static_cast<UINT>(m_lpBufMax - m_lpBufCur));
  std::memcpy(m_lpBufCur, in, nCopy);
  m_lpBufCur += nCopy;
  in += nCopy;
  nMax -= nCopy;
  if (nMax == 0) return;

  Flush();
  UINT nDirect = nMax - nMax % m_nBufSize;
  if (nDirect > 0) {
    m_pFile->Write(in, nDirect);
    in += nDirect;
    nMax -= nDirect;
  }
  std::memcpy(m_lpBufCur, in, nMax);
  m_lpBufCur += nMax;
}

void CArchive::Flush() {
  if (m_pFile == nullptr) return;
  if (IsStoring()) {
    if (m_lpBufCur != m_lpBufStart) m_pFile->Write(m_lpBufStart, static_cast<UINT>(m_lpBufCur - m_lpBufStart));
    m_lpBufCur = m_lpBufStart;
  } else {
    // Leave the file positioned just after what the archive delivered.
    if (m_lpBufMax != m_lpBufCur) m_pFile->Seek(-(m_lpBufMax - m_lpBufCur), CFile::current);
    m_lpBufCur = m_lpBufMax;
  }
}

void CArchive::Close() {
  Flush();
  m_pFile = nullptr;
}

void CArchive::Abort() {
  m_pFile = nullptr;
}

void CArchive::need_bytes(UINT n) {
  check_loading();
  UINT nUnused = static_cast<UINT>(m_lpBufMax - m_lpBufCur);
  if (nUnused < n) FillBuffer(n - nUnused);
}

void CArchive::need_room(UINT n) {
  check_storing();
  if (static_cast<UINT>(m_lpBufMax - m_lpBufCur) < n) Flush();
  if (m_pFile == nullptr) AfxThrowArchiveException(CArchiveException::genericException, m_strFileName);
}

CArchive& CArchive::operator<<(BYTE by) {
  need_room(1);
  *m_lpBufCur++ = by;
  return *this;
}

CArchive& CArchive::operator<<(WORD w) {
  need_room(2);
  *m_lpBufCur++ = static_cast<BYTE>(w);
  *m_lpBufCur++ = static_cast<BYTE>(w >> 8);
  return *this;
}

CArchive& CArchive::operator<<(DWORD dw) {
  need_room(4);
  for (int i = 0; i < 4; ++i) *m_lpBufCur++ = static_cast<BYTE>(dw >> (8 * i));
  return *this;
}

CArchive& CArchive::operator<<(LONG l) {
  return *this << static_cast<DWORD>(l);
}

CArchive& CArchive::operator>>(BYTE& by) {
  need_bytes(1);
  by = *m_lpBufCur++;
  return *this;
}

CArchive& CArchive::operator>>(WORD& w) {
  need_bytes(2);
  w = static_cast<WORD>(m_lpBufCur[0] | (m_lpBufCur[1] << 8));
  m_lpBufCur += 2;
  return *this;
}

CArchive& CArchive::operator>>(DWORD& dw) {
  need_bytes(4);
  dw = 0;
  for (int i = 3; i >= 0; --i) dw = (dw << 8) | m_lpBufCur[i];
  m_lpBufCur += 4;
  return *this;
}

CArchive& CArchive::operator>>(LONG& l) {
  DWORD dw;
  *this >> dw;
  l = static_cast<LONG>(dw);
  return *this;
}

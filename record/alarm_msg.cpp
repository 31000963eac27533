// SPDX-License-Identifier: Apache-2.0
#include "record/alarm_msg.h"

#include <algorithm>
#include <cstring>

namespace {

// The first allocation for a block, and the step in which it is read: large
// enough to keep copying rare, small enough that a bogus length claiming
// gigabytes allocates next to nothing before the archive runs out.
constexpr std::size_t kBlockStep = 64 * 1024;

}  // namespace

IMPLEMENT_DYNCREATE(CAlarmMsg, CObject)

CAlarmMsg::CAlarmMsg() : m_pData(nullptr) {
  Init();
}

CAlarmMsg::~CAlarmMsg() {
  free_block();
}

void CAlarmMsg::free_block() {
  AfxFreeMemory(m_pData);
  m_pData = nullptr;
}

void CAlarmMsg::Init() {
  free_block();
  m_nValue1 = 0;
  m_nValue2 = 0;
  m_nValue3 = 0;
  m_nDataLen = 0;
}

void CAlarmMsg::Serialize(CArchive& ar) {
  if (ar.IsStoring()) {
    ar << m_nValue2 << m_nValue1 << m_nValue3 << m_nDataLen;
    if (m_pData != nullptr && m_nDataLen > 0) ar.Write(m_pData, static_cast<UINT>(m_nDataLen));
    return;
  }
  // A held block is released first, so that a load that fails part-way
  // leaves no block rather than a stale one.
  free_block();
  try {
    ar >> m_nValue2 >> m_nValue1 >> m_nValue3 >> m_nDataLen;
    if (m_nDataLen > 0) read_block(ar, m_nDataLen);
  } catch (...) {
    // Without its block the record claims none, so that storing it again
    // writes a header that no bytes need to follow.
    m_nDataLen = 0;
    throw;
  }
}

void CAlarmMsg::read_block(CArchive& ar, LONG nLength) {
  const auto nTotal = static_cast<std::size_t>(nLength);
  std::size_t nCapacity = std::min(nTotal, kBlockStep);
  auto* pBlock = static_cast<BYTE*>(AfxAllocMemory(nCapacity));
  std::size_t nHave = 0;
  try {
    while (nHave < nTotal) {
      if (nHave == nCapacity) {
        // Grow geometrically as bytes actually arrive; the last step makes
        // the block exactly nLength bytes long.
        std::size_t nNew = std::min(nTotal, nCapacity * 2);
        auto* pBigger = static_cast<BYTE*>(AfxAllocMemory(nNew));
        std::memcpy(pBigger, pBlock, nHave);
        AfxFreeMemory(pBlock);
        pBlock = pBigger;
        nCapacity = nNew;
      }
      auto nWant = static_cast<UINT>(nCapacity - nHave);
      UINT nGot = ar.Read(pBlock + nHave, nWant);
      nHave += nGot;
      if (nGot < nWant) AfxThrowArchiveException(CArchiveException::endOfFile, ar.m_strFileName);
    }
  } catch (...) {
    AfxFreeMemory(pBlock);
    throw;
  }
  m_pData = pBlock;
}

// SPDX-License-Identifier: Apache-2.0
// CAlarmMsg: the record in which a host keeps an alarm message in its
// archives: three 32-bit values and a byte block that the record owns.
#pragma once

#include "framework/core/object.h"
#include "framework/io/archive.h"

class AFX_EXT_CLASS CAlarmMsg : public CObject {
  DECLARE_DYNCREATE(CAlarmMsg)

public:
  CAlarmMsg();
  // Releases the block.
  ~CAlarmMsg() override;

  // Stores or loads the record, as the archive's mode says. The layout is
  // m_nValue2, m_nValue1, m_nValue3, m_nDataLen (four bytes each,
  // little-endian), then the block's m_nDataLen bytes when there is a block.
  // Loading releases the held block first; an archive that ends early throws
  // CArchiveException* endOfFile, a block that cannot be allocated
  // CMemoryException*, and the record is then left without a block and with
  // m_nDataLen 0. A negative length loads no block.
  void Serialize(CArchive& ar) override;
  // Releases a block the record holds and sets every field to zero.
  void Init();

  int m_nValue1;    // first value of the host's alarm (stored second)
  int m_nValue2;    // second value (stored first)
  int m_nValue3;    // third value
  LONG m_nDataLen;  // length of the block in bytes; 0 for none
  // A block of m_nDataLen bytes from AfxAllocMemory, or null. A host that
  // puts a block here hands it over; the record releases it with AfxFreeMemory.
  BYTE* m_pData;

protected:
  // Reads a block of nLength bytes in bounded steps, so that a corrupt length
  // costs no more memory than the archive really holds.
  void read_block(CArchive& ar, LONG nLength);
  // Releases the block, if any, and sets m_pData to null (m_nDataLen stays).
  void free_block();
};

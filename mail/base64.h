// SPDX-License-Identifier: Apache-2.0
// CBase64: the base64 transfer encoder (RFC 2045 alphabet, one unbroken line,
// "=" padding). Splitting the text into lines is the caller's business.
#pragma once

#include "mail/mime_code.h"

class AFX_EXT_CLASS CBase64 : public CMIMECode {
public:
  CBase64() = default;
  CBase64(const CBase64&) = default;
  CBase64& operator=(const CBase64&) = default;
  ~CBase64() override = default;

  // Decodes base64 text into szOutput, which must hold strlen(szDecoding) + 1
  // bytes. "=" is skipped wherever it stands, the top bit of every character is
  // ignored, and any other character outside the alphabet fails the call (0).
  // Text that could decode to more than INT_MAX bytes throws CMemoryException*.
  int Decode(LPCTSTR szDecoding, LPTSTR szOutput) override;
  // The base64 text of nSize bytes; empty for a null pointer or nSize <= 0.
  // This and the two below throw CMemoryException* when the text would be
  // longer than INT_MAX (nSize above 1 610 612 733), before writing anything.
  CString Encode(LPCTSTR szEncoding, int nSize) override;

  // Appends the base64 text of nSize bytes to strDest, exactly what Encode
  // returns, without building an intermediate string.
  void AppendEncoded(LPCTSTR szEncoding, int nSize, CString& strDest);
  // Writes the base64 text of nSize bytes, exactly what Encode returns, to
  // szOutput, which has room for 4 * ((nSize + 2) / 3) bytes; no terminator.
  // Returns the number of characters written: 0 for a null pointer or
  // nSize <= 0.
  int EncodeInto(LPCTSTR szEncoding, int nSize, LPTSTR szOutput);

protected:
  // The encoder as a walk over the input bit by bit through read_bits; Encode
  // must produce the same text.
  CString EncodeBitwise(LPCTSTR szEncoding, int nSize);

  // Takes nNumBits (0..8) bits from m_pInput, most significant first, starting
  // at byte lp; reports the bits delivered through pBitsRead.
  UINT read_bits(int nNumBits, int* pBitsRead, int& lp);
  // Appends the low nNumBits bits of nBits to the bit buffer and stores every
  // completed byte at szOutput[i], advancing i.
  void write_bits(UINT nBits, int nNumBits, LPTSTR szOutput, int& i);

  int m_nInputLength = 0;                   // bytes of m_pInput that read_bits may take
  int m_nBitCount = 0;                      // valid low bits in m_nBitBuffer
  UINT m_nBitBuffer = 0;                    // bits read or written but not yet used
  const unsigned char* m_pInput = nullptr;  // the input read_bits walks

  // Built when the module loads and destroyed when it unloads, by the
  // module's start-up sequence, which owns the object behind this reference.
  static CString& m_sBase64Alphabet;
  static int m_nMask[9];  // m_nMask[n]: the low n bits set
};

// SPDX-License-Identifier: Apache-2.0
#include "mail/base64.h"

#include <array>
#include <cstdint>
#include <cstring>

int CBase64::m_nMask[9] = {0, 1, 3, 7, 15, 31, 63, 127, 255};

namespace {

// The fast encoder keeps its own copy of the alphabet so that it works even
// before the class-wide alphabet string has been constructed.
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two base64 digits for every 12-bit value, stored in the order they are
// written, so that three input bytes take two table loads.
struct PairTable {
  std::array<std::array<char, 2>, 4096> pairs{};
  constexpr PairTable() {
    for (int v = 0; v < 4096; ++v) pairs[v] = {kAlphabet[v >> 6], kAlphabet[v & 63]};
  }
};
constexpr PairTable kPairs;

constexpr signed char kSkip = -2;
constexpr signed char kInvalid = -1;

// 7-bit character code to digit value, kSkip for "=", kInvalid otherwise.
struct DecodeTable {
  std::array<signed char, 128> values{};
  constexpr DecodeTable() {
    for (auto& v : values) v = kInvalid;
    for (int i = 0; i < 64; ++i) values[static_cast<unsigned char>(kAlphabet[i])] = static_cast<signed char>(i);
    values['='] = kSkip;
  }
};
constexpr DecodeTable kDecode;

// Writes the base64 text of n bytes to out, which has room for 4 * ceil(n / 3) bytes.
void encode_into(const unsigned char* in, std::size_t n, char* out) {
  std::size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const std::uint32_t v = (std::uint32_t{in[i]} << 16) | (std::uint32_t{in[i + 1]} << 8) | in[i + 2];
    std::memcpy(out, kPairs.pairs[v >> 12].data(), 2);
    std::memcpy(out + 2, kPairs.pairs[v & 0xFFF].data(), 2);
    out += 4;
  }
  const std::size_t rest = n - i;
  if (rest == 1) {
    const std::uint32_t v = in[i];
    out[0] = kAlphabet[v >> 2];
    out[1] = kAlphabet[(v & 3) << 4];
    out[2] = '=';
    out[3] = '=';
  } else if (rest == 2) {
    const std::uint32_t v = (std::uint32_t{in[i]} << 8) | in[i + 1];
    out[0] = kAlphabet[v >> 10];
    out[1] = kAlphabet[(v >> 4) & 63];
    out[2] = kAlphabet[(v & 15) << 2];
    out[3] = '=';
  }
}

std::size_t encoded_length(int nSize) { return (static_cast<std::size_t>(nSize) + 2) / 3 * 4; }

}  // namespace

CString CBase64::Encode(LPCTSTR szEncoding, int nSize) {
  CString result;
  AppendEncoded(szEncoding, nSize, result);
  return result;
}

void CBase64::AppendEncoded(LPCTSTR szEncoding, int nSize, CString& strDest) {
  m_pInput = reinterpret_cast<const unsigned char*>(szEncoding);
  m_nInputLength = nSize;
  m_nBitCount = 0;
  if (szEncoding == nullptr || nSize <= 0) return;
  const int nOld = strDest.GetLength();
  const int nNew = AfxCheckedLength(static_cast<std::size_t>(nOld), encoded_length(nSize));
  char* p = strDest.GetBuffer(nNew);
  encode_into(m_pInput, static_cast<std::size_t>(nSize), p + nOld);
  strDest.ReleaseBuffer(nNew);
}

int CBase64::EncodeInto(LPCTSTR szEncoding, int nSize, LPTSTR szOutput) {
  if (szEncoding == nullptr || szOutput == nullptr || nSize <= 0) return 0;
  const int nLength = AfxCheckedLength(0, encoded_length(nSize));
  encode_into(reinterpret_cast<const unsigned char*>(szEncoding), static_cast<std::size_t>(nSize), szOutput);
  return nLength;
}

CString CBase64::EncodeBitwise(LPCTSTR szEncoding, int nSize) {
  CString result;
  if (szEncoding == nullptr) return result;
  m_pInput = reinterpret_cast<const unsigned char*>(szEncoding);
  m_nInputLength = nSize;
  m_nBitCount = 0;
  int lp = 0;
  int nDelivered = 0;
  UINT v = read_bits(6, &nDelivered, lp);
  while (nDelivered > 0) {
    result += m_sBase64Alphabet[static_cast<int>(v)];
    v = read_bits(nDelivered, &nDelivered, lp);
  }
  while (result.GetLength() % 4 != 0) result += '=';
  return result;
}

UINT CBase64::read_bits(int nNumBits, int* pBitsRead, int& lp) {
  if (m_nBitCount < nNumBits) {
    while (lp < m_nInputLength) {
      const UINT c = m_pInput[lp++];
      m_nBitBuffer = (m_nBitBuffer << 8) | c;
      m_nBitCount += 8;
      if (m_nBitCount >= nNumBits) break;
    }
  }
  UINT result;
  if (m_nBitCount < nNumBits) {
    result = (m_nBitBuffer << (nNumBits - m_nBitCount)) & static_cast<UINT>(m_nMask[nNumBits]);
    *pBitsRead = m_nBitCount;
    m_nBitCount = 0;
  } else {
    result = (m_nBitBuffer >> (m_nBitCount - nNumBits)) & static_cast<UINT>(m_nMask[nNumBits]);
    *pBitsRead = nNumBits;
    m_nBitCount -= nNumBits;
  }
  return result;
}

void CBase64::write_bits(UINT nBits, int nNumBits, LPTSTR szOutput, int& i) {
  m_nBitBuffer = (m_nBitBuffer << nNumBits) | nBits;
  m_nBitCount += nNumBits;
  while (m_nBitCount > 7) {
    szOutput[i++] = static_cast<char>((m_nBitBuffer >> (m_nBitCount - 8)) & 0xFF);
    m_nBitCount -= 8;
  }
}

int CBase64::Decode(LPCTSTR szDecoding, LPTSTR szOutput) {
  if (szOutput == nullptr || szDecoding == nullptr || *szDecoding == '\0') return 0;
  const std::size_t nLength = std::strlen(szDecoding);
  // Four characters give at most three bytes; the count returned is an int.
  AfxCheckedLength(0, nLength / 4 * 3 + 2);
  std::memset(szOutput, 0, nLength + 1);
  m_nBitCount = 0;
  int nOutput = 0;
  for (std::size_t i = 0; i < nLength; ++i) {
    const signed char v = kDecode.values[static_cast<unsigned char>(szDecoding[i]) & 0x7F];
    if (v == kInvalid) return 0;
    if (v == kSkip) continue;
    write_bits(static_cast<UINT>(v), 6, szOutput, nOutput);
  }
  return nOutput;
}

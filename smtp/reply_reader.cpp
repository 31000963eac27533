// SPDX-License-Identifier: Apache-2.0
#include "smtp/reply_reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

void CReplyReader::Append(const char* pData, std::size_t nLength) {
  m_buffer.append(pData, nLength);
}

void CReplyReader::Reset() {
  m_buffer.clear();
  m_nLineStart = 0;
  m_nScanned = 0;
  m_reply = CSMTPReply{};
  m_bSkipping = false;
}

bool CReplyReader::add_line(const char* pLine, std::size_t nLength) {
  const bool wellFormed = nLength >= 3 && IsDigit(pLine[0]) && IsDigit(pLine[1]) && IsDigit(pLine[2]) &&
                          (nLength == 3 || pLine[3] == ' ' || pLine[3] == '-');
  const int code = wellFormed ? (pLine[0] - '0') * 100 + (pLine[1] - '0') * 10 + (pLine[2] - '0') : 0;
  // Every line of one reply carries the same code.
  const bool sameCode = m_reply.lines.empty() || code == m_reply.nCode;
  // A skipped reply keeps its first line only, for the code comparison.
  const bool store = !m_bSkipping || m_reply.lines.empty();
  if (!wellFormed || !sameCode) {
    m_reply.nCode = 0;
    if (store) m_reply.lines.emplace_back(pLine, static_cast<int>(std::min(nLength, kMaxStoredLineBytes)));
    return true;
  }
  m_reply.nCode = code;
  const std::size_t textLength = nLength > 4 ? nLength - 4 : 0;
  if (store)
    m_reply.lines.emplace_back(pLine + (nLength > 4 ? 4 : nLength),
                               static_cast<int>(std::min(textLength, kMaxStoredLineBytes)));
  return nLength == 3 || pLine[3] == ' ';
}

void CReplyReader::start_skipping() {
  m_bSkipping = true;
  if (m_reply.lines.size() > 1) m_reply.lines.resize(1);
  // Only the lines already read go: bytes after them may hold whole lines
  // still to be looked at.
  m_buffer.erase(0, m_nLineStart);
  m_nScanned -= m_nLineStart;
  m_nLineStart = 0;
}

void CReplyReader::drop_skipped() {
  m_buffer.erase(0, m_nLineStart);
  constexpr std::size_t kHead = 4;
  if (m_buffer.size() > kHead + 1) m_buffer.erase(kHead, m_buffer.size() - kHead - 1);
  m_nLineStart = 0;
  m_nScanned = m_buffer.size();
}

CReplyReader::Result CReplyReader::Take(CSMTPReply& reply) {
  for (;;) {
    const char* begin = m_buffer.data();
    const void* lf = std::memchr(begin + m_nScanned, '\n', m_buffer.size() - m_nScanned);
    if (lf == nullptr) {
      m_nScanned = m_buffer.size();
      if (m_bSkipping) {
        drop_skipped();
        return Result::Incomplete;
      }
      if (m_buffer.size() > kMaxReplyBytes) {
        start_skipping();
        drop_skipped();
        return Result::TooLong;
      }
      return Result::Incomplete;
    }
    const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(lf) - begin);
    std::size_t length = end - m_nLineStart;
    if (length > 0 && begin[m_nLineStart + length - 1] == '\r') --length;
    const bool ended = add_line(begin + m_nLineStart, length);
    m_nLineStart = m_nScanned = end + 1;
    const bool tooLong = !m_bSkipping && m_nLineStart > kMaxReplyBytes;
    if (tooLong && !ended) {
      start_skipping();
      return Result::TooLong;
    }
    if (ended) {
      m_buffer.erase(0, m_nLineStart);
      m_nLineStart = m_nScanned = 0;
      if (m_bSkipping || tooLong) {
        // The long reply is over; the next one is read normally.
        m_bSkipping = false;
        m_reply = CSMTPReply{};
        if (tooLong) return Result::TooLong;
        continue;
      }
      reply = std::move(m_reply);
      m_reply = CSMTPReply{};
      return Result::Complete;
    }
  }
}

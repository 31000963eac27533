// SPDX-License-Identifier: Apache-2.0
#include "smtp/dot_stuffer.h"

#include <algorithm>
#include <cstring>

namespace {

// The next CR and the next LF in one piece of text, each found with memchr
// and kept until the filter has passed it, so that every byte is scanned at
// most once for each of the two.
class LineBreaks {
public:
  LineBreaks(const char* p, const char* end) : m_end(end), m_cr(find(p, '\r')), m_lf(find(p, '\n')) {}

  // The first CR or LF at or after p, or the end of the piece.
  const char* Next(const char* p) {
    if (m_cr < p) m_cr = find(p, '\r');
    if (m_lf < p) m_lf = find(p, '\n');
    return std::min(m_cr, m_lf);
  }

private:
  const char* find(const char* p, char c) const {
    if (p == m_end) return m_end;
    const void* hit = std::memchr(p, c, static_cast<std::size_t>(m_end - p));
    return hit != nullptr ? static_cast<const char*>(hit) : m_end;
  }

  const char* m_end;
  const char* m_cr;
  const char* m_lf;
};

// Hands [p, end) to out, unless it is empty.
void put(CDotStuffer::COutput& out, const char* p, const char* end) {
  if (end > p) out.Put(p, static_cast<std::size_t>(end - p));
}

}  // namespace

void CDotStuffer::Write(const char* pData, std::size_t nLength, COutput& out) {
  const char* p = pData;
  const char* const end = pData + nLength;
  if (m_bPendingCR && p < end) {
    out.Put("\r\n", 2);
    if (*p == '\n') ++p;
    m_bPendingCR = false;
    m_bLineStart = true;
  }
  // Bytes that pass unchanged (CR LF line ends included) go out in runs,
  // one piece per change rather than one per line.
  LineBreaks breaks(p, end);
  const char* run = p;
  while (p < end) {
    if (m_bLineStart) {
      m_bLineStart = false;
      if (*p == '.' && m_bStuffDots) {
        put(out, run, p);
        out.Put(".", 1);
        run = p;
      }
    }
    const char* stop = breaks.Next(p);
    if (stop == end) {
      p = end;
      break;
    }
    if (*stop == '\r' && stop + 1 < end && stop[1] == '\n') {
      p = stop + 2;
    } else if (*stop == '\r' && stop + 1 == end) {
      // The LF that may belong to this CR comes with the next piece.
      put(out, run, stop);
      m_bPendingCR = true;
      return;
    } else {
      put(out, run, stop);
      out.Put("\r\n", 2);
      p = stop + 1;
      run = p;
    }
    m_bLineStart = true;
  }
  put(out, run, p);
}

void CDotStuffer::Finish(COutput& out) {
  if (m_bPendingCR) out.Put("\r\n", 2);
  m_bPendingCR = false;
  m_bLineStart = true;
}

#include "smtp/dot_stuffer.h"

#include <algorithm>
#include <climits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The first CR or LF in [p, end), or end. Sixteen bytes at a time where the
// processor allows: this scan is most of the filter's work.
const char* FindLineBreak(const char* p, const char* end) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i lf = _mm_set1_epi8('\n');
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf)));
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
    p += 16;
  }
#endif
  while (p < end && *p != '\r' && *p != '\n') ++p;
  return p;
}

// Where filtered bytes go: a std::string or a CString.
struct StringSink {
  std::string& text;
  void append(const char* p, std::size_t n) { text.append(p, n); }
};
struct CStringSink {
  CString& text;
  void append(const char* p, std::size_t n) { text.Append(p, static_cast<int>(n)); }
};
struct OutputSink {
  CDotStuffer::COutput& output;
  void append(const char* p, std::size_t n) {
    if (n > 0) output.Put(p, n);
  }
};

}  // namespace

void CDotStuffer::Write(const char* pData, std::size_t nLength, std::string& out) {
  StringSink sink{out};
  write(pData, nLength, sink);
}

void CDotStuffer::Write(const char* pData, std::size_t nLength, CString& out) {
  CStringSink sink{out};
  write(pData, nLength, sink);
}

void CDotStuffer::Write(const char* pData, std::size_t nLength, COutput& out) {
  OutputSink sink{out};
  write(pData, nLength, sink);
}

void CDotStuffer::Finish(std::string& out) {
  StringSink sink{out};
  finish(sink);
}

void CDotStuffer::Finish(CString& out) {
  CStringSink sink{out};
  finish(sink);
}

void CDotStuffer::Finish(COutput& out) {
  OutputSink sink{out};
  finish(sink);
}

template <typename Sink>
void CDotStuffer::write(const char* pData, std::size_t nLength, Sink& out) {
  const char* p = pData;
  const char* const end = pData + nLength;
  if (m_bPendingCR && p < end) {
    out.append("\r\n", 2);
    if (*p == '\n') ++p;
    m_bPendingCR = false;
    m_bLineStart = true;
  }
  // Bytes that pass unchanged (CR LF line ends included) are copied in runs,
  // one append per change rather than one per line.
  const char* run = p;
  while (p < end) {
    if (m_bLineStart) {
      m_bLineStart = false;
      if (*p == '.') {
        out.append(run, static_cast<std::size_t>(p - run));
        out.append(".", 1);
        run = p;
      }
    }
    const char* stop = FindLineBreak(p, end);
    if (stop == end) {
      p = end;
      break;
    }
    if (*stop == '\r' && stop + 1 < end && stop[1] == '\n') {
      p = stop + 2;
    } else if (*stop == '\r' && stop + 1 == end) {
      // The LF that may belong to this CR comes with the next piece.
      out.append(run, static_cast<std::size_t>(stop - run));
      m_bPendingCR = true;
      return;
    } else {
      out.append(run, static_cast<std::size_t>(stop - run));
      out.append("\r\n", 2);
      p = stop + 1;
      run = p;
    }
    m_bLineStart = true;
  }
  out.append(run, static_cast<std::size_t>(p - run));
}

template <typename Sink>
void CDotStuffer::finish(Sink& out) {
  if (m_bPendingCR) out.append("\r\n", 2);
  m_bPendingCR = false;
  m_bLineStart = true;
}

CString CDotStuffer::Cook(const CString& sText) {
  CString out;
  out.Preallocate(static_cast<int>(std::min<long long>(INT_MAX, sText.GetLength() + sText.GetLength() / 32LL + 16)));
  CDotStuffer stuffer;
  stuffer.Write(sText.GetString(), static_cast<std::size_t>(sText.GetLength()), out);
  stuffer.Finish(out);
  return out;
}

#include "mail/text_plain.h"

#include "framework/core/code_page.h"
#include "mail/body_text.h"
#include "mail/encoded_word.h"
#include "mail/header_text.h"

#include <algorithm>
#include <string>
#include <string_view>

CTextPlain::CTextPlain(int nContentType, UINT nWrapPos) : CMIMEContentAgent(nContentType), m_nWrapWidth(nWrapPos) {}

CString CTextPlain::GetContentTypeString() { return CString("text/plain"); }

CString CTextPlain::build_sub_header(LPCTSTR szContent, LPCTSTR szParameters, int, BOOL) {
  CString header;
  // The parameters are caller text on the Content-Type line: a line break in
  // them must not start a header line of the part.
  std::string parameters = tarvenkel::HeaderText(szParameters ? szParameters : "");
  const std::string_view content = szContent ? std::string_view(szContent) : std::string_view();
  const bool encoded = tarvenkel::NeedsTransferEncoding(content);
  if (tarvenkel::HasEightBit(content) && tarvenkel::CharsetParameter(parameters).empty()) {
    parameters += "; charset=";
    parameters += AfxGetCodePageCharset(AfxGetAnsiCodePage());
  }
  header.Format("Content-Type: %s%s\r\n", GetContentTypeString().GetString(), parameters.c_str());
  header += "Content-Transfer-Encoding: ";
  header += encoded ? "base64" : "7Bit";
  header += "\r\n\r\n";
  return header;
}

BOOL CTextPlain::AppendPart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath,
                            CString& sDestination) {
  // A bare LF or CR ends a line as CR LF does, for the wrap and on the wire.
  const std::string text = tarvenkel::WithCrLf(szContent ? szContent : "");
  const CString wrapped = wrap_text(szContent ? text.c_str() : nullptr);
  // The header is built from the wrapped text, whose lines are those sent.
  sDestination += build_sub_header(wrapped, szParameters, nEncoding, bPath);
  if (tarvenkel::NeedsTransferEncoding(wrapped.str())) tarvenkel::AppendBase64Lines(wrapped.str(), sDestination);
  else sDestination += wrapped;
  return TRUE;
}

// The wrapping rule, on a working text T that changes as breaks are made:
// walk i over T; a space at i becomes the break position s (s starts at 0
// and is never reset); a CR LF at i resets the counter k; while k <= W it
// counts, otherwise T is broken at s: the white space on both sides of s is
// removed, CR LF put in its place, and k restarts, while i and s keep their
// values as numbers in the new text.
//
// Rebuilding T at every break costs the whole text each time. Instead T is
// kept as three pieces: `left` holds T[0, s) exactly, then comes a pending
// prefix of at most the two characters CR LF, then the unread input from
// position q. Every change of T happens at s, so a break only trims the end
// of `left` and the start of what follows, and when s moves forward to i the
// characters T[s, i) move into `left`. Each input character enters `left`
// once and each trimmed one is dropped once, so the work is linear.
CString CTextPlain::wrap_text(LPCTSTR szText) {
  if (szText == nullptr) return CString();
  const std::string_view in(szText);
  const std::size_t n = in.size();
  const UINT W = m_nWrapWidth;

  std::string left;
  left.reserve(n + 2 * (n / (static_cast<std::size_t>(W) + 1)) + 16);
  char pending[2] = {0, 0};
  std::size_t pendingLen = 0;  // pending holds a suffix of "\r\n"
  std::size_t q = 0;
  std::size_t s = 0;
  UINT k = 0;

  // T[j] for j >= s, valid while left.size() == s.
  auto at = [&](std::size_t j) -> char {
    const std::size_t off = j - s;
    return off < pendingLen ? pending[off] : in[q + off - pendingLen];
  };
  auto length = [&] { return left.size() + pendingLen + (n - q); };
  // Moves the next count characters after `left` into it, as far as T reaches.
  auto take = [&](std::size_t count) {
    while (count > 0 && pendingLen > 0) {
      left += pending[0];
      pending[0] = pending[1];
      --pendingLen;
      --count;
    }
    count = std::min(count, n - q);
    left.append(in.data() + q, count);
    q += count;
  };

  for (std::size_t i = 0; i < length(); ++i) {
    const char c = at(i);
    if (c == ' ') {
      take(i - s);
      s = i;
    }
    if (c == '\r' && i + 1 < length() && at(i + 1) == '\n') k = 0;
    if (k <= W) {
      ++k;
      continue;
    }
    // Break at s: T = TrimRight(T[0, s)) + CR LF + TrimLeft(T[s, end)).
    while (!left.empty() && AfxIsWhiteSpace(left.back())) left.pop_back();
    pendingLen = 0;  // only CR and LF, which the trim removes
    while (q < n && AfxIsWhiteSpace(in[q])) ++q;
    pending[0] = '\r';
    pending[1] = '\n';
    pendingLen = 2;
    // Trimming may have moved text to before s; restore left == T[0, s).
    if (left.size() < s) take(s - left.size());
    k = 0;
  }
  left.append(pending, pendingLen);
  left.append(in.data() + q, n - q);
  return CString(std::string_view(left));
}

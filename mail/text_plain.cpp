// SPDX-License-Identifier: Apache-2.0
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
  header.Format("Content-Type: %s%s", GetContentTypeString().GetString(), parameters.c_str());
  header = CString(std::string_view(tarvenkel::FoldedHeaderLine(header.str())));
  header += "\r\n";
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

// The wrapping rule works on a text that changes as breaks are made. A
// position walks over it, counting the characters of the current line. A
// space becomes the break position (which starts at 0 and is never reset);
// a CR LF restarts the count. Once the count has passed the width, the text
// is broken at the break position: the white space on both sides of it is
// removed, CR LF put in its place, and the count restarts, while the walking
// position and the break position keep their values as numbers in the new
// text.
//
// Rebuilding the text at every break would cost the whole text each time.
// Instead it is kept as three pieces: `head`, exactly the text before the
// break position; `lineEnd`, what is still ahead of the break position of
// the CR LF that the last break put in; and the input from `nextInput` on.
// Every change happens at the break position, so a break only trims the end
// of `head` and the start of what follows it, and when the break position
// moves forward, the characters it passes move into `head`. Each input
// character enters `head` once and each trimmed one is dropped once, so the
// work is linear.
CString CTextPlain::wrap_text(LPCTSTR szText) {
  if (szText == nullptr) return CString();
  const std::string_view input(szText);
  const std::size_t inputLength = input.size();
  const UINT width = m_nWrapWidth;

  std::string head;
  head.reserve(inputLength + 2 * (inputLength / (static_cast<std::size_t>(width) + 1)) + 16);
  char lineEnd[2] = {0, 0};
  std::size_t lineEndLength = 0;  // lineEnd holds a suffix of "\r\n"
  std::size_t nextInput = 0;
  std::size_t breakAt = 0;
  UINT lineCount = 0;

  // The character at pos of the working text, for pos >= breakAt, valid
  // while head.size() == breakAt.
  auto charAt = [&](std::size_t pos) -> char {
    const std::size_t offset = pos - breakAt;
    return offset < lineEndLength ? lineEnd[offset] : input[nextInput + offset - lineEndLength];
  };
  auto textLength = [&] { return head.size() + lineEndLength + (inputLength - nextInput); };
  // Moves the next count characters after `head` into it, as far as the text reaches.
  auto moveIntoHead = [&](std::size_t count) {
    while (count > 0 && lineEndLength > 0) {
      head += lineEnd[0];
      lineEnd[0] = lineEnd[1];
      --lineEndLength;
      --count;
    }
    count = std::min(count, inputLength - nextInput);
    head.append(input.data() + nextInput, count);
    nextInput += count;
  };

  for (std::size_t pos = 0; pos < textLength(); ++pos) {
    const char c = charAt(pos);
    if (c == ' ') {
      moveIntoHead(pos - breakAt);
      breakAt = pos;
    }
    if (c == '\r' && pos + 1 < textLength() && charAt(pos + 1) == '\n') lineCount = 0;
    if (lineCount <= width) {
      ++lineCount;
      continue;
    }
    // Break: the text becomes TrimRight(head) + CR LF + TrimLeft(the rest).
    while (!head.empty() && AfxIsWhiteSpace(head.back())) head.pop_back();
    lineEndLength = 0;  // only CR and LF, which the trim removes
    while (nextInput < inputLength && AfxIsWhiteSpace(input[nextInput])) ++nextInput;
    lineEnd[0] = '\r';
    lineEnd[1] = '\n';
    lineEndLength = 2;
    // Trimming may have moved text to before breakAt; make head the text
    // before it again.
    if (head.size() < breakAt) moveIntoHead(breakAt - head.size());
    lineCount = 0;
  }
  head.append(lineEnd, lineEndLength);
  head.append(input.data() + nextInput, inputLength - nextInput);
  return CString(std::string_view(head));
}

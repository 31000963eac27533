// SPDX-License-Identifier: Apache-2.0
#include "mail/body_text.h"

#include "mail/base64.h"
#include "mail/encoded_word.h"

#include <algorithm>

namespace tarvenkel {

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

bool NeedsTransferEncoding(std::string_view text) {
  if (HasEightBit(text)) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find_first_of("\r\n", start);
    const std::size_t stop = end == std::string_view::npos ? text.size() : end;
    if (stop - start > kWireLineLimit) return true;
    if (end == std::string_view::npos) return false;
    start = end + 1;
  }
}

void AppendBase64Lines(std::string_view bytes, CString& sDestination) {
  // 57 bytes make one line of 76 characters.
  constexpr std::size_t kBytesPerLine = 57;
  const std::size_t lines = (bytes.size() + kBytesPerLine - 1) / kBytesPerLine;
  const int start = sDestination.GetLength();
  char* out = sDestination.GetBuffer(start + static_cast<int>(lines * 78)) + start;
  CBase64 encoder;
  std::size_t used = 0;
  for (std::size_t pos = 0; pos < bytes.size(); pos += kBytesPerLine) {
    const std::size_t n = std::min(kBytesPerLine, bytes.size() - pos);
    used += static_cast<std::size_t>(encoder.EncodeInto(bytes.data() + pos, static_cast<int>(n), out + used));
    out[used++] = '\r';
    out[used++] = '\n';
  }
  sDestination.ReleaseBuffer(start + static_cast<int>(used));
}

}  // namespace tarvenkel

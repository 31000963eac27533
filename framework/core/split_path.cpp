// SPDX-License-Identifier: Apache-2.0
#include "framework/core/split_path.h"

#include "framework/core/code_page.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// Copies text into a buffer of size bytes, cut to fit between two
// characters of the code page and zero-terminated.
void copy_cut(LPSTR out, std::size_t size, std::string_view text, UINT nCodePage) {
  if (out == nullptr) return;
  std::size_t n = 0;
  while (n < text.size()) {
    const std::size_t next = n + static_cast<std::size_t>(AfxCharLength(nCodePage, text.data() + n, text.size() - n));
    if (next > size - 1) break;
    n = next;
  }
  if (n > 0) std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

void _splitpath(LPCSTR path, LPSTR drive, LPSTR dir, LPSTR fname, LPSTR ext) {
  std::string_view rest = path ? std::string_view(path) : std::string_view();
  std::string_view driveText;
  if (rest.size() >= 2 && rest[1] == ':' && is_letter(rest[0])) {
    driveText = rest.substr(0, 2);
    rest.remove_prefix(2);
  }
  // Separators and dots count only where a character starts: in GBK the
  // byte of "\\" is also the second byte of characters such as 0xB2 0x5C.
  const UINT nCodePage = AfxGetAnsiCodePage();
  std::size_t nameStart = 0;
  std::size_t dotAt = std::string_view::npos;
  for (std::size_t i = 0; i < rest.size();) {
    if (rest[i] == '/' || rest[i] == '\\') {
      nameStart = i + 1;
      dotAt = std::string_view::npos;
    } else if (rest[i] == '.') {
      dotAt = i;
    }
    i += static_cast<std::size_t>(AfxCharLength(nCodePage, rest.data() + i, rest.size() - i));
  }
  const std::string_view dirText = rest.substr(0, nameStart);
  const std::string_view last = rest.substr(nameStart);
  const std::size_t dot = dotAt == std::string_view::npos ? dotAt : dotAt - nameStart;
  const std::string_view nameText = dot == std::string_view::npos ? last : last.substr(0, dot);
  const std::string_view extText = dot == std::string_view::npos ? std::string_view() : last.substr(dot);
  copy_cut(drive, _MAX_DRIVE, driveText, nCodePage);
  copy_cut(dir, _MAX_DIR, dirText, nCodePage);
  copy_cut(fname, _MAX_FNAME, nameText, nCodePage);
  copy_cut(ext, _MAX_EXT, extText, nCodePage);
}

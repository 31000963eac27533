#include "framework/split_path.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace {

// Copies text into a buffer of size bytes, cut to fit and zero-terminated.
void copy_cut(LPSTR out, std::size_t size, std::string_view text) {
  if (out == nullptr) return;
  const std::size_t n = std::min(text.size(), size - 1);
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
  const std::size_t lastSep = rest.find_last_of("/\\");
  const std::size_t nameStart = lastSep == std::string_view::npos ? 0 : lastSep + 1;
  const std::string_view dirText = rest.substr(0, nameStart);
  const std::string_view last = rest.substr(nameStart);
  const std::size_t dot = last.rfind('.');
  const std::string_view nameText = dot == std::string_view::npos ? last : last.substr(0, dot);
  const std::string_view extText = dot == std::string_view::npos ? std::string_view() : last.substr(dot);
  copy_cut(drive, _MAX_DRIVE, driveText);
  copy_cut(dir, _MAX_DIR, dirText);
  copy_cut(fname, _MAX_FNAME, nameText);
  copy_cut(ext, _MAX_EXT, extText);
}

// SPDX-License-Identifier: Apache-2.0
// CBase64::Decode on arbitrary text, checked against what the decoder must do:
// "=" skipped anywhere, the top bit of every character ignored, any other
// character outside the alphabet failing the call, and 6 bits per alphabet
// character with an unfinished last byte dropped. Also checks that the bytes
// of the input survive Encode followed by Decode.
#include "mail/base64.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The 6-bit value of an alphabet character, -1 for "=", -2 for anything else.
int DigitValue(unsigned char c) {
  c &= 0x7f;
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  if (c == '=') return -1;
  return -2;
}

// The bytes the decoder must produce for text, or nothing when it must fail.
bool ReferenceDecode(const std::string& text, std::string& bytes) {
  bytes.clear();
  unsigned bits = 0;
  int count = 0;
  for (unsigned char c : text) {
    const int v = DigitValue(c);
    if (v == -2) return false;
    if (v == -1) continue;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<char>((bits >> count) & 0xff));
    }
  }
  return true;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Decode reads zero-terminated text: the input up to its first zero byte.
  const std::string text(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  std::vector<char> out(text.size() + 1, '\x55');
  CBase64 base64;
  const int n = base64.Decode(text.c_str(), out.data());
  std::string expected;
  if (text.empty() || !ReferenceDecode(text, expected)) {
    Check(n == 0);
  } else {
    Check(n == static_cast<int>(expected.size()));
    Check(std::memcmp(out.data(), expected.data(), expected.size()) == 0);
    Check(out[expected.size()] == '\0');
  }

  // Every byte string, zero bytes included, comes back whole.
  const CString encoded = base64.Encode(reinterpret_cast<const char*>(data), static_cast<int>(size));
  Check(encoded.GetLength() == static_cast<int>((size + 2) / 3 * 4));
  std::vector<char> back(static_cast<std::size_t>(encoded.GetLength()) + 1);
  const int m = base64.Decode(encoded.GetString(), back.data());
  Check(m == static_cast<int>(size));
  Check(size == 0 || std::memcmp(back.data(), data, size) == 0);
  return 0;
}

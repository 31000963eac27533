// SPDX-License-Identifier: Apache-2.0
// The word-wrapping rule of the plain-text agent transcribed step by step:
// the working text is rebuilt at every break, which makes it quadratic. Tests
// and benchmarks compare the real, linear function against it.
#pragma once

#include <string>

namespace tarvenkel::test {

inline bool LiteralIsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline std::string LiteralWrap(const char* text, unsigned width) {
  if (text == nullptr) return std::string();
  std::string t = text;
  unsigned k = 0;
  std::size_t s = 0;  // the last space seen anywhere, starting at 0, never reset
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (t[i] == ' ') s = i;
    if (t.compare(i, 2, "\r\n") == 0) k = 0;
    if (k <= width) {
      ++k;
    } else {
      std::string left = t.substr(0, s);
      std::string right = t.substr(s);
      while (!left.empty() && LiteralIsWhiteSpace(left.back())) left.pop_back();
      std::size_t skip = 0;
      while (skip < right.size() && LiteralIsWhiteSpace(right[skip])) ++skip;
      t = left + "\r\n" + right.substr(skip);
      k = 0;
    }
  }
  return t;
}

}  // namespace tarvenkel::test

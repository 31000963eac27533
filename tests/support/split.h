// SPDX-License-Identifier: Apache-2.0
// Splitting a text at a separator, for tests that compare lines or fields.
#pragma once

#include <string>
#include <vector>

namespace tarvenkel::test {

// The pieces between the separators: one more than there are separators,
// empty ones included.
inline std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + separator.size())
    pieces.push_back(text.substr(start, end - start));
  pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace tarvenkel::test

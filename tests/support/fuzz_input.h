// SPDX-License-Identifier: Apache-2.0
// The input of a fuzz target read as a first byte that chooses a setting and
// the text after it, up to its first zero byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace tarvenkel::test {

struct ChoiceAndText {
  std::uint8_t choice;
  std::string text;
};

// The choice byte and the text; size must be at least 1.
inline ChoiceAndText ReadChoiceAndText(const std::uint8_t* data, std::size_t size) {
  const char* rest = reinterpret_cast<const char*>(data + 1);
  return {data[0], std::string(rest, strnlen(rest, size - 1))};
}

}  // namespace tarvenkel::test

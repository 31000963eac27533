// SPDX-License-Identifier: Apache-2.0
// Alarm records as raw bytes, written the way a legacy host stored them.
#pragma once

#include <cstdint>
#include <string>

namespace tarvenkel::test {

// Four bytes, little-endian.
inline std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

// One record: the second value first, then the first, the third, the
// length, and the block.
inline std::string RawRecord(int v1, int v2, int v3, int len, const std::string& block = "") {
  return Le32(static_cast<std::uint32_t>(v2)) + Le32(static_cast<std::uint32_t>(v1)) +
         Le32(static_cast<std::uint32_t>(v3)) + Le32(static_cast<std::uint32_t>(len)) + block;
}

}  // namespace tarvenkel::test

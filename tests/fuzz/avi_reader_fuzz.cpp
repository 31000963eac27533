// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the AVI reader: it must either accept them with a
// consistent result or refuse them with a reason, never read out of bounds.
#include <cstdint>
#include <cstdlib>

#include "framework/window/avi_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CAviReader reader;
  if (size > 0xFFFFFFFFu) return 0;
  if (reader.Open(data, static_cast<DWORD>(size))) {
    if (reader.GetFrameCount() <= 0 || reader.GetWidth() <= 0 || reader.GetHeight() <= 0 ||
        reader.GetFramePeriod() == 0)
      std::abort();
    unsigned sum = 0;
    for (int f = 0; f < reader.GetFrameCount(); ++f)
      for (int y = 0; y < reader.GetHeight(); ++y)
        for (int x = 0; x < reader.GetWidth(); ++x) sum += reader.GetPixelRGB(f, x, y);
    (void)sum;
  } else if (reader.GetError().IsEmpty() || reader.IsOpen()) {
    std::abort();
  }
  return 0;
}

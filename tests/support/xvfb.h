// SPDX-License-Identifier: Apache-2.0
// A private X server for tests: Xvfb on a display number it picks itself,
// started by the fixture and stopped with it, and screenshots of it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tarvenkel::test {

class XvfbServer {
public:
  // Starts Xvfb with one 800 x 600 x 24 screen and waits until it takes
  // connections. Ok() tells whether that worked; Error() why not.
  XvfbServer();
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool Ok() const { return m_pid > 0 && !m_display.empty(); }
  const std::string& Error() const { return m_error; }
  // ":N"
  const std::string& Display() const { return m_display; }

private:
  pid_t m_pid = -1;
  std::string m_display;
  std::string m_error;
};

// A screenshot of the whole screen as 0x00RRGGBB pixels.
struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Takes a screenshot with xwd and converts it with ImageMagick's convert;
// also writes it as PNG to pngPath when given. False on failure.
bool TakeScreenshot(const std::string& display, Screenshot& shot, const std::string& pngPath = "");

}  // namespace tarvenkel::test

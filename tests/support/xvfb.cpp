// SPDX-License-Identifier: Apache-2.0
// Xvfb for tests, and screenshots through xwd and ImageMagick.
#include "tests/support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"

extern char** environ;

namespace tarvenkel::test {

// Xvfb chooses a free display number and writes it to the pipe (-displayfd)
// once it listens, so parallel tests and other servers never collide.
XvfbServer::XvfbServer() {
  int fds[2];
  if (::pipe(fds) != 0) {
    m_error = "pipe failed";
    return;
  }
  std::string fdArg = std::to_string(fds[1]);
  const char* argv[] = {"Xvfb", "-displayfd", fdArg.c_str(), "-screen", "0", "800x600x24", "-nolisten", "tcp",
                        "-noreset", nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  int rc = posix_spawnp(&m_pid, "Xvfb", &actions, nullptr, const_cast<char**>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(fds[1]);
  if (rc != 0) {
    m_pid = -1;
    m_error = "cannot start Xvfb (is the xvfb package installed?)";
    ::close(fds[0]);
    return;
  }
  std::string number;
  pollfd p{fds[0], POLLIN, 0};
  while (::poll(&p, 1, 10000) > 0) {
    char c;
    if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  ::close(fds[0]);
  if (number.empty()) {
    m_error = "Xvfb did not report a display";
    return;
  }
  m_display = ":" + number;
}

XvfbServer::~XvfbServer() {
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGTERM);
  int status;
  ::waitpid(m_pid, &status, 0);
}

bool TakeScreenshot(const std::string& display, Screenshot& shot, const std::string& pngPath) {
  TempDir dir;
  std::string xwd = dir.file("shot.xwd"), ppm = dir.file("shot.ppm");
  if (RunProcess({"xwd", "-root", "-silent", "-display", display, "-out", xwd}).status != 0) return false;
  if (RunProcess({"convert", "xwd:" + xwd, "ppm:" + ppm}).status != 0) return false;
  if (!pngPath.empty() && RunProcess({"convert", "xwd:" + xwd, "png:" + pngPath}).status != 0) return false;
  std::string bytes = ReadFile(ppm);
  // Binary PPM: "P6", width, height, maximum value (each possibly after
  // comment lines), one whitespace, then RGB bytes.
  size_t at = 2;
  auto next_number = [&](int& v) {
    for (;;) {
      while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
      if (at < bytes.size() && bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
        continue;
      }
      break;
    }
    size_t start = at;
    v = 0;
    while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])) && at - start < 6)
      v = v * 10 + (bytes[at++] - '0');
    return at > start;
  };
  int w = 0, h = 0, max = 0;
  if (bytes.compare(0, 2, "P6") != 0 || !next_number(w) || !next_number(h) || !next_number(max) || max != 255 ||
      w <= 0 || h <= 0)
    return false;
  ++at;
  if (bytes.size() < at + static_cast<size_t>(w) * h * 3) return false;
  shot.width = w, shot.height = h;
  shot.pixels.resize(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < shot.pixels.size(); ++i) {
    auto b = [&](size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3 * i + k])); };
    shot.pixels[i] = b(0) << 16 | b(1) << 8 | b(2);
  }
  return true;
}

}  // namespace tarvenkel::test

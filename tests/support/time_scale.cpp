// SPDX-License-Identifier: Apache-2.0
#include "tests/support/time_scale.h"

#include <cstdlib>

namespace tarvenkel::test {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr double kBuildScale = 3;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr double kBuildScale = 3;
#else
constexpr double kBuildScale = 1;
#endif
#else
constexpr double kBuildScale = 1;
#endif

double ReadScale() {
  const char* text = std::getenv("TARVENKEL_TIME_SCALE");
  if (text == nullptr) return kBuildScale;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  return end != text && value > 0 ? value : kBuildScale;
}

}  // namespace

double TimeScale() {
  static const double scale = ReadScale();
  return scale;
}

double Slack(double seconds) { return seconds * TimeScale(); }

int SlackMs(int milliseconds) { return static_cast<int>(milliseconds * TimeScale()); }

}  // namespace tarvenkel::test

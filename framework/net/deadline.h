// SPDX-License-Identifier: Apache-2.0
// Deadlines for waits made of several shorter ones.
#pragma once

#include <algorithm>
#include <chrono>

// A point in time that a wait must not pass, for a wait made of several
// shorter ones (poll rounds, one socket call per chunk of a reply, the steps
// of a handshake): each of them is given what is left of the whole.
class CDeadline {
public:
  // nMilliseconds from now on the steady clock; less than 0: no limit.
  explicit CDeadline(int nMilliseconds)
      : m_bLimited(nMilliseconds >= 0),
        m_tEnd(Clock::now() + std::chrono::milliseconds(m_bLimited ? nMilliseconds : 0)) {}

  // The milliseconds left, as poll takes them: rounded up, so that a wait
  // never ends a fraction of a millisecond early; 0 once the deadline has
  // passed; -1 when there is no limit.
  int RemainingMs() const {
    if (!m_bLimited) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(m_tEnd - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 0x7fffffff));
  }
  // Whether a limit was set and has passed.
  bool HasPassed() const { return m_bLimited && Clock::now() >= m_tEnd; }

private:
  using Clock = std::chrono::steady_clock;

  bool m_bLimited;
  Clock::time_point m_tEnd;
};

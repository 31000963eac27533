// SPDX-License-Identifier: Apache-2.0
// How long a test lets real work take. A bound on elapsed time is the time
// the work itself needs plus a slack for the machine, and the slack grows
// with TimeScale(), so that a sanitizer build, valgrind or a loaded machine
// does not fail a test whose work is right but slow.
#pragma once

namespace tarvenkel::test {

// The factor in TARVENKEL_TIME_SCALE (a positive number; the test job sets
// it for the sanitizer and valgrind runs); without it 3 in a build with
// AddressSanitizer or ThreadSanitizer, else 1.
double TimeScale();
// The slack given, in seconds, times TimeScale().
double Slack(double seconds);
// The same for a wait in milliseconds, such as a helper's time-out.
int SlackMs(int milliseconds);

}  // namespace tarvenkel::test

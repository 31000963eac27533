// SPDX-License-Identifier: Apache-2.0
// One row of a table test of a function on text: the text it is given and
// the text it gives back (its result, or the message of its refusal).
#pragma once

namespace tarvenkel::test {

struct TextCase {
  const char* input;
  const char* expected;
};

}  // namespace tarvenkel::test

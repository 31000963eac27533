// SPDX-License-Identifier: Apache-2.0
// CTextPlain::wrap_text, the linear word wrap, against the step-by-step
// transcription of the rule that the mail tests also use. The first input
// byte is the wrap width (0 to 99); the rest, up to its first zero byte, is
// the text.
#include "mail/text_plain.h"

#include "tests/support/fuzz_input.h"
#include "tests/support/literal_wrap.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class Wrapper : public CTextPlain {
public:
  explicit Wrapper(UINT width) : CTextPlain(TEXT_PLAIN, width) {}
  std::string Wrap(const char* text) { return wrap_text(text).str(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto [choice, text] = tarvenkel::test::ReadChoiceAndText(data, size);
  const unsigned width = choice % 100;
  Wrapper wrapper(width);
  if (wrapper.Wrap(text.c_str()) != tarvenkel::test::LiteralWrap(text.c_str(), width)) std::abort();
  return 0;
}

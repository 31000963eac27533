// SPDX-License-Identifier: Apache-2.0
// CTextPlain's word wrap on 1 MiB and 8 MiB of prose (time per byte must not
// grow with the size), against the literal step-by-step rule on 64 KiB.
#include "bench/ratio_reporter.h"
#include <tarvenkel/mail/text_plain.h>
#include "tests/support/literal_wrap.h"

#include <random>
#include <string>

namespace {

class Wrapper : public CTextPlain {
public:
  Wrapper() : CTextPlain(TEXT_PLAIN, 76) {}
  using CTextPlain::wrap_text;
};

// Words of 1 to 12 letters, mostly single blanks, now and then a double
// blank, a sentence end or a paragraph break.
std::string Prose(std::size_t n) {
  std::mt19937 rng(5);
  std::string text;
  text.reserve(n + 16);
  while (text.size() < n) {
    text.append(1 + rng() % 12, static_cast<char>('a' + rng() % 26));
    const unsigned r = rng() % 40;
    text += r == 0 ? "\r\n\r\n" : r == 1 ? ".  " : " ";
  }
  text.resize(n);
  return text;
}

void BM_WrapText(benchmark::State& state) {
  const std::string text = Prose(static_cast<std::size_t>(state.range(0)));
  Wrapper w;
  for (auto _ : state) {
    CString out = w.wrap_text(text.c_str());
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_WrapTextLiteral(benchmark::State& state) {
  const std::string text = Prose(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string out = tarvenkel::test::LiteralWrap(text.c_str(), 76);
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_WrapText)->Arg(64 << 10)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WrapTextLiteral)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  tarvenkel::bench::RatioReporter reporter;
  if (!tarvenkel::bench::RunAll(argc, argv, reporter)) return 1;
  reporter.PrintRatio("time per byte, 8 MiB over 1 MiB (1.0 = linear)", "BM_WrapText/8388608", "BM_WrapText/1048576",
                      1.0 / 8);
  reporter.PrintRatio("literal rule over linear wrap, 64 KiB", "BM_WrapTextLiteral/65536", "BM_WrapText/65536");
  return 0;
}

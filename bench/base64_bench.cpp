// SPDX-License-Identifier: Apache-2.0
// CBase64::Encode, the table path against the bit-level walk, on 54-byte
// blocks (one attachment line) and on 1 MiB.
#include "bench/ratio_reporter.h"
#include <tarvenkel/mail/base64.h>

#include <random>
#include <string>

namespace {

class BitwiseBase64 : public CBase64 {
public:
  using CBase64::EncodeBitwise;
};

std::string RandomBytes(std::size_t n) {
  std::mt19937 rng(42);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

void BM_EncodeTable(benchmark::State& state) {
  const std::string input = RandomBytes(static_cast<std::size_t>(state.range(0)));
  CBase64 encoder;
  for (auto _ : state) {
    CString out = encoder.Encode(input.data(), static_cast<int>(input.size()));
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_EncodeBitwise(benchmark::State& state) {
  const std::string input = RandomBytes(static_cast<std::size_t>(state.range(0)));
  BitwiseBase64 encoder;
  for (auto _ : state) {
    CString out = encoder.EncodeBitwise(input.data(), static_cast<int>(input.size()));
    benchmark::DoNotOptimize(out);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_EncodeTable)->Arg(54)->Arg(1 << 20);
BENCHMARK(BM_EncodeBitwise)->Arg(54)->Arg(1 << 20);

}  // namespace

int main(int argc, char** argv) {
  tarvenkel::bench::RatioReporter reporter;
  if (!tarvenkel::bench::RunAll(argc, argv, reporter)) return 1;
  reporter.PrintRatio("table speed-up over bit-level, 54-byte blocks", "BM_EncodeBitwise/54", "BM_EncodeTable/54");
  reporter.PrintRatio("table speed-up over bit-level, 1 MiB", "BM_EncodeBitwise/1048576", "BM_EncodeTable/1048576");
  const double ns = reporter.Time("BM_EncodeTable/1048576");
  if (ns > 0) std::printf("%-62s %8.2f\n", "table path on 1 MiB, GB/s of CPU time", (1 << 20) / ns);
  return 0;
}

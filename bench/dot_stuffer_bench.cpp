// SPDX-License-Identifier: Apache-2.0
// The data-phase transparency filter (what the SMTP data phase runs) on a large
// body where every third line starts with a dot, against a plain copy of the
// same bytes: the filter should stay within a small factor of the copy, and
// doubling the size should at most double the time.
#include <tarvenkel/smtp/dot_stuffer.h>

#include <benchmark/benchmark.h>

#include <string>

#include <malloc.h>

namespace {

std::string MakeBody(std::size_t bytes) {
  std::string body;
  body.reserve(bytes + 128);
  for (std::size_t line = 0; body.size() < bytes; ++line) {
    if (line % 3 == 0) body += '.';
    body += "Pressure 5.4 bar over the limit at sensor 17, valve B closed, operator notified";
    body += "\r\n";
  }
  body.resize(bytes);
  return body;
}

// Gathers the filtered text into one string, reserved up front as a sender
// would reserve its buffer.
struct StringOutput : CDotStuffer::COutput {
  std::string text;
  void Put(const char* pData, std::size_t nLength) override { text.append(pData, nLength); }
};

void BM_FilterBody(benchmark::State& state) {
  const std::string body = MakeBody(static_cast<std::size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    StringOutput out;
    out.text.reserve(body.size() + body.size() / 32);
    CDotStuffer stuffer;
    stuffer.Write(body.data(), body.size(), out);
    stuffer.Finish(out);
    benchmark::DoNotOptimize(out.text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}

void BM_PlainCopy(benchmark::State& state) {
  const std::string body = MakeBody(static_cast<std::size_t>(state.range(0)) << 20);
  for (auto _ : state) {
    std::string copy = body;
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
}

}  // namespace

BENCHMARK(BM_PlainCopy)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterBody)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);
// Large blocks stay on the heap between iterations, so that the allocating
// variants measure copying and filtering rather than fresh page faults.
int main(int argc, char** argv) {
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

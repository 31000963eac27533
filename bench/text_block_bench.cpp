// SPDX-License-Identifier: Apache-2.0
// CSingleText on a raster surface: Draw of a 20-character label with a cold
// font cache and a warm one, and GetSize; a filled rectangle as the baseline.
#include <tarvenkel/framework/gdi/dc.h>
#include <tarvenkel/framework/gdi/font_engine.h>
#include <tarvenkel/ui/text_block.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

namespace {

const char kLabel[] = "Alarm zone 12: DOOR ";  // 20 characters

void setup(CSingleText& block) {
  block.SetRect(CRect(0, 0, 240, 30));
  block.SetColor(RGB(0, 0, 128));
  block.SetText(kLabel);
}

// The very first Draw in the process: fontconfig's configuration loads too.
void BM_DrawFirstInProcess(benchmark::State& state) {
  CRasterSurface surface(240, 30);
  CDC dc(&surface);
  CSingleText block;
  setup(block);
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    block.Draw(&dc, RGB(255, 255, 255));
    auto t1 = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
}
BENCHMARK(BM_DrawFirstInProcess)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

// Draw with an emptied font cache each time: font matching, face loading and
// glyph rendering included.
void BM_DrawCold(benchmark::State& state) {
  CRasterSurface surface(240, 30);
  CDC dc(&surface);
  CSingleText block;
  setup(block);
  for (auto _ : state) {
    state.PauseTiming();
    tarvenkel::gdi::FlushFontCache();
    state.ResumeTiming();
    block.Draw(&dc, RGB(255, 255, 255));
  }
}
BENCHMARK(BM_DrawCold)->Unit(benchmark::kMicrosecond);

void BM_DrawWarm(benchmark::State& state) {
  CRasterSurface surface(240, 30);
  CDC dc(&surface);
  CSingleText block;
  setup(block);
  block.Draw(&dc, RGB(255, 255, 255));
  for (auto _ : state) block.Draw(&dc, RGB(255, 255, 255));
}
BENCHMARK(BM_DrawWarm)->Unit(benchmark::kMicrosecond);

void BM_GetSizeWarm(benchmark::State& state) {
  CRasterSurface surface(240, 30);
  CDC dc(&surface);
  CSingleText block;
  setup(block);
  block.GetSize(&dc);
  for (auto _ : state) benchmark::DoNotOptimize(block.GetSize(&dc));
}
BENCHMARK(BM_GetSizeWarm)->Unit(benchmark::kMicrosecond);

// Baseline: the same block's background fill alone, no text.
void BM_BackgroundOnly(benchmark::State& state) {
  CRasterSurface surface(240, 30);
  CDC dc(&surface);
  CSingleText block;
  block.SetRect(CRect(0, 0, 240, 30));
  for (auto _ : state) block.Draw(&dc, RGB(255, 255, 255));
}
BENCHMARK(BM_BackgroundOnly)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

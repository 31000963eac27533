// SPDX-License-Identifier: Apache-2.0
// A console reporter that also keeps the time per iteration of every
// benchmark, so that a program can print ratios between benchmarks measured
// in the same run. Ratios use CPU time by default: the build machine is
// shared, and wall-clock time there mostly measures the other jobs.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

namespace tarvenkel::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      m_cpu[run.benchmark_name()] = run.GetAdjustedCPUTime();
      m_real[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Time per iteration of the named benchmark, in its time unit; 0 if it did
  // not run. The real time is the manual time of benchmarks that set one.
  double Time(const std::string& name, bool bCpu = true) const {
    const auto& times = bCpu ? m_cpu : m_real;
    const auto it = times.find(name);
    return it == times.end() ? 0.0 : it->second;
  }

  // Prints Time(a) / Time(b) * scale.
  void PrintRatio(const char* label, const std::string& a, const std::string& b, double scale = 1.0,
                  bool bCpu = true) const {
    const double ta = Time(a, bCpu), tb = Time(b, bCpu);
    if (ta > 0 && tb > 0) std::printf("%-62s %8.2f\n", label, ta / tb * scale);
  }

private:
  std::map<std::string, double> m_cpu;
  std::map<std::string, double> m_real;
};

// Runs the registered benchmarks with the reporter; false on bad arguments.
inline bool RunAll(int argc, char** argv, RatioReporter& reporter) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return false;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\nRatios measured in this run:\n");
  return true;
}

}  // namespace tarvenkel::bench

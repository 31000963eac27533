// SPDX-License-Identifier: Apache-2.0
// FormatMessage of a message with one 64 MiB attachment, and WriteMessage of
// the same message to /dev/null, against the system's "base64 -w 72" encoding
// the same file to /dev/null, with the peak memory of each.
#include "bench/ratio_reporter.h"
#include <tarvenkel/framework/io/file.h>
#include <tarvenkel/mail/mime_message.h>

#include <cstdio>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr std::size_t kFileSize = 64u << 20;

// A 64 MiB file of random bytes in the temporary folder, written in 1 MiB
// pieces so that the benchmark's own memory stays small; removed at exit.
const std::string& AttachmentPath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvenkel-mime-bench-" + std::to_string(getpid()) + ".bin";
    std::ofstream out(p, std::ios::binary);
    std::mt19937_64 rng(11);
    std::string chunk(1u << 20, '\0');
    for (std::size_t done = 0; done < kFileSize; done += chunk.size()) {
      for (std::size_t i = 0; i < chunk.size(); i += 8) {
        const std::uint64_t v = rng();
        chunk.replace(i, 8, reinterpret_cast<const char*>(&v), 8);
      }
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    }
    std::atexit([] { std::remove(AttachmentPath().c_str()); });
    return p;
  }();
  return path;
}

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double ChildrenCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_CHILDREN, &ru);
  auto secs = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6; };
  return secs(ru.ru_utime) + secs(ru.ru_stime);
}

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
long StatusKiB(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = -1;
  while (in >> key) {
    if (key == std::string(field) + ":") {
      in >> value;
      return value;
    }
    in.ignore(1 << 12, '\n');
  }
  return value;
}

// Resets the peak resident size to the current one.
bool ResetPeak() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
  f.flush();
  return static_cast<bool>(f);
}

void Compose(CMIMEMessage& m) {
  m.m_sFrom = "alarm@plant.example";
  m.AddRecipient("ops@plant.example", "", CMailMessage::TO);
  m.m_sSubject = "Log";
  m.m_sBody = "The log of the last day is attached.";
  m.AddMIMEPart(AttachmentPath().c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
}

// The bytes of the formatted message.
std::size_t FormatOnce() {
  CMIMEMessage m;
  Compose(m);
  m.FormatMessage();
  return static_cast<std::size_t>(m.m_sHeader.GetLength() + m.m_sBody.GetLength());
}

// /dev/null keeps no position, so the bytes written are counted on the way.
class CCountingFile : public CFile {
public:
  void Write(const void* lpBuf, UINT nCount) override {
    CFile::Write(lpBuf, nCount);
    m_nWritten += nCount;
  }
  std::size_t m_nWritten = 0;
};

// The bytes written to /dev/null; 0 when writing failed.
std::size_t WriteOnce() {
  CMIMEMessage m;
  Compose(m);
  CCountingFile out;
  if (!out.Open("/dev/null", CFile::modeWrite)) return 0;
  return m.WriteMessage(out) ? out.m_nWritten : 0;
}

// Runs one composition, reporting its CPU time as the iteration's time and
// the growth of the peak resident size over the bytes of the message.
template <typename Run>
void MeasureComposition(benchmark::State& state, Run run) {
  AttachmentPath();
  std::size_t composed = 0;
  double peakRatio = 0;
  double peakMiB = 0;
  for (auto _ : state) {
    const long rssBefore = StatusKiB("VmRSS");
    const bool peakReset = ResetPeak();
    const double t0 = ThreadCpuSeconds();
    composed = run();
    state.SetIterationTime(ThreadCpuSeconds() - t0);
    if (composed == 0) {
      state.SkipWithError("composition failed");
      break;
    }
    const long peak = StatusKiB("VmHWM");
    if (peakReset && peak > 0) {
      peakRatio = static_cast<double>(peak - rssBefore) * 1024.0 / static_cast<double>(composed);
      peakMiB = static_cast<double>(peak - rssBefore) / 1024.0;
    }
  }
  state.counters["message_MiB"] = static_cast<double>(composed) / (1 << 20);
  state.counters["peak_growth_MiB"] = peakMiB;
  state.counters["peak_over_message"] = peakRatio;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

// The benchmarks report the CPU time of the work as their time: the
// composing thread's own, and the child's for base64.
void BM_FormatMessage64MiB(benchmark::State& state) { MeasureComposition(state, FormatOnce); }

void BM_WriteMessage64MiB(benchmark::State& state) { MeasureComposition(state, WriteOnce); }

void BM_Base64Command64MiB(benchmark::State& state) {
  const std::string& path = AttachmentPath();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  for (auto _ : state) {
    const double c0 = ChildrenCpuSeconds();
    pid_t pid;
    char* argv[] = {const_cast<char*>("base64"), const_cast<char*>("-w"), const_cast<char*>("72"),
                    const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawnp(&pid, "base64", &actions, nullptr, argv, environ) != 0) {
      state.SkipWithError("cannot start base64");
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    state.SetIterationTime(ChildrenCpuSeconds() - c0);
  }
  posix_spawn_file_actions_destroy(&actions);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

BENCHMARK(BM_FormatMessage64MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_WriteMessage64MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Base64Command64MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
  tarvenkel::bench::RatioReporter reporter;
  if (!tarvenkel::bench::RunAll(argc, argv, reporter)) return 1;
  reporter.PrintRatio("FormatMessage over base64 -w 72, CPU time (target <= 1.5)",
                      "BM_FormatMessage64MiB/min_time:2.000/manual_time",
                      "BM_Base64Command64MiB/min_time:2.000/manual_time", 1.0, false);
  reporter.PrintRatio("WriteMessage over base64 -w 72, CPU time (target <= 1.5)",
                      "BM_WriteMessage64MiB/min_time:2.000/manual_time",
                      "BM_Base64Command64MiB/min_time:2.000/manual_time", 1.0, false);
  reporter.PrintRatio("WriteMessage over FormatMessage, CPU time",
                      "BM_WriteMessage64MiB/min_time:2.000/manual_time",
                      "BM_FormatMessage64MiB/min_time:2.000/manual_time", 1.0, false);
  return 0;
}

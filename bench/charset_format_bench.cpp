// SPDX-License-Identifier: Apache-2.0
// FormatMessage of a message whose body is 64 KiB of Chinese text in GBK
// (wrapped, then sent as base64 with its charset, the subject and the
// recipient's name as encoded-words) against the same message with 64 KiB
// of ASCII text (wrapped and sent as it is).
#include "bench/ratio_reporter.h"
#include <tarvenkel/mail/mime_message.h>

#include <string>

namespace {

constexpr std::size_t kBodySize = 64 * 1024;

// Lines of text repeated to kBodySize bytes, ended by CR LF.
std::string Body(const std::string& line) {
  std::string body;
  while (body.size() + line.size() + 2 <= kBodySize) body += line + "\r\n";
  body.append(kBodySize - body.size(), line[0]);
  return body;
}

// 三号厅压力过高，超过上限 4.0 bar，请值班员检查阀门 B 和报警日志。 in GBK.
const std::string kChineseLine =
    "\xC8\xFD\xBA\xC5\xCC\xFC\xD1\xB9\xC1\xA6\xB9\xFD\xB8\xDF\xA3\xAC\xB3\xAC\xB9\xFD\xC9\xCF\xCF\xDE 4.0 bar"
    "\xA3\xAC\xC7\xEB\xD6\xB5\xB0\xE0\xD4\xB1\xBC\xEC\xB2\xE9\xB7\xA7\xC3\xC5 B \xBA\xCD\xB1\xA8\xBE\xAF\xC8\xD5"
    "\xD6\xBE\xA1\xA3";
const std::string kAsciiLine = "Pressure in hall 3 above the limit of 4.0 bar, please check valve B.";

void Format(benchmark::State& state, const std::string& body, const char* subject, const char* name) {
  const CString text(std::string_view(body.data(), body.size()));
  for (auto _ : state) {
    CMIMEMessage m;
    m.m_sFrom = "alarm@plant.example";
    m.m_sSubject = subject;
    m.AddRecipient("duty@example.test", name);
    m.m_sBody = text;
    m.FormatMessage();
    benchmark::DoNotOptimize(m.m_sBody.GetString());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void BM_FormatChinese64K(benchmark::State& state) {
  // 报警：三号厅压力过高 and 值班员 in GBK.
  Format(state, Body(kChineseLine), "\xB1\xA8\xBE\xAF\xA3\xBA\xC8\xFD\xBA\xC5\xCC\xFC\xD1\xB9\xC1\xA6\xB9\xFD\xB8\xDF",
         "\xD6\xB5\xB0\xE0\xD4\xB1");
}
BENCHMARK(BM_FormatChinese64K);

void BM_FormatAscii64K(benchmark::State& state) {
  Format(state, Body(kAsciiLine), "Alarm: pressure in hall 3 above limit", "Duty operator");
}
BENCHMARK(BM_FormatAscii64K);

}  // namespace

int main(int argc, char** argv) {
  tarvenkel::bench::RatioReporter reporter;
  if (!tarvenkel::bench::RunAll(argc, argv, reporter)) return 1;
  reporter.PrintRatio("FormatMessage, 64 KiB Chinese (GBK) / 64 KiB ASCII", "BM_FormatChinese64K",
                      "BM_FormatAscii64K");
  return 0;
}

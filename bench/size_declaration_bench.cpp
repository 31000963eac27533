// SPDX-License-Identifier: Apache-2.0
// The one-call send of a message with a 64 MiB attachment in the short
// dialogue, to a loopback sink that offers PIPELINING and CHUNKING, once with
// SIZE offered (the message is formatted twice: a counting pass for MAIL
// From's SIZE=, then the send) and once without; and the counting pass alone
// (WriteMessage into a file that only counts).
#include "bench/ratio_reporter.h"
#include <tarvenkel/framework/core/string_array.h>
#include <tarvenkel/framework/io/file.h>
#include <tarvenkel/mail/mime_message.h>
#include <tarvenkel/smtp/smtp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr std::size_t kFileSize = 64u << 20;

// A 64 MiB file of random bytes in the temporary folder; removed at exit.
const std::string& AttachmentPath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarvenkel-size-bench-" + std::to_string(getpid()) + ".bin";
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

// A loopback SMTP server that answers every command with success and throws
// the chunks away; it offers SIZE while g_offerSize is set.
std::atomic<bool> g_offerSize{false};

class Sink {
public:
  Sink() {
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(m_listen, 8) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      std::abort();
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this] {
      for (;;) {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0) return;
        serve(fd);
        ::close(fd);
      }
    });
    m_thread.detach();
  }
  int port() const { return m_port; }

private:
  static void reply(int fd, const std::string& text) { (void)::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

  static void serve(int fd) {
    std::string buffer;
    std::string replies;
    std::size_t skip = 0;  // chunk bytes still to throw away
    static thread_local char data[1 << 18];
    reply(fd, "220 sink\r\n");
    for (;;) {
      const ssize_t n = ::recv(fd, data, sizeof data, 0);
      if (n <= 0) return;
      std::size_t at = 0;
      const std::size_t got = static_cast<std::size_t>(n);
      while (at < got) {
        if (skip > 0) {
          const std::size_t take = std::min(skip, got - at);
          skip -= take;
          at += take;
          continue;
        }
        const char* lf = static_cast<const char*>(std::memchr(data + at, '\n', got - at));
        if (lf == nullptr) {
          buffer.append(data + at, got - at);
          break;
        }
        buffer.append(data + at, static_cast<std::size_t>(lf - (data + at)));
        at = static_cast<std::size_t>(lf - data) + 1;
        if (buffer.starts_with("EHLO"))
          replies += g_offerSize ? "250-sink\r\n250-PIPELINING\r\n250-CHUNKING\r\n250 SIZE 1073741824\r\n"
                                 : "250-sink\r\n250-PIPELINING\r\n250 CHUNKING\r\n";
        else if (buffer.starts_with("BDAT")) {
          skip = std::strtoull(buffer.c_str() + 5, nullptr, 10);
          replies += "250 ok\r\n";
        } else if (buffer.starts_with("QUIT")) {
          reply(fd, replies + "221 bye\r\n");
          return;
        } else {
          replies += "250 ok\r\n";
        }
        buffer.clear();
      }
      if (!replies.empty()) {
        reply(fd, replies);
        replies.clear();
      }
    }
  }

  int m_listen = -1;
  int m_port = 0;
  std::thread m_thread;
};

Sink& TheSink() {
  static Sink sink;
  return sink;
}

void Send(benchmark::State& state, bool offerSize) {
  g_offerSize = offerSize;
  CStringArray attachments;
  attachments.Add(AttachmentPath().c_str());
  for (auto _ : state) {
    CSMTP smtp;
    smtp.SetShortDialogue();
    smtp.SetParams("127.0.0.1", "alarm@plant.example", TheSink().port(), "", "");
    if (!smtp.SendMessage("ops@plant.example", "The log of the last day is attached.", "Log", &attachments)) {
      state.SkipWithError(smtp.GetLastError().GetString());
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

// Counts what it is given, as the counting pass of the send does.
class CCountingFile : public CFile {
public:
  void Write(const void*, UINT nCount) override { m_nWritten += nCount; }
  std::size_t m_nWritten = 0;
};

void BM_SendWithoutSize64MiB(benchmark::State& state) { Send(state, false); }

void BM_SendWithSize64MiB(benchmark::State& state) { Send(state, true); }

void BM_CountingPass64MiB(benchmark::State& state) {
  for (auto _ : state) {
    CMIMEMessage m;
    m.m_sFrom = "alarm@plant.example";
    m.AddRecipient("ops@plant.example");
    m.m_sSubject = "Log";
    m.m_sBody = "The log of the last day is attached.";
    m.AddMIMEPart(AttachmentPath().c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
    CCountingFile counter;
    if (!m.WriteMessage(counter)) {
      state.SkipWithError("WriteMessage failed");
      break;
    }
    benchmark::DoNotOptimize(counter.m_nWritten);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kFileSize));
}

// Wall-clock time: the send spends part of it waiting for the sink. The
// process's CPU time (the sink's included, alike in both) is reported too.
BENCHMARK(BM_SendWithoutSize64MiB)->Unit(benchmark::kMillisecond)->MinTime(3.0)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_SendWithSize64MiB)->Unit(benchmark::kMillisecond)->MinTime(3.0)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_CountingPass64MiB)->Unit(benchmark::kMillisecond)->MinTime(3.0)->MeasureProcessCPUTime()->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  AttachmentPath();
  TheSink();
  tarvenkel::bench::RatioReporter reporter;
  if (!tarvenkel::bench::RunAll(argc, argv, reporter)) return 1;
  const char* without = "BM_SendWithoutSize64MiB/min_time:3.000/process_time/real_time";
  const char* with = "BM_SendWithSize64MiB/min_time:3.000/process_time/real_time";
  const char* counting = "BM_CountingPass64MiB/min_time:3.000/process_time/real_time";
  reporter.PrintRatio("send with SIZE over without, wall-clock time", with, without, 1.0, false);
  reporter.PrintRatio("send with SIZE over without, process CPU time", with, without, 1.0, true);
  reporter.PrintRatio("counting pass over the send without SIZE, wall-clock time", counting, without, 1.0, false);
  return 0;
}

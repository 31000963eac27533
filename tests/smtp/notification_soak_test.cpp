// SPDX-License-Identifier: Apache-2.0
// A long run of one process: many notifications with attachments sent to
// aiosmtpd, alternately through the one-call send and through a session,
// every tenth with an attachment path that does not exist. Resident memory
// and open descriptors are read once the first 1000 have gone and again at
// the end; memory may grow by less than 1 MiB in between and descriptors not
// at all. Every message must arrive, and a spread of them is parsed back with
// Python's email package. TARVENKEL_SOAK_COUNT sets the number (default
// 10000). Long: labelled "soak", left out of the default test run.
#include "framework/core/string_array.h"
#include "mail/mime_message.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/smtp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TARVENKEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define TARVENKEL_SANITIZED 1
#endif
#endif

using namespace tarvenkel::test;

namespace {

constexpr long kDefaultCount = 10000;
constexpr long kWarmUp = 1000;
constexpr long kMaxGrowthKiB = 1024;

long SoakCount() {
  const char* text = std::getenv("TARVENKEL_SOAK_COUNT");
  if (text == nullptr || *text == '\0') return kDefaultCount;
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  return end != nullptr && *end == '\0' && n > 0 ? n : kDefaultCount;
}

// The process's resident set in KiB, from /proc/self/status.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

long OpenDescriptors() {
  long n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

std::string Subject(long i) { return "Alarm " + std::to_string(i); }

std::string Body(long i) {
  return "Pressure alarm " + std::to_string(i) + " on line " + std::to_string(i % 17) +
         ".\r\nThe valve was closed at 03:12 and the pump stopped.";
}

}  // namespace

TEST(NotificationSoak, MemoryAndDescriptorsStayFlatOverManySends) {
  const long count = SoakCount();
  // A shorter run still measures after a warm-up, of a tenth of the run.
  const long warmUp = count > kWarmUp ? kWarmUp : count / 10;
  LocalSmtpServer server;
  TempDir files;
  std::mt19937 random(5);
  std::string log;
  for (int line = 0; line < 60; ++line) log += "03:12:" + std::to_string(line) + " level " + std::to_string(random() % 1000) + " mbar\r\n";
  std::string trend(8 << 10, '\0');
  for (char& c : trend) c = static_cast<char>(random());
  const std::string logPath = files.file("alarm.log");
  const std::string trendPath = files.file("trend 1.bin");
  const std::string missingPath = files.file("missing.log");
  WriteFile(logPath, log);
  WriteFile(trendPath, trend);

  long residentAfterWarmUp = ResidentKiB();
  long descriptorsAfterWarmUp = OpenDescriptors();
  long failures = 0;
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < count; ++i) {
    const bool withMissing = i % 10 == 9;
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .timeout = 30});
    BOOL accepted = FALSE;
    if (i % 2 == 0) {
      CStringArray paths;
      paths.Add(logPath.c_str());
      paths.Add(trendPath.c_str());
      if (withMissing) paths.Add(missingPath.c_str());
      accepted = smtp.SendMessage("Operator <op@example.com>;night@example.com", Body(i).c_str(), Subject(i).c_str(), &paths);
    } else {
      CMIMEMessage msg;
      msg.m_sFrom = "alarm@example.com";
      msg.m_sSubject = Subject(i).c_str();
      msg.m_sBody = Body(i).c_str();
      msg.AddMultipleRecipients("Operator <op@example.com>;night@example.com");
      msg.AddMIMEPart(logPath.c_str());
      msg.AddMIMEPart(trendPath.c_str());
      if (withMissing) msg.AddMIMEPart(missingPath.c_str());
      if (smtp.Connect()) {
        accepted = smtp.SendMessage(&msg);
        smtp.Disconnect();
      }
    }
    const std::string expectedError = withMissing ? "Attachment could not be read: " + missingPath : "OK";
    if (!accepted || smtp.GetLastError().str() != expectedError) {
      ADD_FAILURE() << "message " << i << ": accepted " << accepted << ", " << smtp.GetLastError();
      if (++failures == 5) break;
    }
    if (i + 1 == warmUp) {
      residentAfterWarmUp = ResidentKiB();
      descriptorsAfterWarmUp = OpenDescriptors();
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const long residentAtEnd = ResidentKiB();
  const long descriptorsAtEnd = OpenDescriptors();
  ASSERT_EQ(failures, 0);

  std::printf("messages: %ld in %.1f s, %.0f messages/s\n", count, seconds, count / seconds);
  std::printf("VmRSS after %ld: %ld KiB; at the end: %ld KiB; growth: %ld KiB (limit %ld KiB)\n", warmUp,
              residentAfterWarmUp, residentAtEnd, residentAtEnd - residentAfterWarmUp, kMaxGrowthKiB);
  std::printf("open descriptors after %ld: %ld; at the end: %ld\n", warmUp, descriptorsAfterWarmUp, descriptorsAtEnd);
  EXPECT_EQ(descriptorsAtEnd, descriptorsAfterWarmUp);
#ifdef TARVENKEL_SANITIZED
  std::printf("sanitizer build: its allocator keeps freed memory in quarantine, so the memory limit is not checked\n");
#else
  EXPECT_LT(residentAtEnd - residentAfterWarmUp, kMaxGrowthKiB);
#endif

  // Every message arrived, in order (one connection at a time).
  const std::vector<std::string> stored = server.Messages(static_cast<std::size_t>(count), 60000);
  ASSERT_EQ(stored.size(), static_cast<std::size_t>(count));
  std::vector<long> sample = {0, 1, 9, count / 2, count / 2 + 1, count - 1};
  for (long i : sample) {
    if (i < 0 || i >= count) continue;
    SCOPED_TRACE("message " + std::to_string(i));
    const ParsedMessage parsed = tarvenkel::test::ParseMessage(stored[static_cast<std::size_t>(i)]);
    EXPECT_EQ(parsed.Header("Subject"), Subject(i));
    EXPECT_EQ(parsed.Header("To"), "Operator <op@example.com>,<night@example.com>");
    for (const std::string& line : parsed.lines) EXPECT_EQ(line.rfind("defect", 0), std::string::npos) << line;
    const bool withMissing = i % 10 == 9;
    if (parsed.parts.size() != (withMissing ? 4u : 3u)) {
      ADD_FAILURE() << parsed.parts.size() << " parts";
      continue;
    }
    EXPECT_EQ(parsed.parts[0].rfind(Body(i), 0), 0u) << parsed.parts[0];
    EXPECT_EQ(parsed.parts[1], log);
    EXPECT_EQ(parsed.parts[2], trend);
    if (withMissing) {
      EXPECT_EQ(parsed.parts[3], "");
    }
  }
}

// SPDX-License-Identifier: Apache-2.0
#include "mail/mime_message.h"

#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <string>
#include <thread>
#include <vector>

namespace {

using tarvenkel::test::TempDir;
using tarvenkel::test::WriteFile;

class Inspectable : public CMIMEMessage {
public:
  static int AgentCount() { return mime_type_manager().GetAgentCount(); }
};

// Builds and formats one message; returns its body.
std::string FormatOne(const std::string& attachment, int n) {
  CMIMEMessage m;
  m.m_sFrom = "alarm@x";
  m.AddRecipient("ops@x", "", CMailMessage::TO);
  m.m_sBody.Format("Alarm %d: the quick brown fox jumps over the lazy dog again and again until the line wraps", n);
  m.AddMIMEPart(attachment.c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  m.AddMIMEPart("note", TEXT_PLAIN, "", ENCODING_7BIT, FALSE);
  m.FormatMessage();
  return m.m_sBody.str();
}

// Threads start together on an empty registry, so that the first
// constructions race; afterwards one agent per code is registered and every
// message came out as it does on one thread.
TEST(MimeConcurrency, ThreadsConstructAndFormatMessagesAtOnce) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>(i * 7);
  WriteFile(dir.file("log.bin"), bytes);
  const std::string path = dir.file("log.bin");

  constexpr int kThreads = 8;
  constexpr int kMessages = 60;
  std::latch start(kThreads);
  std::vector<std::vector<std::string>> bodies(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kMessages; ++i) bodies[t].push_back(FormatOne(path, i));
    });
  }
  for (auto& th : threads) th.join();

  EXPECT_EQ(Inspectable::AgentCount(), 2);
  for (int i = 0; i < kMessages; ++i) {
    const std::string expected = FormatOne(path, i);
    for (int t = 0; t < kThreads; ++t) ASSERT_EQ(bodies[t][i], expected) << "thread " << t << " message " << i;
  }
  EXPECT_NE(bodies[0][0].find("\r\nthe line wraps"), std::string::npos);
}

}  // namespace

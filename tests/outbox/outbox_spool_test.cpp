// SPDX-License-Identifier: Apache-2.0
// The outbox's files: a message is queued whole or not at all, private to
// its owner, listed oldest first with its state, moved to failed/ and removed.
#include "outbox/internal/outbox_spool.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

namespace tarvenkel::detail {
namespace {

using tarvenkel::test::TempDir;

bool Body(int fd, const std::string& text) {
  return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

std::string Read(int fd) {
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return text;
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder)) names.push_back(item.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned Mode(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST(OutboxSpool, QueuedMessagesKeepEnvelopeBytesAndStateAndArePrivate) {
  TempDir dir;
  OutboxSpool spool(dir.file("outbox"));
  std::string error;
  ASSERT_TRUE(spool.Open(error)) << error;
  std::string first, second;
  ASSERT_TRUE(spool.Add("alarm@x", {"a@x", "b@x"}, [](int fd, std::string&) { return Body(fd, "Subject: 1\r\n\r\nbody\r\n"); },
                        first, error))
      << error;
  ASSERT_TRUE(spool.Add("alarm@x", {"c@x"}, [](int fd, std::string&) { return Body(fd, "second\r\n"); }, second, error));
  EXPECT_LT(first, second);
  EXPECT_EQ(Mode(dir.file("outbox")), 0700u);
  EXPECT_EQ(Mode(dir.file("outbox/failed")), 0700u);
  EXPECT_EQ(Mode(dir.file("outbox/" + first + ".msg")), 0600u);

  std::vector<OutboxEntry> listed = spool.List();
  ASSERT_EQ(listed.size(), 2u);
  EXPECT_EQ(listed[0].id, first);
  EXPECT_EQ(listed[0].sender, "alarm@x");
  EXPECT_EQ(listed[0].recipients, (std::vector<std::string>{"a@x", "b@x"}));
  EXPECT_EQ(Read(spool.OpenMessage(first)), "Subject: 1\r\n\r\nbody\r\n");

  OutboxEntry entry = listed[0];
  entry.tries = 2;
  entry.nextTry = 1234;
  entry.done = {"a@x"};
  entry.lastReply = "451-4.3.0 try\r\n451 4.3.0 later";
  ASSERT_TRUE(spool.SaveState(entry, error)) << error;
  OutboxEntry loaded;
  ASSERT_TRUE(spool.Load(first, loaded));
  EXPECT_EQ(loaded.tries, 2);
  EXPECT_EQ(loaded.nextTry, 1234);
  EXPECT_EQ(loaded.Pending(), (std::vector<std::string>{"b@x"}));
  EXPECT_EQ(loaded.lastReply, entry.lastReply);

  ASSERT_TRUE(spool.MoveToFailed(loaded, error)) << error;
  EXPECT_EQ(spool.List().size(), 1u);
  ASSERT_EQ(spool.List(true).size(), 1u);
  EXPECT_EQ(spool.List(true)[0].lastReply, entry.lastReply);
  EXPECT_TRUE(spool.Remove(second));
  EXPECT_TRUE(spool.List().empty());
  EXPECT_EQ(Names(dir.file("outbox")), (std::vector<std::string>{"failed"}));
}

TEST(OutboxSpool, AFailedWriteLeavesNothingAndSaysWhy) {
  TempDir dir;
  OutboxSpool spool(dir.path());
  std::string error, id;
  ASSERT_TRUE(spool.Open(error));
  EXPECT_FALSE(spool.Add("a@x", {"b@x"}, [](int, std::string& why) { why = "the attachment is gone"; return false; }, id,
                         error));
  EXPECT_EQ(error, "the attachment is gone");
  EXPECT_FALSE(spool.Add("a@x", {"b@x\r\nRCPT TO:<c@x>"}, [](int, std::string&) { return true; }, id, error));
  EXPECT_EQ(error, "Invalid address");
  EXPECT_TRUE(spool.List().empty());
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"failed"})) << "no leftovers";
}

TEST(OutboxSpool, OneFlushLockAtATime) {
  TempDir dir;
  OutboxSpool spool(dir.path());
  std::string error;
  ASSERT_TRUE(spool.Open(error));
  {
    OutboxSpool::FlushLock first(spool);
    ASSERT_TRUE(first.Held());
    OutboxSpool::FlushLock second(spool);
    EXPECT_FALSE(second.Held());
  }
  OutboxSpool::FlushLock again(spool);
  EXPECT_TRUE(again.Held());
}

}  // namespace
}  // namespace tarvenkel::detail

// SPDX-License-Identifier: Apache-2.0
// A flusher killed at any moment loses nothing: a child process flushes the
// outbox to a real server and is killed with SIGKILL after a random time,
// again and again; then the outbox is drained and the server's record is
// compared with what was queued. Every message must have arrived at least
// once, and a message may arrive twice only when a kill fell between the
// server's acceptance and the removal of its file: at most the messages in
// flight at each kill. With PIPELINING alone a flush has one (the next one's
// commands may be on the wire, never its data); with CHUNKING it writes up
// to kWholeTransactionsInFlight messages whole before their replies are
// read, so that many per kill, as a private Postfix shows.
#include "outbox/mail_outbox.h"

#include "smtp/internal/smtp_state.h"
#include "tests/support/local_smtp_server.h"
#include "tests/support/outbox_fixture.h"
#include "tests/support/postfix_server.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvenkel::test {
namespace {

const char kFolderVariable[] = "TARVENKEL_OUTBOX_CRASH_FOLDER";
const char kPortVariable[] = "TARVENKEL_OUTBOX_CRASH_PORT";
// The descriptor the child writes one byte to as its flush begins, so that
// the kill's delay counts from there and not from the process's start-up.
const char kReadyVariable[] = "TARVENKEL_OUTBOX_CRASH_READY_FD";

// Run as the child (this program started again with the two variables set):
// flushes the outbox once and exits before any test runs.
const bool kIsChild = [] {
  const char* folder = std::getenv(kFolderVariable);
  const char* port = std::getenv(kPortVariable);
  if (folder == nullptr || port == nullptr) return false;
  CMailOutbox outbox;
  if (!outbox.Open(folder)) ::_exit(2);
  auto smtp = ClientOf(std::atoi(port), true);
  if (const char* ready = std::getenv(kReadyVariable); ready != nullptr) {
    const int fd = std::atoi(ready);
    if (::write(fd, "!", 1) != 1) ::_exit(3);
    ::close(fd);
  }
  ::_exit(outbox.Flush(*smtp, TRUE) ? 0 : 1);
}();

// Starts a flushing child and returns once its flush begins (or it ended).
pid_t StartFlusher() {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  ::setenv(kReadyVariable, std::to_string(ready[1]).c_str(), 1);
  pid_t pid = -1;
  char* argv[] = {const_cast<char*>("/proc/self/exe"), nullptr};
  const int spawned = ::posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, environ);
  ::close(ready[1]);
  char byte;
  // 0 bytes: the child ended before its flush began; it is reaped all the same.
  const ssize_t n = spawned == 0 ? ::read(ready[0], &byte, 1) : -1;
  ::close(ready[0]);
  return spawned == 0 && n >= 0 ? pid : -1;
}

// The server the flushers send to: its port, the subjects it stored (once
// count have arrived), and the messages a flush has in flight there.
struct CrashServer {
  int port = 0;
  std::function<std::vector<std::string>(std::size_t count)> subjects;
  int nInFlight = 1;
};

struct CrashRun {
  int nInFlight = 1;     // the most a kill may duplicate
  int nKills = 0;
  int nQueued = 0;
  int nDelivered = 0;    // messages the server stored
  int nDistinct = 0;     // of them, different messages
  int nMissing = 0;      // queued but neither delivered nor still waiting
  int nFailed = 0;       // moved to failed/
};

// Kills flushers until nKills kills or nSeconds have passed, then drains
// the outbox with one flush that runs to its end.
CrashRun KillFlushers(const CrashServer& server, int nKills, int nSeconds) {
  TempDir dir;
  const std::string folder = dir.file("outbox");
  CMailOutbox outbox;
  EXPECT_TRUE(outbox.Open(folder.c_str()));
  ::setenv(kFolderVariable, folder.c_str(), 1);
  ::setenv(kPortVariable, std::to_string(server.port).c_str(), 1);

  CrashRun run;
  run.nInFlight = server.nInFlight;
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> delayUs(0, 40000);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(nSeconds);
  while (run.nKills < nKills && std::chrono::steady_clock::now() < end) {
    // Keep a backlog, so that every kill falls into a flush at work.
    if (outbox.GetWaitingCount() < 20) {
      for (int i = 0; i < 50; ++i, ++run.nQueued)
        EXPECT_TRUE(outbox.Queue(Alarm("alarm " + std::to_string(run.nQueued)).get()));
    }
    const pid_t pid = StartFlusher();
    if (pid <= 0) {
      ADD_FAILURE() << "the flushing child could not be started";
      break;
    }
    ::usleep(static_cast<useconds_t>(delayUs(random)));
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) ++run.nKills;
  }
  ::unsetenv(kFolderVariable);
  ::unsetenv(kPortVariable);
  ::unsetenv(kReadyVariable);

  auto smtp = ClientOf(server.port, true);
  EXPECT_TRUE(outbox.Flush(*smtp, TRUE));
  EXPECT_EQ(outbox.GetWaitingCount(), 0);
  run.nFailed = outbox.GetFailedCount();

  std::map<std::string, int> arrived;
  const std::vector<std::string> stored = server.subjects(static_cast<std::size_t>(run.nQueued));
  for (const std::string& subject : stored) ++arrived[subject];
  run.nDelivered = static_cast<int>(stored.size());
  run.nDistinct = static_cast<int>(arrived.size());
  for (int i = 0; i < run.nQueued; ++i)
    if (arrived.count("alarm " + std::to_string(i)) == 0) ++run.nMissing;
  std::printf("%d kills, %d messages queued, %d stored by the server, %d duplicates (at most %d: %d in flight "
              "per kill)\n",
              run.nKills, run.nQueued, run.nDelivered, run.nDelivered - run.nDistinct, run.nInFlight * run.nKills,
              run.nInFlight);
  return run;
}

// aiosmtpd offers PIPELINING: the flush writes each next message's commands ahead.
CrashRun KillFlushersPipelining(int nKills, int nSeconds) {
  LocalSmtpServer server("", {"--pipelining"});
  return KillFlushers({server.port(),
                       [&server](std::size_t count) { return Subjects(server.Messages(count, 10000)); }, 1},
                      nKills, nSeconds);
}

// Postfix offers CHUNKING too: the flush keeps several whole messages in flight.
CrashRun KillFlushersChunking(int nKills, int nSeconds) {
  PostfixServer server;
  return KillFlushers({server.port(), [&server](std::size_t) { return server.Subjects(); },
                       static_cast<int>(tarvenkel::detail::kWholeTransactionsInFlight)},
                      nKills, nSeconds);
}

void ExpectNothingLost(const CrashRun& run, int nMinKills) {
  EXPECT_GE(run.nKills, nMinKills);
  EXPECT_EQ(run.nMissing, 0);
  EXPECT_EQ(run.nFailed, 0);
  EXPECT_EQ(run.nDistinct, run.nQueued);
  EXPECT_LE(run.nDelivered - run.nDistinct, run.nInFlight * run.nKills);
}

TEST(MailOutboxCrash, KilledFlushersLoseNothing) {
  ExpectNothingLost(KillFlushersPipelining(30, 30), 20);
}

TEST(MailOutboxCrash, KilledFlushersWithMessagesInFlightLoseNothing) {
  ExpectNothingLost(KillFlushersChunking(30, 30), 20);
}

// The long versions, run with the soak label (ctest -L soak).
TEST(MailOutboxCrash, DISABLED_SoakKilledFlushersLoseNothing) {
  ExpectNothingLost(KillFlushersPipelining(300, 600), 100);
}

TEST(MailOutboxCrash, DISABLED_SoakKilledFlushersWithMessagesInFlightLoseNothing) {
  ExpectNothingLost(KillFlushersChunking(300, 600), 100);
}

}  // namespace
}  // namespace tarvenkel::test

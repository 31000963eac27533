// SPDX-License-Identifier: Apache-2.0
// tarvenkel-send with a queue: mail that cannot go now waits in it and goes
// with a later flush; servers are tried in order; a permanent refusal still
// fails; the queue is listed and a message dropped; every event is in the
// delivery log. Against aiosmtpd on 127.0.0.1 and a port nothing listens on.
#include "tests/support/local_smtp_server.h"
#include "tests/support/outbox_fixture.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sysexits.h>
#include <unistd.h>

namespace tarvenkel::test {
namespace {

std::string Server(int port) { return "127.0.0.1:" + std::to_string(port); }

class SendQueue : public ::testing::Test {
protected:
  // Runs the program (through a link of the name) with the queue and log of
  // this test; standard input given.
  ProcessResult Run(const std::vector<std::string>& args, const std::string& input = "",
                    const std::string& name = "tarvenkel-send") {
    const std::string link = m_dir.file(name);
    symlink(BinaryPath("tools/tarvenkel-send").c_str(), link.c_str());
    ProcessOptions options;
    options.input = input;
    options.env = {"XDG_CONFIG_HOME=" + m_dir.path(), "TARVENKEL_PASSWORD"};
    return RunProcess(Join({link, "--queue", m_dir.file("queue"), "--log-file", m_dir.file("log")}, args), options);
  }
  // Sends an alarm through the servers, separated by commas.
  ProcessResult Alarm(const std::string& servers, const std::vector<std::string>& to = {"--to", "ops@x"}) {
    return Run(Join({"--server", servers, "--from", "alarm@x", "--subject", "pump 3", "--body", "pressure high"}, to));
  }
  // The id of "queued ID" on standard output; empty when not queued.
  static std::string QueuedId(const ProcessResult& result) {
    return result.out.rfind("queued ", 0) == 0 ? result.out.substr(7, result.out.find('\n') - 7) : "";
  }
  std::string Log() { return ReadFile(m_dir.file("log")); }

  TempDir m_dir;
};

TEST_F(SendQueue, MailForAServerThatIsDownWaitsAndGoesWithTheFlush) {
  const ProcessResult queued = Alarm(Server(ClosedPort()));
  ASSERT_EQ(queued.status, EX_OK) << queued.Describe();
  const std::string id = QueuedId(queued);
  ASSERT_FALSE(id.empty()) << queued.out;
  EXPECT_NE(queued.err.find("it waits in the queue"), std::string::npos) << queued.err;

  const ProcessResult listed = Run({"--list-queue"});
  EXPECT_EQ(listed.status, EX_OK) << listed.Describe();
  EXPECT_NE(listed.out.find(id), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("to: ops@x"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("1 message waiting"), std::string::npos) << listed.out;

  LocalSmtpServer server;
  // Its pause after the failed try is not over: a flush leaves it.
  const ProcessResult early = Run({"--flush", "--server", Server(server.port())});
  EXPECT_EQ(early.status, EX_OK) << early.Describe();
  EXPECT_TRUE(server.Messages(0, 0).empty());
  const ProcessResult flushed = Run({"--flush", "--retry-now", "--server", Server(server.port())});
  EXPECT_EQ(flushed.status, EX_OK) << flushed.Describe();
  EXPECT_EQ(Subjects(server.Messages(1)), std::vector<std::string>{"pump 3"});
  EXPECT_NE(Run({"--list-queue"}).out.find("The queue is empty"), std::string::npos);

  // One line per event, each with the id, the sender and the recipients.
  const std::string log = Log();
  for (const char* status : {"status=queued", "status=deferred", "status=sent"}) {
    const size_t at = log.find(status);
    ASSERT_NE(at, std::string::npos) << status << " in\n" << log;
    const std::string line = log.substr(log.rfind('\n', at) + 1, log.find('\n', at) - log.rfind('\n', at) - 1);
    EXPECT_NE(line.find("id=" + id + " sender=<alarm@x> recipients=<ops@x>"), std::string::npos) << line;
  }
  EXPECT_NE(log.find("server=" + Server(server.port()) + " status=sent delay="), std::string::npos) << log;
  EXPECT_NE(log.find("reply=\"250 "), std::string::npos) << log;
}

TEST_F(SendQueue, TheNextServerOfTheListTakesOverFromOneThatIsDown) {
  LocalSmtpServer server;
  const ProcessResult sent = Alarm(Server(ClosedPort()) + ", " + Server(server.port()));
  EXPECT_EQ(sent.status, EX_OK) << sent.Describe();
  EXPECT_EQ(QueuedId(sent), "");
  EXPECT_EQ(Subjects(server.Messages(1)), std::vector<std::string>{"pump 3"});
  // Without a queue, the send itself moves on.
  const ProcessResult direct =
      RunProcess({BinaryPath("tools/tarvenkel-send"), "--server", Server(ClosedPort()) + "," + Server(server.port()),
                  "--from", "alarm@x", "--to", "ops@x", "--body", "x"},
                 {.env = {"XDG_CONFIG_HOME=" + m_dir.path()}});
  EXPECT_EQ(direct.status, EX_OK) << direct.Describe();
  EXPECT_NE(direct.err.find("trying the next server, " + Server(server.port())), std::string::npos) << direct.err;
  EXPECT_EQ(server.Messages(2).size(), 2u);
}

TEST_F(SendQueue, APermanentRefusalStillFailsAndLeavesNothingQueued) {
  LocalSmtpServer server("", {"--refuse", "gone@x"});
  const ProcessResult refused = Alarm(Server(server.port()), {"--to", "gone@x"});
  EXPECT_EQ(refused.status, EX_NOUSER) << refused.Describe();
  EXPECT_NE(refused.err.find("recipient refused: gone@x"), std::string::npos) << refused.err;
  // One refused of two: the message goes to the other, with a warning.
  const ProcessResult partly = Alarm(Server(server.port()), {"--to", "gone@x, ops@x"});
  EXPECT_EQ(partly.status, EX_OK) << partly.Describe();
  EXPECT_NE(partly.err.find("warning: recipient refused: gone@x"), std::string::npos) << partly.err;
  EXPECT_EQ(server.Messages(1).size(), 1u);
  EXPECT_NE(Run({"--list-queue"}).out.find("The queue is empty; 0 in "), std::string::npos);
  EXPECT_NE(Log().find("recipients=<gone@x> server=" + Server(server.port()) + " status=failed"), std::string::npos)
      << Log();
}

TEST_F(SendQueue, TheSendmailEntryQueuesAndAMessageCanBeDropped) {
  const ProcessResult queued = Run({"-t", "--server", Server(ClosedPort())},
                                   "From: alarm@x\nTo: ops@x\nSubject: disk\n\nsdb failing\n", "sendmail");
  ASSERT_EQ(queued.status, EX_OK) << queued.Describe();
  const std::string id = QueuedId(queued);
  ASSERT_FALSE(id.empty()) << queued.out;
  EXPECT_NE(Run({"-bp"}, "", "sendmail").out.find(id), std::string::npos);
  const ProcessResult dropped = Run({"--drop", id});
  EXPECT_EQ(dropped.status, EX_OK) << dropped.Describe();
  EXPECT_EQ(dropped.out, "dropped " + id + "\n");
  EXPECT_EQ(Run({"--drop", id}).status, EX_NOINPUT);
  EXPECT_NE(Run({"--list-queue"}).out.find("The queue is empty"), std::string::npos);
}

TEST_F(SendQueue, TheQueueCommandsNeedAQueue) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--flush"}, {"--list-queue"}, {"--drop", "1"}}) {
    const ProcessResult result = RunProcess(Join({BinaryPath("tools/tarvenkel-send")}, args),
                                            {.env = {"XDG_CONFIG_HOME=" + m_dir.path()}});
    EXPECT_EQ(result.status, EX_USAGE) << args[0] << ": " << result.Describe();
  }
  EXPECT_EQ(Run({"--retry-now"}).status, EX_USAGE);
}

}  // namespace
}  // namespace tarvenkel::test

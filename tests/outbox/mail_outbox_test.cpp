// SPDX-License-Identifier: Apache-2.0
// The outbox against real servers on 127.0.0.1: queueing while the server is
// down and flushing once it is up, a temporary refusal then an acceptance, a
// permanent refusal of one recipient of three, the maximum age, several
// messages in flight with CHUNKING, a backup server, two flushers at once,
// and a full disk.
#include "outbox/mail_outbox.h"

#include "framework/core/string_array.h"
#include "tests/support/local_smtp_server.h"
#include "tests/support/outbox_fixture.h"
#include "tests/support/postfix_server.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <future>
#include <string>

#include <sys/mount.h>
#include <unistd.h>

namespace tarvenkel::test {
namespace {

std::string Str(const CString& s) {
  return std::string(s.GetString(), static_cast<std::size_t>(s.GetLength()));
}

// A full dialogue up to the replies to the recipients; then DATA, the data
// and the reply to its end, and QUIT.
SmtpScript Session(const std::vector<std::string>& rcptReplies, const std::string& endReply = "250 2.0.0 queued as A1\r\n") {
  SmtpScript script;
  script.Send("220 test ESMTP\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n");
  for (const std::string& reply : rcptReplies) script.Reply(reply);
  script.Reply("354 go ahead\r\n").ReadData().Send(endReply).Reply("221 bye\r\n");
  return script;
}

class MailOutboxTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(outbox.Open(dir.file("outbox").c_str())) << Str(outbox.GetLastError()); }

  CString QueueAlarm(const std::string& subject, const std::vector<std::string>& to = {"ops@x"}) {
    CString id;
    EXPECT_TRUE(outbox.Queue(Alarm(subject, to).get(), &id)) << Str(outbox.GetLastError());
    return id;
  }

  TempDir dir;
  CMailOutbox outbox;
};

TEST_F(MailOutboxTest, QueuedWhileServerIsDownIsSentOnceItIsUp) {
  QueueAlarm("first alarm");
  // A preformatted message from a pipe, as the sendmail entry queues one.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string text = "From: alarm@x\r\nTo: ops@x\r\nSubject: second alarm\r\n\r\nTank 2 empty.\r\n";
  ASSERT_EQ(::write(fds[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::close(fds[1]);
  CStringArray recipients;
  recipients.Add("ops@x");
  EXPECT_TRUE(outbox.QueueFormatted("alarm@x", recipients, fds[0]));
  ::close(fds[0]);

  auto down = ClientOf(ClosedPort());
  ASSERT_TRUE(outbox.Flush(*down));
  ASSERT_EQ(outbox.GetReport().size(), 2u);
  EXPECT_EQ(outbox.GetReport()[0].nOutcome, CMailOutbox::OUTCOME_DEFERRED);
  EXPECT_NE(Str(outbox.GetReport()[0].sReply).find("Unable to connect"), std::string::npos)
      << Str(outbox.GetReport()[0].sReply);
  EXPECT_EQ(outbox.GetWaitingCount(), 2);
  const std::vector<CMailOutbox::CQueued> waiting = outbox.List();
  ASSERT_EQ(waiting.size(), 2u);
  EXPECT_EQ(waiting[0].nTries, 1);
  EXPECT_GT(waiting[0].nNextTry, 50);  // one minute's pause
  EXPECT_LE(waiting[0].nNextTry, 60);

  LocalSmtpServer server;
  auto up = ClientOf(server.port(), true);
  // Not due yet: nothing is tried until the pause is over or a retry is asked for.
  ASSERT_TRUE(outbox.Flush(*up));
  EXPECT_TRUE(outbox.GetReport().empty());
  ASSERT_TRUE(outbox.Flush(*up, TRUE));
  ASSERT_EQ(outbox.GetReport().size(), 2u);
  for (const CMailOutbox::CReport& line : outbox.GetReport()) {
    EXPECT_EQ(line.nOutcome, CMailOutbox::OUTCOME_SENT) << Str(line.sReply);
    EXPECT_EQ(Str(line.sReply).substr(0, 3), "250");
  }
  EXPECT_EQ(outbox.GetWaitingCount(), 0);
  EXPECT_EQ(outbox.GetOldestAge(), 0);
  EXPECT_EQ(Subjects(server.Messages(2)), (std::vector<std::string>{"first alarm", "second alarm"}));
}

TEST_F(MailOutboxTest, TemporaryRefusalBacksOffThenTheMessageGoes) {
  QueueAlarm("alarm");
  SmtpScript busy;
  busy.Send("220 test\r\n").Reply("250 hello\r\n").Reply("451 4.3.0 try again later\r\n").Reply("221 bye\r\n");
  ScriptedSmtpServer server({busy, Session({"250 ok\r\n"}), Session({"250 ok\r\n"})});
  auto smtp = ClientOf(server.port());

  ASSERT_TRUE(outbox.Flush(*smtp, TRUE));
  ASSERT_EQ(outbox.GetReport().size(), 1u);
  EXPECT_EQ(outbox.GetReport()[0].nOutcome, CMailOutbox::OUTCOME_DEFERRED);
  EXPECT_EQ(Str(outbox.GetReport()[0].sReply), "451 4.3.0 try again later");
  ASSERT_EQ(outbox.List().size(), 1u);
  EXPECT_EQ(Str(outbox.List()[0].sLastReply), "451 4.3.0 try again later");

  ASSERT_TRUE(outbox.Flush(*smtp, TRUE));
  ASSERT_EQ(outbox.GetReport().size(), 1u);
  EXPECT_EQ(outbox.GetReport()[0].nOutcome, CMailOutbox::OUTCOME_SENT);
  EXPECT_EQ(Str(outbox.GetReport()[0].sReply), "250 2.0.0 queued as A1");
  EXPECT_EQ(outbox.GetWaitingCount(), 0);
  EXPECT_EQ(server.Accepted(), 2u);
}

TEST_F(MailOutboxTest, RecipientsRefusedForGoodAreDroppedTemporaryOnesStay) {
  QueueAlarm("alarm", {"a@x", "b@x", "c@x"});
  // Every recipient refused for good: the message fails as a whole.
  const CString hopeless = QueueAlarm("hopeless", {"d@x"});
  // One session carries both messages; the second ends with RSET.
  SmtpScript both;
  both.Send("220 test\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n").Reply("250 ok\r\n")
      .Reply("550 5.1.1 b: no such user\r\n").Reply("450 4.2.1 c: mailbox busy\r\n").Reply("354 go ahead\r\n")
      .ReadData().Send("250 2.0.0 queued\r\n")
      .Reply("250 sender ok\r\n").Reply("550 5.1.1 d: no such user\r\n").Reply("554 5.5.1 no valid recipients\r\n")
      .Reply("250 reset\r\n").Reply("221 bye\r\n");
  ScriptedSmtpServer server({both, Session({"250 ok\r\n"})});
  auto smtp = ClientOf(server.port());

  ASSERT_TRUE(outbox.Flush(*smtp));
  std::vector<std::string> lines;
  for (const CMailOutbox::CReport& line : outbox.GetReport())
    lines.push_back(std::to_string(line.nOutcome) + " " + Str(line.sRecipients) + " " + Str(line.sReply));
  EXPECT_EQ(lines, (std::vector<std::string>{"2 b@x 550 5.1.1 b: no such user", "0 a@x 250 2.0.0 queued",
                                             "1 c@x 450 4.2.1 c: mailbox busy", "2 d@x 550 5.1.1 d: no such user"}));
  ASSERT_EQ(outbox.List().size(), 1u);
  EXPECT_EQ(Str(outbox.List()[0].sRecipients), "c@x");
  const std::vector<CMailOutbox::CQueued> failed = outbox.List(TRUE);
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].sId, hopeless);
  EXPECT_EQ(Str(failed[0].sLastReply), "550 5.1.1 d: no such user");

  // The next try goes to the recipient still waiting only.
  ASSERT_TRUE(outbox.Flush(*smtp, TRUE));
  EXPECT_EQ(outbox.GetWaitingCount(), 0);
  const std::string sent = server.Received(1);
  EXPECT_NE(sent.find("RCPT TO: <c@x>"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("RCPT TO: <a@x>"), std::string::npos) << sent;
}

TEST_F(MailOutboxTest, TooOldMessageFailsAtItsNextTemporaryFailure) {
  QueueAlarm("stale alarm");
  outbox.SetMaxAge(0);
  auto down = ClientOf(ClosedPort());
  ASSERT_TRUE(outbox.Flush(*down));
  ASSERT_EQ(outbox.GetReport().size(), 1u);
  EXPECT_EQ(outbox.GetReport()[0].nOutcome, CMailOutbox::OUTCOME_FAILED);
  EXPECT_EQ(outbox.GetWaitingCount(), 0);
  ASSERT_EQ(outbox.GetFailedCount(), 1);
  EXPECT_NE(Str(outbox.List(TRUE)[0].sLastReply).find("given up after 1 tries"), std::string::npos);
  EXPECT_TRUE(outbox.Drop(outbox.List(TRUE)[0].sId, TRUE));
  EXPECT_EQ(outbox.GetFailedCount(), 0);
}

// Where PIPELINING allows, the commands of the next message go with the end
// of the previous one's data: these servers answer the end of the data only
// once they have read them, so a client that waited would hang.
TEST_F(MailOutboxTest, NextMessageCommandsGoWithTheEndOfTheData) {
  for (const bool bChunking : {false, true}) {
    SCOPED_TRACE(bChunking ? "CHUNKING" : "DATA");
    QueueAlarm("one");
    QueueAlarm("two", {"a@x", "b@x"});
    SmtpScript script;
    script.Send("220 test ESMTP\r\n").Reply(bChunking ? "250-test\r\n250-PIPELINING\r\n250 CHUNKING\r\n"
                                                      : "250-test\r\n250 PIPELINING\r\n");
    if (bChunking) {
      script.ReadLine().ReadLine().ReadChunk().ReadLine().ReadLine().ReadLine();
      script.Send("250 ok\r\n250 ok\r\n250 one queued\r\n250 ok\r\n250 ok\r\n250 ok\r\n");
      script.ReadChunk().Send("250 two queued\r\n");
    } else {
      script.ReadLine().ReadLine().ReadLine().Send("250 ok\r\n250 ok\r\n354 go\r\n").ReadData();
      script.ReadLine().ReadLine().ReadLine().ReadLine();
      script.Send("250 one queued\r\n250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n").ReadData();
      script.Send("250 two queued\r\n");
    }
    script.Reply("221 bye\r\n");
    ScriptedSmtpServer server(script);
    auto smtp = ClientOf(server.port(), true);
    ASSERT_TRUE(outbox.Flush(*smtp));
    std::vector<std::string> replies;
    for (const CMailOutbox::CReport& line : outbox.GetReport()) replies.push_back(Str(line.sReply));
    EXPECT_EQ(replies, (std::vector<std::string>{"250 one queued", "250 two queued"}));
    EXPECT_EQ(outbox.GetWaitingCount(), 0);
  }
}

// With CHUNKING several messages are written whole before the first reply is
// read. Each keeps the outcome it has alone: a refused recipient beside
// accepted ones, every recipient refused, and the messages after them.
TEST_F(MailOutboxTest, MessagesInFlightKeepTheirOwnOutcomes) {
  PostfixServer postfix;
  const std::string refused = PostfixServer::kRefused;
  QueueAlarm("one", {"ops@example.com"});
  QueueAlarm("two", {"ops@example.com", refused, "desk@example.com"});
  const CString hopeless = QueueAlarm("three", {refused});
  QueueAlarm("four", {"ops@example.com"});
  auto smtp = ClientOf(postfix.port(), true);
  ASSERT_TRUE(outbox.Flush(*smtp));
  std::vector<std::string> lines;
  for (const CMailOutbox::CReport& line : outbox.GetReport())
    lines.push_back(std::to_string(line.nOutcome) + " " + Str(line.sRecipients) + " " + Str(line.sReply).substr(0, 9));
  EXPECT_EQ(lines, (std::vector<std::string>{"0 ops@example.com 250 2.0.0", "2 " + refused + " 550 5.1.1",
                                             "0 ops@example.com, desk@example.com 250 2.0.0",
                                             "2 " + refused + " 550 5.1.1", "0 ops@example.com 250 2.0.0"}));
  EXPECT_EQ(outbox.GetWaitingCount(), 0);
  ASSERT_EQ(outbox.GetFailedCount(), 1);
  EXPECT_EQ(outbox.List(TRUE)[0].sId, hopeless);
  std::vector<std::string> subjects = postfix.Subjects();
  std::sort(subjects.begin(), subjects.end());
  EXPECT_EQ(subjects, (std::vector<std::string>{"four", "one", "two"}));
}

// The server reads three whole messages before it answers the first, refuses
// the second's sender and drops the connection: the first is sent, the
// second failed, and the third, whose replies never came, waits.
TEST_F(MailOutboxTest, ConnectionDroppedInFlightKeepsTheUnansweredQueued) {
  QueueAlarm("one");
  QueueAlarm("two");
  const CString unanswered = QueueAlarm("three");
  SmtpScript script;
  script.Send("220 test ESMTP\r\n").Reply("250-test\r\n250-PIPELINING\r\n250 CHUNKING\r\n");
  for (int i = 0; i < 3; ++i) script.ReadLine().ReadLine().ReadChunk();
  script.Send("250 ok\r\n250 ok\r\n250 one queued\r\n550 5.7.1 sender refused\r\n503 5.5.1 no sender\r\n"
              "503 5.5.1 no sender\r\n").Close();
  ScriptedSmtpServer server(script);
  auto smtp = ClientOf(server.port(), true);
  ASSERT_TRUE(outbox.Flush(*smtp));
  std::vector<std::string> lines;
  for (const CMailOutbox::CReport& line : outbox.GetReport())
    lines.push_back(std::to_string(line.nOutcome) + " " + Str(line.sReply));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "0 250 one queued");
  EXPECT_EQ(lines[1], "2 550 5.7.1 sender refused");
  EXPECT_EQ(lines[2].substr(0, 2), "1 ") << lines[2];
  const std::vector<CMailOutbox::CQueued> waiting = outbox.List();
  ASSERT_EQ(waiting.size(), 1u);
  EXPECT_EQ(waiting[0].sId, unanswered);
  EXPECT_EQ(waiting[0].nTries, 1);
  EXPECT_EQ(outbox.GetFailedCount(), 1);
}

TEST_F(MailOutboxTest, UnreachableAndBusyServersGiveWayToTheNext) {
  QueueAlarm("alarm");
  SmtpScript busy;
  busy.Send("421 4.3.2 busy, try later\r\n").Close();
  ScriptedSmtpServer busyServer(busy);
  ScriptedSmtpServer good(Session({"250 ok\r\n"}));
  auto down = ClientOf(ClosedPort());
  auto second = ClientOf(busyServer.port());
  auto third = ClientOf(good.port());
  CSMTP* servers[] = {down.get(), second.get(), third.get()};
  ASSERT_TRUE(outbox.Flush(servers, 3));
  ASSERT_EQ(outbox.GetReport().size(), 1u);
  EXPECT_EQ(outbox.GetReport()[0].nOutcome, CMailOutbox::OUTCOME_SENT);
  EXPECT_EQ(Str(outbox.GetReport()[0].sServer), "127.0.0.1:" + std::to_string(good.port()));
  EXPECT_EQ(outbox.GetWaitingCount(), 0);
}

TEST_F(MailOutboxTest, SecondFlusherReturnsAtOnceWhileOneRuns) {
  const CString id = QueueAlarm("alarm");
  SmtpScript slow;
  // The server counts a session once the client has said something: the
  // pause after HELO keeps the first flush busy while the second tries.
  slow.Send("220 test\r\n").Reply("250 hello\r\n").Pause(1500).Reply("250 sender ok\r\n").Reply("250 ok\r\n")
      .Reply("354 go ahead\r\n").ReadData().Send("250 queued\r\n").Reply("221 bye\r\n");
  ScriptedSmtpServer server(slow);
  auto smtp = ClientOf(server.port());
  auto first = std::async(std::launch::async, [&] { return outbox.Flush(*smtp, TRUE); });
  while (server.Accepted() == 0) ::usleep(10 * 1000);

  CMailOutbox other;
  ASSERT_TRUE(other.Open(dir.file("outbox").c_str()));
  auto smtp2 = ClientOf(server.port());
  EXPECT_FALSE(other.Flush(*smtp2, TRUE));
  EXPECT_EQ(Str(other.GetLastError()), "Another flush is running");
  EXPECT_FALSE(other.Drop(id));
  EXPECT_TRUE(first.get());
  EXPECT_EQ(server.Accepted(), 1u);
  EXPECT_EQ(other.GetWaitingCount(), 0);
}

TEST_F(MailOutboxTest, FullDiskLeavesNothingHalfWritten) {
  const std::string mountPoint = dir.file("small");
  std::filesystem::create_directory(mountPoint);
  if (::geteuid() != 0 || ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "a small tmpfs needs root and mount";
  CMailOutbox small;
  ASSERT_TRUE(small.Open((mountPoint + "/outbox").c_str()));
  auto big = Alarm("big");
  big->m_sBody = CString(std::string(200 * 1024, 'x').c_str());
  EXPECT_FALSE(small.Queue(big.get()));
  EXPECT_NE(Str(small.GetLastError()).find("No space left on device"), std::string::npos)
      << Str(small.GetLastError());
  std::vector<std::string> left;
  for (const auto& item : std::filesystem::directory_iterator(mountPoint + "/outbox"))
    left.push_back(item.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"failed"});
  EXPECT_TRUE(small.Queue(Alarm("small").get())) << Str(small.GetLastError());
  EXPECT_EQ(small.GetWaitingCount(), 1);
  ::umount(mountPoint.c_str());
}

}  // namespace
}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// A session that outlives a failed message: RSET after a failed transaction
// against real servers, waits that end when they should, a failed connection
// given up at once, and the server's and the system's words kept for the host.
#include "mail/mail_message.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/postfix_server.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/smtp_client.h"
#include "tests/support/smtp_dialogue.h"
#include "tests/support/time_scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include <netdb.h>
#include <time.h>

using namespace tarvenkel::test;

namespace {

std::unique_ptr<CMailMessage> Message(const char* szTo, const char* szSubject, std::string body = "Zone 4 open") {
  auto msg = std::make_unique<CMailMessage>();
  msg->m_sFrom = "alarm@example.com";
  msg->m_sSubject = szSubject;
  msg->m_sBody = body.c_str();
  msg->AddRecipient(szTo, "");
  return msg;
}

// The CPU time all threads of the process have used.
double ProcessCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A real server that refuses one recipient: the stored messages as Python's
// email package reads them.
struct RealServer {
  const char* name;
  std::function<int()> port;
  std::function<std::vector<ParsedMessage>()> stored;
  const char* dataRefusal;  // GetLastError of a message whose only recipient is refused
};

TEST(SmtpRecovery, AFailedMessageDoesNotTakeTheNextOneDown) {
  LocalSmtpServer aiosmtpd("", {"--refuse", PostfixServer::kRefused});
  PostfixServer postfix;
  const RealServer servers[] = {
      {"aiosmtpd", [&] { return aiosmtpd.port(); },
       [&] {
         std::vector<ParsedMessage> parsed;
         for (const std::string& path : aiosmtpd.Messages(1)) parsed.push_back(ParseMessage(path));
         return parsed;
       },
       "503:SMTP server not ready for data"},
      {"postfix", [&] { return postfix.port(); },
       [&] {
         std::vector<ParsedMessage> parsed;
         for (std::size_t i = 0; i < postfix.Messages().size(); ++i)
           parsed.push_back(ParseMessage(postfix.SaveMessage(i)));
         return parsed;
       },
       "554:SMTP server not ready for data"},
  };
  for (const RealServer& server : servers) {
    SCOPED_TRACE(server.name);
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .timeout = 20});
    ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
    auto refused = Message(PostfixServer::kRefused, "First alarm");
    EXPECT_FALSE(smtp.SendMessage(refused.get()));
    EXPECT_EQ(smtp.GetLastError().str(), server.dataRefusal);
    EXPECT_EQ(smtp.GetLastReply().Left(3).str(), std::string(server.dataRefusal, 3)) << smtp.GetLastReply();
    auto valid = Message("operator@example.com", "Second alarm");
    EXPECT_TRUE(smtp.SendMessage(valid.get())) << smtp.GetLastError() << " / " << smtp.GetLastReply();
    EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
    const auto stored = server.stored();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].Header("Subject"), "Second alarm");
    EXPECT_EQ(stored[0].Header("To"), "<operator@example.com>");

    // The one-call send closes after each message, so it meets the refusal
    // the same way, and the next call delivers.
    EXPECT_FALSE(smtp.SendMessage(PostfixServer::kRefused, "Zone 4 open", "Third alarm", nullptr));
    EXPECT_EQ(smtp.GetLastError().str(), server.dataRefusal);
    EXPECT_TRUE(smtp.SendMessage("operator@example.com", "Zone 4 open", "Fourth alarm", nullptr))
        << smtp.GetLastError();
    EXPECT_EQ(server.stored().size(), 2u);
  }
}

// A client whose time-out seconds last 5 ms, so the default limits of 300 s
// and 600 s take 1.5 s and 3 s.
class CFastClock : public CSMTP {
public:
  CFastClock() { m_nTimeoutUnitMs = 5; }
};

TEST(SmtpRecovery, EachReplyIsWaitedForItsOwnLimit) {
  const std::string rcpt = "250 ok\r\n";
  struct Case {
    const char* name;
    int timeout;     // for SetTimeout; -1: the default
    bool atDataEnd;  // silent after the message data rather than after MAIL From
    double seconds;  // the wait, in real seconds
  } cases[] = {
      {"default, end of data", -1, true, 3.0},
      {"default, MAIL From", -1, false, 1.5},
      {"SetTimeout(100), end of data", 100, true, 0.5},
      {"SetTimeout(100), MAIL From", 100, false, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmtpScript script = Opened();
    if (c.atDataEnd) script.Reply(rcpt).Reply(rcpt).Reply("354 go\r\n").ReadData();
    ScriptedSmtpServer server(script.Silent());
    CFastClock smtp;
    Configure(smtp, {.port = server.port(), .timeout = c.timeout});
    ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
    auto msg = Message("to@example.com", "Alarm");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(smtp.SendMessage(msg.get()));
    // The connection is given up with the first time-out: no QUIT is waited for.
    EXPECT_FALSE(smtp.Disconnect());
    const double seconds = SecondsSince(start);
    EXPECT_EQ(smtp.GetLastError().str(), "Timed out");
    EXPECT_EQ(smtp.GetLastSocketError().str(), "Connection timed out");
    EXPECT_GE(seconds, c.seconds - 0.02);
    EXPECT_LT(seconds, c.seconds + tarvenkel::test::Slack(0.7));
  }
}

// A server that stops reading in the middle of a large data phase costs one
// time-out, whichever send path carries the message.
TEST(SmtpRecovery, AStalledDataPhaseEndsWithinOneTimeOut) {
  // Text lines, so the body goes out as it is (one long line would be
  // base64-encoded first); 16 MiB fill any loopback socket buffers.
  std::string body;
  const std::string line(78, 'x');
  while (body.size() < (16u << 20)) body += line + "\r\n";
  for (bool oneCall : {false, true}) {
    SCOPED_TRACE(oneCall ? "one-call send" : "connection");
    ScriptedSmtpServer server(
        Opened().Reply("250 ok\r\n").Reply("250 ok\r\n")
            .Reply("354 go\r\n").Stall());
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .timeout = 2});
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = ProcessCpuSeconds();
    BOOL sent = TRUE;
    if (oneCall) {
      sent = smtp.SendMessage("to@example.com", body.c_str(), "Alarm", nullptr);
    } else {
      ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
      auto msg = Message("to@example.com", "Alarm", body);
      sent = smtp.SendMessage(msg.get());
      EXPECT_FALSE(smtp.Disconnect());
    }
    const double seconds = SecondsSince(start);
    // One time-out of 2 s and a margin of 1 s (times the time scale), on top
    // of the work of composing and copying 16 MiB (a second of it under the
    // sanitizers), counted twice for a machine whose cores are shared; three
    // time-outs would be 6 s.
    const double bound = 2.0 + tarvenkel::test::Slack(1.0) + 2 * (ProcessCpuSeconds() - cpuStart);
    EXPECT_FALSE(sent);
    EXPECT_EQ(smtp.GetLastError().str(), "Timed out");
    EXPECT_LT(seconds, bound);
    // The object is usable again: a new connection is opened, not the dead one used.
    ScriptedSmtpServer next(Opened().Reply("221 bye\r\n"));
    Configure(smtp, {.port = next.port(), .timeout = 2});
    EXPECT_TRUE(smtp.Connect()) << smtp.GetLastError();
    EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  }
}

// A client cancelled by its host between two steps: the next command's send
// fails on the closed socket.
class CCancelledBeforeMail : public CSMTP {
public:
  BOOL FormatMailMessage(CMailMessage* msg) override {
    Cancel();
    return CSMTP::FormatMailMessage(msg);
  }
};

// A command whose send fails ends the step at once as a connection closed
// under it: nothing is waited for, nothing more is sent on it, and the
// session reports it dead until it is connected again.
TEST(SmtpRecovery, AFailedCommandSendEndsTheStepAtOnce) {
  ScriptedSmtpServer server(Opened().Silent());
  CCancelledBeforeMail smtp;
  Configure(smtp, {.port = server.port()});
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  auto msg = Message("to@example.com", "Alarm");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(smtp.SendMessage(msg.get()));
  EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(2.0));
  EXPECT_EQ(smtp.GetLastError().str(), "0:SMTP server error");
  EXPECT_EQ(smtp.GetLastReply().str(), "");
  EXPECT_NE(smtp.GetLastSocketError().str(), "");
  EXPECT_FALSE(smtp.SendMessage(msg.get()));
  EXPECT_EQ(smtp.GetLastError().str(), "Must be connected");
  EXPECT_FALSE(smtp.Disconnect());
  EXPECT_EQ(smtp.GetLastError().str(), "Must be connected");
  EXPECT_EQ(server.Received(), kHelo);
}

// Why a connection could not be made, in the system's words; GetLastError
// keeps its one text.
TEST(SmtpRecovery, TheSystemsReasonOfAFailedConnect) {
  // A port of 127.0.0.1 that nothing listens on: bound once, then released.
  int unusedPort = 0;
  {
    CAsyncSocket probe;
    ASSERT_TRUE(probe.Create(0, SOCK_STREAM, 0, "127.0.0.1"));
    CString address;
    UINT port = 0;
    ASSERT_TRUE(probe.GetSockName(address, port));
    unusedPort = static_cast<int>(port);
  }
  struct Case {
    const char* host;
    int port;
    std::vector<std::string> reasons;
  } cases[] = {
      {"127.0.0.1", unusedPort, {"Connection refused"}},
      {"no-such-host.invalid", 25, {::gai_strerror(EAI_NONAME), ::gai_strerror(EAI_AGAIN)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    CSMTP smtp;
    smtp.SetTimeout(5);
    smtp.SetParams(c.host, "alarm@example.com", c.port, "", "");
    EXPECT_FALSE(smtp.Connect());
    EXPECT_EQ(smtp.GetLastError().str(), "Unable to connect to server");
    EXPECT_EQ(smtp.GetLastReply().str(), "");
    const std::string reason = smtp.GetLastSocketError().str();
    EXPECT_NE(std::find(c.reasons.begin(), c.reasons.end(), reason), c.reasons.end()) << reason;
  }
}

}  // namespace

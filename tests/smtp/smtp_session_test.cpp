// SPDX-License-Identifier: Apache-2.0
// The SMTP session against a scripted server: the exact dialogue, every
// expected reply answered wrongly, broken connections, replies split in every
// way, oversized replies, and silence ended by Cancel or the time-out.
#include "smtp/smtp.h"

#include "tests/support/scripted_smtp_server.h"
#include "tests/support/smtp_client.h"
#include "tests/support/smtp_dialogue.h"
#include "tests/support/time_scale.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include <unistd.h>

using namespace tarvenkel::test;

namespace {

// A server's script and the error text the client is left with.
struct ScriptCase {
  SmtpScript script;
  std::string error;
};

class CSMTPWithLiterals : public CSMTP {
public:
  using CSMTP::address_literal;
};

}  // namespace

TEST(SmtpSession, ConstructionAndParameters) {
  CSMTP smtp;
  EXPECT_EQ(smtp.GetLastError().str(), "OK");
  EXPECT_EQ(smtp.GetPort(), 25u);
  EXPECT_EQ(smtp.GetServerHostName().str(), "");
  EXPECT_EQ(smtp.GetTimeout(), 300u);
  smtp.SetParams("mail.example.com", "a@b", 2525, "u", "p");
  EXPECT_EQ(smtp.GetServerHostName().str(), "mail.example.com");
  EXPECT_EQ(smtp.GetPort(), 2525u);
  EXPECT_TRUE(smtp.Disconnect());  // closed: nothing to do
  EXPECT_EQ(smtp.GetLastError().str(), "OK");
}

TEST(SmtpSession, WithoutCredentialsTheDialogueIsGreetingHeloAndQuit) {
  ScriptedSmtpServer server(Opened().Reply("221 bye\r\n"));
  auto smtp = MakeClient({.port = server.port()});
  ASSERT_TRUE(smtp->Connect()) << smtp->GetLastError();
  EXPECT_TRUE(smtp->Connect());  // already open: sends nothing
  EXPECT_TRUE(smtp->Disconnect()) << smtp->GetLastError();
  EXPECT_TRUE(smtp->Disconnect());  // closed: sends nothing
  EXPECT_EQ(server.Received(), kHelo + "QUIT\r\n");
  EXPECT_EQ(smtp->GetLastError().str(), "OK");
}

TEST(SmtpSession, WithCredentialsItSaysEhloAndLogsIn) {
  ScriptedSmtpServer server(SmtpScript()
                                .Send(kGreeting)
                                .Reply("250-test.example\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n")
                                .Reply(kUserPrompt)
                                .Reply(kPasswordPrompt)
                                .Reply("235 2.7.0 Authentication successful\r\n")
                                .Reply("221 bye\r\n"));
  auto smtp = MakeClient({.port = server.port(), .user = "user", .password = "secret"});
  ASSERT_TRUE(smtp->Connect()) << smtp->GetLastError();
  EXPECT_TRUE(smtp->Disconnect()) << smtp->GetLastError();
  EXPECT_EQ(server.Received(), kEhlo + "AUTH LOGIN\r\n" + kUserLine + kPasswordLine + "QUIT\r\n");
}

TEST(SmtpSession, EhloRejectedWith5xxFallsBackToHelo) {
  ScriptedSmtpServer server(SmtpScript()
                                .Send(kGreeting)
                                .Reply("502 5.5.1 command not implemented\r\n")
                                .Reply("250 hello\r\n")
                                .Reply(kUserPrompt)
                                .Reply(kPasswordPrompt)
                                .Reply("235 ok\r\n"));
  // An empty user name still logs in: its line is the base64 of nothing.
  auto smtp = MakeClient({.port = server.port(), .password = "secret"});
  ASSERT_TRUE(smtp->Connect()) << smtp->GetLastError();
  smtp->Cancel();
  EXPECT_EQ(server.Received(), kEhlo + kHelo + "AUTH LOGIN\r\n" + "\r\n" + kPasswordLine);
}

struct WrongReplyCase {
  const char* name;
  int steps;                 // how many replies the server gives right before the wrong one
  std::string wrong;         // the wrong reply
  std::string expectedError;
};

class SmtpWrongReply : public testing::TestWithParam<WrongReplyCase> {};

// Each expected reply of the login dialogue answered wrongly fails Connect
// with the step's text, closes the socket without QUIT, and leaves the object
// closed.
TEST_P(SmtpWrongReply, FailsConnectWithTheStepsText) {
  const WrongReplyCase& c = GetParam();
  const std::string right[] = {kGreeting, kHelloReply, kUserPrompt, kPasswordPrompt};
  SmtpScript script;
  for (int i = 0; i < c.steps; ++i) {
    if (i == 0)
      script.Send(right[0]);
    else
      script.Reply(right[i]);
  }
  if (c.steps == 0)
    script.Send(c.wrong);
  else
    script.Reply(c.wrong);
  ScriptedSmtpServer server(script);
  auto smtp = MakeClient({.port = server.port(), .user = "user", .password = "secret"});
  EXPECT_FALSE(smtp->Connect());
  EXPECT_EQ(smtp->GetLastError().str(), c.expectedError);
  EXPECT_TRUE(smtp->Disconnect());  // closed: nothing sent
  std::string received = server.Received();
  EXPECT_EQ(received.find("QUIT"), std::string::npos) << received;
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, SmtpWrongReply,
    testing::Values(WrongReplyCase{"Greeting554", 0, "554 no service\r\n", "Server didn't respond."},
                    WrongReplyCase{"GreetingNotDigits", 0, "hello there\r\n", "Server didn't respond."},
                    WrongReplyCase{"Ehlo421", 1, "421 closing\r\n", "421:SMTP server error"},
                    WrongReplyCase{"AuthLogin504", 2, "504 unrecognized\r\n", "504:SMTP server not available"},
                    WrongReplyCase{"User501", 3, "501 bad\r\n", "501:SMTP server not available"},
                    WrongReplyCase{"Password535", 4, "535 5.7.8 bad credentials\r\n", "535:SMTP AUTH FAILED"},
                    WrongReplyCase{"PasswordTwoDigits", 4, "25\r\n", "0:SMTP AUTH FAILED"}),
    [](const testing::TestParamInfo<WrongReplyCase>& info) { return std::string(info.param.name); });

TEST(SmtpSession, HeloRejectedAndQuitNot221) {
  {
    ScriptedSmtpServer server(SmtpScript().Send(kGreeting).Reply("501 syntax\r\n"));
    auto smtp = MakeClient({.port = server.port()});
    EXPECT_FALSE(smtp->Connect());
    EXPECT_EQ(smtp->GetLastError().str(), "501:SMTP server error");
  }
  {
    // QUIT answered with 250: Disconnect fails but the object is closed.
    ScriptedSmtpServer server(
        std::vector<SmtpScript>{Opened().Reply("250 what\r\n"),
                                Opened().Reply("221 bye\r\n")});
    auto smtp = MakeClient({.port = server.port()});
    ASSERT_TRUE(smtp->Connect());
    EXPECT_FALSE(smtp->Disconnect());
    EXPECT_EQ(smtp->GetLastError().str(), "250:SMTP server didn't terminate session");
    EXPECT_TRUE(smtp->Disconnect());
    // A later success keeps the earlier failure's text.
    ASSERT_TRUE(smtp->Connect());
    EXPECT_TRUE(smtp->Disconnect());
    EXPECT_EQ(smtp->GetLastError().str(), "250:SMTP server didn't terminate session");
  }
}

TEST(SmtpSession, ConnectionClosedOrResetByTheServer) {
  ScriptCase cases[] = {
      {SmtpScript().Close(), "Server didn't respond."},
      {SmtpScript().Send("220-first line\r\n").Close(), "Server didn't respond."},
      {SmtpScript().Send(kGreeting).ReadLine().Close(), "0:SMTP server error"},
      {SmtpScript().Send(kGreeting).ReadLine().Send("25").Close(), "0:SMTP server error"},
      {SmtpScript().Send(kGreeting).ReadLine().Reset(), "Socket Error"},
  };
  for (ScriptCase& c : cases) {
    ScriptedSmtpServer server(c.script);
    auto smtp = MakeClient({.port = server.port()});
    EXPECT_FALSE(smtp->Connect());
    EXPECT_EQ(smtp->GetLastError().str(), c.error);
  }
}

TEST(SmtpSession, NoServerListening) {
  int port;
  {
    ScriptedSmtpServer server{SmtpScript()};
    port = server.port();
  }
  CSMTP smtp;
  Configure(smtp, {.port = port, .timeout = -1, .sender = ""});
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.GetLastError().str(), "Unable to connect to server");
  smtp.SetParams("", "", port, "", "");
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.GetLastError().str(), "Unable to connect to server");
}

// However the bytes of the replies are split, the dialogue is the same.
TEST(SmtpSession, RepliesSplitAnywhere) {
  const std::string multiGreeting = "220-test.example ESMTP\r\n220-no UCE\r\n220 ready\r\n";
  const std::string ehloReply = "250-test.example\r\n250-AUTH LOGIN\r\n250 HELP\r\n";
  SmtpScript scripts[] = {
      // one byte at a time
      SmtpScript().SendInPieces(kGreeting, 1).ReadLine().SendInPieces("250 hello there\r\n", 1).Reply("221 bye\r\n"),
      // multi-line greeting in one segment
      SmtpScript().Send(multiGreeting).Reply("250 hello\r\n").Reply("221 bye\r\n"),
      // multi-line greeting split inside a line and inside the CR LF
      SmtpScript().Send(multiGreeting, {3, 19, 1, 10}).Reply("250 hello\r\n").Reply("221 bye\r\n"),
      // the greeting and the HELO reply in one segment: the rest waits
      SmtpScript().Send(kGreeting + "250 hello\r\n").ReadLine().Reply("221 bye\r\n"),
      // bare LF line ends
      SmtpScript().Send("220 ready\n").Reply("250-a\n250 b\n").Reply("221 bye\n"),
  };
  for (SmtpScript& script : scripts) {
    ScriptedSmtpServer server(script);
    auto smtp = MakeClient({.port = server.port()});
    EXPECT_TRUE(smtp->Connect()) << smtp->GetLastError();
    EXPECT_TRUE(smtp->Disconnect()) << smtp->GetLastError();
    EXPECT_EQ(server.Received(), kHelo + "QUIT\r\n");
  }
  // A multi-line EHLO reply split into pieces of three bytes.
  ScriptedSmtpServer server(SmtpScript()
                                .SendInPieces(kGreeting, 3)
                                .ReadLine()
                                .SendInPieces(ehloReply, 3)
                                .Reply(kUserPrompt)
                                .Reply(kPasswordPrompt)
                                .ReadLine()
                                .SendInPieces("235-fine\r\n235 ok\r\n", 2)
                                .Reply("221 bye\r\n"));
  auto smtp = MakeClient({.port = server.port(), .user = "user", .password = "secret"});
  EXPECT_TRUE(smtp->Connect()) << smtp->GetLastError();
  EXPECT_TRUE(smtp->Disconnect()) << smtp->GetLastError();
}

TEST(SmtpSession, ARepliesLongerThan64KiBFailsPromptly) {
  std::string huge;
  while (huge.size() < 70 * 1024) huge += "220-" + std::string(70, 'x') + "\r\n";
  huge += "220 done\r\n";
  {
    ScriptedSmtpServer server(SmtpScript().Send(huge));
    auto smtp = MakeClient({.port = server.port()});
    EXPECT_FALSE(smtp->Connect());
    EXPECT_EQ(smtp->GetLastError().str(), "Server didn't respond.");
  }
  {
    // One endless line without a line end.
    std::string endless = "250 " + std::string(70 * 1024, 'y');
    ScriptedSmtpServer server(SmtpScript().Send(kGreeting).ReadLine().Send(endless));
    auto smtp = MakeClient({.port = server.port()});
    EXPECT_FALSE(smtp->Connect());
    EXPECT_EQ(smtp->GetLastError().str(), "0:SMTP server error");
  }
}

TEST(SmtpSession, SilenceEndedByCancelFromAnotherThread) {
  // Silent at the greeting, then silent at the HELO reply.
  ScriptCase cases[] = {{SmtpScript().Silent(), "Server didn't respond."},
                  {SmtpScript().Send(kGreeting).ReadLine().Silent(), "Socket Error"}};
  for (ScriptCase& c : cases) {
    ScriptedSmtpServer server(c.script);
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .timeout = -1, .sender = ""});  // default time-out of 300 s
    auto start = std::chrono::steady_clock::now();
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      smtp.Cancel();
    });
    EXPECT_FALSE(smtp.Connect());
    canceller.join();
    EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(5.0));
    EXPECT_EQ(smtp.GetLastError().str(), c.error);
    EXPECT_TRUE(smtp.Disconnect());
  }
}

TEST(SmtpSession, SilenceEndedByTheTimeout) {
  ScriptCase cases[] = {{SmtpScript().Silent(), "Server didn't respond."},
                  {SmtpScript().Send(kGreeting).ReadLine().Silent(), "Timed out"},
                  // a server that trickles a reply does not extend the wait
                  {SmtpScript().Send(kGreeting).ReadLine().Send("250-a\r\n").Silent(), "Timed out"}};
  for (ScriptCase& c : cases) {
    ScriptedSmtpServer server(c.script);
    auto smtp = MakeClient({.port = server.port(), .timeout = 1});
    ExpectConnectTimesOut(*smtp, c.error);
  }
}

TEST(SmtpSession, DestroyingAnOpenObjectSendsQuit) {
  ScriptedSmtpServer server(Opened().Reply("221 bye\r\n"));
  {
    auto smtp = MakeClient({.port = server.port()});
    ASSERT_TRUE(smtp->Connect());
  }
  EXPECT_EQ(server.Received(), kHelo + "QUIT\r\n");
}

TEST(SmtpSession, AddressLiteralsForHelo) {
  EXPECT_EQ(CSMTPWithLiterals::address_literal("127.0.0.1").str(), "[127.0.0.1]");
  EXPECT_EQ(CSMTPWithLiterals::address_literal("::1").str(), "[IPv6:::1]");
  EXPECT_EQ(CSMTPWithLiterals::address_literal("::ffff:10.0.0.7").str(), "[10.0.0.7]");
}

// SPDX-License-Identifier: Apache-2.0
// The SMTP session against a real server: Debian's aiosmtpd on 127.0.0.1.
#include "mail/mail_message.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/smtp_client.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tarvenkel::test;

namespace {

class SmtpAgainstAiosmtpd : public testing::Test {
protected:
  static void SetUpTestSuite() {
    s_open = new LocalSmtpServer();
    s_login = new LocalSmtpServer("demo:secret");
  }
  static void TearDownTestSuite() {
    delete s_open;
    delete s_login;
  }
  inline static LocalSmtpServer* s_open = nullptr;
  inline static LocalSmtpServer* s_login = nullptr;
};

}  // namespace

TEST_F(SmtpAgainstAiosmtpd, ConnectAndDisconnectWithoutLogin) {
  CSMTP smtp;
  Configure(smtp, {.port = s_open->port(), .timeout = 20});
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  EXPECT_EQ(smtp.GetLastError().str(), "OK");
  // Again, by name: "localhost" may resolve to ::1 first, where nothing
  // listens, and the next address is tried.
  smtp.SetParams("localhost", "alarm@example.com", s_open->port(), "", "");
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
}

TEST_F(SmtpAgainstAiosmtpd, LoginWithAuthLogin) {
  CSMTP smtp;
  Configure(smtp, {.port = s_login->port(), .user = "demo", .password = "secret", .timeout = 20});
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  EXPECT_EQ(smtp.GetLastError().str(), "OK");
}

TEST_F(SmtpAgainstAiosmtpd, WrongPasswordIsRefusedWith535) {
  CSMTP smtp;
  Configure(smtp, {.port = s_login->port(), .user = "demo", .password = "wrong", .timeout = 20});
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.GetLastError().str(), "535:SMTP AUTH FAILED");
  EXPECT_TRUE(smtp.Disconnect());  // already closed
  // The object can connect again once the password is right.
  Configure(smtp, {.port = s_login->port(), .user = "demo", .password = "secret", .timeout = 20});
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
}

// A plain message delivered end to end: what the server stored, parsed with
// Python's email package, has the headers and every body line intact.
TEST_F(SmtpAgainstAiosmtpd, PlainMessageArrivesIntact) {
  CSMTP smtp;
  Configure(smtp, {.port = s_login->port(), .user = "demo", .password = "secret", .timeout = 20});
  CMailMessage msg;
  msg.m_sFrom = "alarm@example.com";
  msg.m_sSubject = "Pressure alarm on line 4";
  msg.AddRecipient("to1@example.com", "First");
  msg.AddRecipient("to2@example.com", "");
  msg.AddRecipient("cc@example.com", "Copy", CMailMessage::CC);
  msg.AddRecipient("bcc@example.com", "", CMailMessage::BCC);
  msg.m_sBody =
      "first line\r\n"
      ".5 bar over limit\r\n"
      ".\r\n"
      "..two dots\r\n"
      "bare\nLF lines\n"
      ".\n"
      "bare\rCR\r\n"
      "last line";
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  ASSERT_TRUE(smtp.SendMessage(&msg)) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();

  std::vector<std::string> stored = s_login->Messages(1);
  ASSERT_EQ(stored.size(), 1u);
  ParsedMessage parsed = ParseMessage(stored[0]);
  EXPECT_EQ(parsed.Header("From"), "alarm@example.com");
  EXPECT_EQ(parsed.Header("To"), "First<to1@example.com>,<to2@example.com>");
  EXPECT_EQ(parsed.Header("Cc"), "Copy<cc@example.com>");
  EXPECT_EQ(parsed.Header("Bcc"), "<absent>");
  EXPECT_EQ(parsed.Header("Subject"), "Pressure alarm on line 4");
  ASSERT_EQ(parsed.parts.size(), 1u);
  // Every line as written, line ends made CR LF, then the empty line that
  // the end-of-data sequence adds after the body's own last line end.
  EXPECT_EQ(parsed.parts[0],
            "first line\r\n.5 bar over limit\r\n.\r\n..two dots\r\nbare\r\nLF lines\r\n.\r\nbare\r\nCR\r\n"
            "last line\r\n\r\n");
  // The blind copy got the message through the envelope only.
  std::string envelope = ReadFile(stored[0].substr(0, stored[0].size() - 4) + ".json");
  EXPECT_NE(envelope.find("\"bcc@example.com\""), std::string::npos) << envelope;
  EXPECT_NE(envelope.find("\"authenticated\": true"), std::string::npos) << envelope;
}

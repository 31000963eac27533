// SPDX-License-Identifier: Apache-2.0
// The mail transaction against the scripted server: the exact transcript,
// refused recipients, every failure of the transaction, and the messages
// that are refused before anything is sent.
#include "mail/mail_message.h"
#include "smtp/smtp.h"

#include "tests/support/smtp_client.h"
#include "tests/support/smtp_dialogue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <unistd.h>

using namespace tarvenkel::test;

namespace {

// A whole transaction for the four recipients of Message(), the second
// RCPT TO answered with the given reply, then QUIT.
SmtpScript Accepting(const std::string& secondRecipientReply) {
  return Opened()
      .Reply("250 sender ok\r\n")
      .Reply("250 ok\r\n")
      .Reply(secondRecipientReply)
      .Reply("250 ok\r\n")
      .Reply("250 ok\r\n")
      .Reply("354 go ahead\r\n")
      .ReadData()
      .Send("250 queued\r\n")
      .Reply("221 bye\r\n");
}

std::unique_ptr<CSMTP> Connected(const ScriptedSmtpServer& server) {
  auto smtp = MakeClient({.port = server.port()});
  EXPECT_TRUE(smtp->Connect()) << smtp->GetLastError();
  return smtp;
}

// A message with two TO recipients, one CC and one BCC, added out of order.
std::unique_ptr<CMailMessage> Message() {
  auto msg = std::make_unique<CMailMessage>();
  msg->m_sFrom = "alarm@example.com";
  msg->m_sSubject = "Pressure alarm";
  msg->AddRecipient("bcc@example.com", "", CMailMessage::BCC);
  msg->AddRecipient("to1@example.com", "First");
  msg->AddRecipient("cc@example.com", "Copy", CMailMessage::CC);
  msg->AddRecipient("to2@example.com", "");
  msg->m_sBody = "a\r\n.\r\n.5 bar over limit\nb";
  return msg;
}

const std::string kEnvelope =
    "MAIL From: <alarm@example.com>\r\n"
    "RCPT TO: <to1@example.com>\r\n"
    "RCPT TO: <to2@example.com>\r\n"
    "RCPT TO: <cc@example.com>\r\n"
    "RCPT TO: <bcc@example.com>\r\n";

}  // namespace

TEST(SmtpTransaction, ExactTranscriptWithRecipientsInKindOrder) {
  ScriptedSmtpServer server(Accepting("250 ok\r\n"));
  auto smtp = Connected(server);
  auto msg = Message();
  ASSERT_TRUE(smtp->SendMessage(msg.get())) << smtp->GetLastError();
  EXPECT_TRUE(smtp->Disconnect());
  EXPECT_EQ(smtp->GetLastError().str(), "OK");
  // The header block has no bare line ends, so it goes out unchanged.
  ASSERT_EQ(msg->m_sHeader.Find("Bcc"), -1);
  EXPECT_EQ(server.Received(), kHelo + kEnvelope + "DATA\r\n" + msg->m_sHeader.str() +
                                   "a\r\n..\r\n..5 bar over limit\r\nb\r\n" + "\r\n.\r\n" + "QUIT\r\n");
}

TEST(SmtpTransaction, ARefusedRecipientDoesNotStopTheSend) {
  ScriptedSmtpServer server(Accepting("550 5.1.1 no such user\r\n"));
  auto smtp = Connected(server);
  auto msg = Message();
  EXPECT_TRUE(smtp->SendMessage(msg.get()));
  EXPECT_EQ(smtp->GetLastError().str(), "550:SMTP server error");
  CString address, reply;
  ASSERT_EQ(smtp->GetNumRefusedRecipients(), 1);
  EXPECT_TRUE(smtp->GetRefusedRecipient(0, address, reply));
  EXPECT_EQ(address.str(), "to2@example.com");
  EXPECT_EQ(reply.str(), "550 5.1.1 no such user");
  EXPECT_FALSE(smtp->GetRefusedRecipient(1, address, reply));
  EXPECT_TRUE(smtp->Disconnect());
  EXPECT_NE(server.Received().find("\r\n.\r\nQUIT\r\n"), std::string::npos);
}

// Every failure of the transaction returns 0 with its text and the server's
// reply, and leaves the connection open, so that Disconnect still sends QUIT.
// A transaction that fails after MAIL From was accepted is ended with RSET
// first.
TEST(SmtpTransaction, EachFailureOfTheTransaction) {
  struct Case {
    SmtpScript script;
    std::string error;
    std::string reply;        // GetLastReply
    std::string lastCommand;  // the last thing sent before RSET or QUIT
    bool resets;
  };
  const std::string rcpt250 = "250 ok\r\n";
  const std::string rset250 = "250 2.0.0 reset\r\n";
  Case cases[] = {
      {Opened().Reply("550 sender refused\r\n").Reply("221 bye\r\n"), "550:SMTP server error",
       "550 sender refused", "MAIL From: <alarm@example.com>\r\n", false},
      {Opened().Reply(rcpt250).Reply("550 a\r\n").Reply("550 b\r\n").Reply("550 c\r\n").Reply("550 d\r\n")
           .Reply("554-no valid\r\n554 recipients\r\n").Reply(rset250).Reply("221 bye\r\n"),
       "554:SMTP server not ready for data", "554-no valid\r\n554 recipients", "DATA\r\n", true},
      {Opened().Reply(rcpt250).Reply(rcpt250).Reply(rcpt250).Reply(rcpt250).Reply(rcpt250)
           .Reply("503 bad sequence\r\n").Reply(rset250).Reply("221 bye\r\n"),
       "503:SMTP server not ready for data", "503 bad sequence", "DATA\r\n", true},
      {Opened().Reply(rcpt250).Reply(rcpt250).Reply(rcpt250).Reply(rcpt250).Reply(rcpt250)
           .Reply("354 go\r\n").ReadData().Send("554 rejected as spam\r\n").Reply(rset250).Reply("221 bye\r\n"),
       "554:SMTP server error", "554 rejected as spam", "\r\n.\r\n", true},
  };
  for (Case& c : cases) {
    ScriptedSmtpServer server(c.script);
    auto smtp = Connected(server);
    auto msg = Message();
    EXPECT_FALSE(smtp->SendMessage(msg.get()));
    EXPECT_EQ(smtp->GetLastError().str(), c.error);
    EXPECT_EQ(smtp->GetLastReply().str(), c.reply);
    EXPECT_EQ(smtp->GetLastSocketError().str(), "");
    EXPECT_TRUE(smtp->Disconnect()) << smtp->GetLastError();
    std::string received = server.Received();
    const std::string tail = c.lastCommand + (c.resets ? "RSET\r\n" : "") + "QUIT\r\n";
    ASSERT_GE(received.size(), tail.size());
    EXPECT_EQ(received.substr(received.size() - tail.size()), tail);
  }
  // A connection reset during the transaction: the receive fails.
  ScriptedSmtpServer server(Opened().ReadLine().Reset());
  auto smtp = Connected(server);
  auto msg = Message();
  EXPECT_FALSE(smtp->SendMessage(msg.get()));
  EXPECT_EQ(smtp->GetLastError().str(), "Socket Error");
  EXPECT_EQ(smtp->GetLastSocketError().str(), "Connection reset by peer");
  EXPECT_FALSE(smtp->Disconnect());  // QUIT cannot be said; closed anyway
  EXPECT_TRUE(smtp->Disconnect());
}

TEST(SmtpTransaction, MessagesRefusedBeforeAnythingIsSent) {
  {
    CSMTP smtp;
    auto msg = Message();
    EXPECT_FALSE(smtp.SendMessage(msg.get()));
    EXPECT_EQ(smtp.GetLastError().str(), "Must be connected");
    EXPECT_TRUE(msg->m_sHeader.IsEmpty());  // not formatted
  }
  ScriptedSmtpServer server(Opened().Reply("221 bye\r\n"));
  auto smtp = Connected(server);

  CMailMessage onlyCopies;
  onlyCopies.m_sFrom = "alarm@example.com";
  onlyCopies.AddRecipient("cc@example.com", "", CMailMessage::CC);
  onlyCopies.AddRecipient("bcc@example.com", "", CMailMessage::BCC);
  EXPECT_FALSE(smtp->SendMessage(&onlyCopies));
  EXPECT_EQ(smtp->GetLastError().str(), "No Recipients");

  // Addresses that would inject commands into the envelope.
  auto badSender = Message();
  badSender->m_sFrom = "alarm@example.com>\r\nRCPT TO: <victim@example.com";
  EXPECT_FALSE(smtp->SendMessage(badSender.get()));
  EXPECT_EQ(smtp->GetLastError().str(), "Invalid address");
  const CMailMessage::RECIPIENTS_TYPE kinds[] = {CMailMessage::TO, CMailMessage::CC, CMailMessage::BCC};
  for (CMailMessage::RECIPIENTS_TYPE kind : kinds) {
    auto badRecipient = Message();
    badRecipient->AddRecipient("x@example.com>\nDATA", "", kind);
    EXPECT_FALSE(smtp->SendMessage(badRecipient.get()));
    EXPECT_EQ(smtp->GetLastError().str(), "Invalid address");
  }
  EXPECT_TRUE(smtp->Disconnect());
  EXPECT_EQ(server.Received(), kHelo + "QUIT\r\n");
}

// 251 (will forward) and 252 (cannot check, will try) accept a recipient. A
// failure that brings no reply after a refused recipient reports itself and
// leaves no reply beside it: the earlier 550 must not make a passing
// time-out look like a final refusal.
TEST(SmtpTransaction, RecipientRepliesAndFailuresAfterARefusal) {
  // Seconds of 50 ms, so that the time-out case waits half a second.
  struct ShortSeconds : CSMTP {
    ShortSeconds() { m_nTimeoutUnitMs = 50; }
  };
  const SmtpScript refused = Opened().Reply("250 sender ok\r\n").Reply("250 ok\r\n").Reply("550 5.1.1 no such user\r\n");
  struct Case {
    const char* name;
    SmtpScript script;
    BOOL sent;
    std::string error;
    int refused;
  } cases[] = {
      {"251 and 252",
       Opened().Reply("250 sender ok\r\n").Reply("251 2.1.5 will forward\r\n").Reply("252 2.1.5 cannot verify\r\n")
           .Reply("250 ok\r\n").Reply("250 ok\r\n").Reply("354 go ahead\r\n").ReadData().Send("250 queued\r\n")
           .Reply("221 bye\r\n"),
       TRUE, "OK", 0},
      {"time-out after a refusal", SmtpScript(refused).ReadLine().Silent(), FALSE, "Timed out", 1},
      {"reset after a refusal", SmtpScript(refused).ReadLine().Reset(), FALSE, "0:SMTP server not ready for data", 1},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedSmtpServer server(c.script);
    ShortSeconds smtp;
    smtp.SetParams("127.0.0.1", "alarm@example.com", server.port(), "", "");
    smtp.SetTimeout(10);
    ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
    auto msg = Message();
    EXPECT_EQ(smtp.SendMessage(msg.get()), c.sent);
    EXPECT_EQ(smtp.GetLastError().str(), c.error);
    EXPECT_EQ(smtp.GetLastReply().str(), "");
    EXPECT_EQ(smtp.GetNumRefusedRecipients(), c.refused);
    EXPECT_EQ(smtp.Disconnect(), c.sent);
  }
}

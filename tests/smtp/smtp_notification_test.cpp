// SPDX-License-Identifier: Apache-2.0
// The one-call notification: early refusal, the wait cursor, the connection
// state after every path, and a notification with attachments delivered to
// aiosmtpd and parsed back with Python's email package.
#include "framework/core/cmd_target.h"
#include "framework/core/string_array.h"
#include "mail/mail_message.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/smtp_client.h"
#include "tests/support/smtp_dialogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace tarvenkel::test;

namespace {

std::vector<int> g_cursorCalls;

void RecordCursor(int nCode, int) {
  g_cursorCalls.push_back(nCode);
}

// Greeting, HELO, and a transaction for one recipient; QUIT gets quitReply.
SmtpScript OneRecipient(const std::string& quitReply) {
  return Opened()
      .Reply("250 sender ok\r\n")
      .Reply("250 ok\r\n")
      .Reply("354 go\r\n")
      .ReadData()
      .Send("250 queued\r\n")
      .Reply(quitReply);
}

}  // namespace

TEST(SmtpNotification, EmptyRecipientListSendsNothing) {
  ScriptedSmtpServer server(Opened().Reply("221 bye\r\n"));
  CSMTP smtp;
  Configure(smtp, {.port = server.port()});
  AFX_WAIT_CURSOR_HANDLER previous = AfxSetWaitCursorHandler(RecordCursor);
  g_cursorCalls.clear();
  EXPECT_FALSE(smtp.SendMessage("", "body", "subject", nullptr));
  AfxSetWaitCursorHandler(previous);
  EXPECT_EQ(smtp.GetLastError().str(), "OK");
  // The wait cursor is begun and ended at once, even here.
  EXPECT_EQ(g_cursorCalls, (std::vector<int>{1, -1}));
  EXPECT_EQ(AfxGetApp()->GetWaitCursorCount(), 0);
  // An open connection stays open after the early return.
  ASSERT_TRUE(smtp.Connect());
  EXPECT_FALSE(smtp.SendMessage("", "", "", nullptr));
  EXPECT_TRUE(smtp.Disconnect());
  EXPECT_EQ(server.Received().find("MAIL"), std::string::npos);
}

TEST(SmtpNotification, EndsClosedOnEveryPath) {
  {
    // The server accepts the message but answers QUIT with 250: the send
    // counts, the QUIT failure is the text.
    ScriptedSmtpServer server(OneRecipient("250 what\r\n"));
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .sender = ""});
    EXPECT_TRUE(smtp.SendMessage("to@example.com", "", "", nullptr));
    EXPECT_EQ(smtp.GetLastError().str(), "250:SMTP server didn't terminate session");
    EXPECT_TRUE(smtp.Disconnect());  // already closed
    // An empty sender gives empty angle brackets.
    EXPECT_NE(server.Received().find("MAIL From: <>\r\nRCPT TO: <to@example.com>\r\n"), std::string::npos);
  }
  {
    // Already open: the message goes over that connection, which then closes.
    ScriptedSmtpServer server(OneRecipient("221 bye\r\n"));
    CSMTP smtp;
    Configure(smtp, {.port = server.port()});
    ASSERT_TRUE(smtp.Connect());
    EXPECT_TRUE(smtp.SendMessage("to@example.com", "text", "subject", nullptr));
    EXPECT_EQ(server.Received().substr(server.Received().size() - 6), "QUIT\r\n");
    EXPECT_TRUE(smtp.Disconnect());
  }
  {
    // A refused message: the send fails and the object is closed.
    ScriptedSmtpServer server(Opened().Reply("550 sender refused\r\n").Reply("221 bye\r\n"));
    CSMTP smtp;
    Configure(smtp, {.port = server.port()});
    EXPECT_FALSE(smtp.SendMessage("to@example.com", "text", "subject", nullptr));
    EXPECT_EQ(smtp.GetLastError().str(), "550:SMTP server error");
    EXPECT_NE(server.Received().find("QUIT\r\n"), std::string::npos);
  }
  {
    // No server: Connect's text.
    int port;
    {
      ScriptedSmtpServer gone{SmtpScript()};
      port = gone.port();
    }
    CSMTP smtp;
    Configure(smtp, {.port = port, .timeout = -1});
    EXPECT_FALSE(smtp.SendMessage("to@example.com", "text", "subject", nullptr));
    EXPECT_EQ(smtp.GetLastError().str(), "Unable to connect to server");
  }
}

// A derived class that formats the message itself, without the base
// FormatMailMessage, has its formatted text sent as it left it.
class CStampingSMTP : public CSMTP {
public:
  BOOL FormatMailMessage(CMailMessage* msg) override {
    msg->FormatMessage();
    msg->m_sHeader = "X-Site: hall 3\r\n" + msg->m_sHeader;
    return TRUE;
  }
};

TEST(SmtpNotification, ADerivedClassThatFormatsItselfSendsItsText) {
  ScriptedSmtpServer server(OneRecipient("221 bye\r\n"));
  CStampingSMTP smtp;
  smtp.SetParams("127.0.0.1", "alarm@example.com", server.port(), "", "");
  smtp.SetTimeout(10);
  EXPECT_TRUE(smtp.SendMessage("to@example.com", "text", "subject", nullptr)) << smtp.GetLastError();
  const std::string received = server.Received();
  EXPECT_NE(received.find("DATA\r\nX-Site: hall 3\r\n"), std::string::npos) << received;
  EXPECT_NE(received.find("\r\n.\r\nQUIT\r\n"), std::string::npos) << received;
}

// A notification with attachments of awkward sizes and names, sent to
// aiosmtpd with a login: the stored copy has the text part and every
// attachment decoding to the bytes of its file.
TEST(SmtpNotification, AttachmentsArriveByteIdentical) {
  LocalSmtpServer server("demo:secret");
  TempDir files;
  const std::string big = RandomBytes(1 << 20, 7);
  struct Attachment {
    std::string name;
    std::string bytes;
  };
  const std::vector<Attachment> attachments = {
      {"empty.bin", ""},
      {"one.bin", "\xff"},
      {"fifty four.dat", std::string(54, 'A')},
      {"fifty-five.dat", std::string(55, '\x01')},
      {"alarm log 1 MiB.bin", big},
  };
  CStringArray paths;
  for (const Attachment& a : attachments) {
    tarvenkel::test::WriteFile(files.file(a.name), a.bytes);
    paths.Add(files.file(a.name).c_str());
  }

  CSMTP smtp;
  Configure(smtp, {.port = server.port(), .user = "demo", .password = "secret", .timeout = 30});
  const char* body = "Pressure alarm on line 4.\r\n.5 bar over the limit since 03:12.";
  ASSERT_TRUE(smtp.SendMessage("Operator <op@example.com>;night@example.com", body, "Alarm 4711", &paths))
      << smtp.GetLastError();
  EXPECT_EQ(smtp.GetLastError().str(), "OK");

  std::vector<std::string> stored = server.Messages(1);
  ASSERT_EQ(stored.size(), 1u);
  ParsedMessage parsed = tarvenkel::test::ParseMessage(stored[0]);
  EXPECT_EQ(parsed.Header("From"), "alarm@example.com");
  EXPECT_EQ(parsed.Header("To"), "Operator <op@example.com>,<night@example.com>");
  EXPECT_EQ(parsed.Header("Subject"), "Alarm 4711");
  ASSERT_EQ(parsed.parts.size(), 1 + attachments.size());
  EXPECT_NE(parsed.parts[0].find(".5 bar over the limit"), std::string::npos) << parsed.parts[0];
  EXPECT_EQ(parsed.parts[0].rfind("Pressure alarm on line 4.", 0), 0u) << parsed.parts[0];
  for (std::size_t i = 0; i < attachments.size(); ++i) {
    EXPECT_EQ(parsed.parts[i + 1], attachments[i].bytes) << attachments[i].name;
    std::string line = "part " + std::to_string(i + 1) + " application/octet-stream " + attachments[i].name + " -";
    EXPECT_NE(std::find(parsed.lines.begin(), parsed.lines.end(), line), parsed.lines.end()) << line;
  }
  for (const std::string& line : parsed.lines) EXPECT_EQ(line.rfind("defect", 0), std::string::npos) << line;
}

TEST(SmtpNotification, EmptySubjectAndBodyBecomeHello) {
  LocalSmtpServer server;
  CSMTP smtp;
  Configure(smtp, {.port = server.port(), .timeout = 30});
  CStringArray none;
  ASSERT_TRUE(smtp.SendMessage("to@example.com", "", "", &none)) << smtp.GetLastError();
  std::vector<std::string> stored = server.Messages(1);
  ASSERT_EQ(stored.size(), 1u);
  ParsedMessage parsed = tarvenkel::test::ParseMessage(stored[0]);
  EXPECT_EQ(parsed.Header("Subject"), "Hello!");
  ASSERT_EQ(parsed.parts.size(), 1u);
  EXPECT_EQ(parsed.parts[0].rfind("Hello!", 0), 0u) << parsed.parts[0];
}

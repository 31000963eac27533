// SPDX-License-Identifier: Apache-2.0
// The short dialogue (SetShortDialogue): what a scripted server receives
// before it has answered anything, a large message in chunks to a server
// that answers after each one, and against Postfix and aiosmtpd the same
// delivered bytes as the full dialogue, a burst over one connection and a
// refused recipient in a group.
#include "framework/core/string_array.h"
#include "framework/net/socket_trace.h"
#include "mail/mail_message.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/postfix_server.h"
#include "tests/support/smtp_client.h"
#include "tests/support/smtp_dialogue.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <strings.h>

using namespace tarvenkel::test;

namespace {

// Lines a dot begins, a lone dot, a bare LF and a bare CR: what the data
// phase must carry unchanged.
const char kBody[] = ".hidden\r\nline\n.\r\nlast\rend";

// The message data in a transcript as the server stores it: the bytes after
// DATA up to the end-of-data line with the added dots taken out again, or
// the BDAT chunks joined.
std::string DataOf(const std::string& transcript) {
  std::string data;
  std::size_t at = transcript.find("BDAT ");
  if (at != std::string::npos) {
    for (bool last = false; !last && at != std::string::npos;) {
      std::size_t size = 0;
      const std::size_t lineEnd = transcript.find("\r\n", at);
      if (lineEnd == std::string::npos || std::sscanf(transcript.c_str() + at, "BDAT %zu", &size) != 1) return "";
      last = transcript.compare(lineEnd - 5, 5, " LAST") == 0;
      data += transcript.substr(lineEnd + 2, size);
      at = lineEnd + 2 + size;
    }
  } else {
    const std::size_t start = transcript.find("DATA\r\n");
    const std::size_t end = transcript.find("\r\n.\r\n", start);
    if (start == std::string::npos || end == std::string::npos) return "";
    std::string stuffed = transcript.substr(start + 6, end + 2 - start - 6);
    for (std::size_t line = 0; line < stuffed.size(); line = stuffed.find("\r\n", line) + 2) {
      if (stuffed[line] == '.') stuffed.erase(line, 1);
      if (stuffed.find("\r\n", line) == std::string::npos) break;
    }
    data = stuffed;
  }
  return data;
}

// The same without the Date and Message-ID lines, which differ from one run
// to the next.
std::string Payload(const std::string& transcript) {
  std::string data = DataOf(transcript);
  for (const char* field : {"\r\nDate: ", "\r\nMessage-ID: "}) {
    const std::size_t at = data.find(field);
    if (at != std::string::npos) data.erase(at + 2, data.find("\r\n", at + 2) + 2 - (at + 2));
  }
  return data;
}

// One one-call send to a scripted server with a time-out of 2 s: a client
// that waited for a reply the script sends only after later commands would
// fail with "Timed out".
struct OneCall {
  BOOL sent = FALSE;
  std::string error;
  std::string transcript;
};

OneCall SendOnce(SmtpScript script, bool shortDialogue, bool login, CStringArray* attachments = nullptr,
                 UINT timeout = 2) {
  ScriptedSmtpServer server(std::move(script));
  CSMTP smtp;
  Configure(smtp, {.port = server.port(), .user = login ? "user" : "", .password = login ? "secret" : "",
                   .shortDialogue = shortDialogue, .timeout = static_cast<int>(timeout)});
  OneCall result;
  result.sent = smtp.SendMessage("to@example.com", kBody, "Alarm", attachments);
  result.error = smtp.GetLastError().str();
  result.transcript = server.Received();
  return result;
}

// The full dialogue to a server offering everything, each reply after its command.
SmtpScript FullScript(bool login) {
  SmtpScript script;
  script.Send(kGreeting);
  if (login)
    script.Reply(kEverything).Reply(kUserPrompt).Reply(kPasswordPrompt).Reply("235 welcome\r\n");
  else
    script.Reply("250 test.example\r\n");
  return script.Reply("250 ok\r\n").Reply("250 ok\r\n").Reply("354 go ahead\r\n").ReadData().Send("250 queued\r\n")
      .Reply("221 bye\r\n");
}

TEST(ShortDialogue, OneCallSendWaitsOnlyForTheRepliesItNeeds) {
  const std::string host = HostName();
  const OneCall full = SendOnce(FullScript(false), false, false);
  ASSERT_TRUE(full.sent) << full.error;
  const std::string expectedData = Payload(full.transcript);
  ASSERT_FALSE(expectedData.empty()) << full.transcript;

  struct Case {
    const char* name;
    bool shortDialogue;
    bool login;
    SmtpScript script;
    std::string start;  // how the transcript must begin
    std::string end;    // and end
  } cases[] = {
      {"switch off, server offering everything, login", false, true, FullScript(true),
       "EHLO " + host + "\r\nAUTH LOGIN\r\ndXNlcg==\r\nc2VjcmV0\r\nMAIL From: <alarm@example.com>\r\n"
       "RCPT TO: <to@example.com>\r\nDATA\r\n",
       "\r\n.\r\nQUIT\r\n"},
      // MAIL, RCPT and DATA come before any of their replies; the data and
      // QUIT before the reply to the data.
      {"PIPELINING", true, false,
       SmtpScript()
           .Send(kGreeting)
           .Reply(kPipelining)
           .ReadLine()
           .ReadLine()
           .ReadLine()
           .Send("250 ok\r\n250 ok\r\n354 go ahead\r\n")
           .ReadData()
           .ReadLine()
           .Send("250 queued\r\n221 bye\r\n"),
       "EHLO " + host + "\r\nMAIL From: <alarm@example.com>\r\nRCPT TO: <to@example.com>\r\nDATA\r\n",
       "\r\n.\r\nQUIT\r\n"},
      // The login in one line; MAIL, RCPT, the whole message and QUIT
      // before any reply.
      {"PIPELINING, CHUNKING and AUTH PLAIN", true, true,
       SmtpScript()
           .Send(kGreeting)
           .Reply(kEverything)
           .Reply("235 welcome\r\n")
           .ReadLine()
           .ReadLine()
           .ReadChunk()
           .ReadLine()
           .Send("250 ok\r\n250 ok\r\n250 queued\r\n221 bye\r\n"),
       "EHLO " + host + "\r\nAUTH PLAIN AHVzZXIAc2VjcmV0\r\nMAIL From: <alarm@example.com>\r\n"
       "RCPT TO: <to@example.com>\r\nBDAT ",
       "\r\nQUIT\r\n"},
      // Without PIPELINING every command waits for its reply, QUIT too.
      {"CHUNKING alone", true, false,
       SmtpScript()
           .Send(kGreeting)
           .Reply(kChunkingOnly)
           .Reply("250 ok\r\n")
           .Reply("250 ok\r\n")
           .ReadChunk()
           .Send("250 queued\r\n")
           .Reply("221 bye\r\n"),
       "EHLO " + host + "\r\nMAIL From: <alarm@example.com>\r\nRCPT TO: <to@example.com>\r\nBDAT ", "QUIT\r\n"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const OneCall call = SendOnce(std::move(c.script), c.shortDialogue, c.login);
    EXPECT_TRUE(call.sent);
    EXPECT_EQ(call.error, "OK");
    EXPECT_EQ(call.transcript.substr(0, c.start.size()), c.start);
    EXPECT_TRUE(call.transcript.ends_with(c.end)) << call.transcript;
    EXPECT_EQ(Payload(call.transcript), expectedData);
  }
}

TEST(ShortDialogue, LargeMessageGoesInChunksToAServerAnsweringEachOne) {
  // A server that offers PIPELINING but answers only after each command
  // must not make the client wait for ever: the client reads the replies
  // while the message is still going out.
  TempDir dir;
  const std::string attachment = RandomBytes(3 * 1024 * 1024 + 5, 11);
  const std::string path = dir.file("trend.bin");
  WriteFile(path, attachment);
  CStringArray attachments;
  attachments.Add(path.c_str());

  const OneCall full = SendOnce(FullScript(false), false, false, &attachments, 20);
  ASSERT_TRUE(full.sent) << full.error;
  const std::string expectedData = Payload(full.transcript);
  for (const char* ehlo : {kEverything, kChunkingOnly}) {
    SCOPED_TRACE(ehlo);
    SmtpScript script = SmtpScript()
                            .Send(kGreeting)
                            .Reply(ehlo)
                            .Reply("250 ok\r\n")
                            .Reply("250 ok\r\n")
                            .AnswerChunks("250 2.0.0 chunk ok\r\n")
                            .Send("250 queued\r\n")
                            .Reply("221 bye\r\n");
    const OneCall call = SendOnce(std::move(script), true, false, &attachments, 20);
    EXPECT_TRUE(call.sent) << call.error;
    EXPECT_EQ(call.error, "OK");
    std::size_t chunks = 0;
    for (std::size_t at = call.transcript.find("\r\nBDAT "); at != std::string::npos;
         at = call.transcript.find("\r\nBDAT ", at + 1))
      ++chunks;
    // 4 MiB of base64 in chunks of what the client buffers (64 KiB or so).
    EXPECT_GT(chunks, 20u);
    EXPECT_TRUE(Payload(call.transcript) == expectedData) << "the chunks differ from the data of the full dialogue";
  }
}

// A class derived from CSMTP, whose one-call send formats the message whole
// (FormatMailMessage, transmit_message) rather than into the data phase; its
// seconds of time-out may be shortened.
struct DerivedSMTP : CSMTP {
  explicit DerivedSMTP(UINT nSecondMs = 1000) { m_nTimeoutUnitMs = nSecondMs; }
};

TEST(ShortDialogue, EveryWaitGetsTheWholeTimeOut) {
  // CHUNKING without PIPELINING: the reply to the first chunk comes after
  // 1.5 s, in two pieces, then the server waits 1.5 s before it reads the
  // next chunk, which is too large for the connection's buffers. Each wait
  // is within the time-out of 2.4 s (seconds of 400 ms), both together are
  // not.
  DerivedSMTP smtp(400);
  ScriptedSmtpServer server(SmtpScript()
                                .Send("220 test.example ESMTP\r\n")
                                .Reply(kChunkingOnly)
                                .Reply("250 ok\r\n")
                                .Reply("250 ok\r\n")
                                .ReadChunk()
                                .Pause(1500)
                                .Send("250 2.0.0 chunk ok\r\n", {4})
                                .Pause(1500)
                                .AnswerChunks("250 2.0.0 chunk ok\r\n")
                                .Send("250 queued\r\n")
                                .Reply("221 bye\r\n"));
  smtp.SetShortDialogue();
  smtp.SetTimeout(6);
  smtp.SetParams("127.0.0.1", "alarm@example.com", server.port(), "", "");
  CMailMessage msg;
  msg.m_sFrom = "alarm@example.com";
  msg.AddRecipient("to@example.com");
  std::string body;
  while (body.size() < 8 * 1024 * 1024) body += "Trend 17: 0.42 0.43 0.45 0.44 0.47 0.51 0.55 0.58\r\n";
  msg.m_sBody = body.c_str();
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.SendMessage(&msg)) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  EXPECT_EQ(smtp.GetLastError().str(), "OK");
}

// With SIZE in the short dialogue MAIL From declares the size of the data
// the server stores, in the one-call send that formats into the data phase
// (which counts it first) and in a derived class's formatted send; a
// message over the limit is not offered at all.
TEST(ShortDialogue, SizeIsDeclaredAndTheLimitKept) {
  tarvenkel::test::TempDir dir;
  const std::string path = dir.file("log.txt");
  tarvenkel::test::WriteFile(path, std::string(3000, 'x') + "\nbare LF\rbare CR\r\n");
  CStringArray attachments;
  attachments.Add(path.c_str());
  struct Case {
    const char* name;
    const char* ehlo;
    bool shortDialogue;
    bool declared;  // MAIL From carries SIZE=
    bool refused;   // the message is over the limit
  } cases[] = {
      {"limit", "250-test.example\r\n250 SIZE 10240000\r\n", true, true, false},
      {"no limit, grouped and chunked", "250-test.example\r\n250-PIPELINING\r\n250-CHUNKING\r\n250 SIZE\r\n",
       true, true, false},
      {"not offered", "250-test.example\r\n250 8BITMIME\r\n", true, false, false},
      {"full dialogue (EHLO for the login)", "250-test.example\r\n250-SIZE 10240000\r\n250 AUTH LOGIN\r\n", false,
       false, false},
      {"over the limit", "250-test.example\r\n250 SIZE 1000\r\n", true, false, true},
  };
  for (const Case& c : cases) {
    for (bool derived : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (derived ? ", derived class" : ""));
      SmtpScript script = SmtpScript().Send("220 test.example ESMTP\r\n").Reply(c.ehlo);
      if (!c.shortDialogue) script.Reply("334 VXNlcm5hbWU6\r\n").Reply("334 UGFzc3dvcmQ6\r\n").Reply("235 ok\r\n");
      if (c.refused)
        script.Reply("221 bye\r\n");
      else if (std::string(c.ehlo).find("CHUNKING") != std::string::npos)
        script.ReadLine().ReadLine().ReadChunk().Send("250 ok\r\n250 ok\r\n250 queued\r\n").Reply("221 bye\r\n");
      else
        script.Reply("250 ok\r\n").Reply("250 ok\r\n").Reply("354 go ahead\r\n").ReadData().Send("250 queued\r\n")
            .Reply("221 bye\r\n");
      ScriptedSmtpServer server(std::move(script));
      std::unique_ptr<CSMTP> smtp = derived ? std::make_unique<DerivedSMTP>() : std::make_unique<CSMTP>();
      smtp->SetShortDialogue(c.shortDialogue ? TRUE : FALSE);
      smtp->SetTimeout(2);
      smtp->SetParams("127.0.0.1", "alarm@example.com", server.port(), c.shortDialogue ? "" : "user",
                      c.shortDialogue ? "" : "secret");
      const BOOL sent = smtp->SendMessage("to@example.com", kBody, "Alarm", &attachments);
      const std::string error = smtp->GetLastError().str();
      const std::string transcript = server.Received();
      if (c.refused) {
        EXPECT_FALSE(sent);
        EXPECT_TRUE(error.starts_with("Message too large for the server: ") && error.ends_with(", limit 1000 bytes"))
            << error;
        EXPECT_EQ(smtp->GetLastReply().str(), "");
        EXPECT_EQ(transcript, "EHLO " + HostName() + "\r\nQUIT\r\n");
        continue;
      }
      EXPECT_TRUE(sent) << error;
      const std::size_t mail = transcript.find("MAIL From: <alarm@example.com>");
      ASSERT_NE(mail, std::string::npos) << transcript;
      const std::string mailLine = transcript.substr(mail, transcript.find("\r\n", mail) - mail);
      const std::size_t size = mailLine.find(" SIZE=");
      if (!c.declared) {
        EXPECT_EQ(size, std::string::npos) << mailLine;
        continue;
      }
      ASSERT_NE(size, std::string::npos) << mailLine;
      EXPECT_EQ(mailLine.substr(size + 6), std::to_string(DataOf(transcript).size()));
    }
  }
}

// What the sockets of the process write while the object lives, one string
// per write.
class RecordedWrites {
public:
  RecordedWrites() {
    AfxSetSocketTrace(
        [](BOOL bSent, const void* lpBuf, int nLength, void* pContext) {
          if (bSent) static_cast<RecordedWrites*>(pContext)->writes.emplace_back(static_cast<const char*>(lpBuf),
                                                                                 static_cast<std::size_t>(nLength));
        },
        this);
  }
  ~RecordedWrites() { AfxSetSocketTrace(nullptr, nullptr); }
  RecordedWrites(const RecordedWrites&) = delete;
  RecordedWrites& operator=(const RecordedWrites&) = delete;

  std::vector<std::string> writes;
};

// The stored message without the lines the server adds or that differ from
// one run to the next: its Received header, the Date and Message-Id lines.
std::string WithoutRunLines(const std::string& message) {
  std::string kept;
  bool received = false;
  for (std::size_t at = 0; at < message.size();) {
    std::size_t end = message.find('\n', at);
    end = end == std::string::npos ? message.size() : end + 1;
    const std::string line = message.substr(at, end - at);
    at = end;
    const bool continued = !line.empty() && (line[0] == ' ' || line[0] == '\t');
    received = line.starts_with("Received: ") || (received && continued);
    if (received || line.starts_with("Date: ") || strncasecmp(line.c_str(), "Message-Id: ", 12) == 0) continue;
    kept += line;
  }
  return kept;
}

std::unique_ptr<CMailMessage> Message(const std::vector<const char*>& to, const std::string& subject) {
  auto msg = std::make_unique<CMailMessage>();
  msg->m_sFrom = "alarm@example.com";
  msg->m_sSubject = subject.c_str();
  msg->m_sBody = kBody;
  for (const char* address : to) msg->AddRecipient(address, "");
  return msg;
}

TEST(ShortDialogue, PostfixGetsTheSameMessagesAndABurstOverOneConnection) {
  PostfixServer postfix;
  TempDir dir;
  const std::string path = dir.file("log.txt");
  WriteFile(path, ".\r\n..two dots\nbare LF\rbare CR\r\n.\r\n");
  CStringArray attachments;
  attachments.Add(path.c_str());

  // The same message by the full dialogue and by the short one, which
  // Postfix lets go out in one write: envelope, the message in one chunk,
  // and QUIT.
  for (BOOL shortDialogue : {FALSE, TRUE}) {
    RecordedWrites recorded;
    CSMTP smtp;
    Configure(smtp, {.port = postfix.port(), .shortDialogue = shortDialogue == TRUE, .timeout = 20});
    ASSERT_TRUE(smtp.SendMessage("ops@example.com", kBody, "Alarm", &attachments)) << smtp.GetLastError();
    const std::vector<std::string>& writes = recorded.writes;
    ASSERT_EQ(writes.size(), shortDialogue ? 2u : 6u);
    if (shortDialogue) {
      // Postfix offers SIZE: the declared size is that of the one chunk.
      std::size_t declared = 0;
      std::size_t chunk = 0;
      EXPECT_EQ(std::sscanf(writes[1].c_str(),
                            "MAIL From: <alarm@example.com> SIZE=%zu\r\nRCPT TO: <ops@example.com>\r\nBDAT %zu LAST",
                            &declared, &chunk),
                2)
          << writes[1];
      EXPECT_EQ(declared, chunk);
      EXPECT_TRUE(writes[1].ends_with("--\r\n\r\nQUIT\r\n")) << writes[1];
    }
  }
  std::vector<std::string> delivered = postfix.Messages();
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(WithoutRunLines(delivered[1]), WithoutRunLines(delivered[0]));
  EXPECT_NE(delivered[0].find("\n.hidden\nline\n.\nlast\nend\n"), std::string::npos) << delivered[0];

  // A burst over one connection: a refused recipient beside an accepted one
  // lets the message through with the refusal in the texts; a message whose
  // only recipient is refused fails as DATA would, and the next goes on.
  const std::size_t before = postfix.Messages().size();
  CSMTP smtp;
  Configure(smtp, {.port = postfix.port(), .shortDialogue = true, .timeout = 20});
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  const int kBurst = 20;
  int accepted = 0;
  for (int i = 0; i < kBurst; ++i) {
    SCOPED_TRACE(i);
    const std::string subject = "Burst " + std::to_string(i);
    if (i == 5) {
      auto refused = Message({PostfixServer::kRefused}, subject);
      EXPECT_FALSE(smtp.SendMessage(refused.get()));
      EXPECT_EQ(smtp.GetLastError().str(), "554:SMTP server not ready for data");
      EXPECT_EQ(smtp.GetLastReply().Left(3).str(), "554") << smtp.GetLastReply();
      continue;
    }
    auto msg = i == 3 ? Message({"ops@example.com", PostfixServer::kRefused, "desk@example.com"}, subject)
                      : Message({"ops@example.com"}, subject);
    EXPECT_TRUE(smtp.SendMessage(msg.get())) << smtp.GetLastError();
    ++accepted;
    if (i == 3) {
      EXPECT_EQ(smtp.GetLastError().str(), "550:SMTP server error");
      EXPECT_EQ(smtp.GetLastReply().Left(9).str(), "550 5.1.1") << smtp.GetLastReply();
    }
  }
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  const std::vector<std::string> messages = postfix.Messages();
  EXPECT_EQ(messages.size(), before + static_cast<std::size_t>(accepted));
  int withTwoRecipients = 0;
  for (const std::string& message : messages)
    if (message.find("Subject: Burst 3\n") != std::string::npos &&
        message.find("desk@example.com") != std::string::npos)
      ++withTwoRecipients;
  EXPECT_EQ(withTwoRecipients, 1);
}

TEST(ShortDialogue, AiosmtpdOverStartTlsLogsInWithPlainAndStoresTheSameBytes) {
  // aiosmtpd offers neither PIPELINING nor CHUNKING: the short dialogue
  // there is EHLO and AUTH PLAIN. Told to offer PIPELINING, it serves
  // MAIL, RCPT and DATA written at once, and the data with QUIT.
  TestCertificates certs;
  const std::vector<std::string> tls = {"--tls-cert", certs.ServerCert(), "--tls-key", certs.ServerKey()};
  for (bool pipelining : {false, true}) {
    SCOPED_TRACE(pipelining ? "offering PIPELINING" : "as it comes");
    std::vector<std::string> args = tls;
    if (pipelining) args.push_back("--pipelining");
    LocalSmtpServer server("demo:secret", args);
    std::vector<std::string> stored;
    for (BOOL shortDialogue : {FALSE, TRUE}) {
      SCOPED_TRACE(shortDialogue);
      RecordedWrites recorded;
      CSMTP smtp;
      Configure(smtp, {.port = server.port(), .user = "demo", .password = "secret", .security = CSMTP::SECURITY_STARTTLS,
                       .caFile = certs.CAFile(), .shortDialogue = shortDialogue == TRUE, .timeout = 20,
                       .host = "localhost"});
      ASSERT_TRUE(smtp.SendMessage("ops@example.com", kBody, "Alarm", nullptr)) << smtp.GetLastError();
      EXPECT_EQ(smtp.GetLastError().str(), "OK");
      const std::vector<std::string> messages = server.Messages(stored.size() + 1);
      ASSERT_EQ(messages.size(), stored.size() + 1);
      stored.push_back(WithoutRunLines(ReadFile(messages.back())));
      const std::vector<std::string>& writes = recorded.writes;
      const bool grouped =
          std::find(writes.begin(), writes.end(),
                    "MAIL From: <alarm@example.com>\r\nRCPT TO: <ops@example.com>\r\nDATA\r\n") != writes.end();
      EXPECT_EQ(grouped, pipelining && shortDialogue);
      EXPECT_EQ(!writes.empty() && writes.back().ends_with("\r\n.\r\nQUIT\r\n"), pipelining && shortDialogue);
    }
    EXPECT_EQ(server.AuthLog(), "LOGIN tls ok\nPLAIN tls ok\n");
    EXPECT_EQ(stored[1], stored[0]);
  }
}

}  // namespace

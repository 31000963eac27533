// SPDX-License-Identifier: Apache-2.0
// The protected dialogue against a scripted server, which speaks no TLS:
// what travels in plain text before the handshake, the choice of login
// mechanism from the EHLO reply, a server without STARTTLS, one that injects
// bytes after its 220, and a handshake that never gets an answer, ended by
// the time-out or by Cancel.
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

// A client of the scripted server that logs in as user with password secret.
std::unique_ptr<CSMTP> ClientOf(const ScriptedSmtpServer& server, CSMTP::SECURITY_MODE mode, int timeout = 10) {
  return MakeClient({.port = server.port(), .user = "user", .password = "secret", .security = mode, .timeout = timeout});
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A TLS handshake record: content type 22, protocol major version 3.
bool IsTlsHandshakeRecord(const std::string& bytes) {
  return bytes.size() >= 5 && bytes[0] == '\x16' && bytes[1] == '\x03';
}

}  // namespace

TEST(SmtpSecurity, Defaults) {
  CSMTP smtp;
  EXPECT_EQ(smtp.GetSecurity(), CSMTP::SECURITY_NONE);
  EXPECT_TRUE(smtp.GetVerifyPeer());
  EXPECT_EQ(smtp.GetCAFile().str(), "");
  EXPECT_TRUE(smtp.GetPlaintextLogin());
  smtp.SetPlaintextLogin(FALSE);
  EXPECT_FALSE(smtp.GetPlaintextLogin());
  smtp.SetSecurity(CSMTP::SECURITY_TLS);
  smtp.SetCAFile("/etc/ssl/certs/ca-certificates.crt");
  smtp.SetVerifyPeer(FALSE);
  EXPECT_EQ(smtp.GetSecurity(), CSMTP::SECURITY_TLS);
  EXPECT_EQ(smtp.GetCAFile().str(), "/etc/ssl/certs/ca-certificates.crt");
  EXPECT_FALSE(smtp.GetVerifyPeer());
}

TEST(SmtpSecurity, NoCredentialTravelsBeforeTheHandshake) {
  // The server offers STARTTLS and AUTH LOGIN in plain text, agrees to
  // STARTTLS, and then never answers the client's hello in TLS.
  ScriptedSmtpServer server(SmtpScript()
                                .Send(kGreeting)
                                .Reply("250-test.example\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN\r\n")
                                .Reply("220 go ahead\r\n")
                                .Silent());
  auto smtp = ClientOf(server, CSMTP::SECURITY_STARTTLS, 1);
  EXPECT_FALSE(smtp->Connect());
  EXPECT_EQ(smtp->GetLastError().str(), "TLS handshake failed: timed out");
  EXPECT_TRUE(smtp->Disconnect());  // closed: nothing more is sent
  EXPECT_EQ(smtp->GetLastError().str(), "TLS handshake failed: timed out");

  const std::string received = server.Received();
  const std::string plain = kEhlo + "STARTTLS\r\n";
  ASSERT_TRUE(StartsWith(received, plain)) << received;
  // Everything after STARTTLS is the start of the handshake.
  EXPECT_TRUE(IsTlsHandshakeRecord(received.substr(plain.size())));
  for (const std::string& secret : {std::string("AUTH"), kUserLine, kPasswordLine, std::string("user"),
                                    std::string("secret"), std::string("AHVzZXIAc2VjcmV0")})
    EXPECT_EQ(received.find(secret), std::string::npos) << secret;
}

TEST(SmtpSecurity, AServerWithoutStartTlsGetsNoCredentials) {
  struct Case {
    const char* name;
    SmtpScript script;
    std::string sent;
  };
  Case cases[] = {
      {"EHLO lists no STARTTLS",
       SmtpScript().Send(kGreeting).Reply("250-test.example\r\n250 AUTH LOGIN\r\n").Silent(), kEhlo},
      // A server that knows no EHLO cannot know STARTTLS either.
      {"EHLO refused", SmtpScript().Send(kGreeting).Reply("502 what?\r\n").Reply("250 hello\r\n").Silent(),
       kEhlo + "HELO " + HostName() + "\r\n"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedSmtpServer server(c.script);
    auto smtp = ClientOf(server, CSMTP::SECURITY_STARTTLS);
    EXPECT_FALSE(smtp->Connect());
    EXPECT_EQ(smtp->GetLastError().str(), "Server does not offer STARTTLS");
    EXPECT_EQ(server.Received(), c.sent);
  }
}

TEST(SmtpSecurity, StartTlsWhenOfferedStaysPlainWithoutTheOfferAndRefusesAPlainLogin) {
  // Without STARTTLS in the EHLO reply the connection stays plain; a login
  // then goes only where SetPlaintextLogin allows it.
  const std::string ehlo = "250-test.example\r\n250 AUTH LOGIN PLAIN\r\n";
  {
    ScriptedSmtpServer server(SmtpScript().Send(kGreeting).Reply(ehlo).Silent());
    auto smtp = ClientOf(server, CSMTP::SECURITY_STARTTLS_OFFERED);
    smtp->SetPlaintextLogin(FALSE);
    EXPECT_FALSE(smtp->Connect());
    EXPECT_EQ(smtp->GetLastError().str(), "Login refused: the connection is not encrypted");
    EXPECT_EQ(server.Received(), kEhlo);
  }
  ScriptedSmtpServer server(
      SmtpScript().Send(kGreeting).Reply(ehlo).Reply("334 VXNlcm5hbWU6\r\n").Reply("334 UGFzc3dvcmQ6\r\n")
          .Reply("235 ok\r\n").Reply("221 bye\r\n").Close());
  auto smtp = ClientOf(server, CSMTP::SECURITY_STARTTLS_OFFERED);
  EXPECT_TRUE(smtp->Connect()) << smtp->GetLastError();
  EXPECT_TRUE(smtp->Disconnect());
  EXPECT_EQ(server.Received(), kEhlo + "AUTH LOGIN\r\n" + kUserLine + kPasswordLine + "QUIT\r\n");
}

TEST(SmtpSecurity, StartTlsRefusedOrFollowedByInjectedReplies) {
  const std::string offer = "250-test.example\r\n250 STARTTLS\r\n";
  struct Case {
    const char* name;
    std::string reply;
    std::string error;
  };
  Case cases[] = {
      {"refused", "454 TLS not available now\r\n", "454:SMTP server refused STARTTLS"},
      // Bytes behind the 220 came in plain text; taken as TLS replies they
      // would let a man in the middle answer the commands sent over TLS.
      {"injected", "220 go ahead\r\n250 AUTH LOGIN\r\n", "TLS handshake failed: the server sent data before the handshake"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedSmtpServer server(SmtpScript().Send(kGreeting).Reply(offer).Reply(c.reply).Silent());
    auto smtp = ClientOf(server, CSMTP::SECURITY_STARTTLS);
    EXPECT_FALSE(smtp->Connect());
    EXPECT_EQ(smtp->GetLastError().str(), c.error);
    EXPECT_EQ(server.Received(), kEhlo + "STARTTLS\r\n");
  }
}

TEST(SmtpSecurity, HandshakeClosedByTheServer) {
  ScriptedSmtpServer server(SmtpScript().ReadLine().Close());
  auto smtp = ClientOf(server, CSMTP::SECURITY_TLS);
  EXPECT_FALSE(smtp->Connect());
  EXPECT_TRUE(StartsWith(smtp->GetLastError().str(), "TLS handshake failed: ")) << smtp->GetLastError();
  EXPECT_GT(smtp->GetLastError().GetLength(), 22);  // with OpenSSL's or the socket's reason
}

TEST(SmtpSecurity, ImplicitTlsHandshakeEndedByTheTimeout) {
  // The server accepts TCP and never speaks.
  ScriptedSmtpServer server(SmtpScript().Silent());
  auto smtp = ClientOf(server, CSMTP::SECURITY_TLS, 1);
  ExpectConnectTimesOut(*smtp, "TLS handshake failed: timed out");
  // From the first byte on, nothing but TLS went out.
  EXPECT_TRUE(IsTlsHandshakeRecord(server.Received()));
  EXPECT_TRUE(smtp->Disconnect());
}

TEST(SmtpSecurity, HandshakeEndedByCancelFromAnotherThread) {
  struct Case {
    CSMTP::SECURITY_MODE mode;
    SmtpScript script;
  };
  Case cases[] = {
      {CSMTP::SECURITY_TLS, SmtpScript().Silent()},
      {CSMTP::SECURITY_STARTTLS,
       SmtpScript().Send(kGreeting).Reply("250-test.example\r\n250 STARTTLS\r\n").Reply("220 go ahead\r\n").Silent()},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.mode);
    ScriptedSmtpServer server(c.script);
    auto smtp = ClientOf(server, c.mode, 300);
    auto start = std::chrono::steady_clock::now();
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      smtp->Cancel();
    });
    EXPECT_FALSE(smtp->Connect());
    canceller.join();
    EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(5.0));
    EXPECT_EQ(smtp->GetLastError().str(), "TLS handshake failed: cancelled");
    EXPECT_TRUE(smtp->Disconnect());
    EXPECT_EQ(smtp->GetLastError().str(), "TLS handshake failed: cancelled");
  }
}

TEST(SmtpSecurity, LoginMechanismFollowsTheEhloReply) {
  const std::string loginDialogue = "AUTH LOGIN\r\n" + kUserLine + kPasswordLine;
  struct Case {
    const char* extensions;
    std::string login;
  };
  Case cases[] = {
      {"250 AUTH PLAIN CRAM-MD5\r\n", kPlainLogin},
      {"250-AUTH plain\r\n250 SIZE 1000\r\n", kPlainLogin},  // keywords in any case
      {"250 AUTH=PLAIN\r\n", kPlainLogin},                    // the old form
      {"250 AUTH LOGIN PLAIN\r\n", loginDialogue},
      {"250-AUTH PLAIN\r\n250 AUTH=LOGIN\r\n", loginDialogue},
      {"250 SIZE 1000\r\n", loginDialogue},           // no mechanisms listed
      {"250 AUTH CRAM-MD5\r\n", loginDialogue},       // none we know: as before
      {"250 XAUTH PLAIN\r\n", loginDialogue},         // not the AUTH keyword
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.extensions);
    SmtpScript script;
    script.Send(kGreeting).Reply("250-test.example\r\n" + std::string(c.extensions));
    if (c.login == kPlainLogin)
      script.Reply("235 ok\r\n");
    else
      script.Reply(kUserPrompt).Reply(kPasswordPrompt).Reply("235 ok\r\n");
    script.Reply("221 bye\r\n");
    ScriptedSmtpServer server(script);
    auto smtp = ClientOf(server, CSMTP::SECURITY_NONE);
    ASSERT_TRUE(smtp->Connect()) << smtp->GetLastError();
    EXPECT_TRUE(smtp->Disconnect()) << smtp->GetLastError();
    EXPECT_EQ(server.Received(), kEhlo + c.login + "QUIT\r\n");
  }
}

TEST(SmtpSecurity, AuthPlainRefusedOrWithEmptyCredentials) {
  {
    ScriptedSmtpServer server(
        SmtpScript().Send(kGreeting).Reply("250-test.example\r\n250 AUTH PLAIN\r\n").Reply("535 no\r\n").Silent());
    auto smtp = ClientOf(server, CSMTP::SECURITY_NONE);
    EXPECT_FALSE(smtp->Connect());
    EXPECT_EQ(smtp->GetLastError().str(), "535:SMTP AUTH FAILED");
    EXPECT_EQ(server.Received(), kEhlo + kPlainLogin);
  }
  {
    // An empty user with a password: two NULs around nothing, then the password.
    ScriptedSmtpServer server(
        SmtpScript().Send(kGreeting).Reply("250-test.example\r\n250 AUTH PLAIN\r\n").Reply("235 ok\r\n").Silent());
    auto smtp = MakeClient({.port = server.port(), .password = "secret"});
    ASSERT_TRUE(smtp->Connect()) << smtp->GetLastError();
    smtp->Cancel();
    EXPECT_EQ(server.Received(), kEhlo + "AUTH PLAIN AABzZWNyZXQ=\r\n");
  }
}

TEST(SmtpSecurity, TokenLoginIsOneCommandAndEndsAnErrorChallenge) {
  // "user=u ^A auth=Bearer t ^A ^A" and "n,a=u, ^A host=127.0.0.1 ^A port=P ^A auth=Bearer t ^A ^A", in base64.
  const std::string xoauth2 = "AUTH XOAUTH2 dXNlcj11AWF1dGg9QmVhcmVyIHQBAQ==\r\n";
  // {"status":"invalid_token"}
  const std::string challenge = "334 eyJzdGF0dXMiOiJpbnZhbGlkX3Rva2VuIn0=\r\n";
  struct Case {
    const char* extensions;
    const char* reply;  // to the AUTH command
    std::string sent;   // after EHLO: what the client says up to the final reply
    std::string error;
  };
  const Case cases[] = {
      {"250 AUTH PLAIN XOAUTH2\r\n", "235 ok\r\n", xoauth2, "OK"},
      {"250 AUTH PLAIN XOAUTH2\r\n", challenge.c_str(), xoauth2 + "\r\n", "535:SMTP AUTH FAILED (invalid_token)"},
      {"250 AUTH XOAUTH2 OAUTHBEARER\r\n", challenge.c_str(), "AUTH OAUTHBEARER ", "535:SMTP AUTH FAILED (invalid_token)"},
      {"250 AUTH XOAUTH2\r\n", "535 5.7.3 no\r\n", xoauth2, "535:SMTP AUTH FAILED"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extensions + std::string(c.reply));
    SmtpScript script;
    script.Send(kGreeting).Reply("250-test.example\r\n" + std::string(c.extensions)).Reply(c.reply);
    if (c.reply == challenge) script.Reply("535 5.7.8 refused\r\n");
    ScriptedSmtpServer server(script.Silent());
    auto smtp = MakeClient({.port = server.port(), .user = "u", .token = "t"});
    EXPECT_EQ(smtp->Connect(), c.error == "OK");
    EXPECT_EQ(smtp->GetLastError().str(), c.error);
    smtp->Cancel();
    const std::string received = server.Received();
    ASSERT_TRUE(StartsWith(received, kEhlo + c.sent)) << received;
    if (StartsWith(c.sent, "AUTH OAUTHBEARER")) EXPECT_TRUE(received.ends_with("\r\nAQ==\r\n")) << received;
    else EXPECT_EQ(received, kEhlo + c.sent);
  }
}

// SPDX-License-Identifier: Apache-2.0
// The protected session against Debian's aiosmtpd with TLS, using a test CA
// and server certificates made for the run: STARTTLS and implicit TLS, each
// with AUTH LOGIN and AUTH PLAIN; certificates from an unknown CA or for
// another name rejected; a server without STARTTLS; a notification with a
// large attachment sent in one call over TLS; a pinned self-signed
// certificate, a name to check apart from the address, and a server that
// requires a client certificate.
#include "framework/core/string_array.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/smtp_client.h"
#include "tests/support/test_certificates.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tarvenkel::test;

namespace {

class SmtpOverTls : public testing::Test {
protected:
  static void SetUpTestSuite() {
    s_certs = new TestCertificates();
    const std::vector<std::string> tls = {"--tls-cert", s_certs->ServerCert(), "--tls-key", s_certs->ServerKey()};
    const std::vector<std::string> plainOnly = {"--auth-exclude", "LOGIN"};
    s_startTls = new LocalSmtpServer("demo:secret", tls);
    s_startTlsPlainOnly = new LocalSmtpServer("demo:secret", Join(tls, plainOnly));
    s_implicit = new LocalSmtpServer("demo:secret", Join(tls, {"--implicit-tls"}));
    s_implicitPlainOnly = new LocalSmtpServer("demo:secret", Join(Join(tls, {"--implicit-tls"}), plainOnly));
    s_otherName = new LocalSmtpServer(
        "demo:secret", {"--tls-cert", s_certs->OtherNameCert(), "--tls-key", s_certs->OtherNameKey(), "--implicit-tls"});
    s_noTls = new LocalSmtpServer("demo:secret");
    s_selfSigned = new LocalSmtpServer(
        "demo:secret", {"--tls-cert", s_certs->SelfSignedCert(), "--tls-key", s_certs->SelfSignedKey(), "--implicit-tls"});
    s_clientCert = new LocalSmtpServer("demo:secret", Join(tls, {"--tls-client-ca", s_certs->OtherCAFile()}));
  }
  static void TearDownTestSuite() {
    for (LocalSmtpServer* server : {s_startTls, s_startTlsPlainOnly, s_implicit, s_implicitPlainOnly, s_otherName, s_noTls,
                                    s_selfSigned, s_clientCert})
      delete server;
    delete s_certs;
  }

  // Connects, logs in and disconnects with the test CA trusted; returns the
  // lines the server logged for that login.
  // A client given keeps its TLS settings.
  static std::string LoginThrough(LocalSmtpServer& server, CSMTP::SECURITY_MODE mode, const char* host = "127.0.0.1",
                                  CSMTP* client = nullptr) {
    const std::string before = server.AuthLog();
    CSMTP own;
    CSMTP& smtp = client != nullptr ? *client : own;
    Configure(smtp, {.port = server.port(), .user = "demo", .password = "secret", .security = mode,
                     .caFile = s_certs->CAFile(), .timeout = 20, .host = host});
    EXPECT_TRUE(smtp.Connect()) << smtp.GetLastError();
    EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
    EXPECT_EQ(smtp.GetLastError().str(), "OK");
    return server.AuthLog().substr(before.size());
  }

  // Connect fails with the text, and the object is left closed.
  static void ExpectRefused(CSMTP& smtp, const std::string& error) {
    EXPECT_FALSE(smtp.Connect());
    EXPECT_EQ(smtp.GetLastError().str(), error);
    EXPECT_TRUE(smtp.Disconnect());  // nothing open: no QUIT, no new error
    EXPECT_EQ(smtp.GetLastError().str(), error);
  }

  inline static TestCertificates* s_certs = nullptr;
  inline static LocalSmtpServer* s_startTls = nullptr;
  inline static LocalSmtpServer* s_startTlsPlainOnly = nullptr;
  inline static LocalSmtpServer* s_implicit = nullptr;
  inline static LocalSmtpServer* s_implicitPlainOnly = nullptr;
  inline static LocalSmtpServer* s_otherName = nullptr;
  inline static LocalSmtpServer* s_noTls = nullptr;
  inline static LocalSmtpServer* s_selfSigned = nullptr;  // implicit TLS
  inline static LocalSmtpServer* s_clientCert = nullptr;  // STARTTLS, a client certificate of the other CA required
};

}  // namespace

TEST_F(SmtpOverTls, StartTlsThenLogin) {
  // The STARTTLS servers take no login in plain text, so a login that
  // succeeds went through TLS; the server's log says so as well.
  EXPECT_EQ(LoginThrough(*s_startTls, CSMTP::SECURITY_STARTTLS), "LOGIN tls ok\n");
  EXPECT_EQ(LoginThrough(*s_startTlsPlainOnly, CSMTP::SECURITY_STARTTLS), "PLAIN tls ok\n");
  // By name: the certificate's DNS name and the name sent with the hello.
  EXPECT_EQ(LoginThrough(*s_startTls, CSMTP::SECURITY_STARTTLS, "localhost"), "LOGIN tls ok\n");
}

TEST_F(SmtpOverTls, StartTlsWhenOfferedUpgradesBeforeTheLogin) {
  EXPECT_EQ(LoginThrough(*s_startTls, CSMTP::SECURITY_STARTTLS_OFFERED), "LOGIN tls ok\n");
}

TEST_F(SmtpOverTls, ImplicitTlsThenLogin) {
  EXPECT_EQ(LoginThrough(*s_implicit, CSMTP::SECURITY_TLS), "LOGIN tls ok\n");
  EXPECT_EQ(LoginThrough(*s_implicitPlainOnly, CSMTP::SECURITY_TLS), "PLAIN tls ok\n");
  EXPECT_EQ(LoginThrough(*s_implicitPlainOnly, CSMTP::SECURITY_TLS, "localhost"), "PLAIN tls ok\n");
}

TEST_F(SmtpOverTls, WithoutCredentialsAndWithAWrongPassword) {
  for (LocalSmtpServer* server : {s_startTls, s_implicit}) {
    CSMTP smtp;
    Configure(smtp, {.port = server->port(),
                     .security = server == s_startTls ? CSMTP::SECURITY_STARTTLS : CSMTP::SECURITY_TLS,
                     .caFile = s_certs->CAFile(), .timeout = 20});
    ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
    EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
    smtp.SetParams("127.0.0.1", "alarm@example.com", server->port(), "demo", "wrong");
    ExpectRefused(smtp, "535:SMTP AUTH FAILED");
  }
}

TEST_F(SmtpOverTls, CertificateFromAnUnknownCAIsRejected) {
  for (CSMTP::SECURITY_MODE mode : {CSMTP::SECURITY_STARTTLS, CSMTP::SECURITY_TLS}) {
    LocalSmtpServer& server = mode == CSMTP::SECURITY_STARTTLS ? *s_startTls : *s_implicit;
    const std::string before = server.AuthLog();
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .user = "demo", .password = "secret", .security = mode, .timeout = 20});
    // The system's trust store does not know the test CA ...
    ExpectRefused(smtp, "Server certificate rejected: unable to get local issuer certificate");
    // ... nor does a CA file of another CA.
    smtp.SetCAFile(s_certs->OtherCAFile().c_str());
    ExpectRefused(smtp, "Server certificate rejected: unable to get local issuer certificate");
    EXPECT_EQ(server.AuthLog(), before);
    // Without verification the same server is accepted.
    smtp.SetVerifyPeer(FALSE);
    ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
    EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  }
}

TEST_F(SmtpOverTls, CertificateForAnotherNameIsRejected) {
  CSMTP smtp;
  Configure(smtp, {.port = s_otherName->port(), .user = "demo", .password = "secret", .security = CSMTP::SECURITY_TLS,
                   .caFile = s_certs->CAFile(), .timeout = 20});
  ExpectRefused(smtp, "Server certificate rejected: IP address mismatch");
  smtp.SetParams("localhost", "alarm@example.com", s_otherName->port(), "demo", "secret");
  ExpectRefused(smtp, "Server certificate rejected: hostname mismatch");
  EXPECT_EQ(s_otherName->AuthLog(), "");
  smtp.SetVerifyPeer(FALSE);
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  EXPECT_EQ(s_otherName->AuthLog(), "LOGIN tls ok\n");
}

TEST_F(SmtpOverTls, ServerWithoutTls) {
  CSMTP smtp;
  Configure(smtp, {.port = s_noTls->port(), .user = "demo", .password = "secret", .security = CSMTP::SECURITY_STARTTLS,
                   .caFile = s_certs->CAFile(), .timeout = 20});
  ExpectRefused(smtp, "Server does not offer STARTTLS");
  EXPECT_EQ(s_noTls->AuthLog(), "");
  // Speaking TLS to a plain server: the server's plain answer is no TLS.
  smtp.SetSecurity(CSMTP::SECURITY_TLS);
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.GetLastError().Left(22).str(), "TLS handshake failed: ");
  EXPECT_GT(smtp.GetLastError().GetLength(), 22);
  EXPECT_EQ(s_noTls->AuthLog(), "");
}

TEST_F(SmtpOverTls, UnreadableCAFile) {
  CSMTP smtp;
  Configure(smtp, {.port = s_implicit->port(), .user = "demo", .password = "secret", .security = CSMTP::SECURITY_TLS,
                   .caFile = "/nonexistent/ca.pem", .timeout = 20});
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.GetLastError().Left(58).str(), "TLS handshake failed: cannot load the CA file /nonexistent");
}

TEST_F(SmtpOverTls, NotificationWithALargeAttachmentInOneCall) {
  // Some megabytes of random bytes: many TLS records, and sends that fill
  // the socket buffer and must wait for the server to read.
  TempDir dir;
  const std::string payload = RandomBytes(3 * 1024 * 1024 + 17, 7);
  const std::string path = dir.file("trend.bin");
  WriteFile(path, payload);

  for (CSMTP::SECURITY_MODE mode : {CSMTP::SECURITY_STARTTLS, CSMTP::SECURITY_TLS}) {
    SCOPED_TRACE(mode);
    LocalSmtpServer& server = mode == CSMTP::SECURITY_STARTTLS ? *s_startTls : *s_implicit;
    const std::size_t before = server.Messages(0, 0).size();
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .user = "demo", .password = "secret", .security = mode,
                     .caFile = s_certs->CAFile(), .timeout = 60, .host = "localhost"});
    CStringArray attachments;
    attachments.Add(path.c_str());
    ASSERT_TRUE(smtp.SendMessage("ops@example.com", "Trend data attached.", "Trend", &attachments))
        << smtp.GetLastError();
    std::vector<std::string> stored = server.Messages(before + 1);
    ASSERT_EQ(stored.size(), before + 1);
    ParsedMessage parsed = ParseMessage(stored.back());
    EXPECT_EQ(parsed.Header("Subject"), "Trend");
    ASSERT_EQ(parsed.parts.size(), 2u);
    EXPECT_EQ(parsed.parts[1] == payload, true) << "attachment of " << parsed.parts[1].size() << " bytes differs";
  }
}

TEST_F(SmtpOverTls, PinnedFingerprintTrustsASelfSignedRelay) {
  CSMTP smtp;
  Configure(smtp, {.port = s_selfSigned->port(), .user = "demo", .password = "secret",
                   .security = CSMTP::SECURITY_TLS, .timeout = 20});
  ExpectRefused(smtp, "Server certificate rejected: self-signed certificate");
  const std::string pin = TestCertificates::Fingerprint(s_certs->SelfSignedCert());
  smtp.SetTLSFingerprint(pin.c_str());
  EXPECT_EQ(smtp.GetTLSFingerprint().str(), pin);
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  EXPECT_EQ(s_selfSigned->AuthLog(), "LOGIN tls ok\n");
  // The pin of another certificate: refused before the login, both named.
  const std::string other = TestCertificates::Fingerprint(s_certs->ServerCert());
  smtp.SetTLSFingerprint(other.c_str());
  ExpectRefused(smtp, "Server certificate rejected: fingerprint mismatch: the certificate's SHA-256 fingerprint is " +
                          pin.substr(pin.find('=') + 1) + ", expected " + other.substr(other.find('=') + 1));
  EXPECT_EQ(s_selfSigned->AuthLog(), "LOGIN tls ok\n");
}

TEST_F(SmtpOverTls, ServerNameToCheckApartFromTheAddress) {
  // Reached at 127.0.0.1 with a certificate for mail.example.com alone.
  CSMTP smtp;
  smtp.SetTLSServerName("mail.example.com");
  EXPECT_EQ(smtp.GetTLSServerName().str(), "mail.example.com");
  EXPECT_EQ(LoginThrough(*s_otherName, CSMTP::SECURITY_TLS, "127.0.0.1", &smtp), "LOGIN tls ok\n");
  smtp.SetTLSServerName("localhost");
  ExpectRefused(smtp, "Server certificate rejected: hostname mismatch");
}

TEST_F(SmtpOverTls, ClientCertificateForARelayThatRequiresOne) {
  const ClientSettings settings = {.port = s_clientCert->port(), .user = "demo", .password = "secret",
                                   .security = CSMTP::SECURITY_STARTTLS, .caFile = s_certs->CAFile(), .timeout = 20};
  {
    // Without one the server ends the connection after the handshake.
    CSMTP smtp;
    Configure(smtp, settings);
    EXPECT_FALSE(smtp.Connect());
    EXPECT_FALSE(smtp.GetLastSocketError().IsEmpty());
    EXPECT_EQ(s_clientCert->AuthLog(), "");
  }
  CSMTP smtp;
  smtp.SetClientCertificate(s_certs->ClientCert().c_str(), s_certs->ClientKey().c_str());
  EXPECT_EQ(smtp.GetClientCertificateFile().str(), s_certs->ClientCert());
  EXPECT_EQ(smtp.GetClientKeyFile().str(), s_certs->ClientKey());
  EXPECT_EQ(LoginThrough(*s_clientCert, CSMTP::SECURITY_STARTTLS, "127.0.0.1", &smtp), "LOGIN tls ok\n");
  // A key that is not the certificate's fails before the handshake.
  smtp.SetClientCertificate(s_certs->ClientCert().c_str(), s_certs->ServerKey().c_str());
  ExpectRefused(smtp, "TLS handshake failed: the client key " + s_certs->ServerKey() +
                          " does not belong to the certificate " + s_certs->ClientCert());
}

// SPDX-License-Identifier: Apache-2.0
// TLS on the blocking socket against a Python TLS peer: data both ways, the
// time-out and Cancel of a receive over TLS, a send to a peer that reset the
// connection (no SIGPIPE), the closing alert read as the end of the stream,
// StartTLS on a socket that cannot take it, a pinned fingerprint and a name
// to check that is not the address connected to.
#include "framework/net/socket.h"

#include "tests/support/test_certificates.h"
#include "tests/support/test_paths.h"
#include "tests/support/time_scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>

#include <signal.h>

using tarvenkel::test::TestCertificates;

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs tests/framework/net/tls_peer.py in one mode; the destructor collects what
// it printed after the port.
class TlsPeer {
public:
  TlsPeer(const TestCertificates& certs, const std::string& mode) : TlsPeer(certs.ServerCert(), certs.ServerKey(), mode) {}
  // clientCA: the peer requires a client certificate of that CA.
  TlsPeer(const std::string& cert, const std::string& key, const std::string& mode, const std::string& clientCA = "") {
    std::string command = std::string(tarvenkel::test::SystemPython()) + " '" +
                          tarvenkel::test::SourcePath("tests/framework/net/tls_peer.py") + "' '" + cert + "' '" + key +
                          "' " + mode + (clientCA.empty() ? "" : " '" + clientCA + "'") + " 2>/dev/null";
    m_pipe = ::popen(command.c_str(), "r");
    if (m_pipe == nullptr) throw std::runtime_error("cannot run " + command);
    char line[64] = {};
    if (std::fgets(line, sizeof line, m_pipe) == nullptr || std::sscanf(line, "PORT %d", &m_port) != 1)
      throw std::runtime_error("the TLS peer did not start");
  }
  ~TlsPeer() { Finish(); }
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;

  int port() const { return m_port; }
  // Waits for the peer to end and returns the rest of its output.
  std::string Finish() {
    if (m_pipe == nullptr) return m_rest;
    char buf[256];
    while (std::fgets(buf, sizeof buf, m_pipe) != nullptr) m_rest += buf;
    ::pclose(m_pipe);
    m_pipe = nullptr;
    return m_rest;
  }

private:
  FILE* m_pipe = nullptr;
  int m_port = 0;
  std::string m_rest;
};

class TlsSocket : public testing::Test {
protected:
  static void SetUpTestSuite() { s_certs = new TestCertificates(); }
  static void TearDownTestSuite() { delete s_certs; }

  // A socket connected to the peer with TLS started and "hello" read.
  static void Open(CSocket& socket, const TlsPeer& peer, const char* host = "127.0.0.1") {
    ASSERT_TRUE(socket.Create());
    socket.SetTimeout(10000);
    ASSERT_TRUE(socket.Connect(host, static_cast<UINT>(peer.port())));
    CTlsClientSettings settings;
    settings.sServerName = host;
    settings.sCAFile = s_certs->CAFile().c_str();
    CString reason;
    ASSERT_TRUE(socket.StartTLS(settings)) << socket.GetTLSFailure(&reason) << " " << reason;
    EXPECT_TRUE(socket.IsSecure());
    EXPECT_EQ(socket.GetTLSFailure(), TLS_FAILURE_NONE);
    std::string hello;
    char buf[16];
    while (hello.size() < 7) {
      int n = socket.Receive(buf, sizeof buf);
      ASSERT_GT(n, 0) << CSocket::GetLastError();
      hello.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(hello, "hello\r\n");
  }

  static TestCertificates* s_certs;
};

TestCertificates* TlsSocket::s_certs = nullptr;

}  // namespace

TEST_F(TlsSocket, SendsEverythingAndReceiveHonoursTimeoutAndCancel) {
  TlsPeer peer(*s_certs, "silent");
  CSocket socket;
  Open(socket, peer);
  // A megabyte goes out whole, through many records and full socket buffers.
  const std::string data(1024 * 1024, 'x');
  EXPECT_EQ(socket.Send(data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));

  char buf[64];
  socket.SetTimeout(300);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ETIMEDOUT);
  EXPECT_GE(SecondsSince(start), 0.25);

  socket.SetTimeout(0);
  start = std::chrono::steady_clock::now();
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    socket.CancelBlockingCall();
  });
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  canceller.join();
  EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
  EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(5.0));

  socket.Close();
  EXPECT_FALSE(socket.IsSecure());
  EXPECT_EQ(peer.Finish(), "READ " + std::to_string(data.size()) + "\n");
}

static std::atomic<int> g_sigpipes{0};

TEST_F(TlsSocket, SendToAResetPeerFailsWithoutSigpipe) {
  // Count SIGPIPE instead of dying of it (or missing it where the test
  // runner ignores it).
  struct sigaction count {};
  struct sigaction previous {};
  count.sa_handler = [](int) { ++g_sigpipes; };
  sigemptyset(&count.sa_mask);
  ::sigaction(SIGPIPE, &count, &previous);
  g_sigpipes = 0;
  TlsPeer peer(*s_certs, "reset");
  CSocket socket;
  Open(socket, peer);
  ASSERT_EQ(socket.Send("x", 1), 1);  // the peer resets on this byte
  peer.Finish();
  // The first sends may still land in the socket buffer; once the reset has
  // arrived every send fails, and the process is still here to see it.
  const std::string data(64 * 1024, 'y');
  int result = 0;
  for (int i = 0; i < 50 && result != SOCKET_ERROR; ++i) {
    result = socket.Send(data.data(), static_cast<int>(data.size()));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(result, SOCKET_ERROR);
  int error = CSocket::GetLastError();
  EXPECT_TRUE(error == EPIPE || error == ECONNRESET || error == ECONNABORTED) << error;
  // A further send and the close (which would write the closing alert of a
  // healthy session) raise nothing either.
  EXPECT_EQ(socket.Send(data.data(), static_cast<int>(data.size())), SOCKET_ERROR);
  socket.Close();
  EXPECT_EQ(g_sigpipes.load(), 0);
  ::sigaction(SIGPIPE, &previous, nullptr);
}

TEST_F(TlsSocket, ClosingAlertEndsTheStream) {
  TlsPeer peer(*s_certs, "close");
  CSocket socket;
  Open(socket, peer);
  char buf[16];
  EXPECT_EQ(socket.Receive(buf, sizeof buf), 0);
  EXPECT_EQ(socket.Receive(buf, sizeof buf), 0);  // and stays ended
}

TEST_F(TlsSocket, StartTlsNeedsAnOpenSocketWithoutTls) {
  CSocket closed;
  CTlsClientSettings settings;
  settings.sServerName = "localhost";
  CString reason;
  EXPECT_FALSE(closed.StartTLS(settings));
  EXPECT_EQ(closed.GetTLSFailure(&reason), TLS_SETUP_FAILED);
  EXPECT_EQ(reason.str(), "the socket is not open");

  TlsPeer peer(*s_certs, "close");
  CSocket socket;
  Open(socket, peer);
  settings.sCAFile = s_certs->CAFile().c_str();
  EXPECT_FALSE(socket.StartTLS(settings));
  EXPECT_EQ(socket.GetTLSFailure(&reason), TLS_SETUP_FAILED);
  EXPECT_EQ(reason.str(), "TLS has already started on this socket");
  EXPECT_TRUE(socket.IsSecure());  // the session in place is untouched
}

TEST_F(TlsSocket, VerificationNeedsAName) {
  TlsPeer peer(*s_certs, "close");
  CSocket socket;
  ASSERT_TRUE(socket.Create());
  socket.SetTimeout(10000);
  ASSERT_TRUE(socket.Connect("127.0.0.1", static_cast<UINT>(peer.port())));
  CTlsClientSettings settings;
  settings.sCAFile = s_certs->CAFile().c_str();
  CString reason;
  EXPECT_FALSE(socket.StartTLS(settings));
  EXPECT_EQ(socket.GetTLSFailure(&reason), TLS_SETUP_FAILED);
  EXPECT_EQ(reason.str(), "no server name to check the certificate against");
  // Without verification no name is needed.
  settings.bVerifyPeer = FALSE;
  EXPECT_TRUE(socket.StartTLS(settings)) << socket.GetTLSFailure(&reason) << " " << reason;
}

TEST_F(TlsSocket, ServerNameIsSentForNamesOnly) {
  {
    TlsPeer peer(*s_certs, "sni");
    CSocket socket;
    Open(socket, peer, "localhost");
    socket.Close();
    EXPECT_EQ(peer.Finish(), "SNI localhost\n");
  }
  {
    TlsPeer peer(*s_certs, "sni");
    CSocket socket;
    Open(socket, peer, "127.0.0.1");
    socket.Close();
    EXPECT_EQ(peer.Finish(), "SNI -\n");
  }
}

namespace {

// What StartTLS against a peer with the certificate gave: the failure, its
// reason, and the name the peer was sent ("-" for none; empty when the
// handshake failed).
struct Handshake {
  TLS_FAILURE failure;
  std::string reason;
  std::string sni;
};

Handshake StartTlsWith(const std::string& cert, const std::string& key, const CTlsClientSettings& settings,
                       const CTlsClientOptions& options) {
  TlsPeer peer(cert, key, "sni");
  CSocket socket;
  EXPECT_TRUE(socket.Create());
  socket.SetTimeout(10000);
  EXPECT_TRUE(socket.Connect("127.0.0.1", static_cast<UINT>(peer.port())));
  const BOOL started = socket.StartTLS(settings, options);
  CString reason;
  Handshake result{socket.GetTLSFailure(&reason), reason.str(), ""};
  EXPECT_EQ(socket.IsSecure(), started);
  // The greeting is read first: a close with the server's bytes unread would
  // reset the connection before the peer reports the name.
  char buf[16];
  for (int got = 0; started && got < 7;) {
    const int n = socket.Receive(buf, sizeof buf);
    if (n <= 0) break;
    got += n;
  }
  socket.Close();
  const std::string out = peer.Finish();
  if (started && out.rfind("SNI ", 0) == 0) result.sni = out.substr(4, out.size() - 5);
  return result;
}

}  // namespace

TEST_F(TlsSocket, PinnedFingerprintAloneDecides) {
  const std::string selfSigned = TestCertificates::Fingerprint(s_certs->SelfSignedCert());
  const std::string server = TestCertificates::Fingerprint(s_certs->ServerCert());
  // The digits after "sha256 Fingerprint=", as openssl prints them.
  const std::string serverDigits = server.substr(server.find('=') + 1);
  std::string bare;
  for (char c : serverDigits)
    if (c != ':') bare += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string shortPin(serverDigits, 3);
  const std::string mismatch = "fingerprint mismatch: the certificate's SHA-256 fingerprint is " +
                               selfSigned.substr(selfSigned.find('=') + 1) + ", expected " + serverDigits;
  struct Case {
    const char* what;
    std::string cert, key, pin;
    BOOL verify;
    TLS_FAILURE failure;
    std::string reason;
  };
  const Case cases[] = {
      // Self-signed, for another name, no CA file: the pin is enough.
      {"self-signed, openssl's whole line", s_certs->SelfSignedCert(), s_certs->SelfSignedKey(), selfSigned, TRUE,
       TLS_FAILURE_NONE, ""},
      // Signed by a CA the system does not know.
      {"unknown CA, lower case without colons", s_certs->ServerCert(), s_certs->ServerKey(), bare, TRUE,
       TLS_FAILURE_NONE, ""},
      {"another certificate", s_certs->SelfSignedCert(), s_certs->SelfSignedKey(), serverDigits, TRUE,
       TLS_CERTIFICATE_REJECTED, mismatch},
      {"another certificate, verification off", s_certs->SelfSignedCert(), s_certs->SelfSignedKey(), serverDigits,
       FALSE, TLS_CERTIFICATE_REJECTED, mismatch},
      {"a byte short", s_certs->ServerCert(), s_certs->ServerKey(), shortPin, TRUE, TLS_SETUP_FAILED,
       "'" + shortPin + "' is not a SHA-256 fingerprint (32 bytes in hex)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CTlsClientSettings settings;
    settings.sServerName = "127.0.0.1";
    settings.bVerifyPeer = c.verify;
    CTlsClientOptions options;
    options.sFingerprint = c.pin.c_str();
    const Handshake result = StartTlsWith(c.cert, c.key, settings, options);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(result.reason, c.reason);
  }
}

TEST_F(TlsSocket, NameToCheckDiffersFromTheAddress) {
  struct Case {
    const char* verifyName;
    TLS_FAILURE failure;
    std::string reason, sni;
  };
  // Connected to 127.0.0.1; the certificate is issued for mail.example.com.
  const Case cases[] = {
      {"mail.example.com", TLS_FAILURE_NONE, "", "mail.example.com"},
      {"localhost", TLS_CERTIFICATE_REJECTED, "hostname mismatch", ""},
      {"", TLS_CERTIFICATE_REJECTED, "IP address mismatch", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.verifyName);
    CTlsClientSettings settings;
    settings.sServerName = "127.0.0.1";
    settings.sCAFile = s_certs->CAFile().c_str();
    CTlsClientOptions options;
    options.sVerifyName = c.verifyName;
    const Handshake result = StartTlsWith(s_certs->OtherNameCert(), s_certs->OtherNameKey(), settings, options);
    EXPECT_EQ(result.failure, c.failure);
    EXPECT_EQ(result.reason, c.reason);
    EXPECT_EQ(result.sni, c.sni);
  }
}

TEST_F(TlsSocket, ClientCertificateThatCannotBeUsedFailsTheSetup) {
  struct Case {
    std::string cert, key, reason;
  };
  const Case cases[] = {
      {"/nonexistent/client.pem", "", "cannot load the client certificate /nonexistent/client.pem: "},
      {s_certs->ClientCert(), "/nonexistent/client.key", "cannot load the client key /nonexistent/client.key"},
      {s_certs->ClientCert(), s_certs->ServerKey(),
       "the client key " + s_certs->ServerKey() + " does not belong to the certificate " + s_certs->ClientCert()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cert + " " + c.key);
    CSocket socket;
    ASSERT_TRUE(socket.Create());
    // Not even connected: the files are read before anything is sent.
    CTlsClientSettings settings;
    settings.sServerName = "127.0.0.1";
    settings.bVerifyPeer = FALSE;
    CTlsClientOptions options;
    options.sCertFile = c.cert.c_str();
    options.sKeyFile = c.key.c_str();
    CString reason;
    EXPECT_FALSE(socket.StartTLS(settings, options));
    EXPECT_EQ(socket.GetTLSFailure(&reason), TLS_SETUP_FAILED);
    EXPECT_EQ(reason.Left(static_cast<int>(c.reason.size())).str(), c.reason);
  }
}

TEST_F(TlsSocket, PeerThatRequiresAClientCertificate) {
  for (bool withCertificate : {false, true}) {
    SCOPED_TRACE(withCertificate);
    TlsPeer peer(s_certs->ServerCert(), s_certs->ServerKey(), "close", s_certs->OtherCAFile());
    CSocket socket;
    ASSERT_TRUE(socket.Create());
    socket.SetTimeout(10000);
    ASSERT_TRUE(socket.Connect("127.0.0.1", static_cast<UINT>(peer.port())));
    CTlsClientSettings settings;
    settings.sServerName = "127.0.0.1";
    settings.sCAFile = s_certs->CAFile().c_str();
    CTlsClientOptions options;
    if (withCertificate) options.sCertFile = s_certs->ClientCert().c_str();
    if (withCertificate) options.sKeyFile = s_certs->ClientKey().c_str();
    // Under TLS 1.3 the client's part of the handshake ends before the
    // server has checked its certificate: the refusal is read after it.
    ASSERT_TRUE(socket.StartTLS(settings, options));
    char buf[16];
    const int got = socket.Receive(buf, sizeof buf);
    CString reason;
    if (withCertificate) {
      EXPECT_EQ(std::string(buf, static_cast<std::size_t>(std::max(got, 0))), "hello\r\n");
      EXPECT_EQ(socket.GetTLSFailure(), TLS_FAILURE_NONE);
    } else {
      EXPECT_EQ(got, SOCKET_ERROR);
      EXPECT_EQ(socket.GetTLSFailure(&reason), TLS_CONNECTION_FAILED);
      EXPECT_EQ(reason.str(), "tlsv13 alert certificate required");
    }
  }
}

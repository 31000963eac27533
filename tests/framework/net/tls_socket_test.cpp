// TLS on the blocking socket against a Python TLS peer: data both ways, the
// time-out and Cancel of a receive over TLS, a send to a peer that reset the
// connection (no SIGPIPE), the closing alert read as the end of the stream,
// and StartTLS on a socket that cannot take it.
#include "framework/net/socket.h"

#include "tests/support/test_certificates.h"
#include "tests/support/test_paths.h"
#include "tests/support/time_scale.h"

#include <gtest/gtest.h>

#include <atomic>
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
  TlsPeer(const TestCertificates& certs, const std::string& mode) {
    std::string command = std::string(tarvenkel::test::SystemPython()) + " '" +
                          tarvenkel::test::SourcePath("tests/framework/net/tls_peer.py") + "' '" + certs.ServerCert() +
                          "' '" + certs.ServerKey() + "' " + mode;
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

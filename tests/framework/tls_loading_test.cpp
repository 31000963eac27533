// OpenSSL is loaded when the first connection starts TLS, not with the
// framework: before StartTLS neither libssl nor libcrypto is mapped, after it
// both are, and when libssl (TARVENKEL_LIBSSL) or one of its functions cannot
// be loaded StartTLS fails at the setup step with the loader's reason, the
// same on a second try. The loader runs once per process, so each case runs
// in a child process of its own.
#include "framework/socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Whether a library whose file name starts with stem is mapped into this
// process.
bool Mapped(const std::string& stem) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("/" + stem) != std::string::npos) return true;
  return false;
}

struct Attempt {
  int started = -1;
  int failure = -1;
  int error = 0;
  int secure = -1;
  std::string reason;
};

// What one child saw: whether OpenSSL was mapped before and after, and each
// StartTLS.
struct Report {
  bool sslBefore = true;
  bool cryptoBefore = true;
  bool sslAfter = false;
  bool cryptoAfter = false;
  std::vector<Attempt> attempts;
};

// In the child: connects to a loopback listener that never answers, starts
// TLS `attempts` times and writes what happened to fd, one line each.
[[noreturn]] void RunChild(int fd, const char* libssl, int attempts) {
  if (libssl != nullptr)
    ::setenv("TARVENKEL_LIBSSL", libssl, 1);
  else
    ::unsetenv("TARVENKEL_LIBSSL");
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listener, 1) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    ::_exit(3);
  std::ostringstream out;
  out << "before " << Mapped("libssl.so") << ' ' << Mapped("libcrypto.so") << '\n';
  CSocket socket;
  if (!socket.Create() || !socket.Connect("127.0.0.1", ntohs(addr.sin_port))) ::_exit(4);
  socket.SetTimeout(300);  // the listener never answers a handshake
  CTlsClientSettings settings;
  settings.sServerName = "127.0.0.1";
  settings.bVerifyPeer = FALSE;
  for (int i = 0; i < attempts; ++i) {
    const BOOL started = socket.StartTLS(settings);
    const int error = CSocket::GetLastError();
    CString reason;
    const TLS_FAILURE failure = socket.GetTLSFailure(&reason);
    out << "attempt " << started << ' ' << failure << ' ' << error << ' ' << socket.IsSecure() << ' ' << reason.str()
        << '\n';
  }
  out << "after " << Mapped("libssl.so") << ' ' << Mapped("libcrypto.so") << '\n';
  const std::string text = out.str();
  if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) ::_exit(5);
  ::_exit(0);
}

// Runs RunChild in a fresh process and reads its report.
Report InFreshProcess(const char* libssl, int attempts) {
  Report report;
  int fds[2];
  if (::pipe(fds) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return report;
  }
  std::fflush(nullptr);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    RunChild(fds[1], libssl, attempts);
  }
  ::close(fds[1]);
  std::string text;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;

  std::istringstream in(text);
  std::string word;
  while (in >> word) {
    if (word == "before") {
      in >> report.sslBefore >> report.cryptoBefore;
    } else if (word == "after") {
      in >> report.sslAfter >> report.cryptoAfter;
    } else if (word == "attempt") {
      Attempt a;
      in >> a.started >> a.failure >> a.error >> a.secure;
      in.get();
      std::getline(in, a.reason);
      report.attempts.push_back(a);
    }
  }
  return report;
}

TEST(TlsLoading, OpenSslIsMappedOnlyOnceTlsStarts) {
  Report report = InFreshProcess(nullptr, 1);
  EXPECT_FALSE(report.sslBefore);
  EXPECT_FALSE(report.cryptoBefore);
  ASSERT_EQ(report.attempts.size(), 1u);
  // Loaded, then the handshake ran into the silent listener's time-out.
  EXPECT_EQ(report.attempts[0].failure, TLS_HANDSHAKE_FAILED);
  EXPECT_EQ(report.attempts[0].reason, "timed out");
  EXPECT_TRUE(report.sslAfter);
  EXPECT_TRUE(report.cryptoAfter);
}

// Checks that each attempt of the report failed at the setup step, left the
// socket plain and set ELIBACC; returns their reasons.
std::vector<std::string> SetupFailures(const Report& report) {
  std::vector<std::string> reasons;
  for (const Attempt& a : report.attempts) {
    EXPECT_EQ(a.started, FALSE);
    EXPECT_EQ(a.failure, TLS_SETUP_FAILED);
    EXPECT_EQ(a.error, ELIBACC);
    EXPECT_EQ(a.secure, FALSE);
    reasons.push_back(a.reason);
  }
  return reasons;
}

TEST(TlsLoading, MissingLibsslFailsTheSetupStepEveryTime) {
  Report report = InFreshProcess("libtarvenkel-no-such-ssl.so.3", 2);
  EXPECT_FALSE(report.sslBefore);
  const std::string expected =
      "cannot load OpenSSL: libtarvenkel-no-such-ssl.so.3: cannot open shared object file: No such file or directory";
  EXPECT_EQ(SetupFailures(report), std::vector<std::string>(2, expected));
}

TEST(TlsLoading, MissingFunctionFailsTheSetupStepEveryTime) {
  // libcrypto in libssl's place: the first libssl function is not found.
  Report report = InFreshProcess("libcrypto.so.3", 2);
  std::vector<std::string> reasons = SetupFailures(report);
  ASSERT_EQ(reasons.size(), 2u);
  EXPECT_EQ(reasons[0], reasons[1]);
  EXPECT_EQ(reasons[0].rfind("cannot load OpenSSL: ", 0), 0u) << reasons[0];
  EXPECT_NE(reasons[0].find("undefined symbol: SSL_CTX_ctrl"), std::string::npos) << reasons[0];
}

}  // namespace

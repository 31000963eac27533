// SPDX-License-Identifier: Apache-2.0
// The blocking wait and the blocking socket: time-outs, wake-ups, wait
// sources serviced during a socket wait, cancellation from another thread and
// from a handler inside the wait, closing under a blocked call, SIGPIPE.
#include "framework/net/blocking_wait.h"
#include "framework/net/socket.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "tests/support/time_scale.h"

namespace {

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A listening socket on a free port of a loopback address.
class Listener {
public:
  explicit Listener(int family = AF_INET, int backlog = 4) {
    m_fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_storage addr{};
    socklen_t len;
    if (family == AF_INET) {
      auto* in = reinterpret_cast<sockaddr_in*>(&addr);
      in->sin_family = AF_INET;
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      len = sizeof *in;
    } else {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&addr);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_loopback;
      len = sizeof *in6;
    }
    m_ok = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 && ::listen(m_fd, backlog) == 0 &&
           ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    m_port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&addr)->sin_port
                                     : reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  }
  ~Listener() {
    if (m_peer >= 0) ::close(m_peer);
    if (m_fd >= 0) ::close(m_fd);
  }
  bool ok() const { return m_ok; }
  UINT port() const { return m_port; }
  int Accept() {
    m_peer = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    return m_peer;
  }
  int peer() const { return m_peer; }
  void ClosePeer() {
    ::close(m_peer);
    m_peer = -1;
  }

private:
  int m_fd = -1;
  int m_peer = -1;
  UINT m_port = 0;
  bool m_ok = false;
};

// A wait source with a timer that runs a handler when it falls due.
class TimerSource : public CWaitSource {
public:
  TimerSource(int afterMs, std::function<void()> handler)
      : m_due(std::chrono::steady_clock::now() + std::chrono::milliseconds(afterMs)), m_handler(std::move(handler)) {}
  int AddPollFds(pollfd*, int) override { return 0; }
  int NextDeadlineMs() override {
    if (m_fired) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_due - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  }
  void Service(const pollfd*, int) override {
    ++m_services;
    if (!m_fired && std::chrono::steady_clock::now() >= m_due) {
      m_fired = true;
      m_handler();
    }
  }
  bool fired() const { return m_fired; }

private:
  std::chrono::steady_clock::time_point m_due;
  std::function<void()> m_handler;
  bool m_fired = false;
  int m_services = 0;
};

// A wait source watching a descriptor, as a window connection would.
class ReadableSource : public CWaitSource {
public:
  explicit ReadableSource(int fd) : m_fd(fd) {}
  int AddPollFds(pollfd* fds, int max) override {
    if (max < 1) return 0;
    fds[0] = pollfd{m_fd, POLLIN, 0};
    return 1;
  }
  int NextDeadlineMs() override { return -1; }
  void Service(const pollfd* fds, int n) override {
    if (n == 1 && (fds[0].revents & POLLIN) != 0) {
      std::uint64_t value;
      if (::read(m_fd, &value, sizeof value) == sizeof value) m_events += static_cast<int>(value);
    }
  }
  int events() const { return m_events; }

private:
  int m_fd;
  int m_events = 0;
};

// A listener whose queue of unaccepted connections is full, so that the
// kernel drops further connection requests and a connect to it hangs.
class FullListener {
public:
  FullListener() : m_listener(AF_INET, 0) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(m_listener.port()));
    for (int& fd : m_fillers) {
      fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      (void)::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ~FullListener() {
    for (int fd : m_fillers) ::close(fd);
  }
  UINT port() const { return m_listener.port(); }

private:
  Listener m_listener;
  int m_fillers[3] = {-1, -1, -1};
};

// Registers a wait source whose timer is far off for the guard's lifetime:
// the thread then counts as one with windows, whose blocking calls poll.
class IdleSource {
public:
  IdleSource() : m_timer(600000, [] {}) { AfxAddWaitSource(&m_timer); }
  ~IdleSource() { AfxRemoveWaitSource(&m_timer); }

private:
  TimerSource m_timer;
};

// A thread that cancels the socket's call as soon as one blocks.
std::thread CancelWhenBlocked(CSocket& socket) {
  return std::thread([&socket] {
    while (!socket.IsBlocking()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    socket.CancelBlockingCall();
  });
}

// Connects a CSocket to the listener and accepts the other end.
void ConnectPair(CSocket& socket, Listener& listener) {
  ASSERT_TRUE(listener.ok());
  ASSERT_TRUE(socket.Create());
  ASSERT_TRUE(socket.Connect("127.0.0.1", listener.port())) << CSocket::GetLastError();
  ASSERT_GE(listener.Accept(), 0);
}

}  // namespace

TEST(BlockingWait, TimeOutWakeAndReadiness) {
  int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(AfxBlockingWait(-1, 0, 100, wake), AfxWaitResult::TimedOut);
  EXPECT_GE(SecondsSince(start), 0.099);
  std::uint64_t one = 1;
  ASSERT_EQ(::write(wake, &one, sizeof one), 8);
  EXPECT_EQ(AfxBlockingWait(-1, 0, -1, wake), AfxWaitResult::Cancelled);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ASSERT_EQ(::write(pipeFds[1], "x", 1), 1);
  EXPECT_EQ(AfxBlockingWait(pipeFds[0], POLLIN, 1000, -1), AfxWaitResult::Ready);
  EXPECT_EQ(AfxBlockingWait(pipeFds[1], POLLOUT, 0, -1), AfxWaitResult::Ready);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  ::close(wake);
}

TEST(BlockingWait, SourcesAreServicedWhileASocketCallBlocks) {
  Listener listener;
  CSocket socket;
  ConnectPair(socket, listener);
  int events = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  ReadableSource window(events);
  // A timer posts an event to the window; a later one cancels the receive
  // from inside the wait.
  TimerSource post(50, [&] {
    std::uint64_t one = 1;
    (void)::write(events, &one, sizeof one);
  });
  TimerSource cancel(200, [&] { socket.CancelBlockingCall(); });
  AfxAddWaitSource(&window);
  AfxAddWaitSource(&post);
  AfxAddWaitSource(&cancel);
  char buf[16];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
  EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(2.0));
  EXPECT_TRUE(post.fired());
  EXPECT_EQ(window.events(), 1);
  AfxRemoveWaitSource(&window);
  AfxRemoveWaitSource(&post);
  AfxRemoveWaitSource(&cancel);
  ::close(events);
  // The cancel was consumed: the socket still works.
  ASSERT_EQ(::send(listener.peer(), "hi", 2, 0), 2);
  EXPECT_EQ(socket.Receive(buf, sizeof buf), 2);
}

TEST(CSocket, SendReceiveNamesAndOrderlyClose) {
  Listener listener;
  CSocket socket;
  ConnectPair(socket, listener);
  CString local;
  CString remote;
  UINT localPort = 0;
  UINT remotePort = 0;
  ASSERT_TRUE(socket.GetSockName(local, localPort));
  ASSERT_TRUE(socket.GetPeerName(remote, remotePort));
  EXPECT_EQ(local.str(), "127.0.0.1");
  EXPECT_EQ(remote.str(), "127.0.0.1");
  EXPECT_EQ(remotePort, listener.port());
  EXPECT_NE(localPort, 0u);

  // A send larger than the socket buffers completes while the peer reads.
  std::string big(8 << 20, 'z');
  std::string got;
  std::thread reader([&] {
    char buf[65536];
    ssize_t n;
    while ((n = ::recv(listener.peer(), buf, sizeof buf, 0)) > 0) got.append(buf, static_cast<std::size_t>(n));
  });
  EXPECT_EQ(socket.Send(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
  socket.Close();
  reader.join();
  EXPECT_EQ(got.size(), big.size());
  char c;
  EXPECT_EQ(socket.Receive(&c, 1), SOCKET_ERROR);  // closed
  socket.Close();                                  // harmless
}

TEST(CSocket, ReceiveSeesTheEndAndSendNeverRaisesSigpipe) {
  Listener listener;
  CSocket socket;
  ConnectPair(socket, listener);
  listener.ClosePeer();
  char buf[16];
  EXPECT_EQ(socket.Receive(buf, sizeof buf), 0);
  // Writing into a connection the peer has closed fails; without
  // MSG_NOSIGNAL the second write would kill this process with SIGPIPE.
  std::string chunk(65536, 'q');
  int result = 0;
  for (int i = 0; i < 50 && result != SOCKET_ERROR; ++i) result = socket.Send(chunk.data(), static_cast<int>(chunk.size()));
  EXPECT_EQ(result, SOCKET_ERROR);
  EXPECT_TRUE(CSocket::GetLastError() == EPIPE || CSocket::GetLastError() == ECONNRESET) << CSocket::GetLastError();
}

TEST(CSocket, TimeOutAndCancelFromAnotherThread) {
  Listener listener;
  CSocket socket;
  ConnectPair(socket, listener);
  char buf[16];
  socket.SetTimeout(150);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ETIMEDOUT);
  EXPECT_GE(SecondsSince(start), 0.14);

  socket.SetTimeout(0);
  start = std::chrono::steady_clock::now();
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    socket.CancelBlockingCall();
  });
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
  canceller.join();
  EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(2.0));
}

// Closing a socket while another thread is blocked on it must not free the
// descriptor number under the blocked call: a descriptor opened right after
// the close must not be the one the call reads from.
TEST(CSocket, CloseFromAnotherThreadWhileBlocked) {
  Listener listener;
  CSocket socket;
  ConnectPair(socket, listener);
  int result = 0;
  int error = 0;
  std::thread blocked([&] {
    char buf[16];
    result = socket.Receive(buf, sizeof buf);
    error = CSocket::GetLastError();
  });
  while (!socket.IsBlocking()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  socket.Close();
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ASSERT_EQ(::write(pipeFds[1], "stolen", 6), 6);
  blocked.join();
  EXPECT_EQ(result, SOCKET_ERROR);
  EXPECT_EQ(error, ECANCELED);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  EXPECT_FALSE(socket.IsOpen());
}

TEST(CSocket, ConnectsByNameAndOverIPv6) {
  Listener v4;
  CSocket socket;
  ASSERT_TRUE(socket.Create());
  ASSERT_TRUE(socket.Connect("localhost", v4.port())) << CSocket::GetLastError();
  Listener v6(AF_INET6);
  if (!v6.ok()) GTEST_SKIP() << "no IPv6 loopback";
  CSocket socket6;
  ASSERT_TRUE(socket6.Create());
  ASSERT_TRUE(socket6.Connect("::1", v6.port())) << CSocket::GetLastError();
  CString local;
  UINT port;
  ASSERT_TRUE(socket6.GetSockName(local, port));
  EXPECT_EQ(local.str(), "::1");
  CSocket bracketed;
  ASSERT_TRUE(bracketed.Create());
  EXPECT_TRUE(bracketed.Connect("[::1]", v6.port())) << CSocket::GetLastError();
  CSocket refused;
  ASSERT_TRUE(refused.Create());
  EXPECT_FALSE(refused.Connect("127.0.0.1", 1));
  EXPECT_EQ(CSocket::GetLastError(), ECONNREFUSED);
}

// A call blocks in the kernel on a thread without wait sources and polls on
// one with them; either way a connect that hangs is ended by a cancel from
// another thread or by the time-out, and a blocked receive by a cancel.
TEST(CSocket, HangingCallsEndByCancelOrTimeOutWithAndWithoutSources) {
  for (bool withSources : {false, true}) {
    SCOPED_TRACE(withSources ? "thread with wait sources" : "thread without wait sources");
    std::optional<IdleSource> sources;
    if (withSources) sources.emplace();
    ASSERT_EQ(AfxHasWaitSources(), withSources ? TRUE : FALSE);
    FullListener full;

    CSocket timed;
    ASSERT_TRUE(timed.Create());
    timed.SetTimeout(150);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(timed.Connect("127.0.0.1", full.port()));
    EXPECT_EQ(CSocket::GetLastError(), ETIMEDOUT);
    EXPECT_GE(SecondsSince(start), 0.14);
    EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(2.0));

    CSocket cancelled;
    ASSERT_TRUE(cancelled.Create());
    start = std::chrono::steady_clock::now();
    std::thread canceller = CancelWhenBlocked(cancelled);
    EXPECT_FALSE(cancelled.Connect("127.0.0.1", full.port()));
    EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
    canceller.join();
    EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(2.0));

    Listener listener;
    CSocket receiver;
    ConnectPair(receiver, listener);
    std::thread receiveCanceller = CancelWhenBlocked(receiver);
    char buf[16];
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(receiver.Receive(buf, sizeof buf), SOCKET_ERROR);
    EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
    receiveCanceller.join();
    EXPECT_LT(SecondsSince(start), tarvenkel::test::Slack(2.0));
  }
}

// A cancel that finds no call blocked is consumed by the next call and the
// connection goes on; one that ends a call blocked on another thread shuts
// the connection down, and every later call fails as cancelled instead of
// reading what the broken connection would report.
TEST(CSocket, CancelOfABlockedCallEndsTheConnectionAPendingOneDoesNot) {
  Listener listener;
  CSocket socket;
  ConnectPair(socket, listener);
  char buf[16];
  socket.CancelBlockingCall();
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
  ASSERT_EQ(::send(listener.peer(), "one", 3, 0), 3);
  EXPECT_EQ(socket.Receive(buf, sizeof buf), 3);

  std::thread canceller = CancelWhenBlocked(socket);
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
  canceller.join();
  ASSERT_EQ(::send(listener.peer(), "two", 3, 0), 3);
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
  EXPECT_EQ(socket.Send("x", 1), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
  // The peer sees the connection end.
  EXPECT_EQ(::recv(listener.peer(), buf, sizeof buf, 0), 0);
}

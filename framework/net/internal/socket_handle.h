// SPDX-License-Identifier: Apache-2.0
// The shared state behind one socket object, for the socket layer's own
// files (the plain socket calls and the TLS layer); not for library users.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

namespace tarvenkel::detail {

class TlsSession;

// The descriptor of one open socket and, once TLS has started on it, the TLS
// session that carries its data. Both go when the last reference goes: a
// blocking call holds one, so a Close from elsewhere never frees them under
// the call.
//
// A blocking call is ended from another thread by shutting the connection
// down: that wakes a receive, a send, a connect or a poll on the descriptor
// at once, whichever of them the call is in, with no descriptor of its own
// to wake it. A cancel raised on the thread of the blocked call itself (by a
// handler that runs inside the wait) needs no wake-up: the wait looks at the
// flag after every handler, and the connection stays as it was.
struct SocketHandle {
  int fd = -1;
  int family = AF_INET;
  int type = SOCK_STREAM;
  bool bound = false;
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> closed{false};
  // Set when a cancel shut the connection down: every later call on it
  // fails as cancelled, rather than with whatever the broken connection
  // would report.
  std::atomic<bool> interrupted{false};
  // Calls that are blocked on fd, or are about to block on it, on any thread.
  std::atomic<int> blockedCalls{0};
  // Whether fd blocks (O_NONBLOCK clear), and the receive and send time-outs
  // set on it (SO_RCVTIMEO, SO_SNDTIMEO; 0: none).
  std::atomic<bool> blocking{false};
  std::atomic<int> receiveTimeoutMs{0};
  std::atomic<int> sendTimeoutMs{0};
  // Set by the thread that starts TLS, before any call uses it.
  std::shared_ptr<TlsSession> tls;

  SocketHandle() = default;
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  ~SocketHandle() {
    // The session may still write its closing alert, so it goes first.
    tls.reset();
    if (fd >= 0) ::close(fd);
  }

  void RequestCancel() {
    cancelRequested.store(true);
    Interrupt();
  }
  // A closed handle stays cancelled for good.
  void MarkClosed() {
    closed.store(true);
    cancelRequested.store(true);
    Interrupt();
  }
  // True when the socket was closed or shut down by a cancel, or a cancel is
  // pending; a pending cancel is consumed.
  bool TakeCancel() {
    if (closed.load() || interrupted.load()) return true;
    return cancelRequested.exchange(false);
  }

private:
  // Shuts the connection down when a call on another thread is blocked on
  // it (or about to be: the call counts itself before it looks at the
  // cancel flag, and the flag is set before this counts the calls, so one
  // of the two always sees the other).
  void Interrupt();
};

// Marks the current thread as blocked on a handle for the guard's lifetime.
// The guards of one thread form a chain, innermost first (a handler that runs
// inside one wait may start another socket call).
class BlockedCall {
public:
  explicit BlockedCall(SocketHandle& handle) : m_handle(handle), m_outer(Innermost()) {
    m_handle.blockedCalls.fetch_add(1);
    Innermost() = this;
  }
  BlockedCall(const BlockedCall&) = delete;
  BlockedCall& operator=(const BlockedCall&) = delete;
  ~BlockedCall() {
    Innermost() = m_outer;
    m_handle.blockedCalls.fetch_sub(1);
  }

  // How many calls of the current thread are blocked on the handle.
  static int CountOnThisThread(const SocketHandle& handle) {
    int count = 0;
    for (const BlockedCall* call = Innermost(); call != nullptr; call = call->m_outer)
      if (&call->m_handle == &handle) ++count;
    return count;
  }

private:
  static const BlockedCall*& Innermost() {
    thread_local const BlockedCall* innermost = nullptr;
    return innermost;
  }

  SocketHandle& m_handle;
  const BlockedCall* m_outer;
};

inline void SocketHandle::Interrupt() {
  if (blockedCalls.load() <= BlockedCall::CountOnThisThread(*this)) return;
  interrupted.store(true);
  ::shutdown(fd, SHUT_RDWR);
}

}  // namespace tarvenkel::detail

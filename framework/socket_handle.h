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

// The descriptor of one open socket, the wake-up descriptor of its blocking
// calls and, once TLS has started on it, the TLS session that carries its
// data. All of them go when the last reference goes: a blocking call holds
// one, so a Close from elsewhere never frees them under the call.
struct SocketHandle {
  int fd = -1;
  int wakeFd = -1;
  int type = SOCK_STREAM;
  bool bound = false;
  std::atomic<bool> cancelRequested{false};
  std::atomic<bool> closed{false};
  // Set by the thread that starts TLS, before any call uses it.
  std::shared_ptr<TlsSession> tls;

  SocketHandle() = default;
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  ~SocketHandle() {
    // The session may still write its closing alert, so it goes first.
    tls.reset();
    if (fd >= 0) ::close(fd);
    if (wakeFd >= 0) ::close(wakeFd);
  }

  void Wake() {
    std::uint64_t one = 1;
    while (::write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }
  void RequestCancel() {
    cancelRequested.store(true);
    Wake();
  }
  void MarkClosed() {
    closed.store(true);
    Wake();
  }
  // True when the socket was closed or a cancel is pending; a pending cancel
  // is consumed. A closed handle stays cancelled for good.
  bool TakeCancel() {
    if (closed.load()) return true;
    if (!cancelRequested.exchange(false)) return false;
    std::uint64_t count;
    while (::read(wakeFd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    return true;
  }
  // Clears a wake-up that no pending cancel stands behind (left by a cancel
  // that was consumed before its write landed).
  void DrainStaleWake() {
    std::uint64_t count;
    if (!closed.load() && !cancelRequested.load()) (void)::read(wakeFd, &count, sizeof count);
  }
};

}  // namespace tarvenkel::detail

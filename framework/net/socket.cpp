// SPDX-License-Identifier: Apache-2.0
#include "framework/net/socket.h"

#include "framework/net/blocking_wait.h"
#include "framework/net/internal/socket_handle.h"
#include "framework/net/internal/socket_state.h"
#include "framework/net/socket_trace.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/time.h>

using tarvenkel::detail::BlockedCall;
using tarvenkel::detail::SocketHandle;
using tarvenkel::detail::SocketState;

namespace {

thread_local int t_lastError = 0;

int NewSocket(int family, int type, bool blocking) {
  return ::socket(family, type | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
}

// Puts the descriptor into blocking or non-blocking mode unless it is in it.
bool SetBlocking(SocketHandle& handle, bool blocking) {
  if (handle.blocking.load() == blocking) return true;
  int flags = ::fcntl(handle.fd, F_GETFL);
  if (flags < 0 || ::fcntl(handle.fd, F_SETFL, blocking ? flags & ~O_NONBLOCK : flags | O_NONBLOCK) < 0) {
    t_lastError = errno;
    return false;
  }
  handle.blocking.store(blocking);
  return true;
}

// Sets SO_RCVTIMEO or SO_SNDTIMEO, whose value is cached in current, to
// milliseconds (0 or less: no limit) unless it has that value already.
bool SetTimeoutOption(SocketHandle& handle, int option, std::atomic<int>& current, int milliseconds) {
  milliseconds = std::max(milliseconds, 0);
  if (current.load() == milliseconds) return true;
  timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
  if (::setsockopt(handle.fd, SOL_SOCKET, option, &limit, sizeof limit) != 0) {
    t_lastError = errno;
    return false;
  }
  current.store(milliseconds);
  return true;
}

// Resolves a numeric or named host for one socket type; an IPv6 literal may
// come in brackets as in an address literal.
addrinfo* Resolve(LPCTSTR host, UINT port, int type, int flags, int& error) {
  std::string name = host != nullptr ? host : "";
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = type;
  hints.ai_flags = AI_NUMERICSERV | flags;
  addrinfo* list = nullptr;
  std::string service = std::to_string(port);
  int rc = ::getaddrinfo(name.empty() ? nullptr : name.c_str(), service.c_str(), &hints, &list);
  if (rc != 0) {
    error = rc == EAI_SYSTEM ? errno : EHOSTUNREACH;
    return nullptr;
  }
  return list;
}

// Runs one system call that may block on the handle's descriptor, counted
// as a blocked call (so that a cancel from another thread shuts the
// connection down) and in nBlocking (IsBlocking). False, with nothing run,
// when a cancel is pending; otherwise the call's result and errno.
template <typename Call>
bool RunBlocking(SocketHandle& handle, std::atomic<int>& nBlocking, Call call, long& result, int& error) {
  BlockedCall blocked(handle);
  if (handle.TakeCancel()) return false;
  ++nBlocking;
  result = call();
  error = errno;
  --nBlocking;
  return true;
}

BOOL NameOf(const sockaddr_storage& addr, socklen_t len, CString& rAddress, UINT& rPort) {
  char host[NI_MAXHOST];
  char serv[NI_MAXSERV];
  int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&addr), len, host, sizeof host, serv, sizeof serv,
                         NI_NUMERICHOST | NI_NUMERICSERV);
  if (rc != 0) return FALSE;
  rAddress = host;
  rPort = static_cast<UINT>(std::strtoul(serv, nullptr, 10));
  return TRUE;
}

}  // namespace

BOOL AfxSocketInit(WSADATA*) {
  return TRUE;
}

CAsyncSocket::CAsyncSocket() : m_pState(std::make_unique<SocketState>()) {}

CAsyncSocket::~CAsyncSocket() {
  Close();
}

int CAsyncSocket::GetLastError() {
  return t_lastError;
}

void CAsyncSocket::SetLastError(int nError) {
  t_lastError = nError;
}

std::shared_ptr<SocketHandle> CAsyncSocket::GetHandle() const {
  std::lock_guard<std::mutex> lock(m_pState->mutex);
  return m_pState->handle;
}

long CAsyncSocket::GetEventMask() const {
  std::lock_guard<std::mutex> lock(m_pState->mutex);
  return m_pState->eventMask;
}

BOOL CAsyncSocket::IsOpen() const {
  return GetHandle() != nullptr;
}

BOOL CAsyncSocket::Create(UINT nSocketPort, int nSocketType, long lEvent, LPCTSTR lpszSocketAddress) {
  Close();
  auto handle = std::make_shared<SocketHandle>();
  handle->type = nSocketType;
  addrinfo* local = nullptr;
  int family = AF_INET;
  if (nSocketPort != 0 || lpszSocketAddress != nullptr) {
    int error = 0;
    local = Resolve(lpszSocketAddress, nSocketPort, nSocketType, AI_PASSIVE | AI_NUMERICHOST, error);
    if (local == nullptr) {
      SetLastError(error);
      return FALSE;
    }
    family = local->ai_family;
  }
  handle->fd = NewSocket(family, nSocketType, m_pState->blockingDescriptor);
  handle->family = family;
  handle->blocking.store(m_pState->blockingDescriptor);
  if (handle->fd < 0) {
    SetLastError(errno);
    if (local != nullptr) ::freeaddrinfo(local);
    return FALSE;
  }
  if (local != nullptr) {
    int on = 1;
    ::setsockopt(handle->fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int rc = ::bind(handle->fd, local->ai_addr, local->ai_addrlen);
    int error = errno;
    ::freeaddrinfo(local);
    if (rc != 0) {
      SetLastError(error);
      return FALSE;
    }
    handle->bound = true;
  }
  std::lock_guard<std::mutex> lock(m_pState->mutex);
  m_pState->handle = std::move(handle);
  m_pState->eventMask = lEvent;
  return TRUE;
}

void CAsyncSocket::Close() {
  std::shared_ptr<SocketHandle> handle;
  {
    std::lock_guard<std::mutex> lock(m_pState->mutex);
    handle.swap(m_pState->handle);
  }
  if (handle) handle->MarkClosed();
}

BOOL CAsyncSocket::Renew(SocketHandle& handle, int family) {
  int fresh = NewSocket(family, handle.type, m_pState->blockingDescriptor);
  if (fresh < 0) {
    SetLastError(errno);
    return FALSE;
  }
  // dup2 keeps the descriptor number, so no other reference to the handle
  // ever sees a number that could belong to something else.
  int rc = ::dup2(fresh, handle.fd);
  int error = errno;
  ::close(fresh);
  if (rc < 0) {
    SetLastError(error);
    return FALSE;
  }
  ::fcntl(handle.fd, F_SETFD, FD_CLOEXEC);
  // The options of the old descriptor went with it.
  handle.family = family;
  handle.blocking.store(m_pState->blockingDescriptor);
  handle.receiveTimeoutMs.store(0);
  handle.sendTimeoutMs.store(0);
  return TRUE;
}

BOOL CAsyncSocket::Connect(LPCTSTR lpszHostAddress, UINT nHostPort) {
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return FALSE;
  }
  if (lpszHostAddress == nullptr || *lpszHostAddress == '\0' || nHostPort > 65535) {
    SetLastError(EINVAL);
    return FALSE;
  }
  SetLastError(0);
  int error = 0;
  addrinfo* list = Resolve(lpszHostAddress, nHostPort, handle->type, 0, error);
  if (list == nullptr) {
    SetLastError(error);
    return FALSE;
  }
  int family = handle->family;

  BOOL connected = FALSE;
  bool first = true;
  for (addrinfo* ai = list; ai != nullptr && !connected; ai = ai->ai_next) {
    if (handle->bound) {
      // A bound socket keeps its address, so it cannot change family.
      if (ai->ai_family != family) continue;
    } else if (ai->ai_family != family || !first) {
      // Every further attempt gets a fresh descriptor.
      if (!Renew(*handle, ai->ai_family)) break;
      family = ai->ai_family;
    }
    first = false;
    connected = ConnectHelper(ai->ai_addr, static_cast<int>(ai->ai_addrlen));
    // A cancelled or timed-out attempt ends the whole connect.
    int why = GetLastError();
    if (!connected && (why == ECANCELED || why == ETIMEDOUT || handle->closed.load())) break;
  }
  if (!connected && GetLastError() == 0) SetLastError(EAFNOSUPPORT);
  ::freeaddrinfo(list);
  return connected;
}

BOOL CAsyncSocket::ConnectHelper(const sockaddr* lpSockAddr, int nSockAddrLen) {
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return FALSE;
  }
  if (::connect(handle->fd, lpSockAddr, static_cast<socklen_t>(nSockAddrLen)) == 0) return TRUE;
  SetLastError(errno == EINPROGRESS ? EWOULDBLOCK : errno);
  return FALSE;
}

int CAsyncSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return SOCKET_ERROR;
  }
  ssize_t n = ::recv(handle->fd, lpBuf, static_cast<size_t>(nBufLen), nFlags | MSG_DONTWAIT);
  if (n < 0) {
    SetLastError(errno);
    return SOCKET_ERROR;
  }
  return static_cast<int>(n);
}

int CAsyncSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return SOCKET_ERROR;
  }
  ssize_t n = ::send(handle->fd, lpBuf, static_cast<size_t>(nBufLen), nFlags | MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n < 0) {
    SetLastError(errno);
    return SOCKET_ERROR;
  }
  return static_cast<int>(n);
}

BOOL CAsyncSocket::GetSockName(CString& rSocketAddress, UINT& rSocketPort) const {
  auto handle = GetHandle();
  if (!handle) return FALSE;
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(handle->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return FALSE;
  return NameOf(addr, len, rSocketAddress, rSocketPort);
}

BOOL CAsyncSocket::GetPeerName(CString& rPeerAddress, UINT& rPeerPort) const {
  auto handle = GetHandle();
  if (!handle) return FALSE;
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(handle->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return FALSE;
  return NameOf(addr, len, rPeerAddress, rPeerPort);
}

BOOL CAsyncSocket::SetSockOpt(int nOptionName, const void* lpOptionValue, int nOptionLen, int nLevel) {
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return FALSE;
  }
  if (::setsockopt(handle->fd, nLevel, nOptionName, lpOptionValue, static_cast<socklen_t>(nOptionLen)) != 0) {
    SetLastError(errno);
    return FALSE;
  }
  return TRUE;
}

CSocket::CSocket() {
  // Its calls block in the kernel when nothing else needs the thread.
  m_pState->blockingDescriptor = true;
}

CSocket::~CSocket() {
  Close();
}

BOOL CSocket::IsBlocking() const {
  return m_pState->blockingCalls.load() > 0;
}

void CSocket::SetTimeout(int nMilliseconds) {
  m_pState->timeoutMs.store(nMilliseconds);
}

int CSocket::GetTimeout() const {
  return m_pState->timeoutMs.load();
}

void CSocket::CancelBlockingCall() {
  if (auto handle = GetHandle()) handle->RequestCancel();
}

BOOL CSocket::wait_for(SocketHandle& handle, short events) {
  return wait_for(handle, events, GetTimeout());
}

BOOL CSocket::wait_for(SocketHandle& handle, short events, int timeout) {
  BlockedCall blocked(handle);
  if (handle.TakeCancel()) {
    SetLastError(ECANCELED);
    return FALSE;
  }
  ++m_pState->blockingCalls;
  AfxWaitResult result =
      AfxBlockingWait(handle.fd, events, timeout > 0 ? timeout : -1, -1, &handle.cancelRequested);
  --m_pState->blockingCalls;
  // A cancel from another thread shuts the connection down, which makes the
  // descriptor ready; one from a handler inside the wait ends it as
  // Cancelled. Either way the cancel is taken here.
  if (handle.TakeCancel()) {
    SetLastError(ECANCELED);
    return FALSE;
  }
  switch (result) {
    case AfxWaitResult::Ready:
    case AfxWaitResult::Cancelled:  // taken meanwhile by another call: retry
      return TRUE;
    case AfxWaitResult::TimedOut:
      SetLastError(ETIMEDOUT);
      return FALSE;
    case AfxWaitResult::Error:
      break;
  }
  SetLastError(EBADF);
  return FALSE;
}

BOOL CSocket::ConnectHelper(const sockaddr* lpSockAddr, int nSockAddrLen) {
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return FALSE;
  }
  if (!AfxHasWaitSources()) return blocking_connect(*handle, lpSockAddr, nSockAddrLen);
  if (handle->TakeCancel()) {
    SetLastError(ECANCELED);
    return FALSE;
  }
  if (!SetBlocking(*handle, false)) return FALSE;
  if (::connect(handle->fd, lpSockAddr, static_cast<socklen_t>(nSockAddrLen)) == 0) return TRUE;
  if (errno != EINPROGRESS && errno != EINTR) {
    SetLastError(errno);
    return FALSE;
  }
  return finish_connect(*handle);
}

BOOL CSocket::blocking_connect(SocketHandle& handle, const sockaddr* lpSockAddr, int nSockAddrLen) {
  if (!SetBlocking(handle, true) || !SetTimeoutOption(handle, SO_SNDTIMEO, handle.sendTimeoutMs, GetTimeout()))
    return FALSE;
  long rc = 0;
  int error = 0;
  const auto attempt = [&] { return ::connect(handle.fd, lpSockAddr, static_cast<socklen_t>(nSockAddrLen)); };
  if (!RunBlocking(handle, m_pState->blockingCalls, attempt, rc, error)) {
    SetLastError(ECANCELED);
    return FALSE;
  }
  if (rc == 0) return TRUE;
  if (handle.TakeCancel()) {
    SetLastError(ECANCELED);
    return FALSE;
  }
  // A signal leaves the attempt running in the background; a blocking
  // connect that ran out of SO_SNDTIMEO reports EINPROGRESS.
  if (error == EINTR) return finish_connect(handle);
  SetLastError(error == EINPROGRESS ? ETIMEDOUT : error);
  return FALSE;
}

BOOL CSocket::finish_connect(SocketHandle& handle) {
  // A wait that returns early (a cancel taken by another call) polls again
  // until the attempt has an outcome.
  for (;;) {
    if (!wait_for(handle, POLLOUT)) return FALSE;
    pollfd p{handle.fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) > 0) break;
  }
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(handle.fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
  if (error != 0) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}

int CSocket::Receive(void* lpBuf, int nBufLen, int nFlags) {
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return SOCKET_ERROR;
  }
  if (handle->tls) return tls_receive(*handle, lpBuf, nBufLen);
  if (!AfxHasWaitSources()) return blocking_receive(*handle, lpBuf, nBufLen, nFlags);
  for (;;) {
    if (handle->TakeCancel()) {
      SetLastError(ECANCELED);
      return SOCKET_ERROR;
    }
    ssize_t n = ::recv(handle->fd, lpBuf, static_cast<size_t>(nBufLen), nFlags | MSG_DONTWAIT);
    if (n >= 0) {
      AfxSocketTrace(FALSE, lpBuf, static_cast<int>(n));
      return static_cast<int>(n);
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      SetLastError(errno);
      return SOCKET_ERROR;
    }
    if (!wait_for(*handle, POLLIN)) return SOCKET_ERROR;
  }
}

int CSocket::blocking_receive(SocketHandle& handle, void* lpBuf, int nBufLen, int nFlags) {
  if (!SetBlocking(handle, true) ||
      !SetTimeoutOption(handle, SO_RCVTIMEO, handle.receiveTimeoutMs, GetTimeout()))
    return SOCKET_ERROR;
  for (;;) {
    long n = 0;
    int error = 0;
    const auto receive = [&] { return ::recv(handle.fd, lpBuf, static_cast<size_t>(nBufLen), nFlags); };
    if (!RunBlocking(handle, m_pState->blockingCalls, receive, n, error)) {
      SetLastError(ECANCELED);
      return SOCKET_ERROR;
    }
    // Bytes that arrived are handed over even when a cancel came meanwhile:
    // it then ends the next call.
    if (n > 0) {
      AfxSocketTrace(FALSE, lpBuf, static_cast<int>(n));
      return static_cast<int>(n);
    }
    if (handle.TakeCancel()) {
      SetLastError(ECANCELED);
      return SOCKET_ERROR;
    }
    if (n == 0) return 0;
    if (error == EINTR) continue;
    SetLastError(error == EAGAIN || error == EWOULDBLOCK ? ETIMEDOUT : error);
    return SOCKET_ERROR;
  }
}

int CSocket::Send(const void* lpBuf, int nBufLen, int nFlags) {
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return SOCKET_ERROR;
  }
  if (handle->tls) return tls_send(*handle, lpBuf, nBufLen);
  const char* p = static_cast<const char*>(lpBuf);
  int left = nBufLen;
  while (left > 0) {
    if (handle->TakeCancel()) {
      SetLastError(ECANCELED);
      return SOCKET_ERROR;
    }
    ssize_t n = ::send(handle->fd, p, static_cast<size_t>(left), nFlags | MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      AfxSocketTrace(TRUE, p, static_cast<int>(n));
      p += n;
      left -= static_cast<int>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      SetLastError(errno);
      return SOCKET_ERROR;
    }
    if (!wait_for(*handle, POLLOUT)) return SOCKET_ERROR;
  }
  return nBufLen;
}

// SPDX-License-Identifier: Apache-2.0
// TCP client sockets: CAsyncSocket (non-blocking calls) and CSocket (blocking
// calls). On a thread with wait sources (windows), a CSocket call waits
// through AfxBlockingWait, so that the sources keep being serviced and a
// handler can cancel the call; on any other thread it blocks in the kernel
// itself, because polling there as well cost a one-line notification 6 to
// 11% more CPU time and, in three of four runs of bench/compare, put the
// notification rate more than 5% behind the fastest peer's.
//
// A socket's descriptor lives in a shared handle. A blocking call holds its own
// reference while it runs, so Close (or Cancel) from another thread, or from a
// handler that runs inside the wait, never closes the descriptor under the
// call: it marks the handle closed, ends the call, and the descriptor is
// released when the last call using it has left.
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"
#include "framework/net/tls_settings.h"

#include <atomic>
#include <memory>
#include <mutex>

#include <sys/socket.h>
#include <unistd.h>  // gethostname

using SOCKET = int;  // a socket descriptor
#define INVALID_SOCKET (-1)  // no socket
#define SOCKET_ERROR (-1)    // what a failed call returns

// Network event notifications a socket is created for (all of them: 63).
enum : long {
  FD_READ = 0x01,
  FD_WRITE = 0x02,
  FD_OOB = 0x04,
  FD_ACCEPT = 0x08,
  FD_CONNECT = 0x10,
  FD_CLOSE = 0x20,
};

// The start-up record of the socket layer; the framework fills nothing in.
struct WSADATA;

// Prepares the process's socket layer. Nothing needs preparing on Linux (sends
// use MSG_NOSIGNAL, so SIGPIPE is left to the host); always TRUE.
AFX_API_EXPORT BOOL AfxSocketInit(WSADATA* lpwsaData = nullptr);

namespace tarvenkel::detail {
struct SocketHandle;
struct SocketState;
}

// A socket whose calls never block. Failures return FALSE or SOCKET_ERROR
// and leave the errno value in GetLastError. Its state (and that of CSocket)
// is behind one pointer, so an object that embeds a socket keeps its size
// from one release of the library to the next.
class AFX_EXT_CLASS CAsyncSocket {
public:
  CAsyncSocket();
  virtual ~CAsyncSocket();
  CAsyncSocket(const CAsyncSocket&) = delete;
  CAsyncSocket& operator=(const CAsyncSocket&) = delete;

  // Creates the socket (IPv4 unless lpszSocketAddress is an IPv6 literal),
  // non-blocking, and binds it when a port or an address is given. lEvent is
  // kept for GetEventMask; this framework delivers no event notifications.
  // Closes a socket the object already had. FALSE when the address does not
  // resolve or the socket cannot be made or bound.
  BOOL Create(UINT nSocketPort = 0, int nSocketType = SOCK_STREAM,
              long lEvent = FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE,
              LPCTSTR lpszSocketAddress = nullptr);
  // Connects to a host name, a dotted IPv4 address or an IPv6 address (bare or
  // in brackets), trying every address the name resolves to in turn. An
  // unbound socket switches to the address family of each attempt. FALSE on
  // a closed socket, an empty host or a port over 65535 (EINVAL), a name
  // that does not resolve, or when every attempt failed; a non-blocking
  // attempt in progress fails with EWOULDBLOCK.
  BOOL Connect(LPCTSTR lpszHostAddress, UINT nHostPort);
  // Closes the socket; harmless on a closed socket. A call blocked on it
  // returns failure.
  virtual void Close();

  // One non-blocking receive or send; SOCKET_ERROR with EWOULDBLOCK in
  // GetLastError when it would block. Send never raises SIGPIPE.
  virtual int Receive(void* lpBuf, int nBufLen, int nFlags = 0);
  // The send half of the above: the count sent, which may be less than nBufLen.
  virtual int Send(const void* lpBuf, int nBufLen, int nFlags = 0);

  // The numeric address and port of the local end; FALSE on a closed or
  // unbound socket.
  BOOL GetSockName(CString& rSocketAddress, UINT& rSocketPort) const;
  // The numeric address and port of the remote end; FALSE when not connected.
  BOOL GetPeerName(CString& rPeerAddress, UINT& rPeerPort) const;

  // setsockopt on the socket; FALSE with the errno value on failure.
  BOOL SetSockOpt(int nOptionName, const void* lpOptionValue, int nOptionLen, int nLevel = SOL_SOCKET);

  // TRUE between Create and Close.
  BOOL IsOpen() const;
  // The lEvent of Create.
  long GetEventMask() const;
  // The errno value of this thread's last failed socket call: ECANCELED after
  // CancelBlockingCall or Close, ETIMEDOUT after a time-out.
  static int GetLastError();

protected:
  // Starts (and for a blocking socket completes) one connection attempt.
  virtual BOOL ConnectHelper(const struct sockaddr* lpSockAddr, int nSockAddrLen);
  // The shared handle; null while closed.
  std::shared_ptr<tarvenkel::detail::SocketHandle> GetHandle() const;
  // Sets this thread's GetLastError value.
  static void SetLastError(int nError);

private:
  friend class CSocket;
  // Gives the socket a fresh descriptor of the given family for a new attempt.
  BOOL Renew(tarvenkel::detail::SocketHandle& handle, int family);

  std::unique_ptr<tarvenkel::detail::SocketState> m_pState;
};

// A socket whose calls block, through AfxBlockingWait, until done, cancelled
// or timed out.
class AFX_EXT_CLASS CSocket : public CAsyncSocket {
public:
  CSocket();
  ~CSocket() override;

  // Blocks until at least one byte arrives: the byte count, 0 when the peer
  // closed the connection, SOCKET_ERROR on failure, cancellation or time-out.
  int Receive(void* lpBuf, int nBufLen, int nFlags = 0) override;
  // Blocks until the whole buffer is sent: nBufLen, or SOCKET_ERROR.
  int Send(const void* lpBuf, int nBufLen, int nFlags = 0) override;

  // Makes the blocking call in progress on this socket return failure at once,
  // from another thread or from a handler running inside the wait. A cancel
  // that finds no call blocked ends the next blocking call instead, so one
  // that races with the start of a call is not lost. A call blocked on
  // another thread is ended by shutting the connection down in both
  // directions: after such a cancel the socket is of no further use but to be
  // closed, as the peer's view of the exchange is unknown. A cancel from a
  // handler inside the call's own wait leaves the connection usable.
  void CancelBlockingCall();
  // TRUE while a blocking call waits on this socket.
  BOOL IsBlocking() const;

  // The longest wait of one connection attempt, one Receive, or one stretch of
  // a Send without progress, in milliseconds; 0 or less: no limit (default).
  void SetTimeout(int nMilliseconds);
  // The limit of SetTimeout, in milliseconds.
  int GetTimeout() const;

  // Starts TLS as the client on the connected socket and runs the handshake,
  // which blocks like Receive: the time-out limits the whole handshake and
  // CancelBlockingCall ends it. From then on Receive and Send carry their
  // bytes through TLS (flags are ignored there) until the socket is closed.
  // On failure GetTLSFailure says which step failed and why; the socket
  // stays open but is of no further use.
  BOOL StartTLS(const CTlsClientSettings& settings);
  // The same with a name to check, a pinned certificate or a client
  // certificate (CTlsClientOptions).
  BOOL StartTLS(const CTlsClientSettings& settings, const CTlsClientOptions& options);
  // Whether Receive and Send go through TLS.
  BOOL IsSecure() const;
  // The step the last StartTLS failed at (TLS_FAILURE_NONE after a success)
  // and, when it failed, the reason: OpenSSL's text for the handshake, the
  // verifier's text for the certificate (for a pinned fingerprint that
  // differs, "fingerprint mismatch: " with both fingerprints), "timed out" /
  // "cancelled", or why OpenSSL could not be loaded (it is loaded when TLS
  // first starts). After a Receive or Send over TLS that failed with a TLS
  // error, TLS_CONNECTION_FAILED and OpenSSL's text ("tlsv13 alert
  // certificate required").
  TLS_FAILURE GetTLSFailure(CString* pReason = nullptr) const;

protected:
  BOOL ConnectHelper(const struct sockaddr* lpSockAddr, int nSockAddrLen) override;

private:
  // Waits until the handle's descriptor is ready for events; FALSE with the
  // last error set on cancellation, time-out or failure. The first form
  // waits at most the socket's time-out, the second nMilliseconds (0 or
  // less: no limit).
  BOOL wait_for(tarvenkel::detail::SocketHandle& handle, short events);
  BOOL wait_for(tarvenkel::detail::SocketHandle& handle, short events, int nMilliseconds);
  // Connect on a thread without wait sources: one blocking connect, limited
  // by SO_SNDTIMEO.
  BOOL blocking_connect(tarvenkel::detail::SocketHandle& handle, const struct sockaddr* lpSockAddr,
                        int nSockAddrLen);
  // Waits for a connection attempt in progress to end; TRUE when it succeeded.
  BOOL finish_connect(tarvenkel::detail::SocketHandle& handle);
  // Receive on a thread without wait sources: one blocking recv, limited by
  // SO_RCVTIMEO.
  int blocking_receive(tarvenkel::detail::SocketHandle& handle, void* lpBuf, int nBufLen, int nFlags);
  // Receive and Send over the handle's TLS session.
  int tls_receive(tarvenkel::detail::SocketHandle& handle, void* lpBuf, int nBufLen);
  int tls_send(tarvenkel::detail::SocketHandle& handle, const void* lpBuf, int nBufLen);
  // Records why StartTLS failed; always FALSE.
  BOOL tls_failed(TLS_FAILURE nFailure, const CString& sReason);
  // Records OpenSSL's reason for a Receive or Send that broke the session.
  void note_tls_break();
};

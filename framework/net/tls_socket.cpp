// SPDX-License-Identifier: Apache-2.0
// TLS for CSocket, with OpenSSL. The session reads and writes the socket's
// descriptor through a BIO of our own, so that every send carries
// MSG_NOSIGNAL and no OpenSSL call ever blocks: a call that would block
// reports SSL_ERROR_WANT_READ or WANT_WRITE and is retried after the socket's
// one blocking wait, which honours the time-out and CancelBlockingCall just
// as plain Receive and Send do.
#include "framework/net/socket.h"

#include "framework/net/deadline.h"
#include "framework/net/internal/socket_handle.h"
#include "framework/net/internal/socket_state.h"
#include "framework/net/socket_trace.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace tarvenkel::detail {

// What the BIO knows of the socket: its descriptor, whether the peer ended
// the stream, and the errno of a failed send or receive.
struct TlsTransport {
  int fd = -1;
  bool eof = false;
  int error = 0;
};

// One client TLS session over one socket descriptor.
class TlsSession {
public:
  explicit TlsSession(int fd) { m_transport.fd = fd; }
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  // Makes the context and the session for the settings; FALSE with a reason.
  bool Prepare(const CTlsClientSettings& settings, const CTlsClientOptions& options, CString& sReason);

  SSL* ssl() const { return m_ssl; }
  const TlsTransport& transport() const { return m_transport; }

  bool established = false;  // the handshake completed
  bool broken = false;       // a fatal error or an abandoned write: no more SSL calls
  bool peerClosed = false;   // the server ended the stream
  // The pinned fingerprint (empty: none), the one the server's certificate
  // has, once seen, and whether they differed.
  std::string pin;
  std::string seen;
  bool pinMismatch = false;

private:
  SSL* m_ssl = nullptr;
  TlsTransport m_transport;
};

}  // namespace tarvenkel::detail

using tarvenkel::detail::SocketHandle;
using tarvenkel::detail::TlsSession;
using tarvenkel::detail::TlsTransport;

namespace {

TlsTransport* TransportOf(BIO* bio) {
  return static_cast<TlsTransport*>(BIO_get_data(bio));
}

int TransportWrite(BIO* bio, const char* data, size_t length, size_t* written) {
  TlsTransport* t = TransportOf(bio);
  BIO_clear_retry_flags(bio);
  for (;;) {
    ssize_t n = ::send(t->fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0) {
      *written = static_cast<size_t>(n);
      return 1;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      BIO_set_retry_write(bio);
    else
      t->error = errno;
    return 0;
  }
}

int TransportRead(BIO* bio, char* data, size_t length, size_t* readBytes) {
  TlsTransport* t = TransportOf(bio);
  BIO_clear_retry_flags(bio);
  for (;;) {
    ssize_t n = ::recv(t->fd, data, length, MSG_DONTWAIT);
    if (n > 0) {
      *readBytes = static_cast<size_t>(n);
      return 1;
    }
    if (n == 0) {
      t->eof = true;
      return 0;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK)
      BIO_set_retry_read(bio);
    else
      t->error = errno;
    return 0;
  }
}

long TransportControl(BIO* bio, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_FLUSH:
      return 1;  // nothing is buffered here
    case BIO_CTRL_EOF:
      return TransportOf(bio)->eof ? 1 : 0;
    default:
      return 0;
  }
}

int TransportCreate(BIO* bio) {
  BIO_set_init(bio, 1);
  return 1;
}

// The BIO type of the socket transport, made once for the process.
BIO_METHOD* TransportMethod() {
  static BIO_METHOD* const method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarvenkel socket");
    if (m != nullptr) {
      BIO_meth_set_write_ex(m, TransportWrite);
      BIO_meth_set_read_ex(m, TransportRead);
      BIO_meth_set_ctrl(m, TransportControl);
      BIO_meth_set_create(m, TransportCreate);
    }
    return m;
  }();
  return method;
}

// OpenSSL's reason for the oldest error queued on this thread, or empty.
CString QueuedReason() {
  unsigned long error = ERR_get_error();
  ERR_clear_error();
  if (error == 0) return CString();
  if (const char* reason = ERR_reason_error_string(error)) return reason;
  char text[256];
  ERR_error_string_n(error, text, sizeof text);
  return text;
}

// The host without the brackets an IPv6 address may come in.
std::string BareHost(const CString& sHost) {
  std::string host = sHost.str();
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  return host;
}

// The SHA-256 fingerprint of a certificate as openssl prints it.
std::string FingerprintOf(X509* certificate) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return "(none)";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02X" : ":%02X", digest[i]);
    text += pair;
  }
  return text;
}

// Replaces the whole certificate check where a fingerprint is pinned: the
// server's own certificate must have it; its chain, issuer and names do not
// count.
int CheckPinnedFingerprint(X509_STORE_CTX* store, void* arg) {
  TlsSession* session = static_cast<TlsSession*>(arg);
  session->seen = FingerprintOf(X509_STORE_CTX_get0_cert(store));
  if (session->seen == session->pin) return 1;
  session->pinMismatch = true;
  X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
  return 0;
}

// Never asks for the passphrase of an encrypted key: there is nobody to ask.
int NoPassphrase(char*, int, int, void*) { return 0; }

// Loads the client certificate and its key into the context; false with a reason.
bool LoadClientCertificate(SSL_CTX* context, const CTlsClientOptions& options, CString& sReason) {
  const CString keyFile = options.sKeyFile.IsEmpty() ? options.sCertFile : options.sKeyFile;
  SSL_CTX_set_default_passwd_cb(context, NoPassphrase);
  if (SSL_CTX_use_certificate_chain_file(context, options.sCertFile.GetString()) != 1) {
    sReason = "cannot load the client certificate " + options.sCertFile + ": " + QueuedReason();
    return false;
  }
  if (SSL_CTX_use_PrivateKey_file(context, keyFile.GetString(), SSL_FILETYPE_PEM) == 1 &&
      SSL_CTX_check_private_key(context) == 1)
    return true;
  const unsigned long error = ERR_peek_error();
  if (ERR_GET_LIB(error) == ERR_LIB_X509 && ERR_GET_REASON(error) == X509_R_KEY_VALUES_MISMATCH) {
    ERR_clear_error();
    sReason = "the client key " + keyFile + " does not belong to the certificate " + options.sCertFile;
  } else {
    sReason = "cannot load the client key " + keyFile + " (an unencrypted PEM key): " + QueuedReason();
  }
  return false;
}

bool IsNumericAddress(const std::string& host) {
  in6_addr v6;
  in_addr v4;
  return ::inet_pton(AF_INET, host.c_str(), &v4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &v6) == 1;
}

}  // namespace

namespace tarvenkel::detail {

TlsSession::~TlsSession() {
  if (m_ssl == nullptr) return;
  // Tell the server the stream ends here; one try that never blocks, since
  // the connection is being dropped anyway.
  if (established && !broken) {
    (void)SSL_shutdown(m_ssl);
    ERR_clear_error();
  }
  SSL_free(m_ssl);
}

bool TlsSession::Prepare(const CTlsClientSettings& settings, const CTlsClientOptions& options, CString& sReason) {
  ERR_clear_error();
  BIO_METHOD* method = TransportMethod();
  SSL_CTX* context = method != nullptr ? SSL_CTX_new(TLS_client_method()) : nullptr;
  if (context == nullptr) {
    sReason = "cannot make a TLS context: " + QueuedReason();
    return false;
  }
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  // A server that drops the connection without a closing alert has simply
  // closed it, as on plain TCP; SMTP replies carry their own framing.
  SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
  if (!options.sFingerprint.IsEmpty()) {
    CString normalized;
    if (!NormalizeTlsFingerprint(options.sFingerprint, normalized)) {
      sReason = "'" + options.sFingerprint + "' is not a SHA-256 fingerprint (32 bytes in hex)";
      SSL_CTX_free(context);
      return false;
    }
    pin = normalized.str();
    SSL_CTX_set_cert_verify_callback(context, CheckPinnedFingerprint, this);
  } else if (settings.bVerifyPeer) {
    int loaded = settings.sCAFile.IsEmpty()
                     ? SSL_CTX_set_default_verify_paths(context)
                     : SSL_CTX_load_verify_locations(context, settings.sCAFile.GetString(), nullptr);
    if (loaded != 1) {
      sReason = settings.sCAFile.IsEmpty() ? CString("cannot load the system's trust store: ")
                                           : "cannot load the CA file " + settings.sCAFile + ": ";
      sReason += QueuedReason();
      SSL_CTX_free(context);
      return false;
    }
  }
  if (!options.sCertFile.IsEmpty() && !LoadClientCertificate(context, options, sReason)) {
    SSL_CTX_free(context);
    return false;
  }
  m_ssl = SSL_new(context);
  SSL_CTX_free(context);  // the session holds its own reference
  if (m_ssl == nullptr) {
    sReason = "cannot make a TLS session: " + QueuedReason();
    return false;
  }
  SSL_set_mode(m_ssl, SSL_MODE_ENABLE_PARTIAL_WRITE);

  // The name checked and sent: the one given for the check, else the host
  // connected to.
  const std::string host = BareHost(options.sVerifyName.IsEmpty() ? settings.sServerName : options.sVerifyName);
  const bool numeric = IsNumericAddress(host);
  if (!numeric && !host.empty() && SSL_set_tlsext_host_name(m_ssl, host.c_str()) != 1) {
    sReason = "cannot send the server name: " + QueuedReason();
    return false;
  }
  if (!pin.empty()) {
    SSL_set_verify(m_ssl, SSL_VERIFY_PEER, nullptr);
  } else if (settings.bVerifyPeer) {
    if (host.empty()) {
      sReason = "no server name to check the certificate against";
      return false;
    }
    X509_VERIFY_PARAM* param = SSL_get0_param(m_ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    int set = numeric ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                      : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    if (set != 1) {
      sReason = "cannot set the name to check: " + QueuedReason();
      return false;
    }
    SSL_set_verify(m_ssl, SSL_VERIFY_PEER, nullptr);
  } else {
    SSL_set_verify(m_ssl, SSL_VERIFY_NONE, nullptr);
  }

  BIO* bio = BIO_new(method);
  if (bio == nullptr) {
    sReason = "cannot make the socket transport: " + QueuedReason();
    return false;
  }
  BIO_set_data(bio, &m_transport);
  SSL_set_bio(m_ssl, bio, bio);
  SSL_set_connect_state(m_ssl);
  return true;
}

}  // namespace tarvenkel::detail

BOOL NormalizeTlsFingerprint(const CString& sFingerprint, CString& sNormalized) {
  std::string text = sFingerprint.str();
  // "sha256 Fingerprint=AB:CD:..." as openssl prints it.
  if (const std::size_t equals = text.find('='); equals != std::string::npos) text = text.substr(equals + 1);
  std::string digits;
  for (char c : text) {
    if (c == ':' || c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return FALSE;
    digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (digits.size() != 64) return FALSE;
  std::string result;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    if (i > 0) result.push_back(':');
    result.append(digits, i, 2);
  }
  sNormalized = result.c_str();
  return TRUE;
}

BOOL CSocket::tls_failed(TLS_FAILURE nFailure, const CString& sReason) {
  m_pState->tlsFailure = nFailure;
  m_pState->tlsFailureReason = sReason;
  return FALSE;
}

void CSocket::note_tls_break() {
  // A fatal alert from the server (one refusing the client's certificate
  // arrives here under TLS 1.3) or a broken record: OpenSSL names it.
  const CString reason = QueuedReason();
  if (!reason.IsEmpty()) tls_failed(TLS_CONNECTION_FAILED, reason);
}

TLS_FAILURE CSocket::GetTLSFailure(CString* pReason) const {
  if (pReason != nullptr) *pReason = m_pState->tlsFailureReason;
  return m_pState->tlsFailure;
}

BOOL CSocket::IsSecure() const {
  auto handle = GetHandle();
  return handle && handle->tls ? TRUE : FALSE;
}

BOOL CSocket::StartTLS(const CTlsClientSettings& settings) {
  return StartTLS(settings, CTlsClientOptions());
}

BOOL CSocket::StartTLS(const CTlsClientSettings& settings, const CTlsClientOptions& options) {
  m_pState->tlsFailure = TLS_FAILURE_NONE;
  m_pState->tlsFailureReason.Empty();
  auto handle = GetHandle();
  if (!handle) {
    SetLastError(ENOTSOCK);
    return tls_failed(TLS_SETUP_FAILED, "the socket is not open");
  }
  if (handle->tls) {
    SetLastError(EISCONN);
    return tls_failed(TLS_SETUP_FAILED, "TLS has already started on this socket");
  }
  auto session = std::make_shared<TlsSession>(handle->fd);
  CString reason;
  if (!session->Prepare(settings, options, reason)) {
    SetLastError(EPROTO);
    return tls_failed(TLS_SETUP_FAILED, reason);
  }

  // The time-out bounds the whole handshake, however the server spaces out
  // its messages.
  const int timeout = GetTimeout();
  const CDeadline deadline(timeout > 0 ? timeout : -1);
  SSL* ssl = session->ssl();
  for (;;) {
    if (handle->TakeCancel()) {
      SetLastError(ECANCELED);
      return tls_failed(TLS_HANDSHAKE_FAILED, "cancelled");
    }
    ERR_clear_error();
    int rc = SSL_connect(ssl);
    if (rc == 1) break;
    int error = SSL_get_error(ssl, rc);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      session->broken = true;
      long verified = SSL_get_verify_result(ssl);
      if (session->pinMismatch) {
        ERR_clear_error();
        SetLastError(EPROTO);
        return tls_failed(TLS_CERTIFICATE_REJECTED, CString(("fingerprint mismatch: the certificate's SHA-256 "
                                                            "fingerprint is " + session->seen + ", expected " +
                                                            session->pin).c_str()));
      }
      if (settings.bVerifyPeer && session->pin.empty() && verified != X509_V_OK) {
        ERR_clear_error();
        SetLastError(EPROTO);
        return tls_failed(TLS_CERTIFICATE_REJECTED, X509_verify_cert_error_string(verified));
      }
      reason = QueuedReason();
      const TlsTransport& transport = session->transport();
      if (reason.IsEmpty()) {
        if (transport.error != 0)
          reason = std::strerror(transport.error);
        else if (transport.eof)
          reason = "the server closed the connection";
        else
          reason = "the server broke off the handshake";
      }
      SetLastError(transport.error != 0 ? transport.error : EPROTO);
      return tls_failed(TLS_HANDSHAKE_FAILED, reason);
    }
    const int waitMs = deadline.RemainingMs();  // -1: no limit
    if (waitMs == 0) {
      SetLastError(ETIMEDOUT);
      return tls_failed(TLS_HANDSHAKE_FAILED, "timed out");
    }
    if (!wait_for(*handle, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, waitMs)) {
      int why = GetLastError();
      return tls_failed(TLS_HANDSHAKE_FAILED, why == ETIMEDOUT   ? CString("timed out")
                                              : why == ECANCELED ? CString("cancelled")
                                                                 : CString(std::strerror(why)));
    }
  }
  session->established = true;
  handle->tls = std::move(session);
  return TRUE;
}

int CSocket::tls_receive(SocketHandle& handle, void* lpBuf, int nBufLen) {
  TlsSession& session = *handle.tls;
  for (;;) {
    if (handle.TakeCancel()) {
      SetLastError(ECANCELED);
      return SOCKET_ERROR;
    }
    if (session.peerClosed || nBufLen <= 0) return 0;
    if (session.broken) {
      SetLastError(ECONNABORTED);
      return SOCKET_ERROR;
    }
    ERR_clear_error();
    size_t got = 0;
    int rc = SSL_read_ex(session.ssl(), lpBuf, static_cast<size_t>(nBufLen), &got);
    if (rc == 1) {
      AfxSocketTrace(FALSE, lpBuf, static_cast<int>(got));
      return static_cast<int>(got);
    }
    int error = SSL_get_error(session.ssl(), rc);
    if (error == SSL_ERROR_ZERO_RETURN) {
      session.peerClosed = true;
      return 0;
    }
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      session.broken = true;
      note_tls_break();
      SetLastError(session.transport().error != 0 ? session.transport().error : EPROTO);
      return SOCKET_ERROR;
    }
    // Data already decrypted were returned above; only now is a wait due.
    if (!wait_for(handle, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT)) return SOCKET_ERROR;
  }
}

int CSocket::tls_send(SocketHandle& handle, const void* lpBuf, int nBufLen) {
  TlsSession& session = *handle.tls;
  const char* p = static_cast<const char*>(lpBuf);
  int left = nBufLen;
  while (left > 0) {
    // A write that OpenSSL has begun must be retried with the same bytes;
    // one abandoned half-way leaves the stream unusable.
    if (handle.TakeCancel()) {
      session.broken = true;
      SetLastError(ECANCELED);
      return SOCKET_ERROR;
    }
    if (session.broken) {
      SetLastError(ECONNABORTED);
      return SOCKET_ERROR;
    }
    ERR_clear_error();
    size_t written = 0;
    int rc = SSL_write_ex(session.ssl(), p, static_cast<size_t>(left), &written);
    if (rc == 1) {
      AfxSocketTrace(TRUE, p, static_cast<int>(written));
      p += written;
      left -= static_cast<int>(written);
      continue;
    }
    int error = SSL_get_error(session.ssl(), rc);
    if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
      session.broken = true;
      note_tls_break();
      SetLastError(session.transport().error != 0 ? session.transport().error : EPIPE);
      return SOCKET_ERROR;
    }
    if (!wait_for(handle, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT)) {
      session.broken = true;
      return SOCKET_ERROR;
    }
  }
  return nBufLen;
}

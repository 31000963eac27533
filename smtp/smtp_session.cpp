// SPDX-License-Identifier: Apache-2.0
// The session of CSMTP: the server parameters and the security settings,
// opening the connection (in plain text, in TLS from the first byte, or
// upgraded with STARTTLS), the greeting, the introduction with HELO or EHLO
// and the extensions it lists, QUIT, and cancelling a blocked call.
#include "smtp/smtp.h"

#include "framework/core/exception.h"
#include "smtp/internal/smtp_state.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

using tarvenkel::detail::CSMTPState;
using tarvenkel::detail::kReplyBufferSize;
using tarvenkel::detail::NamesExtension;

namespace {

constexpr int kHostNameSize = 80;
constexpr UINT kDefaultTimeout = 300;
constexpr int kStartTlsReady = 220;

}  // namespace

bool tarvenkel::detail::NamesExtension(const CString& sLine, const char* szKeyword, std::string* pRest) {
  const std::string line = sLine.str();
  const std::string keyword = szKeyword;
  if (line.size() < keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(line[i])) != keyword[i]) return false;
  if (line.size() > keyword.size() && line[keyword.size()] != ' ' && line[keyword.size()] != '=') return false;
  if (pRest != nullptr) *pRest = line.size() > keyword.size() ? line.substr(keyword.size() + 1) : std::string();
  return true;
}

CSMTP::CSMTP()
    : m_sLastError("OK"),
      m_bConnected(FALSE),
      m_nPort(25),
      m_pReplyBuffer(nullptr),
      m_pState(std::make_unique<CSMTPState>(*this)) {
  AfxSocketInit(nullptr);
}

CSMTPState::CSMTPState(CSMTP& smtp) : m_smtp(smtp), m_nTimeout(kDefaultTimeout) {}

CSMTP::~CSMTP() {
  Disconnect();
  delete[] m_pReplyBuffer;
}

void CSMTP::SetParams(CString sHost, CString sSender, int nPort, CString sUser, CString sPassword) {
  m_sServerHost = sHost;
  m_sSender = sSender;
  m_nPort = static_cast<UINT>(nPort);
  m_sUser = sUser;
  m_sPassword = sPassword;
}

CString CSMTP::GetServerHostName() const {
  return m_sServerHost;
}

UINT CSMTP::GetPort() const {
  return m_nPort;
}

CString CSMTP::GetLastError() const {
  return m_sLastError;
}

CString CSMTP::GetLastReply() const {
  return m_pState->m_sLastReply;
}

CString CSMTP::GetLastSocketError() const {
  return m_pState->m_sSocketError;
}

CString CSMTP::address_literal(const CString& sNumericAddress) {
  const CString mapped("::ffff:");
  if (sNumericAddress.Find(':') < 0) return "[" + sNumericAddress + "]";
  if (sNumericAddress.Left(mapped.GetLength()) == mapped && sNumericAddress.Find('.') >= 0)
    return "[" + sNumericAddress.Mid(mapped.GetLength()) + "]";
  return "[IPv6:" + sNumericAddress + "]";
}

CString CSMTPState::local_name() const {
  char name[kHostNameSize] = {};
  if (::gethostname(name, kHostNameSize) == 0) {
    name[kHostNameSize - 1] = '\0';
    if (name[0] != '\0') return name;
  }
  CString address;
  UINT port = 0;
  if (m_smtp.m_Socket.GetSockName(address, port)) return CSMTP::address_literal(address);
  return "[127.0.0.1]";
}

void CSMTPState::abandon_connection() {
  m_smtp.m_Socket.Close();
  delete[] m_smtp.m_pReplyBuffer;
  m_smtp.m_pReplyBuffer = nullptr;
  m_ReplyReader.Reset();
  m_nLink = LINK_OPEN;
  m_bQuitSent = FALSE;
}

void CSMTPState::note_connect_failure(int nError) {
  // The socket layer reports a name that does not resolve as an unreachable
  // host; the resolver tells which it was.
  if (nError == EHOSTUNREACH) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string host = m_smtp.m_sServerHost.str();
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (list != nullptr) ::freeaddrinfo(list);
    if (rc != 0 && rc != EAI_SYSTEM) {
      m_sSocketError = ::gai_strerror(rc);
      return;
    }
  }
  m_sSocketError = nError != 0 ? std::strerror(nError) : "";
}

BOOL CSMTPState::introduce(const CString& sName, BOOL bExtended) {
  m_Extensions.clear();
  if (bExtended) {
    CSMTPReply reply;
    if (!command(reply, "EHLO %s\r\n", sName.GetString())) return FALSE;
    if (reply.nCode == CSMTP::response_table[CSMTP::RESPONSE_OK].nCode) {
      // The first line greets; each further one names an extension.
      if (!reply.lines.empty()) m_Extensions.assign(reply.lines.begin() + 1, reply.lines.end());
      return TRUE;
    }
    // A server that does not know EHLO rejects it with 5xx; it may still
    // accept HELO and the login after it.
    if (reply.nCode / 100 != 5) {
      reply_failed(reply, CSMTP::response_table[CSMTP::RESPONSE_OK].szMessage);
      return FALSE;
    }
  }
  return command(CSMTP::RESPONSE_OK, "HELO %s\r\n", sName.GetString());
}

BOOL CSMTP::Connect() {
  if (m_bConnected && m_pState->m_nLink == CSMTPState::LINK_OPEN) return TRUE;
  if (m_bConnected) {
    // The connection failed since; it is opened anew.
    m_pState->abandon_connection();
    m_bConnected = FALSE;
  }
  m_pState->m_sLastReply.Empty();
  m_pState->m_sSocketError.Empty();

  try {
    m_pReplyBuffer = new (std::nothrow) char[kReplyBufferSize];
  } catch (CException* e) {
    e->Delete();
    m_pReplyBuffer = nullptr;
  }
  if (m_pReplyBuffer == nullptr) {
    m_sLastError = "Not enough memory";
    return FALSE;
  }
  m_pState->m_ReplyReader.Reset();

  if (!m_Socket.Create(0, SOCK_STREAM, FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE, nullptr)) {
    m_sLastError = "Unable to create the socket.";
    m_pState->note_connect_failure(CSocket::GetLastError());
    m_pState->abandon_connection();
    return FALSE;
  }
  m_Socket.SetTimeout(m_pState->timeout_ms(m_pState->m_nTimeout));
  if (!m_Socket.Connect(GetServerHostName(), GetPort())) {
    m_sLastError = "Unable to connect to server";
    m_pState->note_connect_failure(CSocket::GetLastError());
    m_pState->abandon_connection();
    return FALSE;
  }
  // Commands are whole lines and the data phase ends with a short write that
  // is answered at once; waiting to coalesce them only adds delay.
  const int noDelay = 1;
  m_Socket.SetSockOpt(TCP_NODELAY, &noDelay, sizeof noDelay, IPPROTO_TCP);
  if (m_pState->m_nSecurity == SECURITY_TLS && !m_pState->start_tls()) {
    m_pState->abandon_connection();
    return FALSE;
  }
  if (!get_response(RESPONSE_READY)) {
    m_sLastError = "Server didn't respond.";
    m_pState->abandon_connection();
    return FALSE;
  }

  const BOOL bLogin = m_pState->wants_login();
  const BOOL bStartTLS = m_pState->m_nSecurity == SECURITY_STARTTLS || m_pState->m_nSecurity == SECURITY_STARTTLS_OFFERED;
  const CString sName = m_pState->local_name();
  if (!m_pState->introduce(sName, bLogin || bStartTLS || m_pState->m_bShortDialogue) ||
      (m_pState->wants_starttls() && !m_pState->upgrade_with_starttls(sName)) ||
      (bLogin && (!m_pState->login_allowed() || !m_pState->login()))) {
    m_pState->abandon_connection();
    return FALSE;
  }
  m_bConnected = TRUE;
  return TRUE;
}

BOOL CSMTP::Disconnect() {
  if (!m_bConnected) return TRUE;
  if (m_pState->m_nLink != CSMTPState::LINK_OPEN) {
    // Nothing can be said on a failed connection.
    m_pState->abandon_connection();
    m_bConnected = FALSE;
    return FALSE;
  }
  // A QUIT that went with the end of the data has only its reply to come.
  const BOOL result =
      m_pState->m_bQuitSent ? get_response(RESPONSE_CLOSING) : m_pState->command(RESPONSE_CLOSING, "QUIT\r\n");
  m_pState->abandon_connection();
  m_bConnected = FALSE;
  return result;
}

void CSMTP::Cancel() {
  m_Socket.CancelBlockingCall();
  m_Socket.Close();
}

void CSMTP::SetShortDialogue(BOOL bShort) {
  m_pState->m_bShortDialogue = bShort ? TRUE : FALSE;
}

BOOL CSMTP::GetShortDialogue() const {
  return m_pState->m_bShortDialogue;
}

void CSMTP::SetSecurity(SECURITY_MODE nMode) {
  m_pState->m_nSecurity = nMode;
}

CSMTP::SECURITY_MODE CSMTP::GetSecurity() const {
  return m_pState->m_nSecurity;
}

void CSMTP::SetCAFile(CString sPath) {
  m_pState->m_sCAFile = sPath;
}

CString CSMTP::GetCAFile() const {
  return m_pState->m_sCAFile;
}

void CSMTP::SetVerifyPeer(BOOL bVerify) {
  m_pState->m_bVerifyPeer = bVerify ? TRUE : FALSE;
}

BOOL CSMTP::GetVerifyPeer() const {
  return m_pState->m_bVerifyPeer;
}

void CSMTP::SetTLSServerName(CString sName) {
  m_pState->m_sTLSServerName = sName;
}

CString CSMTP::GetTLSServerName() const {
  return m_pState->m_sTLSServerName;
}

void CSMTP::SetTLSFingerprint(CString sFingerprint) {
  m_pState->m_sTLSFingerprint = sFingerprint;
}

CString CSMTP::GetTLSFingerprint() const {
  return m_pState->m_sTLSFingerprint;
}

void CSMTP::SetClientCertificate(CString sCertFile, CString sKeyFile) {
  m_pState->m_sClientCertFile = sCertFile;
  m_pState->m_sClientKeyFile = sKeyFile;
}

CString CSMTP::GetClientCertificateFile() const {
  return m_pState->m_sClientCertFile;
}

CString CSMTP::GetClientKeyFile() const {
  return m_pState->m_sClientKeyFile;
}

void CSMTP::SetPlaintextLogin(BOOL bAllow) {
  m_pState->m_bPlaintextLogin = bAllow ? TRUE : FALSE;
}

BOOL CSMTP::GetPlaintextLogin() const {
  return m_pState->m_bPlaintextLogin;
}

BOOL CSMTPState::wants_starttls() const {
  return m_nSecurity == CSMTP::SECURITY_STARTTLS ||
         (m_nSecurity == CSMTP::SECURITY_STARTTLS_OFFERED && server_offers("STARTTLS"));
}

std::uint64_t CSMTPState::size_limit() const {
  for (const CString& line : m_Extensions) {
    std::string limit;
    if (!NamesExtension(line, "SIZE", &limit)) continue;
    while (!limit.empty() && (limit.back() == ' ' || limit.back() == '\t')) limit.pop_back();
    // "SIZE" alone, "SIZE 0" or a value that is no number: no limit given.
    if (limit.empty() || limit.find_first_not_of("0123456789") != std::string::npos || limit.size() > 19) return 0;
    return std::stoull(limit);
  }
  return 0;
}

BOOL CSMTPState::server_offers(const char* szKeyword) const {
  return std::any_of(m_Extensions.begin(), m_Extensions.end(),
                     [&](const CString& line) { return NamesExtension(line, szKeyword, nullptr); });
}

BOOL CSMTPState::start_tls() {
  CTlsClientSettings settings;
  settings.sServerName = m_smtp.GetServerHostName();
  settings.sCAFile = m_sCAFile;
  settings.bVerifyPeer = m_bVerifyPeer;
  CTlsClientOptions options;
  options.sVerifyName = m_sTLSServerName;
  options.sFingerprint = m_sTLSFingerprint;
  options.sCertFile = m_sClientCertFile;
  options.sKeyFile = m_sClientKeyFile;
  m_smtp.m_Socket.SetTimeout(timeout_ms(m_nTimeout));
  if (m_smtp.m_Socket.StartTLS(settings, options)) return TRUE;
  CString reason;
  if (m_smtp.m_Socket.GetTLSFailure(&reason) == TLS_CERTIFICATE_REJECTED)
    m_smtp.m_sLastError = "Server certificate rejected: " + reason;
  else
    m_smtp.m_sLastError = "TLS handshake failed: " + reason;
  return FALSE;
}

BOOL CSMTPState::upgrade_with_starttls(const CString& sName) {
  if (!server_offers("STARTTLS")) {
    m_smtp.m_sLastError = "Server does not offer STARTTLS";
    return FALSE;
  }
  CSMTPReply reply;
  if (!command(reply, "STARTTLS\r\n")) return FALSE;
  if (reply.nCode != kStartTlsReady) {
    reply_failed(reply, "SMTP server refused STARTTLS");
    return FALSE;
  }
  // Bytes that came after the 220 in plain text were not sent by the server
  // inside TLS and might be injected; they must not pass as TLS replies.
  if (m_ReplyReader.Pending() != 0) {
    m_smtp.m_sLastError = "TLS handshake failed: the server sent data before the handshake";
    return FALSE;
  }
  if (!start_tls()) return FALSE;
  // What the server offered in plain text counts no more: ask again.
  return introduce(sName, TRUE);
}

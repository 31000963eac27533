// The protected connection of CSMTP: the security settings, TLS from the
// first byte or after STARTTLS, the extension list of EHLO, and AUTH PLAIN.
#include "smtp/smtp.h"

#include "mail/base64.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {

constexpr int kStartTlsReady = 220;

// Whether an EHLO line names the extension: the keyword, in any case,
// followed by the end of the line, a space, or the '=' of the old
// "AUTH=LOGIN" form.
bool NamesExtension(const CString& sLine, const char* szKeyword, std::string* pRest) {
  const std::string line = sLine.str();
  const std::string keyword = szKeyword;
  if (line.size() < keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(line[i])) != keyword[i]) return false;
  if (line.size() > keyword.size() && line[keyword.size()] != ' ' && line[keyword.size()] != '=') return false;
  if (pRest != nullptr) *pRest = line.size() > keyword.size() ? line.substr(keyword.size() + 1) : std::string();
  return true;
}

}  // namespace

void CSMTP::SetSecurity(SECURITY_MODE nMode) {
  m_nSecurity = nMode;
}

CSMTP::SECURITY_MODE CSMTP::GetSecurity() const {
  return m_nSecurity;
}

void CSMTP::SetCAFile(CString sPath) {
  m_sCAFile = sPath;
}

CString CSMTP::GetCAFile() const {
  return m_sCAFile;
}

void CSMTP::SetVerifyPeer(BOOL bVerify) {
  m_bVerifyPeer = bVerify ? TRUE : FALSE;
}

BOOL CSMTP::GetVerifyPeer() const {
  return m_bVerifyPeer;
}

void CSMTP::SetPlaintextLogin(BOOL bAllow) {
  m_bPlaintextLogin = bAllow ? TRUE : FALSE;
}

BOOL CSMTP::GetPlaintextLogin() const {
  return m_bPlaintextLogin;
}

BOOL CSMTP::wants_starttls() const {
  return m_nSecurity == SECURITY_STARTTLS || (m_nSecurity == SECURITY_STARTTLS_OFFERED && server_offers("STARTTLS"));
}

BOOL CSMTP::login_allowed() {
  if (m_bPlaintextLogin || m_Socket.IsSecure()) return TRUE;
  m_sLastError = "Login refused: the connection is not encrypted";
  return FALSE;
}

BOOL CSMTP::server_offers(const char* szKeyword) const {
  return std::any_of(m_Extensions.begin(), m_Extensions.end(),
                     [&](const CString& line) { return NamesExtension(line, szKeyword, nullptr); });
}

BOOL CSMTP::use_auth_plain() const {
  bool plain = false;
  bool login = false;
  for (const CString& line : m_Extensions) {
    std::string mechanisms;
    if (!NamesExtension(line, "AUTH", &mechanisms)) continue;
    std::transform(mechanisms.begin(), mechanisms.end(), mechanisms.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::size_t start = 0;
    while (start < mechanisms.size()) {
      std::size_t end = mechanisms.find(' ', start);
      if (end == std::string::npos) end = mechanisms.size();
      const std::string name = mechanisms.substr(start, end - start);
      plain = plain || name == "PLAIN";
      login = login || name == "LOGIN";
      start = end + 1;
    }
  }
  // PLAIN with its initial response takes one round trip, LOGIN three; the
  // full dialogue keeps LOGIN wherever the server offers it.
  return plain && (!login || m_bShortDialogue);
}

BOOL CSMTP::login_plain() {
  // The identity is no authorisation name, NUL, the user, NUL, the password;
  // it goes with the command, so the login takes one round trip.
  std::string identity;
  identity.push_back('\0');
  identity.append(m_sUser.GetString(), static_cast<std::size_t>(m_sUser.GetLength()));
  identity.push_back('\0');
  identity.append(m_sPassword.GetString(), static_cast<std::size_t>(m_sPassword.GetLength()));
  CBase64 base64;
  return command(RESPONSE_AUTH_OK, "AUTH PLAIN %s\r\n",
                 base64.Encode(identity.data(), static_cast<int>(identity.size())).GetString());
}

BOOL CSMTP::start_tls() {
  CTlsClientSettings settings;
  settings.sServerName = GetServerHostName();
  settings.sCAFile = m_sCAFile;
  settings.bVerifyPeer = m_bVerifyPeer;
  m_Socket.SetTimeout(timeout_ms(m_nTimeout));
  if (m_Socket.StartTLS(settings)) return TRUE;
  CString reason;
  if (m_Socket.GetTLSFailure(&reason) == TLS_CERTIFICATE_REJECTED)
    m_sLastError = "Server certificate rejected: " + reason;
  else
    m_sLastError = "TLS handshake failed: " + reason;
  return FALSE;
}

BOOL CSMTP::upgrade_with_starttls(const CString& sName) {
  if (!server_offers("STARTTLS")) {
    m_sLastError = "Server does not offer STARTTLS";
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
    m_sLastError = "TLS handshake failed: the server sent data before the handshake";
    return FALSE;
  }
  if (!start_tls()) return FALSE;
  // What the server offered in plain text counts no more: ask again.
  return introduce(sName, TRUE);
}

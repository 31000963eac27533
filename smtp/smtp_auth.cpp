// The login of CSMTP: the mechanism the server's EHLO reply allows, AUTH
// LOGIN (user and password each in a reply to a challenge) and AUTH PLAIN
// (the whole identity with the command).
#include "smtp/smtp.h"

#include "mail/base64.h"
#include "smtp/internal/smtp_state.h"

#include <algorithm>
#include <cctype>
#include <string>

using tarvenkel::detail::CSMTPState;
using tarvenkel::detail::NamesExtension;

BOOL CSMTPState::login() {
  if (use_auth_plain()) return login_plain();
  CBase64 base64;
  if (!command(CSMTP::RESPONSE_AUTH_CONTINUE, "AUTH LOGIN\r\n")) return FALSE;
  const CString sUser = base64.Encode(m_smtp.m_sUser.GetString(), m_smtp.m_sUser.GetLength());
  if (!command(CSMTP::RESPONSE_AUTH_CONTINUE, "%s\r\n", sUser.GetString())) return FALSE;
  const CString sPassword = base64.Encode(m_smtp.m_sPassword.GetString(), m_smtp.m_sPassword.GetLength());
  return command(CSMTP::RESPONSE_AUTH_OK, "%s\r\n", sPassword.GetString());
}

BOOL CSMTPState::use_auth_plain() const {
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

BOOL CSMTPState::login_plain() {
  // The identity is no authorisation name, NUL, the user, NUL, the password;
  // it goes with the command, so the login takes one round trip.
  std::string identity;
  identity.push_back('\0');
  identity.append(m_smtp.m_sUser.GetString(), static_cast<std::size_t>(m_smtp.m_sUser.GetLength()));
  identity.push_back('\0');
  identity.append(m_smtp.m_sPassword.GetString(), static_cast<std::size_t>(m_smtp.m_sPassword.GetLength()));
  CBase64 base64;
  return command(CSMTP::RESPONSE_AUTH_OK, "AUTH PLAIN %s\r\n",
                 base64.Encode(identity.data(), static_cast<int>(identity.size())).GetString());
}

BOOL CSMTPState::login_allowed() {
  if (m_bPlaintextLogin || m_smtp.m_Socket.IsSecure()) return TRUE;
  m_smtp.m_sLastError = "Login refused: the connection is not encrypted";
  return FALSE;
}

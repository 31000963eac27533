// SPDX-License-Identifier: Apache-2.0
// The login of CSMTP: the mechanism the server's EHLO reply allows, AUTH
// LOGIN (user and password each in a reply to a challenge), AUTH PLAIN (the
// whole identity with the command), and the bearer-token logins XOAUTH2 and
// OAUTHBEARER (the token with the command; a refusal may come as an error
// challenge first).
#include "smtp/smtp.h"

#include "mail/base64.h"
#include "smtp/internal/bearer_login.h"
#include "smtp/internal/smtp_state.h"

#include <algorithm>
#include <cctype>
#include <string>

using tarvenkel::detail::CSMTPState;
using tarvenkel::detail::NamesExtension;

namespace {

// The base64 of a byte string, as the login commands carry it.
CString encode(const std::string& bytes) {
  CBase64 base64;
  return base64.Encode(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace

void CSMTP::SetOAuth2Token(CString sToken) {
  m_pState->m_sToken = sToken;
}

CString CSMTP::GetOAuth2Token() const {
  return m_pState->m_sToken;
}

void CSMTP::SetAuthMechanism(AUTH_MECHANISM nMechanism) {
  m_pState->m_nAuthMechanism = nMechanism;
}

CSMTP::AUTH_MECHANISM CSMTP::GetAuthMechanism() const {
  return m_pState->m_nAuthMechanism;
}

BOOL CSMTPState::wants_login() const {
  return !m_smtp.m_sUser.IsEmpty() || !m_smtp.m_sPassword.IsEmpty() || !m_sToken.IsEmpty();
}

BOOL CSMTPState::login() {
  switch (m_nAuthMechanism) {
    case CSMTP::AUTH_LOGIN:
      return login_login();
    case CSMTP::AUTH_PLAIN:
      return login_plain();
    case CSMTP::AUTH_XOAUTH2:
      return login_bearer(FALSE);
    case CSMTP::AUTH_OAUTHBEARER:
      return login_bearer(TRUE);
    case CSMTP::AUTH_AUTO:
      break;
  }
  if (!m_sToken.IsEmpty()) return login_bearer(offers_mechanism("OAUTHBEARER"));
  return use_auth_plain() ? login_plain() : login_login();
}

BOOL CSMTPState::login_login() {
  if (!command(CSMTP::RESPONSE_AUTH_CONTINUE, "AUTH LOGIN\r\n")) return FALSE;
  if (!command(CSMTP::RESPONSE_AUTH_CONTINUE, "%s\r\n", encode(m_smtp.m_sUser.str()).GetString())) return FALSE;
  return command(CSMTP::RESPONSE_AUTH_OK, "%s\r\n", encode(m_smtp.m_sPassword.str()).GetString());
}

BOOL CSMTPState::offers_mechanism(const char* szMechanism) const {
  const std::string wanted = szMechanism;
  for (const CString& line : m_Extensions) {
    std::string mechanisms;
    if (!NamesExtension(line, "AUTH", &mechanisms)) continue;
    std::transform(mechanisms.begin(), mechanisms.end(), mechanisms.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    std::size_t start = 0;
    while (start < mechanisms.size()) {
      std::size_t end = mechanisms.find(' ', start);
      if (end == std::string::npos) end = mechanisms.size();
      if (mechanisms.compare(start, end - start, wanted) == 0) return TRUE;
      start = end + 1;
    }
  }
  return FALSE;
}

BOOL CSMTPState::use_auth_plain() const {
  // PLAIN with its initial response takes one round trip, LOGIN three; the
  // full dialogue keeps LOGIN wherever the server offers it.
  return offers_mechanism("PLAIN") && (!offers_mechanism("LOGIN") || m_bShortDialogue);
}

BOOL CSMTPState::login_plain() {
  // The identity is no authorisation name, NUL, the user, NUL, the password;
  // it goes with the command, so the login takes one round trip.
  std::string identity;
  identity.push_back('\0');
  identity += m_smtp.m_sUser.str();
  identity.push_back('\0');
  identity += m_smtp.m_sPassword.str();
  return command(CSMTP::RESPONSE_AUTH_OK, "AUTH PLAIN %s\r\n", encode(identity).GetString());
}

BOOL CSMTPState::login_bearer(BOOL bOAuthBearer) {
  if (m_sToken.IsEmpty()) {
    m_smtp.m_sLastError = "Login refused: no OAuth2 token set";
    m_sLastReply.Empty();
    return FALSE;
  }
  const std::string user = m_smtp.m_sUser.str();
  const std::string token = m_sToken.str();
  const std::string response =
      bOAuthBearer ? tarvenkel::detail::OAuthBearerResponse(user, m_smtp.m_sServerHost.str(), m_smtp.m_nPort, token)
                   : tarvenkel::detail::XOAuth2Response(user, token);
  CSMTPReply reply;
  if (!command(reply, "AUTH %s %s\r\n", bOAuthBearer ? "OAUTHBEARER" : "XOAUTH2", encode(response).GetString()))
    return FALSE;
  if (reply.nCode != CSMTP::response_table[CSMTP::RESPONSE_AUTH_CONTINUE].nCode)
    return check_reply(reply, CSMTP::RESPONSE_AUTH_OK);
  // An error challenge: the server says why as base64 JSON and waits for the
  // client to end the exchange, XOAUTH2 with an empty line, OAUTHBEARER with
  // a single 0x01 byte ("AQ=="); only then comes the final reply.
  const std::string status =
      reply.lines.empty() ? std::string() : tarvenkel::detail::BearerChallengeStatus(reply.lines.front().str());
  CSMTPReply final;
  if (!command(final, "%s\r\n", bOAuthBearer ? "AQ==" : "")) return FALSE;
  if (check_reply(final, CSMTP::RESPONSE_AUTH_OK)) return TRUE;
  if (!status.empty()) m_smtp.m_sLastError += (" (" + status + ")").c_str();
  return FALSE;
}

BOOL CSMTPState::login_allowed() {
  if (m_bPlaintextLogin || m_smtp.m_Socket.IsSecure()) return TRUE;
  m_smtp.m_sLastError = "Login refused: the connection is not encrypted";
  return FALSE;
}

// SPDX-License-Identifier: Apache-2.0
// The link of CSMTP to its server: sending commands and data, reading whole
// replies and checking them against the reply each step expects, the
// time-outs, and what a connection lost under the session leaves behind.
#include "smtp/smtp.h"

#include "framework/net/deadline.h"
#include "smtp/internal/smtp_state.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

using tarvenkel::detail::CSMTPState;
using tarvenkel::detail::kReplyBufferSize;

namespace {

constexpr UINT kDefaultEndOfDataTimeout = 600;

}  // namespace

const CSMTP::response_code CSMTP::response_table[] = {
    {250, "SMTP server error"},
    {220, "SMTP server not available"},
    {334, "SMTP server not available"},
    {235, "SMTP AUTH FAILED"},
    {354, "SMTP server not ready for data"},
    {221, "SMTP server didn't terminate session"},
};

void CSMTP::SetTimeout(UINT nSeconds) {
  m_pState->m_nTimeout = nSeconds;
  m_pState->m_bTimeoutSet = TRUE;
}

UINT CSMTPState::end_of_data_timeout() const {
  return m_bTimeoutSet ? m_nTimeout : kDefaultEndOfDataTimeout;
}

int CSMTPState::timeout_ms(UINT nSeconds) const {
  return static_cast<int>(std::min<unsigned long long>(
      static_cast<unsigned long long>(nSeconds) * m_smtp.m_nTimeoutUnitMs, 0x7fffffff));
}

UINT CSMTP::GetTimeout() const {
  return m_pState->m_nTimeout;
}

BOOL CSMTPState::send_text(const CString& sText) {
  return send_bytes(sText.GetString(), static_cast<std::size_t>(sText.GetLength()));
}

BOOL CSMTPState::send_bytes(const char* pData, std::size_t nLength) {
  constexpr std::size_t kMaxSend = 1 << 30;
  // A reply read leaves the socket's limit at what was left of its own
  // wait; a send gets the whole limit, however long that reply took.
  m_smtp.m_Socket.SetTimeout(timeout_ms(m_nTimeout));
  while (m_nLink == LINK_OPEN && nLength > 0) {
    const std::size_t piece = std::min(nLength, kMaxSend);
    if (m_smtp.m_Socket.Send(pData, static_cast<int>(piece), 0) == SOCKET_ERROR)
      link_lost(CSocket::GetLastError(), FALSE);
    pData += piece;
    nLength -= piece;
  }
  return m_nLink == LINK_OPEN;
}

BOOL CSMTPState::command(UINT response_expected, const char* szFormat, ...) {
  va_list args;
  va_start(args, szFormat);
  CSMTPReply reply;
  const BOOL read = vcommand(reply, szFormat, args);
  va_end(args);
  return read && check_reply(reply, response_expected);
}

BOOL CSMTPState::command(CSMTPReply& reply, const char* szFormat, ...) {
  va_list args;
  va_start(args, szFormat);
  const BOOL read = vcommand(reply, szFormat, args);
  va_end(args);
  return read;
}

BOOL CSMTPState::vcommand(CSMTPReply& reply, const char* szFormat, va_list args) {
  CString text;
  text.FormatV(szFormat, args);
  // A connection that failed before or in this send brings no reply: the
  // step ends as after a failed receive, without waiting.
  if (!send_text(text)) return failed_link_reply(reply);
  return read_reply(reply);
}

void CSMTPState::link_lost(int nError, BOOL bReceiving) {
  if (nError == 0) {
    m_nLink = LINK_CLOSED;
    m_sSocketError = "Connection closed by the server";
  } else {
    // After a reset has been reported once, the socket reads as closed.
    m_nLink = nError == ETIMEDOUT ? LINK_TIMED_OUT
              : nError == ECONNRESET || nError == EPIPE || !bReceiving ? LINK_CLOSED
                                                                       : LINK_FAILED;
    m_sSocketError = std::strerror(nError);
    // A TLS alert says more than "Protocol error": a server that refused the
    // client certificate says so only after the handshake under TLS 1.3.
    CString reason;
    if (m_smtp.m_Socket.IsSecure() && m_smtp.m_Socket.GetTLSFailure(&reason) == TLS_CONNECTION_FAILED)
      m_sSocketError = reason;
  }
  m_smtp.m_Socket.Close();
  m_ReplyReader.Reset();
}

void CSMTPState::link_failed(const char* szError) {
  // No reply came, so none may stand beside the text: an earlier refusal's
  // reply would make a passing failure look like a final one.
  m_smtp.m_sLastError = szError;
  m_sLastReply.Empty();
}

BOOL CSMTPState::read_reply(CSMTPReply& reply) {
  return read_reply(reply, m_nTimeout);
}

BOOL CSMTPState::failed_link_reply(CSMTPReply& reply) {
  if (m_nLink == LINK_TIMED_OUT) {
    link_failed("Timed out");
    return FALSE;
  }
  if (m_nLink == LINK_FAILED) {
    link_failed("Socket Error");
    return FALSE;
  }
  // A connection closed under the session reads as an empty reply.
  reply = CSMTPReply{};
  return TRUE;
}

BOOL CSMTPState::read_reply(CSMTPReply& reply, UINT nSeconds) {
  if (m_nLink != LINK_OPEN) return failed_link_reply(reply);
  const CDeadline deadline(nSeconds > 0 ? timeout_ms(nSeconds) : -1);
  for (;;) {
    switch (m_ReplyReader.Take(reply)) {
      case CReplyReader::Result::Complete:
        m_LastRead = reply;
        return TRUE;
      case CReplyReader::Result::TooLong:
        reply = CSMTPReply{};
        return TRUE;
      case CReplyReader::Result::Incomplete:
        break;
    }
    const int waitMs = deadline.RemainingMs();  // -1: no limit
    if (waitMs == 0) {
      link_failed("Timed out");
      link_lost(ETIMEDOUT, TRUE);
      return FALSE;
    }
    m_smtp.m_Socket.SetTimeout(waitMs);
    int n = m_smtp.m_pReplyBuffer != nullptr ? m_smtp.m_Socket.Receive(m_smtp.m_pReplyBuffer, kReplyBufferSize, 0)
                                             : SOCKET_ERROR;
    if (n == SOCKET_ERROR) {
      const int error = m_smtp.m_pReplyBuffer != nullptr ? CSocket::GetLastError() : EBADF;
      link_failed(error == ETIMEDOUT ? "Timed out" : "Socket Error");
      link_lost(error, TRUE);
      return FALSE;
    }
    if (n == 0) {
      // The server closed the connection before the reply ended.
      link_lost(0, TRUE);
      reply = CSMTPReply{};
      return TRUE;
    }
    m_ReplyReader.Append(m_smtp.m_pReplyBuffer, static_cast<std::size_t>(n));
  }
}

BOOL CSMTP::get_response(UINT response_expected) {
  return m_pState->get_response(response_expected, m_pState->m_nTimeout);
}

BOOL CSMTPState::get_response(UINT response_expected, UINT nSeconds) {
  CSMTPReply reply;
  return read_reply(reply, nSeconds) && check_reply(reply, response_expected);
}

BOOL CSMTPState::check_reply(const CSMTPReply& reply, UINT response_expected) {
  const CSMTP::response_code& expected = CSMTP::response_table[response_expected];
  if (reply.nCode == expected.nCode) return TRUE;
  reply_failed(reply, expected.szMessage);
  return FALSE;
}

void CSMTPState::reply_failed(const CSMTPReply& reply, const char* szMessage) {
  m_smtp.m_sLastError.Format("%d:%s", reply.nCode, szMessage);
  // The reply as written: "ddd-text" for each line but the last, "ddd text"
  // for the last; a malformed reply kept its lines whole.
  m_sLastReply.Empty();
  for (std::size_t i = 0; i < reply.lines.size(); ++i) {
    if (i > 0) m_sLastReply += "\r\n";
    if (reply.nCode == 0) {
      m_sLastReply += reply.lines[i];
      continue;
    }
    CString line;
    line.Format("%03d%c", reply.nCode, i + 1 < reply.lines.size() ? '-' : ' ');
    m_sLastReply += line + reply.lines[i];
  }
  m_sLastReply.TrimRight();
}

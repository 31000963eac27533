#include "smtp/smtp.h"

#include "framework/core/cmd_target.h"
#include "framework/core/exception.h"
#include "framework/core/string_array.h"
#include "framework/io/file.h"
#include "framework/net/deadline.h"
#include "mail/base64.h"
#include "mail/mail_message.h"
#include "mail/mime_message.h"
#include "smtp/dot_stuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <typeinfo>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>

namespace {

constexpr int kReplyBufferSize = 1024;
constexpr int kHostNameSize = 80;
constexpr UINT kDefaultTimeout = 300;
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

CSMTP::CSMTP()
    : m_sLastError("OK"),
      m_bConnected(FALSE),
      m_nPort(25),
      m_pReplyBuffer(nullptr),
      m_nTimeout(kDefaultTimeout) {
  AfxSocketInit(nullptr);
}

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
  return m_sLastReply;
}

CString CSMTP::GetLastSocketError() const {
  return m_sSocketError;
}

void CSMTP::SetTimeout(UINT nSeconds) {
  m_nTimeout = nSeconds;
  m_bTimeoutSet = TRUE;
}

UINT CSMTP::end_of_data_timeout() const {
  return m_bTimeoutSet ? m_nTimeout : kDefaultEndOfDataTimeout;
}

int CSMTP::timeout_ms(UINT nSeconds) const {
  return static_cast<int>(std::min<unsigned long long>(static_cast<unsigned long long>(nSeconds) * m_nTimeoutUnitMs,
                                                        0x7fffffff));
}

UINT CSMTP::GetTimeout() const {
  return m_nTimeout;
}

BOOL CSMTP::send_text(const CString& sText) {
  return send_bytes(sText.GetString(), static_cast<std::size_t>(sText.GetLength()));
}

BOOL CSMTP::send_bytes(const char* pData, std::size_t nLength) {
  constexpr std::size_t kMaxSend = 1 << 30;
  while (m_nLink == LINK_OPEN && nLength > 0) {
    const std::size_t piece = std::min(nLength, kMaxSend);
    if (m_Socket.Send(pData, static_cast<int>(piece), 0) == SOCKET_ERROR) link_lost(CSocket::GetLastError(), FALSE);
    pData += piece;
    nLength -= piece;
  }
  return m_nLink == LINK_OPEN;
}

BOOL CSMTP::command(UINT response_expected, const char* szFormat, ...) {
  va_list args;
  va_start(args, szFormat);
  CSMTPReply reply;
  const BOOL read = vcommand(reply, szFormat, args);
  va_end(args);
  return read && check_reply(reply, response_expected);
}

BOOL CSMTP::command(CSMTPReply& reply, const char* szFormat, ...) {
  va_list args;
  va_start(args, szFormat);
  const BOOL read = vcommand(reply, szFormat, args);
  va_end(args);
  return read;
}

BOOL CSMTP::vcommand(CSMTPReply& reply, const char* szFormat, va_list args) {
  CString text;
  text.FormatV(szFormat, args);
  // A connection that failed before or in this send brings no reply: the
  // step ends as after a failed receive, without waiting.
  if (!send_text(text)) return failed_link_reply(reply);
  return read_reply(reply);
}

void CSMTP::link_lost(int nError, BOOL bReceiving) {
  if (nError == 0) {
    m_nLink = LINK_CLOSED;
    m_sSocketError = "Connection closed by the server";
  } else {
    // After a reset has been reported once, the socket reads as closed.
    m_nLink = nError == ETIMEDOUT ? LINK_TIMED_OUT
              : nError == ECONNRESET || nError == EPIPE || !bReceiving ? LINK_CLOSED
                                                                       : LINK_FAILED;
    m_sSocketError = std::strerror(nError);
  }
  m_Socket.Close();
  m_ReplyReader.Reset();
}

BOOL CSMTP::read_reply(CSMTPReply& reply) {
  return read_reply(reply, m_nTimeout);
}

BOOL CSMTP::failed_link_reply(CSMTPReply& reply) {
  if (m_nLink == LINK_TIMED_OUT) {
    m_sLastError = "Timed out";
    return FALSE;
  }
  if (m_nLink == LINK_FAILED) {
    m_sLastError = "Socket Error";
    return FALSE;
  }
  // A connection closed under the session reads as an empty reply.
  reply = CSMTPReply{};
  return TRUE;
}

BOOL CSMTP::read_reply(CSMTPReply& reply, UINT nSeconds) {
  if (m_nLink != LINK_OPEN) return failed_link_reply(reply);
  const CDeadline deadline(nSeconds > 0 ? timeout_ms(nSeconds) : -1);
  for (;;) {
    switch (m_ReplyReader.Take(reply)) {
      case CReplyReader::Result::Complete:
        return TRUE;
      case CReplyReader::Result::TooLong:
        reply = CSMTPReply{};
        return TRUE;
      case CReplyReader::Result::Incomplete:
        break;
    }
    const int waitMs = deadline.RemainingMs();  // -1: no limit
    if (waitMs == 0) {
      m_sLastError = "Timed out";
      link_lost(ETIMEDOUT, TRUE);
      return FALSE;
    }
    m_Socket.SetTimeout(waitMs);
    int n = m_pReplyBuffer != nullptr ? m_Socket.Receive(m_pReplyBuffer, kReplyBufferSize, 0) : SOCKET_ERROR;
    if (n == SOCKET_ERROR) {
      const int error = m_pReplyBuffer != nullptr ? CSocket::GetLastError() : EBADF;
      m_sLastError = error == ETIMEDOUT ? "Timed out" : "Socket Error";
      link_lost(error, TRUE);
      return FALSE;
    }
    if (n == 0) {
      // The server closed the connection before the reply ended.
      link_lost(0, TRUE);
      reply = CSMTPReply{};
      return TRUE;
    }
    m_ReplyReader.Append(m_pReplyBuffer, static_cast<std::size_t>(n));
  }
}

BOOL CSMTP::get_response(UINT response_expected) {
  return get_response(response_expected, m_nTimeout);
}

BOOL CSMTP::get_response(UINT response_expected, UINT nSeconds) {
  CSMTPReply reply;
  return read_reply(reply, nSeconds) && check_reply(reply, response_expected);
}

BOOL CSMTP::check_reply(const CSMTPReply& reply, UINT response_expected) {
  const response_code& expected = response_table[response_expected];
  if (reply.nCode == expected.nCode) return TRUE;
  reply_failed(reply, expected.szMessage);
  return FALSE;
}

void CSMTP::reply_failed(const CSMTPReply& reply, const char* szMessage) {
  m_sLastError.Format("%d:%s", reply.nCode, szMessage);
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

CString CSMTP::address_literal(const CString& sNumericAddress) {
  const CString mapped("::ffff:");
  if (sNumericAddress.Find(':') < 0) return "[" + sNumericAddress + "]";
  if (sNumericAddress.Left(mapped.GetLength()) == mapped && sNumericAddress.Find('.') >= 0)
    return "[" + sNumericAddress.Mid(mapped.GetLength()) + "]";
  return "[IPv6:" + sNumericAddress + "]";
}

CString CSMTP::local_name() const {
  char name[kHostNameSize] = {};
  if (::gethostname(name, kHostNameSize) == 0) {
    name[kHostNameSize - 1] = '\0';
    if (name[0] != '\0') return name;
  }
  CString address;
  UINT port = 0;
  if (m_Socket.GetSockName(address, port)) return address_literal(address);
  return "[127.0.0.1]";
}

void CSMTP::abandon_connection() {
  m_Socket.Close();
  delete[] m_pReplyBuffer;
  m_pReplyBuffer = nullptr;
  m_ReplyReader.Reset();
  m_nLink = LINK_OPEN;
  m_bInTransaction = FALSE;
  m_sUnwritten.Empty();
  m_Pending.clear();
  m_PendingRecipients.clear();
  m_bQuitSent = FALSE;
}

void CSMTP::note_connect_failure(int nError) {
  // The socket layer reports a name that does not resolve as an unreachable
  // host; the resolver tells which it was.
  if (nError == EHOSTUNREACH) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::string host = m_sServerHost.str();
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

BOOL CSMTP::introduce(const CString& sName, BOOL bExtended) {
  m_Extensions.clear();
  if (bExtended) {
    CSMTPReply reply;
    if (!command(reply, "EHLO %s\r\n", sName.GetString())) return FALSE;
    if (reply.nCode == response_table[RESPONSE_OK].nCode) {
      // The first line greets; each further one names an extension.
      if (!reply.lines.empty()) m_Extensions.assign(reply.lines.begin() + 1, reply.lines.end());
      return TRUE;
    }
    // A server that does not know EHLO rejects it with 5xx; it may still
    // accept HELO and the login after it.
    if (reply.nCode / 100 != 5) {
      reply_failed(reply, response_table[RESPONSE_OK].szMessage);
      return FALSE;
    }
  }
  return command(RESPONSE_OK, "HELO %s\r\n", sName.GetString());
}

BOOL CSMTP::login() {
  if (use_auth_plain()) return login_plain();
  CBase64 base64;
  if (!command(RESPONSE_AUTH_CONTINUE, "AUTH LOGIN\r\n")) return FALSE;
  const CString sUser = base64.Encode(m_sUser.GetString(), m_sUser.GetLength());
  if (!command(RESPONSE_AUTH_CONTINUE, "%s\r\n", sUser.GetString())) return FALSE;
  const CString sPassword = base64.Encode(m_sPassword.GetString(), m_sPassword.GetLength());
  return command(RESPONSE_AUTH_OK, "%s\r\n", sPassword.GetString());
}

BOOL CSMTP::Connect() {
  if (m_bConnected && m_nLink == LINK_OPEN) return TRUE;
  if (m_bConnected) {
    // The connection failed since; it is opened anew.
    abandon_connection();
    m_bConnected = FALSE;
  }
  m_sLastReply.Empty();
  m_sSocketError.Empty();

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
  m_ReplyReader.Reset();

  if (!m_Socket.Create(0, SOCK_STREAM, FD_READ | FD_WRITE | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE, nullptr)) {
    m_sLastError = "Unable to create the socket.";
    note_connect_failure(CSocket::GetLastError());
    abandon_connection();
    return FALSE;
  }
  m_Socket.SetTimeout(timeout_ms(m_nTimeout));
  if (!m_Socket.Connect(GetServerHostName(), GetPort())) {
    m_sLastError = "Unable to connect to server";
    note_connect_failure(CSocket::GetLastError());
    abandon_connection();
    return FALSE;
  }
  // Commands are whole lines and the data phase ends with a short write that
  // is answered at once; waiting to coalesce them only adds delay.
  const int noDelay = 1;
  m_Socket.SetSockOpt(TCP_NODELAY, &noDelay, sizeof noDelay, IPPROTO_TCP);
  if (m_nSecurity == SECURITY_TLS && !start_tls()) {
    abandon_connection();
    return FALSE;
  }
  if (!get_response(RESPONSE_READY)) {
    m_sLastError = "Server didn't respond.";
    abandon_connection();
    return FALSE;
  }

  const BOOL bLogin = !m_sUser.IsEmpty() || !m_sPassword.IsEmpty();
  const BOOL bStartTLS = m_nSecurity == SECURITY_STARTTLS || m_nSecurity == SECURITY_STARTTLS_OFFERED;
  const CString sName = local_name();
  if (!introduce(sName, bLogin || bStartTLS || m_bShortDialogue) ||
      (wants_starttls() && !upgrade_with_starttls(sName)) || (bLogin && (!login_allowed() || !login()))) {
    abandon_connection();
    return FALSE;
  }
  m_bConnected = TRUE;
  return TRUE;
}

BOOL CSMTP::Disconnect() {
  if (!m_bConnected) return TRUE;
  if (m_nLink != LINK_OPEN) {
    // Nothing can be said on a failed connection.
    abandon_connection();
    m_bConnected = FALSE;
    return FALSE;
  }
  // A QUIT that went with the end of the data has only its reply to come.
  const BOOL result = m_bQuitSent ? get_response(RESPONSE_CLOSING) : command(RESPONSE_CLOSING, "QUIT\r\n");
  abandon_connection();
  m_bConnected = FALSE;
  return result;
}

void CSMTP::Cancel() {
  m_Socket.CancelBlockingCall();
  m_Socket.Close();
}

int CSMTP::GetNumRefusedRecipients() const {
  return static_cast<int>(m_RefusedRecipients.size());
}

BOOL CSMTP::GetRefusedRecipient(int nIndex, CString& sAddress, CString& sReply) const {
  if (nIndex < 0 || nIndex >= GetNumRefusedRecipients()) return FALSE;
  sAddress = m_RefusedRecipients[static_cast<std::size_t>(nIndex)].first;
  sReply = m_RefusedRecipients[static_cast<std::size_t>(nIndex)].second;
  return TRUE;
}

BOOL CSMTP::SendMessage(CMailMessage* msg) {
  m_sLastReply.Empty();
  m_sSocketError.Empty();
  if (!m_bConnected || m_nLink != LINK_OPEN) {
    m_sLastError = "Must be connected";
    return FALSE;
  }
  if (!FormatMailMessage(msg)) return FALSE;
  m_bInTransaction = FALSE;
  const BOOL sent = transmit_message(msg) ? TRUE : FALSE;
  if (!sent && m_bInTransaction) reset_transaction();
  m_bInTransaction = FALSE;
  return sent;
}

void CSMTP::reset_transaction() {
  m_bInTransaction = FALSE;
  if (m_nLink != LINK_OPEN) return;
  const CString sError = m_sLastError;
  const CString sReply = m_sLastReply;
  const CString sSocketError = m_sSocketError;
  CSMTPReply reply;
  // A server that does not reset is in a state nobody knows: the
  // connection is given up rather than risk the next message.
  if (command(reply, "RSET\r\n") && reply.nCode != response_table[RESPONSE_OK].nCode) link_lost(0, TRUE);
  m_sLastError = sError;
  m_sLastReply = sReply;
  m_sSocketError = sSocketError;
}

BOOL CSMTP::FormatMailMessage(CMailMessage* msg) {
  if (msg->GetNumRecipients(CMailMessage::TO) == 0) {
    m_sLastError = "No Recipients";
    return FALSE;
  }
  msg->FormatMessage();
  note_failed_parts(msg);
  return TRUE;
}

void CSMTP::note_failed_parts(CMailMessage* msg) {
  // The message still goes out without the parts it could not write; the
  // text tells the host which files the recipient will miss.
  if (auto* mime = dynamic_cast<CMIMEMessage*>(msg); mime != nullptr && !mime->GetFailedParts().IsEmpty()) {
    const CStringArray& failed = mime->GetFailedParts();
    m_sLastError = "Attachment could not be read: ";
    for (INT_PTR i = 0; i < failed.GetSize(); ++i) {
      if (i > 0) m_sLastError += ", ";
      m_sLastError += failed[i];
    }
  }
}

// Carries the data phase to the socket. Short pieces are gathered, so that a
// short message leaves in one send together with its end-of-data line rather
// than in one small segment per part; a long run of unchanged text (an
// encoded attachment) goes out straight from the message, without a copy.
// With BDAT every gathered piece and every long run is one chunk, so memory
// stays as small as without.
class CSMTP::CDataSender : public CDotStuffer::COutput {
public:
  CDataSender(CSMTP& smtp, BOOL bChunked) : m_smtp(smtp), m_bChunked(bChunked) {}

  void Put(const char* pData, std::size_t nLength) override {
    if (nLength >= kGatherBytes) {
      Flush();
      emit(pData, nLength);
      return;
    }
    m_gathered.append(pData, nLength);
    if (m_gathered.size() >= kGatherBytes) Flush();
  }

  void Flush() {
    if (m_gathered.empty()) return;
    emit(m_gathered.data(), m_gathered.size());
    m_gathered.clear();
  }

  // Ends the data: the end-of-data line, or the last chunk, which holds the
  // empty line the end-of-data line would have added; szTrailer (not null)
  // goes in the same send. TRUE when it was sent.
  BOOL Finish(const char* szTrailer) {
    // The last chunk goes even on a failed connection: its reply is where
    // the transaction reports the failure, as the end-of-data reply does.
    if (m_bChunked ? m_bStopped : Stopped()) return FALSE;
    if (!m_bChunked) {
      m_gathered += "\r\n.\r\n";
      if (szTrailer != nullptr) m_gathered += szTrailer;
      Flush();
      return !Stopped();
    }
    m_gathered += "\r\n";
    m_bStopped = !m_smtp.send_chunk(m_gathered.data(), m_gathered.size(), TRUE, szTrailer);
    m_gathered.clear();
    return !Stopped();
  }

  // True once no more data goes out: a send failed, or the server refused
  // the transaction while chunks were still to come.
  bool Stopped() const { return m_bStopped || m_smtp.m_nLink != LINK_OPEN; }

private:
  static constexpr std::size_t kGatherBytes = 64 * 1024;

  // After a failed send or a refusal the rest is dropped; the reply read
  // that follows reports why.
  void emit(const char* pData, std::size_t nLength) {
    if (Stopped()) return;
    if (m_bChunked)
      m_bStopped = !m_smtp.send_chunk(pData, nLength, FALSE, nullptr);
    else
      m_smtp.send_bytes(pData, nLength);
  }

  CSMTP& m_smtp;
  const BOOL m_bChunked;
  std::string m_gathered;
  bool m_bStopped = false;
};

namespace {

// The data phase as a file that a message writes itself into: every write
// goes through the transparency filter to the socket. Once no more data can
// go out the next write throws and the message stops being formatted. (A
// template only so that it may name the session's private sender.)
template <typename Sender>
class DataPhaseFile : public CFile {
public:
  DataPhaseFile(CDotStuffer& stuffer, Sender& sender) : m_stuffer(stuffer), m_sender(sender) {}

  void Write(const void* lpBuf, UINT nCount) override {
    if (m_sender.Stopped()) AfxThrowFileException(CFileException::genericException, EPIPE);
    m_stuffer.Write(static_cast<const char*>(lpBuf), nCount, m_sender);
  }

private:
  CDotStuffer& m_stuffer;
  Sender& m_sender;
};

const CMailMessage::RECIPIENTS_TYPE kRecipientKinds[] = {CMailMessage::TO, CMailMessage::CC, CMailMessage::BCC};

bool HasLineBreak(const CString& s) {
  return s.Find('\r') >= 0 || s.Find('\n') >= 0;
}

// The envelope addresses go into command lines: one holding CR or LF would
// let its owner append commands of their own.
bool EnvelopeIsSafe(CMailMessage* msg) {
  if (HasLineBreak(msg->m_sFrom)) return false;
  for (CMailMessage::RECIPIENTS_TYPE kind : kRecipientKinds) {
    CString address;
    CString name;
    for (int i = 0; i < msg->GetNumRecipients(kind); ++i)
      if (msg->GetRecipient(address, name, i, kind) && HasLineBreak(address)) return false;
  }
  return true;
}

}  // namespace

void CSMTP::SetShortDialogue(BOOL bShort) {
  m_bShortDialogue = bShort ? TRUE : FALSE;
}

BOOL CSMTP::GetShortDialogue() const {
  return m_bShortDialogue;
}

BOOL CSMTP::pipelining() const {
  return m_bShortDialogue && server_offers("PIPELINING");
}

BOOL CSMTP::chunking() const {
  return m_bShortDialogue && server_offers("CHUNKING");
}

BOOL CSMTP::transmit_message(CMailMessage* msg) {
  if (!start_transaction(msg)) return FALSE;
  send_data(msg);
  return end_of_data_reply();
}

BOOL CSMTP::end_of_data_reply() {
  if (chunking()) return take_replies();
  return get_response(RESPONSE_OK, end_of_data_timeout());
}

BOOL CSMTP::start_transaction(CMailMessage* msg) {
  if (!m_bConnected) {
    m_sLastError = "Must be connected";
    return FALSE;
  }
  if (!EnvelopeIsSafe(msg)) {
    m_sLastError = "Invalid address";
    return FALSE;
  }
  m_sUnwritten.Empty();
  m_Pending.clear();
  m_bRefused = FALSE;
  m_nAccepted = 0;
  m_nUnansweredBytes = 0;
  m_bChunkAnswered = FALSE;

  m_RefusedRecipients.clear();
  m_PendingRecipients.clear();

  if (!transaction_command(PENDING_MAIL, "MAIL From: <%s>\r\n", msg->m_sFrom.GetString())) return FALSE;
  for (CMailMessage::RECIPIENTS_TYPE kind : kRecipientKinds) {
    for (int i = 0; i < msg->GetNumRecipients(kind); ++i) {
      CString address;
      CString name;
      msg->GetRecipient(address, name, i, kind);
      // A refused recipient leaves its text in m_sLastError; the others
      // still get the message.
      if (!m_bRefused) m_PendingRecipients.push_back(address);
      transaction_command(PENDING_RCPT, "RCPT TO: <%s>\r\n", address.GetString());
    }
  }
  // With BDAT the commands still unwritten go with the first chunk.
  if (chunking()) return !m_bRefused;
  return transaction_command(PENDING_DATA, "DATA\r\n") && take_replies();
}

BOOL CSMTP::transaction_command(PENDING_REPLY nReply, const char* szFormat, ...) {
  if (m_bRefused) return FALSE;
  va_list args;
  va_start(args, szFormat);
  CString text;
  text.FormatV(szFormat, args);
  va_end(args);
  m_sUnwritten += text;
  m_Pending.push_back(nReply);
  // However many recipients, the replies awaited stay few, so that the
  // server never waits to write one while the client is still writing.
  constexpr std::size_t kMaxGroup = 100;
  return pipelining() && m_Pending.size() < kMaxGroup ? !m_bRefused : take_replies();
}

BOOL CSMTP::take_replies() {
  if (!m_sUnwritten.IsEmpty()) {
    // A send that fails leaves the replies to what a read on the failed
    // connection gives at once.
    send_text(m_sUnwritten);
    m_sUnwritten.Empty();
  }
  while (!m_Pending.empty()) {
    const PENDING_REPLY nReply = m_Pending.front();
    m_Pending.pop_front();
    CString sRecipient;
    if (nReply == PENDING_RCPT) {
      sRecipient = m_PendingRecipients.front();
      m_PendingRecipients.pop_front();
    }
    if (m_bRefused) {
      skip_reply(nReply);
      continue;
    }
    switch (nReply) {
      case PENDING_MAIL:
        m_bRefused = !get_response(RESPONSE_OK);
        // Commands the server saw after a refused MAIL From are reset too.
        m_bInTransaction = !m_bRefused || !m_Pending.empty();
        break;
      case PENDING_RCPT:
        if (get_response(RESPONSE_OK))
          ++m_nAccepted;
        else if (m_nLink == LINK_OPEN)
          m_RefusedRecipients.emplace_back(sRecipient, m_sLastReply);
        break;
      case PENDING_DATA:
        m_bRefused = !get_response(RESPONSE_DATA_READY);
        break;
      case PENDING_CHUNK:
      case PENDING_LAST_CHUNK: {
        // The first chunk is answered where DATA would have been: with no
        // recipient accepted, or the connection lost before its reply, it
        // fails as DATA would.
        const BOOL bAsData = !m_bChunkAnswered && (m_nAccepted == 0 || m_nLink != LINK_OPEN);
        m_bChunkAnswered = TRUE;
        CSMTPReply reply;
        if (!read_reply(reply, nReply == PENDING_LAST_CHUNK ? end_of_data_timeout() : m_nTimeout)) {
          m_bRefused = TRUE;
        } else if (reply.nCode != response_table[RESPONSE_OK].nCode) {
          reply_failed(reply, response_table[bAsData ? RESPONSE_DATA_READY : RESPONSE_OK].szMessage);
          m_bRefused = TRUE;
        }
        break;
      }
    }
  }
  m_nUnansweredBytes = 0;
  return !m_bRefused;
}

void CSMTP::skip_reply(PENDING_REPLY nReply) {
  const CString sError = m_sLastError;
  const CString sReply = m_sLastReply;
  const CString sSocketError = m_sSocketError;
  CSMTPReply reply;
  // A server that opens the data phase of a transaction that failed is in a
  // state nobody knows: the connection is given up rather than risk sending
  // an empty message.
  if (read_reply(reply) && nReply == PENDING_DATA && reply.nCode == response_table[RESPONSE_DATA_READY].nCode)
    link_lost(0, TRUE);
  m_sLastError = sError;
  m_sLastReply = sReply;
  m_sSocketError = sSocketError;
}

BOOL CSMTP::send_chunk(const char* pData, std::size_t nLength, BOOL bLast, const char* szTrailer) {
  // The server must never wait to write a reply the client does not read:
  // without PIPELINING every chunk waits for the replies before it, with it
  // only once this much data is unanswered.
  constexpr std::size_t kUnansweredLimit = 256 * 1024;
  if ((!pipelining() || m_nUnansweredBytes + nLength > kUnansweredLimit) && !m_Pending.empty() && !take_replies())
    return FALSE;
  if (m_bRefused) return FALSE;
  CString head;
  head.Format("BDAT %zu%s\r\n", nLength, bLast ? " LAST" : "");
  m_sUnwritten += head;
  m_Pending.push_back(bLast ? PENDING_LAST_CHUNK : PENDING_CHUNK);
  m_nUnansweredBytes += nLength;
  // A gathered chunk leaves in one send with the commands before it; a long
  // run goes out from where it is.
  constexpr std::size_t kCopiedBytes = 64 * 1024;
  if (nLength <= kCopiedBytes) {
    m_sUnwritten.Append(pData, static_cast<int>(nLength));
    if (szTrailer != nullptr) m_sUnwritten += szTrailer;
    send_text(m_sUnwritten);
    m_sUnwritten.Empty();
    return TRUE;
  }
  send_text(m_sUnwritten);
  m_sUnwritten.Empty();
  send_bytes(pData, nLength);
  if (szTrailer != nullptr) send_bytes(szTrailer, std::strlen(szTrailer));
  return TRUE;
}

BOOL CSMTP::stream_message(CMIMEMessage* msg) {
  if (msg->GetNumRecipients(CMailMessage::TO) == 0) {
    m_sLastError = "No Recipients";
    return FALSE;
  }
  if (!start_transaction(msg)) return FALSE;
  // The call ends the session right after; with PIPELINING its QUIT may go
  // with the end of the data.
  if (!stream_data(msg, pipelining())) {
    // Memory ran out while formatting. Ending the data now would deliver a
    // message cut short, so the connection is dropped instead, which makes
    // the server discard the transaction.
    abandon_connection();
    m_bConnected = FALSE;
    AfxThrowMemoryException();
  }
  return end_of_data_reply();
}

BOOL CSMTP::transmit_streamed_message(CMailMessage* msg) {
  if (!start_transaction(msg)) return FALSE;
  if (!stream_data(msg, FALSE)) {
    // Ending the data now would deliver a message cut short: the connection
    // is closed instead, so that the server discards the transaction.
    m_Socket.Close();
    m_ReplyReader.Reset();
    m_nLink = LINK_CLOSED;
    m_sLastError = "Message could not be written";
    return FALSE;
  }
  return end_of_data_reply();
}

BOOL CSMTP::stream_data(CMailMessage* msg, BOOL bQuitAfter) {
  m_Socket.SetTimeout(timeout_ms(m_nTimeout));
  const BOOL bChunked = chunking();
  CDataSender sender(*this, bChunked);
  CDotStuffer stuffer(!bChunked);
  DataPhaseFile<CDataSender> data(stuffer, sender);
  if (!msg->WriteMessage(data) && !sender.Stopped()) return FALSE;
  stuffer.Finish(sender);
  m_bQuitSent = sender.Finish(bQuitAfter ? "QUIT\r\n" : nullptr) && bQuitAfter;
  if (!sender.Stopped()) note_failed_parts(msg);
  return TRUE;
}

void CSMTP::send_data(CMailMessage* msg) {
  // The header and the body are filtered each on its own, both starting at
  // the beginning of a line.
  m_Socket.SetTimeout(timeout_ms(m_nTimeout));
  const BOOL bChunked = chunking();
  CDataSender sender(*this, bChunked);
  CDotStuffer stuffer(!bChunked);
  stuffer.Write(msg->m_sHeader.GetString(), static_cast<std::size_t>(msg->m_sHeader.GetLength()), sender);
  stuffer.Finish(sender);
  stuffer.Write(msg->m_sBody.GetString(), static_cast<std::size_t>(msg->m_sBody.GetLength()), sender);
  stuffer.Finish(sender);
  sender.Finish(nullptr);
}

BOOL CSMTP::SetCharset(LPCTSTR szCharset) {
  // The message checks the name; it keeps it only when it may stand in a header.
  CMailMessage probe;
  if (!probe.SetCharset(szCharset)) return FALSE;
  m_sCharset = szCharset;
  return TRUE;
}

BOOL CSMTP::SendMessage(CString sRecipients, CString sBody, CString sSubject, CStringArray* pAttachments) {
  // The busy cursor is shown and taken away at once; nothing holds it while
  // the mail is built or sent.
  AfxGetApp()->BeginWaitCursor();
  AfxGetApp()->EndWaitCursor();
  if (sRecipients.IsEmpty()) return FALSE;
  m_sLastReply.Empty();
  m_sSocketError.Empty();
  if (sSubject.IsEmpty()) sSubject = "Hello!";
  if (sBody.IsEmpty()) sBody = "Hello!";

  CMIMEMessage msg;
  msg.SetCharset(m_sCharset);
  msg.m_sFrom = m_sSender;
  msg.m_sSubject = sSubject;
  msg.m_sBody = sBody;
  msg.AddMultipleRecipients(sRecipients, CMailMessage::TO);
  if (pAttachments != nullptr) {
    for (int i = 0; i < pAttachments->GetSize(); ++i)
      msg.AddMIMEPart(pAttachments->GetAt(i), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  }

  if (!Connect()) return FALSE;
  BOOL result = FALSE;
  try {
    // The message is formatted straight into the data phase, a piece at a
    // time, so an attachment is never held whole in memory and the server
    // takes in the first pieces while the next are encoded. A subclass may
    // have overridden the steps of the formatted send, so it keeps them.
    // It closes the connection right after, so a failed transaction needs no RSET.
    result = typeid(*this) == typeid(CSMTP) ? stream_message(&msg) : FormatMailMessage(&msg) && transmit_message(&msg);
  } catch (...) {
    // An exception from formatting (out of memory) still leaves the object
    // closed, as every other path does.
    Disconnect();
    throw;
  }
  Disconnect();
  return result;
}

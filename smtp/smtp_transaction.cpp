// The mail transaction of CSMTP: SendMessage with a message, the message's
// formatting, MAIL From and the RCPT TOs (written together and their replies
// read in order where the server allows), the refused recipients, and the
// RSET that ends a transaction that failed.
#include "smtp/smtp.h"

#include "framework/core/string_array.h"
#include "mail/mail_message.h"
#include "mail/mime_message.h"
#include "smtp/internal/smtp_state.h"

#include <cstddef>

using tarvenkel::detail::CSMTPState;

namespace {

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

int CSMTP::GetNumRefusedRecipients() const {
  return static_cast<int>(m_pState->m_RefusedRecipients.size());
}

BOOL CSMTP::GetRefusedRecipient(int nIndex, CString& sAddress, CString& sReply) const {
  if (nIndex < 0 || nIndex >= GetNumRefusedRecipients()) return FALSE;
  sAddress = m_pState->m_RefusedRecipients[static_cast<std::size_t>(nIndex)].first;
  sReply = m_pState->m_RefusedRecipients[static_cast<std::size_t>(nIndex)].second;
  return TRUE;
}

BOOL CSMTP::SendMessage(CMailMessage* msg) {
  m_pState->m_sLastReply.Empty();
  m_pState->m_sSocketError.Empty();
  if (!m_bConnected || m_pState->m_nLink != CSMTPState::LINK_OPEN) {
    m_sLastError = "Must be connected";
    return FALSE;
  }
  if (!FormatMailMessage(msg)) return FALSE;
  m_pState->m_bInTransaction = FALSE;
  const BOOL sent = transmit_message(msg) ? TRUE : FALSE;
  if (!sent && m_pState->m_bInTransaction) m_pState->reset_transaction();
  m_pState->m_bInTransaction = FALSE;
  return sent;
}

void CSMTPState::reset_transaction() {
  m_bInTransaction = FALSE;
  if (m_nLink != LINK_OPEN) return;
  const CString sError = m_smtp.m_sLastError;
  const CString sReply = m_sLastReply;
  const CString sSocketError = m_sSocketError;
  CSMTPReply reply;
  // A server that does not reset is in a state nobody knows: the
  // connection is given up rather than risk the next message.
  if (command(reply, "RSET\r\n") && reply.nCode != CSMTP::response_table[CSMTP::RESPONSE_OK].nCode)
    link_lost(0, TRUE);
  m_smtp.m_sLastError = sError;
  m_sLastReply = sReply;
  m_sSocketError = sSocketError;
}

BOOL CSMTP::FormatMailMessage(CMailMessage* msg) {
  if (msg->GetNumRecipients(CMailMessage::TO) == 0) {
    m_sLastError = "No Recipients";
    return FALSE;
  }
  msg->FormatMessage();
  m_pState->note_failed_parts(msg);
  return TRUE;
}

void CSMTPState::note_failed_parts(CMailMessage* msg) {
  // The message still goes out without the parts it could not write; the
  // text tells the host which files the recipient will miss.
  if (auto* mime = dynamic_cast<CMIMEMessage*>(msg); mime != nullptr && !mime->GetFailedParts().IsEmpty()) {
    const CStringArray& failed = mime->GetFailedParts();
    m_smtp.m_sLastError = "Attachment could not be read: ";
    for (INT_PTR i = 0; i < failed.GetSize(); ++i) {
      if (i > 0) m_smtp.m_sLastError += ", ";
      m_smtp.m_sLastError += failed[i];
    }
  }
}

BOOL CSMTPState::pipelining() const {
  return m_bShortDialogue && server_offers("PIPELINING");
}

BOOL CSMTPState::chunking() const {
  return m_bShortDialogue && server_offers("CHUNKING");
}

BOOL CSMTP::transmit_message(CMailMessage* msg) {
  if (!m_pState->start_transaction(msg)) return FALSE;
  m_pState->send_data(msg);
  return m_pState->end_of_data_reply();
}

BOOL CSMTPState::start_transaction(CMailMessage* msg) {
  if (!m_smtp.m_bConnected) {
    m_smtp.m_sLastError = "Must be connected";
    return FALSE;
  }
  if (!EnvelopeIsSafe(msg)) {
    m_smtp.m_sLastError = "Invalid address";
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
      // A refused recipient leaves its text in GetLastError; the others
      // still get the message.
      if (!m_bRefused) m_PendingRecipients.push_back(address);
      transaction_command(PENDING_RCPT, "RCPT TO: <%s>\r\n", address.GetString());
    }
  }
  // With BDAT the commands still unwritten go with the first chunk.
  if (chunking()) return !m_bRefused;
  return transaction_command(PENDING_DATA, "DATA\r\n") && take_replies();
}

BOOL CSMTPState::transaction_command(PENDING_REPLY nReply, const char* szFormat, ...) {
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

BOOL CSMTPState::take_replies() {
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
        m_bRefused = !m_smtp.get_response(CSMTP::RESPONSE_OK);
        // Commands the server saw after a refused MAIL From are reset too.
        m_bInTransaction = !m_bRefused || !m_Pending.empty();
        break;
      case PENDING_RCPT:
        if (m_smtp.get_response(CSMTP::RESPONSE_OK))
          ++m_nAccepted;
        else if (m_nLink == LINK_OPEN)
          m_RefusedRecipients.emplace_back(sRecipient, m_sLastReply);
        break;
      case PENDING_DATA:
        m_bRefused = !m_smtp.get_response(CSMTP::RESPONSE_DATA_READY);
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
        } else if (reply.nCode != CSMTP::response_table[CSMTP::RESPONSE_OK].nCode) {
          reply_failed(reply,
                       CSMTP::response_table[bAsData ? CSMTP::RESPONSE_DATA_READY : CSMTP::RESPONSE_OK].szMessage);
          m_bRefused = TRUE;
        }
        break;
      }
    }
  }
  m_nUnansweredBytes = 0;
  return !m_bRefused;
}

void CSMTPState::skip_reply(PENDING_REPLY nReply) {
  const CString sError = m_smtp.m_sLastError;
  const CString sReply = m_sLastReply;
  const CString sSocketError = m_sSocketError;
  CSMTPReply reply;
  // A server that opens the data phase of a transaction that failed is in a
  // state nobody knows: the connection is given up rather than risk sending
  // an empty message.
  if (read_reply(reply) && nReply == PENDING_DATA &&
      reply.nCode == CSMTP::response_table[CSMTP::RESPONSE_DATA_READY].nCode)
    link_lost(0, TRUE);
  m_smtp.m_sLastError = sError;
  m_sLastReply = sReply;
  m_sSocketError = sSocketError;
}

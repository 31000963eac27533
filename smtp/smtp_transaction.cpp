// SPDX-License-Identifier: Apache-2.0
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
#include <cstdint>

using tarvenkel::detail::CSMTPState;

namespace {

const CMailMessage::RECIPIENTS_TYPE kRecipientKinds[] = {CMailMessage::TO, CMailMessage::CC, CMailMessage::BCC};

// 250, or 251 (not local, will be forwarded) or 252 (cannot be checked,
// delivery will be tried): the server takes the message for the recipient.
bool AcceptsRecipient(int nCode) {
  return nCode == 250 || nCode == 251 || nCode == 252;
}

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

// Keeps the texts of a failure (GetLastError, GetLastReply and
// GetLastSocketError) through a step that runs after it: whatever the step
// records there is undone when the guard goes.
class CFailureKept {
public:
  CFailureKept(CString& sError, CString& sReply, CString& sSocketError)
      : m_sError(sError),
        m_sReply(sReply),
        m_sSocketError(sSocketError),
        m_sErrorKept(sError),
        m_sReplyKept(sReply),
        m_sSocketErrorKept(sSocketError) {}
  ~CFailureKept() {
    m_sError = m_sErrorKept;
    m_sReply = m_sReplyKept;
    m_sSocketError = m_sSocketErrorKept;
  }
  CFailureKept(const CFailureKept&) = delete;
  CFailureKept& operator=(const CFailureKept&) = delete;

private:
  CString& m_sError;
  CString& m_sReply;
  CString& m_sSocketError;
  const CString m_sErrorKept;
  const CString m_sReplyKept;
  const CString m_sSocketErrorKept;
};

}  // namespace

int CSMTP::GetNumRefusedRecipients() const {
  return static_cast<int>(m_pState->m_Transaction.refusedRecipients.size());
}

BOOL CSMTP::GetRefusedRecipient(int nIndex, CString& sAddress, CString& sReply) const {
  if (nIndex < 0 || nIndex >= GetNumRefusedRecipients()) return FALSE;
  sAddress = m_pState->m_Transaction.refusedRecipients[static_cast<std::size_t>(nIndex)].first;
  sReply = m_pState->m_Transaction.refusedRecipients[static_cast<std::size_t>(nIndex)].second;
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
  m_pState->m_Transaction.bStarted = FALSE;
  const BOOL sent = transmit_message(msg) ? TRUE : FALSE;
  if (!sent && m_pState->m_Transaction.bStarted) m_pState->reset_transaction();
  m_pState->m_Transaction.bStarted = FALSE;
  return sent;
}

BOOL CSMTPState::send_streamed(CMailMessage* msg) {
  m_sLastReply.Empty();
  m_sSocketError.Empty();
  m_LastRead = CSMTPReply{};
  m_Transaction = CTransaction{};
  if (!m_smtp.m_bConnected || m_nLink != LINK_OPEN) {
    m_smtp.m_sLastError = "Must be connected";
    m_bCommandsWrittenAhead = FALSE;
    return FALSE;
  }
  const BOOL bAheadIn = m_bCommandsWrittenAhead;
  const BOOL sent = m_smtp.transmit_streamed_message(msg) ? TRUE : FALSE;
  if (bAheadIn && !m_Transaction.bWrittenAhead && m_nLink == LINK_OPEN) {
    // The message failed before its transaction took up the commands written
    // ahead for it: their replies can no longer be paired with commands.
    m_bCommandsWrittenAhead = FALSE;
    link_lost(0, TRUE);
  }
  // Once the commands of the next message went with the end of the data, a
  // RSET would fall into the next transaction; the reply to the end of the
  // data has ended this one anyway.
  if (!sent && m_Transaction.bStarted && !m_bCommandsWrittenAhead) reset_transaction();
  m_Transaction.bStarted = FALSE;
  m_sAfterData.Empty();
  return sent;
}

void CSMTPState::reset_transaction() {
  m_Transaction.bStarted = FALSE;
  if (m_nLink != LINK_OPEN) return;
  const CFailureKept failure(m_smtp.m_sLastError, m_sLastReply, m_sSocketError);
  CSMTPReply reply;
  // A server that does not reset is in a state nobody knows: the
  // connection is given up rather than risk the next message.
  if (command(reply, "RSET\r\n") && reply.nCode != CSMTP::response_table[CSMTP::RESPONSE_OK].nCode)
    link_lost(0, TRUE);
}

BOOL CSMTP::FormatMailMessage(CMailMessage* msg) {
  if (msg->GetNumRecipients(CMailMessage::TO) == 0) {
    m_sLastError = "No Recipients";
    return FALSE;
  }
  // The message of the one-call send is formatted while it is sent (see
  // transmit_message).
  if (msg == m_pState->m_pOneCallMessage) {
    m_pState->m_bFormatDeferred = TRUE;
    return TRUE;
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
  // A message whose formatting FormatMailMessage left to the data phase is
  // written into it a piece at a time.
  if (m_pState->m_bFormatDeferred && msg == m_pState->m_pOneCallMessage)
    return m_pState->stream_message(m_pState->m_pOneCallMessage);
  if (!m_pState->start_transaction(msg, m_pState->declares_size() ? CSMTPState::formatted_size(msg) : 0))
    return FALSE;
  m_pState->send_data(msg);
  return m_pState->end_of_data_reply();
}

BOOL CSMTP::transmit_streamed_message(CMailMessage* msg) {
  return m_pState->write_streamed(msg) && m_pState->end_of_data_reply();
}

BOOL CSMTPState::write_streamed(CMailMessage* msg) {
  std::uint64_t nSize = 0;
  CString sHeader;
  if (!count_streamed(msg, nSize, sHeader)) {
    // Nothing has been sent: the connection stays as it is.
    m_smtp.m_sLastError = "Message could not be written";
    return FALSE;
  }
  if (!start_transaction(msg, nSize)) return FALSE;
  if (!stream_data(msg, FALSE, sHeader)) {
    // Ending the data now would deliver a message cut short: the connection
    // is closed instead, so that the server discards the transaction.
    m_smtp.m_Socket.Close();
    m_ReplyReader.Reset();
    m_nLink = LINK_CLOSED;
    m_smtp.m_sLastError = "Message could not be written";
    return FALSE;
  }
  return TRUE;
}

void CSMTPState::write_whole(CMailMessage* msg, CWritten& written) {
  m_sLastReply.Empty();
  m_sSocketError.Empty();
  m_LastRead = CSMTPReply{};
  m_Transaction = CTransaction{};
  m_bCommandsWrittenAhead = FALSE;
  m_sAfterData.Empty();
  written = CWritten{};
  if (!m_smtp.m_bConnected || m_nLink != LINK_OPEN) {
    m_smtp.m_sLastError = "Must be connected";
  } else if (const BOOL bWritten = write_streamed(msg); bWritten && !m_Transaction.pending.empty()) {
    written.bAwaiting = TRUE;
  } else {
    // Ended already (refused on the way, or nothing of it sent): nothing
    // was written after it, so a RSET goes where send_streamed puts it.
    written.bSent = bWritten && end_of_data_reply();
    if (!written.bSent && m_Transaction.bStarted) reset_transaction();
    m_Transaction.bStarted = FALSE;
  }
  written.transaction = std::move(m_Transaction);
  m_Transaction = CTransaction{};
  written.sLastError = m_smtp.m_sLastError;
  written.sLastReply = m_sLastReply;
  written.lastRead = m_LastRead;
}

BOOL CSMTPState::read_whole(CWritten& written) {
  m_Transaction = std::move(written.transaction);
  m_smtp.m_sLastError = written.sLastError;
  m_sLastReply = written.sLastReply;
  m_LastRead = written.lastRead;
  // A connection lost since keeps the reason it was lost for.
  if (m_nLink == LINK_OPEN) m_sSocketError.Empty();
  const BOOL sent = written.bAwaiting ? take_replies() : written.bSent;
  m_Transaction.bStarted = FALSE;
  return sent;
}

BOOL CSMTPState::declares_size() const {
  return m_bShortDialogue && m_smtp.m_bConnected && m_nLink == LINK_OPEN && server_offers("SIZE");
}

BOOL CSMTPState::start_transaction(CMailMessage* msg, std::uint64_t nSize) {
  const BOOL bWrittenAhead = m_bCommandsWrittenAhead;
  m_bCommandsWrittenAhead = FALSE;
  if (!m_smtp.m_bConnected) {
    m_smtp.m_sLastError = "Must be connected";
    return FALSE;
  }
  // Commands written ahead were checked as these (commands_ahead); should
  // one be refused here all the same, the replies to them could never be
  // paired with their commands, and the connection is given up.
  if (!EnvelopeIsSafe(msg)) {
    m_smtp.m_sLastError = "Invalid address";
    if (bWrittenAhead) link_lost(0, TRUE);
    return FALSE;
  }
  m_Transaction = CTransaction{};
  m_Transaction.bWrittenAhead = bWrittenAhead;

  CString sSize;
  if (nSize > 0) {
    // A message the server has said it will not take is not offered: it
    // would be refused only after all of it went over the wire.
    const std::uint64_t nLimit = size_limit();
    if (nLimit > 0 && nSize > nLimit) {
      m_smtp.m_sLastError.Format("Message too large for the server: %llu bytes, limit %llu bytes",
                                 static_cast<unsigned long long>(nSize), static_cast<unsigned long long>(nLimit));
      if (bWrittenAhead) link_lost(0, TRUE);
      return FALSE;
    }
    sSize.Format(" SIZE=%llu", static_cast<unsigned long long>(nSize));
  }
  if (!transaction_command(PENDING_MAIL, "%s", mail_command(msg, sSize).GetString())) return FALSE;
  for (CMailMessage::RECIPIENTS_TYPE kind : kRecipientKinds) {
    for (int i = 0; i < msg->GetNumRecipients(kind); ++i) {
      CString address;
      CString name;
      msg->GetRecipient(address, name, i, kind);
      // A refused recipient leaves its text in GetLastError; the others
      // still get the message.
      if (!m_Transaction.bRefused) m_Transaction.pendingRecipients.push_back(address);
      transaction_command(PENDING_RCPT, "%s", rcpt_command(address).GetString());
    }
  }
  // With BDAT the commands still unwritten go with the first chunk.
  if (chunking()) return !m_Transaction.bRefused;
  return transaction_command(PENDING_DATA, "DATA\r\n") && take_replies();
}

CString CSMTPState::mail_command(CMailMessage* msg, const CString& sSize) {
  CString text;
  text.Format("MAIL From: <%s>%s\r\n", msg->m_sFrom.GetString(), sSize.GetString());
  return text;
}

CString CSMTPState::rcpt_command(const CString& sAddress) {
  CString text;
  text.Format("RCPT TO: <%s>\r\n", sAddress.GetString());
  return text;
}

BOOL CSMTPState::may_write_ahead(CMailMessage* msg, std::uint64_t nSize) const {
  // Only what start_transaction will surely send: a sound envelope, a size
  // within the server's limit, recipients few enough for one group.
  constexpr int kMaxAhead = 90;
  int nRecipients = 0;
  for (CMailMessage::RECIPIENTS_TYPE kind : kRecipientKinds) nRecipients += msg->GetNumRecipients(kind);
  const std::uint64_t nLimit = size_limit();
  return pipelining() && m_nLink == LINK_OPEN && EnvelopeIsSafe(msg) && nRecipients > 0 && nRecipients <= kMaxAhead &&
         !(nSize > 0 && nLimit > 0 && nSize > nLimit);
}

CString CSMTPState::commands_ahead(CMailMessage* msg, std::uint64_t nSize) {
  if (!may_write_ahead(msg, nSize)) return CString();
  CString sSize;
  if (nSize > 0) sSize.Format(" SIZE=%llu", static_cast<unsigned long long>(nSize));
  CString text = mail_command(msg, sSize);
  for (CMailMessage::RECIPIENTS_TYPE kind : kRecipientKinds) {
    for (int i = 0; i < msg->GetNumRecipients(kind); ++i) {
      CString address;
      CString name;
      msg->GetRecipient(address, name, i, kind);
      text += rcpt_command(address);
    }
  }
  if (!chunking()) text += "DATA\r\n";
  return text;
}

BOOL CSMTPState::transaction_command(PENDING_REPLY nReply, const char* szFormat, ...) {
  if (m_Transaction.bRefused) return FALSE;
  va_list args;
  va_start(args, szFormat);
  CString text;
  text.FormatV(szFormat, args);
  va_end(args);
  // Commands written ahead (see commands_ahead) only await their replies.
  if (!m_Transaction.bWrittenAhead) m_Transaction.sUnwritten += text;
  m_Transaction.pending.push_back(nReply);
  // However many recipients, the replies awaited stay few, so that the
  // server never waits to write one while the client is still writing.
  constexpr std::size_t kMaxGroup = 100;
  return pipelining() && m_Transaction.pending.size() < kMaxGroup ? !m_Transaction.bRefused : take_replies();
}

BOOL CSMTPState::take_replies() {
  if (!m_Transaction.sUnwritten.IsEmpty()) {
    // A send that fails leaves the replies to what a read on the failed
    // connection gives at once.
    send_text(m_Transaction.sUnwritten);
    m_Transaction.sUnwritten.Empty();
  }
  while (!m_Transaction.pending.empty()) {
    const PENDING_REPLY nReply = m_Transaction.pending.front();
    m_Transaction.pending.pop_front();
    CString sRecipient;
    if (nReply == PENDING_RCPT) {
      sRecipient = m_Transaction.pendingRecipients.front();
      m_Transaction.pendingRecipients.pop_front();
    }
    if (m_Transaction.bRefused) {
      skip_reply(nReply);
      continue;
    }
    switch (nReply) {
      case PENDING_MAIL:
        m_Transaction.bRefused = !m_smtp.get_response(CSMTP::RESPONSE_OK);
        // Commands the server saw after a refused MAIL From are reset too.
        m_Transaction.bStarted = !m_Transaction.bRefused || !m_Transaction.pending.empty();
        break;
      case PENDING_RCPT: {
        CSMTPReply reply;
        if (!read_reply(reply)) break;
        if (AcceptsRecipient(reply.nCode)) {
          ++m_Transaction.nAccepted;
          break;
        }
        reply_failed(reply, CSMTP::response_table[CSMTP::RESPONSE_OK].szMessage);
        if (m_nLink == LINK_OPEN) m_Transaction.refusedRecipients.emplace_back(sRecipient, m_sLastReply);
        break;
      }
      case PENDING_DATA:
        m_Transaction.bRefused = !m_smtp.get_response(CSMTP::RESPONSE_DATA_READY);
        break;
      case PENDING_CHUNK:
      case PENDING_LAST_CHUNK: {
        // The first chunk is answered where DATA would have been: with no
        // recipient accepted, or the connection lost before its reply, it
        // fails as DATA would.
        const BOOL bAsData = !m_Transaction.bChunkAnswered && (m_Transaction.nAccepted == 0 || m_nLink != LINK_OPEN);
        m_Transaction.bChunkAnswered = TRUE;
        CSMTPReply reply;
        if (!read_reply(reply, nReply == PENDING_LAST_CHUNK ? end_of_data_timeout() : m_nTimeout)) {
          m_Transaction.bRefused = TRUE;
        } else if (reply.nCode != CSMTP::response_table[CSMTP::RESPONSE_OK].nCode) {
          reply_failed(reply,
                       CSMTP::response_table[bAsData ? CSMTP::RESPONSE_DATA_READY : CSMTP::RESPONSE_OK].szMessage);
          m_Transaction.bRefused = TRUE;
        }
        break;
      }
    }
  }
  m_Transaction.nUnansweredBytes = 0;
  return !m_Transaction.bRefused;
}

void CSMTPState::skip_reply(PENDING_REPLY nReply) {
  const CFailureKept failure(m_smtp.m_sLastError, m_sLastReply, m_sSocketError);
  CSMTPReply reply;
  // A server that opens the data phase of a transaction that failed is in a
  // state nobody knows: the connection is given up rather than risk sending
  // an empty message.
  if (read_reply(reply) && nReply == PENDING_DATA &&
      reply.nCode == CSMTP::response_table[CSMTP::RESPONSE_DATA_READY].nCode)
    link_lost(0, TRUE);
}

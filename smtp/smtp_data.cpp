// The data phase of CSMTP: the message made transparent (see CDotStuffer)
// and sent after DATA with the end-of-data line, or in BDAT chunks, either
// from the formatted message or formatted straight into the connection.
#include "smtp/smtp.h"

#include "framework/core/exception.h"
#include "framework/io/file.h"
#include "mail/mail_message.h"
#include "mail/mime_message.h"
#include "smtp/dot_stuffer.h"
#include "smtp/internal/smtp_state.h"

#include <cerrno>
#include <cstring>
#include <string>

using tarvenkel::detail::CSMTPState;

namespace {

// Carries the data phase to the socket. Short pieces are gathered, so that a
// short message leaves in one send together with its end-of-data line rather
// than in one small segment per part; a long run of unchanged text (an
// encoded attachment) goes out straight from the message, without a copy.
// With BDAT every gathered piece and every long run is one chunk, so memory
// stays as small as without.
class CDataSender : public CDotStuffer::COutput {
public:
  CDataSender(CSMTPState& smtp, BOOL bChunked) : m_smtp(smtp), m_bChunked(bChunked) {}

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
  bool Stopped() const { return m_bStopped || m_smtp.m_nLink != CSMTPState::LINK_OPEN; }

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

  CSMTPState& m_smtp;
  const BOOL m_bChunked;
  std::string m_gathered;
  bool m_bStopped = false;
};

// The data phase as a file that a message writes itself into: every write
// goes through the transparency filter to the socket. Once no more data can
// go out the next write throws and the message stops being formatted.
class DataPhaseFile : public CFile {
public:
  DataPhaseFile(CDotStuffer& stuffer, CDataSender& sender) : m_stuffer(stuffer), m_sender(sender) {}

  void Write(const void* lpBuf, UINT nCount) override {
    if (m_sender.Stopped()) AfxThrowFileException(CFileException::genericException, EPIPE);
    m_stuffer.Write(static_cast<const char*>(lpBuf), nCount, m_sender);
  }

private:
  CDotStuffer& m_stuffer;
  CDataSender& m_sender;
};

}  // namespace

BOOL CSMTPState::end_of_data_reply() {
  if (chunking()) return take_replies();
  return get_response(CSMTP::RESPONSE_OK, end_of_data_timeout());
}

BOOL CSMTPState::send_chunk(const char* pData, std::size_t nLength, BOOL bLast, const char* szTrailer) {
  // The server must never wait to write a reply the client does not read:
  // without PIPELINING every chunk waits for the replies before it, with it
  // only once this much data is unanswered.
  constexpr std::size_t kUnansweredLimit = 256 * 1024;
  if ((!pipelining() || m_Transaction.nUnansweredBytes + nLength > kUnansweredLimit) &&
      !m_Transaction.pending.empty() && !take_replies())
    return FALSE;
  if (m_Transaction.bRefused) return FALSE;
  CString head;
  head.Format("BDAT %zu%s\r\n", nLength, bLast ? " LAST" : "");
  m_Transaction.sUnwritten += head;
  m_Transaction.pending.push_back(bLast ? PENDING_LAST_CHUNK : PENDING_CHUNK);
  m_Transaction.nUnansweredBytes += nLength;
  // A gathered chunk leaves in one send with the commands before it; a long
  // run goes out from where it is.
  constexpr std::size_t kCopiedBytes = 64 * 1024;
  if (nLength <= kCopiedBytes) {
    m_Transaction.sUnwritten.Append(pData, static_cast<int>(nLength));
    if (szTrailer != nullptr) m_Transaction.sUnwritten += szTrailer;
    send_text(m_Transaction.sUnwritten);
    m_Transaction.sUnwritten.Empty();
    return TRUE;
  }
  send_text(m_Transaction.sUnwritten);
  m_Transaction.sUnwritten.Empty();
  send_bytes(pData, nLength);
  if (szTrailer != nullptr) send_bytes(szTrailer, std::strlen(szTrailer));
  return TRUE;
}

BOOL CSMTPState::stream_message(CMIMEMessage* msg) {
  if (!start_transaction(msg)) return FALSE;
  // The call ends the session right after; with PIPELINING its QUIT may go
  // with the end of the data.
  if (!stream_data(msg, pipelining())) {
    // Memory ran out while formatting. Ending the data now would deliver a
    // message cut short, so the connection is dropped instead, which makes
    // the server discard the transaction.
    abandon_connection();
    m_smtp.m_bConnected = FALSE;
    AfxThrowMemoryException();
  }
  return end_of_data_reply();
}

BOOL CSMTPState::stream_data(CMailMessage* msg, BOOL bQuitAfter) {
  m_smtp.m_Socket.SetTimeout(timeout_ms(m_nTimeout));
  const BOOL bChunked = chunking();
  CDataSender sender(*this, bChunked);
  CDotStuffer stuffer(!bChunked);
  DataPhaseFile data(stuffer, sender);
  if (!msg->WriteMessage(data) && !sender.Stopped()) return FALSE;
  stuffer.Finish(sender);
  m_bQuitSent = sender.Finish(bQuitAfter ? "QUIT\r\n" : nullptr) && bQuitAfter;
  if (!sender.Stopped()) note_failed_parts(msg);
  return TRUE;
}

void CSMTPState::send_data(CMailMessage* msg) {
  // The header and the body are filtered each on its own, both starting at
  // the beginning of a line.
  m_smtp.m_Socket.SetTimeout(timeout_ms(m_nTimeout));
  const BOOL bChunked = chunking();
  CDataSender sender(*this, bChunked);
  CDotStuffer stuffer(!bChunked);
  stuffer.Write(msg->m_sHeader.GetString(), static_cast<std::size_t>(msg->m_sHeader.GetLength()), sender);
  stuffer.Finish(sender);
  stuffer.Write(msg->m_sBody.GetString(), static_cast<std::size_t>(msg->m_sBody.GetLength()), sender);
  stuffer.Finish(sender);
  sender.Finish(nullptr);
}

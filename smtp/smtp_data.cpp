// SPDX-License-Identifier: Apache-2.0
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

#include <algorithm>
#include <cerrno>
#include <cstdint>
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
// go out the next write throws and the message stops being formatted. A
// header block given (not empty) goes out in place of the one the message
// writes first, whose bytes are skipped.
class DataPhaseFile : public CFile {
public:
  DataPhaseFile(CDotStuffer& stuffer, CDataSender& sender, const CMailMessage& msg, const CString& sHeader)
      : m_stuffer(stuffer), m_sender(sender), m_msg(msg), m_sHeader(sHeader) {}

  void Write(const void* lpBuf, UINT nCount) override {
    if (m_sender.Stopped()) AfxThrowFileException(CFileException::genericException, EPIPE);
    const char* pData = static_cast<const char*>(lpBuf);
    if (!m_sHeader.IsEmpty()) {
      if (!m_bHeaderSent) {
        // The message has formatted its header block before writing it.
        m_nSkip = static_cast<UINT>(m_msg.m_sHeader.GetLength());
        m_stuffer.Write(m_sHeader.GetString(), static_cast<std::size_t>(m_sHeader.GetLength()), m_sender);
        m_bHeaderSent = true;
      }
      const UINT nSkipped = std::min(m_nSkip, nCount);
      pData += nSkipped;
      nCount -= nSkipped;
      m_nSkip -= nSkipped;
    }
    m_stuffer.Write(pData, nCount, m_sender);
  }

private:
  CDotStuffer& m_stuffer;
  CDataSender& m_sender;
  const CMailMessage& m_msg;
  const CString& m_sHeader;
  bool m_bHeaderSent = false;
  UINT m_nSkip = 0;  // bytes of the message's own header still to skip
};

// Counts what the data phase would carry, without keeping it.
class ByteCounter : public CDotStuffer::COutput {
public:
  void Put(const char*, std::size_t nLength) override { m_nBytes += nLength; }
  std::uint64_t Bytes() const { return m_nBytes; }

private:
  std::uint64_t m_nBytes = 0;
};

// A file that a message writes itself into to be counted as ByteCounter does.
class CountingFile : public CFile {
public:
  CountingFile(CDotStuffer& stuffer, ByteCounter& counter) : m_stuffer(stuffer), m_counter(counter) {}

  void Write(const void* lpBuf, UINT nCount) override {
    m_stuffer.Write(static_cast<const char*>(lpBuf), nCount, m_counter);
  }

private:
  CDotStuffer& m_stuffer;
  ByteCounter& m_counter;
};

// The size of a message as the server receives it, with its line ends made
// CR LF (without the dots the data phase adds and the line that ends it): the
// header, the body, and the empty line the end of the data adds after them.
constexpr std::uint64_t kEndOfDataLine = 2;

}  // namespace

BOOL CSMTPState::end_of_data_reply() {
  if (chunking()) return take_replies();
  return get_response(CSMTP::RESPONSE_OK, end_of_data_timeout());
}

BOOL CSMTPState::send_chunk(const char* pData, std::size_t nLength, BOOL bLast, const char* szTrailer) {
  // The server must never wait to write a reply the client does not read:
  // without PIPELINING every chunk waits for the replies before it, with it
  // only once this much data is unanswered.
  if ((!pipelining() || m_Transaction.nUnansweredBytes + nLength > kUnansweredChunkBytes) &&
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

std::uint64_t CSMTPState::formatted_size(CMailMessage* msg) {
  ByteCounter counter;
  CDotStuffer stuffer(FALSE);
  stuffer.Write(msg->m_sHeader.GetString(), static_cast<std::size_t>(msg->m_sHeader.GetLength()), counter);
  stuffer.Finish(counter);
  stuffer.Write(msg->m_sBody.GetString(), static_cast<std::size_t>(msg->m_sBody.GetLength()), counter);
  stuffer.Finish(counter);
  return counter.Bytes() + kEndOfDataLine;
}

BOOL CSMTPState::count_streamed(CMailMessage* msg, std::uint64_t& nSize, CString& sHeader) {
  nSize = 0;
  sHeader.Empty();
  if (!declares_size()) return TRUE;
  // The size is only known once the message is formatted; a first pass
  // counts it without keeping anything but the header block. That block
  // is the one sent: formatted again, it would carry a new Date and
  // Message-ID, whose length may differ from the counted one.
  if (!streamed_size(msg, nSize)) return FALSE;
  sHeader = msg->m_sHeader;
  return TRUE;
}

BOOL CSMTPState::streamed_size(CMailMessage* msg, std::uint64_t& nSize) {
  ByteCounter counter;
  CDotStuffer stuffer(FALSE);
  CountingFile counting(stuffer, counter);
  if (!msg->WriteMessage(counting)) return FALSE;
  stuffer.Finish(counter);
  nSize = counter.Bytes() + kEndOfDataLine;
  return TRUE;
}

BOOL CSMTPState::stream_message(CMIMEMessage* msg) {
  std::uint64_t nSize = 0;
  CString sHeader;
  if (!count_streamed(msg, nSize, sHeader)) AfxThrowMemoryException();
  if (!start_transaction(msg, nSize)) return FALSE;
  // The call ends the session right after; with PIPELINING its QUIT may go
  // with the end of the data.
  if (!stream_data(msg, pipelining(), sHeader)) {
    // Memory ran out while formatting. Ending the data now would deliver a
    // message cut short, so the connection is dropped instead, which makes
    // the server discard the transaction.
    abandon_connection();
    m_smtp.m_bConnected = FALSE;
    AfxThrowMemoryException();
  }
  return end_of_data_reply();
}

BOOL CSMTPState::stream_data(CMailMessage* msg, BOOL bQuitAfter, const CString& sHeader) {
  const BOOL bChunked = chunking();
  CDataSender sender(*this, bChunked);
  CDotStuffer stuffer(!bChunked);
  DataPhaseFile data(stuffer, sender, *msg, sHeader);
  if (!msg->WriteMessage(data) && !sender.Stopped()) return FALSE;
  stuffer.Finish(sender);
  // The commands of the next message, when given, go with the end of the data.
  const BOOL bAhead = !bQuitAfter && !m_sAfterData.IsEmpty();
  const BOOL bFinished = sender.Finish(bQuitAfter ? "QUIT\r\n" : bAhead ? m_sAfterData.GetString() : nullptr);
  m_bQuitSent = bFinished && bQuitAfter;
  m_bCommandsWrittenAhead = bFinished && bAhead;
  m_sAfterData.Empty();
  if (!sender.Stopped()) note_failed_parts(msg);
  return TRUE;
}

void CSMTPState::send_data(CMailMessage* msg) {
  // The header and the body are filtered each on its own, both starting at
  // the beginning of a line.
  const BOOL bChunked = chunking();
  CDataSender sender(*this, bChunked);
  CDotStuffer stuffer(!bChunked);
  stuffer.Write(msg->m_sHeader.GetString(), static_cast<std::size_t>(msg->m_sHeader.GetLength()), sender);
  stuffer.Finish(sender);
  stuffer.Write(msg->m_sBody.GetString(), static_cast<std::size_t>(msg->m_sBody.GetLength()), sender);
  stuffer.Finish(sender);
  sender.Finish(nullptr);
}

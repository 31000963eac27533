// SPDX-License-Identifier: Apache-2.0
// CMailOutbox: queueing into the spool (outbox_spool.cpp), and the flush
// that sends what is due through a host's sessions and records each outcome
// in the message's state.
#include "outbox/mail_outbox.h"

#include "framework/core/string_array.h"
#include "mail/mail_message.h"
#include "outbox/internal/descriptor_file.h"
#include "outbox/internal/outbox_spool.h"
#include "outbox/internal/queued_message.h"
#include "smtp/internal/smtp_state.h"
#include "smtp/smtp.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <utility>

#include <unistd.h>

namespace tarvenkel::detail {

struct CMailOutboxState {
  std::unique_ptr<OutboxSpool> spool;
  long long nMaxAge = 5 * 24 * 3600;
  CString sLastError = "OK";
  std::vector<CMailOutbox::CReport> report;
};

}  // namespace tarvenkel::detail

using tarvenkel::detail::CSMTPState;
using tarvenkel::detail::DescriptorFile;
using tarvenkel::detail::OutboxEntry;
using tarvenkel::detail::OutboxSpool;
using tarvenkel::detail::QueuedMessage;

namespace {

const CMailMessage::RECIPIENTS_TYPE kRecipientKinds[] = {CMailMessage::TO, CMailMessage::CC, CMailMessage::BCC};

// The pause before the next try after the given number of tries: 1 minute,
// doubling with each try, at most 1 hour.
long long Backoff(int nTries) {
  long long pause = 60;
  for (int i = 1; i < nTries && pause < 3600; ++i) pause *= 2;
  return std::min<long long>(pause, 3600);
}

CString Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += ", ";
    text += item;
  }
  return CString(text.c_str());
}

std::string Text(const CString& s) {
  return std::string(s.GetString(), static_cast<std::size_t>(s.GetLength()));
}

// The code of a reply as the session keeps it ("550 5.1.1 ..."); 0 for none.
int ReplyCode(const CString& sReply) {
  if (sReply.GetLength() < 3) return 0;
  const char* p = sReply.GetString();
  for (int i = 0; i < 3; ++i)
    if (p[i] < '0' || p[i] > '9') return 0;
  return (p[0] - '0') * 100 + (p[1] - '0') * 10 + (p[2] - '0');
}

CString ServerName(CSMTP& smtp) {
  CString name;
  name.Format("%s:%u", smtp.GetServerHostName().GetString(), smtp.GetPort());
  return name;
}

// Why a session's last step failed, as a delivery log line names it: the
// server's reply where there was one, else the error with the system's reason.
CString FailureText(CSMTP& smtp) {
  if (!smtp.GetLastReply().IsEmpty()) return smtp.GetLastReply();
  CString text = smtp.GetLastError();
  if (!smtp.GetLastSocketError().IsEmpty()) text += " (" + smtp.GetLastSocketError() + ")";
  return text;
}

// The last whole reply the session read, as GetLastReply would give it.
CString LastReadReply(CSMTP& smtp) {
  const CSMTPReply& reply = CSMTPState::of(smtp).m_LastRead;
  CString text;
  for (std::size_t i = 0; i < reply.lines.size(); ++i) {
    if (i > 0) text += "\r\n";
    CString line;
    line.Format("%03d%c%s", reply.nCode, i + 1 < reply.lines.size() ? '-' : ' ', reply.lines[i].GetString());
    text += line;
  }
  return text;
}

bool LinkOpen(CSMTP& smtp) {
  return CSMTPState::of(smtp).m_nLink == CSMTPState::LINK_OPEN;
}

}  // namespace

CMailOutbox::CMailOutbox() : m_pState(std::make_unique<tarvenkel::detail::CMailOutboxState>()) {}

CMailOutbox::~CMailOutbox() = default;

BOOL CMailOutbox::Open(LPCTSTR szFolder) {
  auto spool = std::make_unique<OutboxSpool>(szFolder != nullptr ? szFolder : "");
  std::string error;
  if (!spool->Open(error)) {
    m_pState->sLastError = CString(error.c_str());
    return FALSE;
  }
  m_pState->spool = std::move(spool);
  return TRUE;
}

CString CMailOutbox::GetFolder() const {
  return m_pState->spool ? CString(m_pState->spool->Folder().c_str()) : CString();
}

static BOOL NotOpen(CString& sLastError) {
  sLastError = "Outbox not open";
  return FALSE;
}

BOOL CMailOutbox::Queue(CMailMessage* msg, CString* psId) {
  if (!m_pState->spool) return NotOpen(m_pState->sLastError);
  std::vector<std::string> recipients;
  for (CMailMessage::RECIPIENTS_TYPE kind : kRecipientKinds) {
    for (int i = 0; i < msg->GetNumRecipients(kind); ++i) {
      CString address;
      CString name;
      if (msg->GetRecipient(address, name, i, kind)) recipients.push_back(Text(address));
    }
  }
  if (recipients.empty()) {
    m_pState->sLastError = "No Recipients";
    return FALSE;
  }
  std::string id;
  std::string error;
  const bool ok = m_pState->spool->Add(
      Text(msg->m_sFrom), recipients,
      [msg](int fd, std::string& why) {
        DescriptorFile file(fd);
        if (msg->WriteMessage(file)) return true;
        why = file.Error() != 0 ? std::strerror(file.Error()) : "Message could not be written";
        return false;
      },
      id, error);
  if (!ok) {
    m_pState->sLastError = CString(error.c_str());
    return FALSE;
  }
  if (psId != nullptr) *psId = CString(id.c_str());
  return TRUE;
}

BOOL CMailOutbox::QueueFormatted(LPCTSTR szSender, const CStringArray& recipients, int fdSource, CString* psId) {
  if (!m_pState->spool) return NotOpen(m_pState->sLastError);
  std::vector<std::string> addresses;
  for (INT_PTR i = 0; i < recipients.GetSize(); ++i) addresses.push_back(Text(recipients.GetAt(i)));
  if (addresses.empty()) {
    m_pState->sLastError = "No Recipients";
    return FALSE;
  }
  std::string id;
  std::string error;
  const bool ok = m_pState->spool->Add(
      szSender != nullptr ? szSender : "", addresses,
      [fdSource](int fd, std::string& why) {
        char buffer[64 * 1024];
        for (;;) {
          const ssize_t n = ::read(fdSource, buffer, sizeof buffer);
          if (n < 0 && errno == EINTR) continue;
          if (n < 0) {
            why = std::string("Message could not be read: ") + std::strerror(errno);
            return false;
          }
          if (n == 0) return true;
          for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(fd, buffer + done, static_cast<std::size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
              why = std::strerror(w < 0 ? errno : EIO);
              return false;
            }
            done += w;
          }
        }
      },
      id, error);
  if (!ok) {
    m_pState->sLastError = CString(error.c_str());
    return FALSE;
  }
  if (psId != nullptr) *psId = CString(id.c_str());
  return TRUE;
}

namespace {

// One flush: the spool, the clock, the report, and what is done with each
// message after its try.
class Flusher {
public:
  Flusher(OutboxSpool& spool, long long nMaxAge, std::vector<CMailOutbox::CReport>& report)
      : m_spool(spool), m_nMaxAge(nMaxAge), m_report(report), m_now(std::time(nullptr)) {}

  // Sends one message over the open session. With CHUNKING and PIPELINING
  // it joins the messages in flight (see Write). Otherwise, where the server
  // allows, the commands of the next message (when not null) go with the end
  // of this one's data, so that a backlog takes one round trip per message.
  void Send(CSMTP& smtp, OutboxEntry entry, const OutboxEntry* pNext) {
    CSMTPState& state = CSMTPState::of(smtp);
    if (state.chunking() && state.pipelining()) {
      Write(smtp, std::move(entry));
      return;
    }
    Transmit(smtp, std::move(entry), pNext);
  }

  // Reads the replies to every message in flight, in order, and records
  // their outcomes.
  void Drain(CSMTP& smtp) {
    while (!m_window.empty()) Finish(smtp);
  }

  // Keeps a message that could not be tried or met a temporary failure,
  // or gives it up when it is too old.
  void defer(OutboxEntry& entry, const std::vector<std::string>& recipients, const CString& server,
             const CString& reason) {
    ++entry.tries;
    entry.lastReply = Text(reason);
    if (m_now - static_cast<long long>(entry.queued) >= m_nMaxAge) {
      const CString text = reason + " (given up after " + CString(std::to_string(entry.tries).c_str()) + " tries)";
      add(entry, recipients, CMailOutbox::OUTCOME_FAILED, server, text);
      fail(entry, text);
      return;
    }
    entry.nextTry = static_cast<std::time_t>(m_now + Backoff(entry.tries));
    add(entry, recipients, CMailOutbox::OUTCOME_DEFERRED, server, reason);
    std::string error;
    m_spool.SaveState(entry, error);
  }

  void DeferAll(std::vector<OutboxEntry>& entries, std::size_t from, const CString& server, const CString& reason) {
    for (std::size_t i = from; i < entries.size(); ++i) defer(entries[i], entries[i].Pending(), server, reason);
  }

private:
  // A message whose whole transaction is written, its replies awaited.
  struct CInFlight {
    OutboxEntry entry;
    std::vector<std::string> pending;
    std::uint64_t nBytes = 0;
    CSMTPState::CWritten written;
  };

  // With CHUNKING a message needs no reply before its end, so several go out
  // before the first is answered: the message is written whole behind those
  // in flight, once the oldest have been answered as far as the count and
  // the unanswered bytes require. A message that cannot be written whole
  // without a reply on the way goes alone, after every reply before it.
  void Write(CSMTP& smtp, OutboxEntry entry) {
    CSMTPState& state = CSMTPState::of(smtp);
    const std::vector<std::string> pending = entry.Pending();
    const int fd = m_spool.OpenMessage(entry.id);
    if (fd < 0) return;  // gone since it was listed; nothing of it was written
    QueuedMessage msg(fd, entry.sender, pending);
    std::uint64_t nBytes = 0;
    // Not written whole: a message refused before anything is sent, or one
    // with too many recipients for one group, which goes as one at a time.
    const bool bWhole = CSMTPState::streamed_size(&msg, nBytes) &&
                        state.may_write_ahead(&msg, state.declares_size() ? nBytes : 0);
    while (!m_window.empty() &&
           (!bWhole || m_window.size() >= tarvenkel::detail::kWholeTransactionsInFlight ||
            m_nWindowBytes + nBytes > tarvenkel::detail::kUnansweredChunkBytes))
      Finish(smtp);
    if (!LinkOpen(smtp)) {
      // The connection broke under a message before it: this one waits.
      defer(entry, pending, ServerName(smtp), FailureText(smtp));
      return;
    }
    if (!bWhole) {
      Transmit(smtp, std::move(entry), nullptr);
      return;
    }
    CInFlight item{std::move(entry), pending, nBytes, {}};
    state.write_whole(&msg, item.written);
    m_nWindowBytes += nBytes;
    m_window.push_back(std::move(item));
  }

  // Reads the replies to the oldest message in flight and records its outcome.
  void Finish(CSMTP& smtp) {
    CInFlight item = std::move(m_window.front());
    m_window.pop_front();
    m_nWindowBytes -= item.nBytes;
    const BOOL sent = CSMTPState::of(smtp).read_whole(item.written);
    Record(smtp, std::move(item.entry), item.pending, sent);
  }

  // Sends one message as the only one awaiting replies.
  void Transmit(CSMTP& smtp, OutboxEntry entry, const OutboxEntry* pNext) {
    CSMTPState& state = CSMTPState::of(smtp);
    const std::vector<std::string> pending = entry.Pending();
    const int fd = m_spool.OpenMessage(entry.id);
    if (fd < 0) {
      // Gone since it was listed. Commands written ahead for it would leave
      // replies nobody reads: the connection is given up then.
      if (state.m_bCommandsWrittenAhead) {
        state.m_bCommandsWrittenAhead = FALSE;
        state.link_lost(0, TRUE);
      }
      return;
    }
    QueuedMessage msg(fd, entry.sender, pending);
    if (pNext != nullptr && state.pipelining()) {
      const int nextFd = m_spool.OpenMessage(pNext->id);
      if (nextFd >= 0) {
        QueuedMessage next(nextFd, pNext->sender, pNext->Pending());
        std::uint64_t nSize = 0;
        CString sHeader;
        if (state.count_streamed(&next, nSize, sHeader)) state.m_sAfterData = state.commands_ahead(&next, nSize);
      }
    }
    const BOOL sent = state.send_streamed(&msg);
    Record(smtp, std::move(entry), pending, sent);
  }

  // Records the outcome of a message's try: sent, recipients refused for
  // good or for now, the whole message refused or deferred. The session's
  // texts and refused recipients are those of its transaction.
  void Record(CSMTP& smtp, OutboxEntry entry, const std::vector<std::string>& pending, BOOL sent) {
    const CString server = ServerName(smtp);

    // The recipients the server refused, sorted by the kind of refusal.
    std::vector<std::string> refusedForGood, refusedForNow;
    CString sForGood, sForNow;
    for (int i = 0; i < smtp.GetNumRefusedRecipients(); ++i) {
      CString address, reply;
      smtp.GetRefusedRecipient(i, address, reply);
      if (ReplyCode(reply) >= 500) {
        refusedForGood.push_back(Text(address));
        sForGood = reply;
      } else {
        refusedForNow.push_back(Text(address));
        sForNow = reply;
      }
    }
    auto refused = [&](const std::string& a) {
      return std::find(refusedForGood.begin(), refusedForGood.end(), a) != refusedForGood.end() ||
             std::find(refusedForNow.begin(), refusedForNow.end(), a) != refusedForNow.end();
    };
    for (const std::string& a : refusedForGood) entry.done.push_back(a);
    if (!refusedForGood.empty()) add(entry, refusedForGood, CMailOutbox::OUTCOME_FAILED, server, sForGood, TRUE);

    if (sent) {
      std::vector<std::string> accepted;
      for (const std::string& a : pending)
        if (!refused(a)) accepted.push_back(a);
      add(entry, accepted, CMailOutbox::OUTCOME_SENT, server, LastReadReply(smtp));
      if (refusedForNow.empty()) {
        // One sync for all the removals, at the end of the flush: a sync per
        // message costs more than the round trip saved by pipelining.
        m_spool.Remove(entry.id, false, false);
        return;
      }
      for (const std::string& a : accepted) entry.done.push_back(a);
      defer(entry, refusedForNow, server, sForNow);
      return;
    }

    // Every recipient refused: their replies decide, not the server's answer
    // to a data phase that had nobody to go to.
    const bool allRefused = refusedForGood.size() + refusedForNow.size() == pending.size();
    if (allRefused) {
      if (refusedForNow.empty()) {
        fail(entry, sForGood);
        return;
      }
      defer(entry, refusedForNow, server, sForNow);
      return;
    }
    const CString reason = FailureText(smtp);
    std::vector<std::string> left = entry.Pending();
    // A refusal the server gave for good, or one the session made itself with
    // the connection still sound (a message too large for the server), will
    // not change on a later try.
    const int code = ReplyCode(smtp.GetLastReply());
    const CString sError = smtp.GetLastError();
    const bool bRefusedHere = code == 0 && LinkOpen(smtp) &&
                              (sError.Find("Message too large") == 0 || sError == "Invalid address");
    if (code >= 500 || bRefusedHere) {
      add(entry, left, CMailOutbox::OUTCOME_FAILED, server, reason);
      fail(entry, reason);
      return;
    }
    defer(entry, left, server, reason);
  }

  void fail(OutboxEntry& entry, const CString& reason) {
    entry.lastReply = Text(reason);
    std::string error;
    m_spool.MoveToFailed(entry, error);
  }

  void add(const OutboxEntry& entry, const std::vector<std::string>& recipients, CMailOutbox::OUTCOME nOutcome,
           const CString& server, const CString& reply, BOOL bRecipientsRefused = FALSE) {
    if (recipients.empty()) return;
    CMailOutbox::CReport line;
    line.sId = CString(entry.id.c_str());
    line.sSender = CString(entry.sender.c_str());
    line.sRecipients = Joined(recipients);
    line.nOutcome = nOutcome;
    line.sServer = server;
    line.sReply = reply;
    line.nDelay = m_now - static_cast<long long>(entry.queued);
    line.bRecipientsRefused = bRecipientsRefused;
    m_report.push_back(line);
  }

  OutboxSpool& m_spool;
  const long long m_nMaxAge;
  std::vector<CMailOutbox::CReport>& m_report;
  const long long m_now;
  std::deque<CInFlight> m_window;  // in the order written
  std::uint64_t m_nWindowBytes = 0;  // their chunk bytes
};

}  // namespace

BOOL CMailOutbox::Flush(CSMTP* const* ppServers, int nServers, BOOL bRetryNow) {
  m_pState->report.clear();
  if (!m_pState->spool) return NotOpen(m_pState->sLastError);
  if (ppServers == nullptr || nServers <= 0) {
    m_pState->sLastError = "No server";
    return FALSE;
  }
  OutboxSpool& spool = *m_pState->spool;
  const OutboxSpool::FlushLock lock(spool);
  if (!lock.Held()) {
    m_pState->sLastError = "Another flush is running";
    return FALSE;
  }
  const std::time_t now = std::time(nullptr);
  std::vector<OutboxEntry> due;
  for (OutboxEntry& entry : spool.List())
    if (bRetryNow || entry.nextTry <= now) due.push_back(std::move(entry));
  if (due.empty()) return TRUE;

  Flusher flusher(spool, m_pState->nMaxAge, m_pState->report);
  CSMTP* smtp = nullptr;
  CString server;
  CString reason;
  for (int i = 0; i < nServers && smtp == nullptr; ++i) {
    if (ppServers[i] == nullptr) continue;
    if (ppServers[i]->Connect()) {
      smtp = ppServers[i];
    } else {
      server = ServerName(*ppServers[i]);
      reason = FailureText(*ppServers[i]);
    }
  }
  if (smtp == nullptr) {
    // No server could be reached: every due message waits, the last
    // server's failure as its reason.
    flusher.DeferAll(due, 0, server, reason);
    return TRUE;
  }
  for (std::size_t i = 0; i < due.size(); ++i) {
    if (!LinkOpen(*smtp)) {
      // The connection broke under an earlier message: those in flight
      // meet the failure as their replies are read, and the rest waits.
      flusher.Drain(*smtp);
      flusher.DeferAll(due, i, ServerName(*smtp), FailureText(*smtp));
      break;
    }
    flusher.Send(*smtp, due[i], i + 1 < due.size() ? &due[i + 1] : nullptr);
  }
  flusher.Drain(*smtp);
  // Nothing written ahead outlives the flush (the last message has no next).
  CSMTPState::of(*smtp).m_bCommandsWrittenAhead = FALSE;
  CSMTPState::of(*smtp).m_sAfterData.Empty();
  spool.Sync();
  smtp->Disconnect();
  return TRUE;
}

BOOL CMailOutbox::Flush(CSMTP& smtp, BOOL bRetryNow) {
  CSMTP* servers[] = {&smtp};
  return Flush(servers, 1, bRetryNow);
}

const std::vector<CMailOutbox::CReport>& CMailOutbox::GetReport() const {
  return m_pState->report;
}

int CMailOutbox::GetWaitingCount() const {
  return m_pState->spool ? static_cast<int>(m_pState->spool->List().size()) : 0;
}

int CMailOutbox::GetFailedCount() const {
  return m_pState->spool ? static_cast<int>(m_pState->spool->List(true).size()) : 0;
}

long long CMailOutbox::GetOldestAge() const {
  if (!m_pState->spool) return 0;
  const std::vector<OutboxEntry> entries = m_pState->spool->List();
  if (entries.empty()) return 0;
  std::time_t oldest = entries.front().queued;
  for (const OutboxEntry& entry : entries) oldest = std::min(oldest, entry.queued);
  return std::max<long long>(0, static_cast<long long>(std::time(nullptr) - oldest));
}

std::vector<CMailOutbox::CQueued> CMailOutbox::List(BOOL bFailed) const {
  std::vector<CQueued> list;
  if (!m_pState->spool) return list;
  const std::time_t now = std::time(nullptr);
  for (const OutboxEntry& entry : m_pState->spool->List(bFailed != FALSE)) {
    CQueued item;
    item.sId = CString(entry.id.c_str());
    item.sSender = CString(entry.sender.c_str());
    item.sRecipients = Joined(entry.Pending());
    item.nAge = std::max<long long>(0, static_cast<long long>(now - entry.queued));
    item.nTries = entry.tries;
    item.nNextTry = std::max<long long>(0, static_cast<long long>(entry.nextTry - now));
    item.sLastReply = CString(entry.lastReply.c_str());
    list.push_back(item);
  }
  return list;
}

BOOL CMailOutbox::Drop(LPCTSTR szId, BOOL bFailed) {
  if (!m_pState->spool) return NotOpen(m_pState->sLastError);
  const std::string id = szId != nullptr ? szId : "";
  OutboxEntry entry;
  if (id.empty() || id.find('/') != std::string::npos || !m_pState->spool->Load(id, entry, bFailed != FALSE)) {
    m_pState->sLastError = "No such message: " + CString(id.c_str());
    return FALSE;
  }
  // A flush may be sending it: it is not taken away under the flush.
  const OutboxSpool::FlushLock lock(*m_pState->spool);
  if (!lock.Held()) {
    m_pState->sLastError = "Another flush is running";
    return FALSE;
  }
  if (!m_pState->spool->Remove(id, bFailed != FALSE)) {
    m_pState->sLastError = "Message could not be removed: " + CString(id.c_str());
    return FALSE;
  }
  return TRUE;
}

void CMailOutbox::SetMaxAge(long long nSeconds) {
  m_pState->nMaxAge = nSeconds;
}

long long CMailOutbox::GetMaxAge() const {
  return m_pState->nMaxAge;
}

CString CMailOutbox::GetLastError() const {
  return m_pState->sLastError;
}

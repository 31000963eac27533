// SPDX-License-Identifier: Apache-2.0
// CMailOutbox: a durable outbox for mail that must not be lost. Queueing a
// message writes its envelope and its formatted text into a folder the host
// names, synced to disk before the call returns; a flush sends what is due
// over one connection, oldest first, and removes a message only once the
// server accepted it. A temporary failure keeps a message for a later try
// after a growing pause (1 minute, doubling to 1 hour) until its maximum age;
// a permanent one moves it to the folder's failed/ with the server's reply.
// The object creates no thread and reads no configuration: the host calls
// Flush when it likes (a timer, after queueing, from a cron job).
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"

#include <memory>
#include <vector>

class CMailMessage;
class CSMTP;
class CStringArray;

namespace tarvenkel::detail {
struct CMailOutboxState;
}

class AFX_EXT_CLASS CMailOutbox {
public:
  // A queued message as List describes it.
  struct CQueued {
    CString sId;          // the message's id, which sorts in the order of queueing
    CString sSender;      // the envelope sender
    CString sRecipients;  // the recipients still to be delivered to, separated by ", "
    long long nAge = 0;   // seconds since it was queued
    int nTries = 0;       // the tries so far
    long long nNextTry = 0;  // seconds until the next try is due; 0: due now
    CString sLastReply;   // the server's reply or the failure of the last try; empty before the first
  };

  // What became of some recipients of one message in the last flush.
  enum OUTCOME {
    OUTCOME_SENT = 0,      // the server accepted the message for them
    OUTCOME_DEFERRED = 1,  // a temporary failure: they stay queued
    OUTCOME_FAILED = 2,    // refused for good, or too old: they are given up
  };
  // One line of the report of the last flush: a message may give several,
  // one per outcome (sent to two recipients, refused for the third).
  struct CReport {
    CString sId;          // the message's id
    CString sSender;      // the envelope sender
    CString sRecipients;  // the recipients of this outcome, separated by ", "
    OUTCOME nOutcome = OUTCOME_DEFERRED;
    CString sServer;      // "host:port" of the server tried; empty when none could be reached
    CString sReply;       // the server's reply (lines joined by CR LF), or the failure without one
    long long nDelay = 0;  // seconds since the message was queued
    // Whether the server refused these recipients themselves (its answer to
    // RCPT), rather than the message or the connection failing.
    BOOL bRecipientsRefused = FALSE;
  };

  // An outbox on no folder yet: every call but Open fails until Open succeeds.
  CMailOutbox();
  // Closes the outbox; queued messages stay in the folder.
  ~CMailOutbox();
  CMailOutbox(const CMailOutbox&) = delete;
  CMailOutbox& operator=(const CMailOutbox&) = delete;

  // Opens the outbox in the folder, creating it and its failed/ (mode 700)
  // where missing. FALSE, with the reason in GetLastError, when they cannot
  // be made or are not folders of this user.
  BOOL Open(LPCTSTR szFolder);
  // The folder of the last successful Open; empty before.
  CString GetFolder() const;

  // Queues a composed message: the envelope is its m_sFrom and its TO, CC
  // and BCC recipients, the text what its WriteMessage writes (the bytes
  // CSMTP::SendMessage would send). When TRUE returns the message is on
  // disk (synced) and its id is in *psId (when not null); FALSE, with the
  // reason in GetLastError ("No space left on device", "Permission denied",
  // "No Recipients", "Invalid address", ...), leaves nothing behind.
  BOOL Queue(CMailMessage* msg, CString* psId = nullptr);
  // Queues a message formatted already: the sender, the recipients, and the
  // bytes read from the file descriptor fdSource up to its end, which go to
  // the server as they are (line ends CR LF; the end of the data adds one
  // line end). The descriptor is read, not closed. Durable and whole or
  // absent as Queue is.
  BOOL QueueFormatted(LPCTSTR szSender, const CStringArray& recipients, int fdSource, CString* psId = nullptr);

  // Sends the queued messages that are due (all of them with bRetryNow,
  // whatever their pause), oldest first, over one connection: the servers
  // are tried in order, and one that cannot be reached or whose greeting is
  // not 220 (a 4xx "busy") gives way to the next. Each server's own
  // settings (security, login, time-out, short dialogue) apply; the flush
  // connects it and ends with QUIT. Recipients a server accepted are done
  // with; those refused permanently (5xx) are dropped and reported; those
  // refused temporarily (4xx) stay. A message with no recipient left, or
  // refused permanently as a whole, moves to failed/ with the reply; a
  // temporary failure (4xx, no connection, time-out, TLS) keeps it until its
  // maximum age, after which it moves to failed/ too. In the short dialogue
  // with a server that offers PIPELINING and CHUNKING, up to 8 messages are
  // written whole before their replies are read, each with the outcome it
  // would have alone; a message leaves the folder only once the server's
  // acceptance of it was read. The per-message outcome is in GetReport. FALSE only when the flush could not run: no
  // folder open, no server given, or another flush of this folder runs (in
  // this process or another), GetLastError "Another flush is running".
  BOOL Flush(CSMTP* const* ppServers, int nServers, BOOL bRetryNow = FALSE);
  // Flush through one server.
  BOOL Flush(CSMTP& smtp, BOOL bRetryNow = FALSE);
  // The report of the last Flush, in the order the messages were handled.
  const std::vector<CReport>& GetReport() const;

  // The number of messages waiting (not those in failed/).
  int GetWaitingCount() const;
  // The number of messages in failed/.
  int GetFailedCount() const;
  // Seconds since the oldest waiting message was queued; 0 when none waits.
  long long GetOldestAge() const;
  // The waiting messages (with bFailed, those in failed/), oldest first.
  std::vector<CQueued> List(BOOL bFailed = FALSE) const;
  // Removes a waiting message (with bFailed, one in failed/). FALSE when
  // there is none of that id, or while a flush runs ("Another flush is
  // running").
  BOOL Drop(LPCTSTR szId, BOOL bFailed = FALSE);

  // The age in seconds after which a message that still meets temporary
  // failures is given up; 5 days (432000) by default.
  void SetMaxAge(long long nSeconds);
  // The age of SetMaxAge, in seconds.
  long long GetMaxAge() const;

  // The text of the most recent failure of Open, Queue, QueueFormatted,
  // Flush or Drop; "OK" until the first one.
  CString GetLastError() const;

private:
  // Everything the outbox holds, by pointer, so that this class keeps its layout.
  std::unique_ptr<tarvenkel::detail::CMailOutboxState> m_pState;
};

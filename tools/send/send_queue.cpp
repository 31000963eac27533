// SPDX-License-Identifier: Apache-2.0
#include "tools/send/send_queue.h"

#include <tarvenkel/framework/core/string.h>
#include <tarvenkel/mail/mail_message.h>
#include <tarvenkel/outbox/mail_outbox.h>
#include <tarvenkel/smtp/smtp.h>
#include "tools/send/delivery_log.h"
#include "tools/send/dialogue_trace.h"
#include "tools/send/oauth2_client.h"
#include "tools/send/send_options.h"
#include "tools/send/send_settings.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

const char kFlushRunning[] = "Another flush is running";

// How long a send waits for another process's flush before it leaves its
// message to the next one.
constexpr std::chrono::seconds kFlushWait(10);

std::string Text(const CString& s) { return s.str(); }

// The addresses of a ", " separated list of the outbox.
std::vector<std::string> Split(const CString& list) {
  std::vector<std::string> items;
  const std::string text = list.str();
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(", ", start);
    if (end == std::string::npos) end = text.size();
    items.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return items;
}

const char* StatusName(CMailOutbox::OUTCOME outcome) {
  switch (outcome) {
    case CMailOutbox::OUTCOME_SENT:
      return "sent";
    case CMailOutbox::OUTCOME_DEFERRED:
      return "deferred";
    case CMailOutbox::OUTCOME_FAILED:
      break;
  }
  return "failed";
}

// "45s", "12m", "3h", "2d".
std::string Age(long long seconds) {
  if (seconds < 60) return std::to_string(seconds) + "s";
  if (seconds < 3600) return std::to_string(seconds / 60) + "m";
  if (seconds < 86400) return std::to_string(seconds / 3600) + "h";
  return std::to_string(seconds / 86400) + "d";
}

bool OpenQueue(const SendSettings& settings, CMailOutbox& outbox) {
  if (outbox.Open(settings.queue->c_str())) return true;
  std::fprintf(stderr, "%s: cannot use the queue %s: %s\n", kSendProgram, settings.queue->c_str(),
               outbox.GetLastError().str().c_str());
  return false;
}

// The sessions of the server list, set up as the settings say, with the
// access token of the built-in refresh where there is one.
class ServerSessions {
public:
  explicit ServerSessions(const SendSettings& settings) {
    std::string token, message;
    if (settings.tokenFromStore) {
      OAuth2Client client(settings.oauth2);
      if (client.AccessToken(token, message) != OAuth2Outcome::kOk)
        std::fprintf(stderr, "%s: warning: OAuth2: %s\n", kSendProgram, message.c_str());
    }
    for (size_t i = 0; i < std::max<size_t>(settings.servers.size(), 1); ++i) {
      m_sessions.push_back(std::make_unique<CSMTP>());
      ConfigureSession(*m_sessions.back(), settings, i);
      if (settings.tokenFromStore) m_sessions.back()->SetOAuth2Token(token.c_str());
      m_pointers.push_back(m_sessions.back().get());
    }
  }
  CSMTP* const* data() const { return m_pointers.data(); }
  int size() const { return static_cast<int>(m_pointers.size()); }

private:
  std::vector<std::unique_ptr<CSMTP>> m_sessions;
  std::vector<CSMTP*> m_pointers;
};

// Flushes through the settings' servers, logging every outcome. With
// wait, a flush of another process is waited for a while; false when the
// flush did not run.
bool Flush(const SendSettings& settings, CMailOutbox& outbox, DeliveryLog& log, bool wait) {
  ServerSessions sessions(settings);
  DialogueTrace trace(settings.password.value_or(""));
  if (settings.verbose) trace.Start();
  const auto deadline = std::chrono::steady_clock::now() + kFlushWait;
  bool ran = false;
  for (;;) {
    ran = outbox.Flush(sessions.data(), sessions.size(), settings.retryNow ? TRUE : FALSE) != FALSE;
    if (ran || !wait || outbox.GetLastError() != kFlushRunning || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  if (settings.verbose) trace.Stop();
  for (const CMailOutbox::CReport& line : outbox.GetReport())
    log.Write({Text(line.sId), Text(line.sSender), Split(line.sRecipients), Text(line.sServer),
               StatusName(line.nOutcome), line.nDelay, Text(line.sReply)});
  return ran;
}

// The exit status of a message the servers refused for good, after saying why.
int RefusedStatus(const std::vector<const CMailOutbox::CReport*>& failed) {
  bool recipientsOnly = true;
  for (const CMailOutbox::CReport* line : failed) recipientsOnly = recipientsOnly && line->bRecipientsRefused;
  if (recipientsOnly) {
    std::fprintf(stderr, "%s: not sent: every recipient was refused\n", kSendProgram);
    return EX_NOUSER;
  }
  return EX_DATAERR;
}

}  // namespace

std::optional<int> SendThroughQueue(const SendSettings& settings, CMailMessage& message) {
  // The system's queue (a configuration file's) serves its owner, root's
  // jobs: other users' mail goes without it, as it would with no queue.
  struct stat info;
  if (settings.FromFile("queue") && stat(settings.queue->c_str(), &info) == 0 && info.st_uid != geteuid())
    return std::nullopt;
  CMailOutbox outbox;
  CString id;
  if (!OpenQueue(settings, outbox)) return std::nullopt;
  if (!outbox.Queue(&message, &id)) {
    std::fprintf(stderr, "%s: warning: cannot queue the message in %s: %s; sending it without the queue\n",
                 kSendProgram, settings.queue->c_str(), outbox.GetLastError().str().c_str());
    return std::nullopt;
  }
  DeliveryLog log(settings.logFile);
  // The message's own recipients: listing the queue would read every message waiting.
  std::vector<std::string> recipients;
  for (CMailMessage::RECIPIENTS_TYPE kind : {CMailMessage::TO, CMailMessage::CC, CMailMessage::BCC}) {
    for (int i = 0; i < message.GetNumRecipients(kind); ++i) {
      CString address, name;
      if (message.GetRecipient(address, name, i, kind)) recipients.push_back(address.str());
    }
  }
  log.Write({id.str(), Text(message.m_sFrom), recipients, "", "queued", 0, ""});
  Flush(settings, outbox, log, true);

  std::vector<const CMailOutbox::CReport*> sent, deferred, failed;
  for (const CMailOutbox::CReport& line : outbox.GetReport()) {
    if (line.sId != id) continue;
    (line.nOutcome == CMailOutbox::OUTCOME_SENT       ? sent
     : line.nOutcome == CMailOutbox::OUTCOME_DEFERRED ? deferred
                                                      : failed)
        .push_back(&line);
  }
  const bool refusedForGood = sent.empty() && deferred.empty() && !failed.empty();
  for (const CMailOutbox::CReport* line : failed) {
    if (line->bRecipientsRefused) {
      for (const std::string& address : Split(line->sRecipients))
        std::fprintf(stderr, "%s: %s: recipient refused: %s\n", kSendProgram, refusedForGood ? "error" : "warning",
                     address.c_str());
      std::fprintf(stderr, "%s: server said: %s\n", kSendProgram, line->sReply.str().c_str());
    } else {
      std::fprintf(stderr, "%s: not sent: %s (%s)\n", kSendProgram, line->sReply.str().c_str(),
                   line->sServer.str().c_str());
    }
  }
  if (refusedForGood) {
    // The caller learns of the refusal from the exit status, as without a
    // queue: no copy is kept.
    outbox.Drop(id, TRUE);
    return RefusedStatus(failed);
  }
  for (const CMailOutbox::CReport* line : deferred)
    std::fprintf(stderr, "%s: not delivered yet to %s: %s%s%s; it waits in the queue\n", kSendProgram,
                 line->sRecipients.str().c_str(), line->sReply.str().c_str(), line->sServer.IsEmpty() ? "" : " at ",
                 line->sServer.str().c_str());
  // Sent, or waiting: sent later by a flush (a report without the message
  // means another process's flush held the queue).
  if (!deferred.empty() || (sent.empty() && failed.empty())) std::printf("queued %s\n", id.str().c_str());
  return EX_OK;
}

int RunQueueCommand(const SendSettings& settings) {
  CMailOutbox outbox;
  if (!OpenQueue(settings, outbox)) return EX_IOERR;
  if (settings.drop) {
    if (outbox.Drop(settings.drop->c_str()) || outbox.Drop(settings.drop->c_str(), TRUE)) {
      std::printf("dropped %s\n", settings.drop->c_str());
      return EX_OK;
    }
    std::fprintf(stderr, "%s: %s\n", kSendProgram, outbox.GetLastError().str().c_str());
    return outbox.GetLastError() == kFlushRunning ? EX_TEMPFAIL : EX_NOINPUT;
  }
  if (settings.listQueue) {
    const std::vector<CMailOutbox::CQueued> queued = outbox.List();
    for (const CMailOutbox::CQueued& item : queued) {
      std::printf("%s  %5s  %2d %s  <%s>\n", item.sId.str().c_str(), Age(item.nAge).c_str(), item.nTries,
                  item.nTries == 1 ? "try  " : "tries", item.sSender.str().c_str());
      std::printf("    to: %s\n", item.sRecipients.str().c_str());
      if (!item.sLastReply.IsEmpty()) {
        std::string reply;
        for (char c : item.sLastReply.str())
          if (c != '\r') reply += c == '\n' ? ' ' : c;
        std::printf("    last reply: %s\n", reply.c_str());
      }
      if (item.nNextTry > 0) std::printf("    next try in %s\n", Age(item.nNextTry).c_str());
    }
    const int failedCount = outbox.GetFailedCount();
    if (queued.empty())
      std::printf("The queue is empty");
    else
      std::printf("-- %zu %s waiting, the oldest for %s", queued.size(), queued.size() == 1 ? "message" : "messages",
                  Age(outbox.GetOldestAge()).c_str());
    std::printf("; %d in %s/failed\n", failedCount, settings.queue->c_str());
    return EX_OK;
  }

  // --flush: nothing due needs no server.
  bool due = false;
  for (const CMailOutbox::CQueued& item : outbox.List()) due = due || settings.retryNow || item.nNextTry == 0;
  if (!due) return EX_OK;
  if (settings.servers.empty())
    return ReportUsageError("missing --server HOST[:PORT] (or server in the configuration file)");
  DeliveryLog log(settings.logFile);
  if (!Flush(settings, outbox, log, false)) {
    std::fprintf(stderr, "%s: %s\n", kSendProgram, outbox.GetLastError().str().c_str());
    return outbox.GetLastError() == kFlushRunning ? EX_OK : EX_IOERR;
  }
  int counts[3] = {};
  for (const CMailOutbox::CReport& line : outbox.GetReport()) ++counts[line.nOutcome];
  std::printf("flushed: %d sent, %d deferred, %d failed; %d waiting\n", counts[CMailOutbox::OUTCOME_SENT],
              counts[CMailOutbox::OUTCOME_DEFERRED], counts[CMailOutbox::OUTCOME_FAILED], outbox.GetWaitingCount());
  if (counts[CMailOutbox::OUTCOME_DEFERRED] > 0) return EX_TEMPFAIL;
  return counts[CMailOutbox::OUTCOME_FAILED] > 0 ? EX_UNAVAILABLE : EX_OK;
}

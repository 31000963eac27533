// SPDX-License-Identifier: Apache-2.0
// The files of a mail outbox. Each queued message is one file, <id>.msg,
// written once: a short envelope (format line, sender, recipients, the time
// it was queued), an empty line, then the message as it goes on the wire
// before the data phase's transparency. What changes while it waits (tries,
// the next try, the last reply, the recipients already done with) is in
// <id>.state beside it, replaced whole at each change. Both are written to a
// temporary name, synced and renamed, the folder synced after, so a crash
// leaves a message queued whole or not at all. Messages that failed for good
// move to failed/ with their state.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace tarvenkel::detail {

struct OutboxEntry {
  std::string id;                       // sorts in the order the messages were queued
  std::string sender;                   // the envelope sender
  std::vector<std::string> recipients;  // every envelope recipient, in order
  std::vector<std::string> done;        // recipients delivered or refused for good
  std::time_t queued = 0;
  int tries = 0;
  std::time_t nextTry = 0;  // 0: at once
  std::string lastReply;    // the server's reply, or the failure, of the last try

  // The recipients still to be delivered to.
  std::vector<std::string> Pending() const;
};

class OutboxSpool {
public:
  explicit OutboxSpool(std::string folder);

  const std::string& Folder() const { return m_folder; }
  // Creates the folder and failed/ (mode 700) where missing; false with the
  // reason when they cannot be made or are not folders this user owns.
  bool Open(std::string& error);

  // Writes a new message: the envelope, then what write puts into the open
  // descriptor it is given (false from it abandons the message). id is the
  // new message's. On any failure nothing is left behind and error says why.
  bool Add(const std::string& sender, const std::vector<std::string>& recipients,
           const std::function<bool(int fd, std::string& error)>& write, std::string& id, std::string& error);

  // The queued messages, oldest first; failed/ ones with bFailed.
  std::vector<OutboxEntry> List(bool bFailed = false) const;
  bool Load(const std::string& id, OutboxEntry& entry, bool bFailed = false) const;
  // Replaces the state of a queued message.
  bool SaveState(const OutboxEntry& entry, std::string& error);
  // Removes a queued (or failed) message and its state; the folder is
  // synced after unless bSync is false (a flush removing many syncs once, at
  // its end, with Sync: a power cut before that may bring a removed message
  // back, never lose one).
  bool Remove(const std::string& id, bool bFailed = false, bool bSync = true);
  // Syncs the folder, so that removals without a sync last.
  void Sync() const;
  // Moves a queued message with its state into failed/.
  bool MoveToFailed(const OutboxEntry& entry, std::string& error);
  // Opens a message for reading, positioned at its first byte after the
  // envelope; -1 when it cannot be opened.
  int OpenMessage(const std::string& id) const;

  // Holds the folder's flush lock while the object lives; Held() is false
  // when another process or object holds it.
  class FlushLock {
  public:
    explicit FlushLock(const OutboxSpool& spool);
    ~FlushLock();
    FlushLock(const FlushLock&) = delete;
    FlushLock& operator=(const FlushLock&) = delete;
    bool Held() const { return m_fd >= 0; }

  private:
    int m_fd = -1;
  };

private:
  std::string path(const std::string& name, bool bFailed = false) const;

  std::string m_folder;
};

}  // namespace tarvenkel::detail

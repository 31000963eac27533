// SPDX-License-Identifier: Apache-2.0
// A queued message as it goes to the server: the envelope from the spool, the
// data phase copied from the message file a piece at a time, so memory stays
// small however large the message is.
#pragma once

#include "mail/mail_message.h"

#include <string>
#include <vector>

namespace tarvenkel::detail {

class QueuedMessage : public CMailMessage {
public:
  // fd: the message file, positioned at its first byte after the envelope;
  // the object closes it. The recipients become the envelope's (as BCC, so
  // that nothing of them is written: the bytes are already formatted).
  QueuedMessage(int fd, const std::string& sender, const std::vector<std::string>& recipients);
  ~QueuedMessage() override;
  QueuedMessage(const QueuedMessage&) = delete;
  QueuedMessage& operator=(const QueuedMessage&) = delete;

protected:
  // The bytes are formatted already: formatting changes nothing.
  void start_header() override {}
  void prepare_header() override {}
  void end_header() override {}
  void prepare_body() override {}
  // Copies the message file from its start after the envelope into the
  // file; throws a CFileException when it cannot be read. Each write of the
  // message (to count it, then to send it) copies it from the start.
  void write_body(CFile& file) override;

private:
  int m_fd;
  long long m_nStart;
};

}  // namespace tarvenkel::detail

// SPDX-License-Identifier: Apache-2.0
// A message that goes to the server as it came on standard input: its header
// block is held in memory, its body stays in the spool file and is read a
// piece at a time while the data phase takes it, so memory stays small
// however large the message is. And the session that sends it so.
#pragma once

#include <tarvenkel/mail/mail_message.h>
#include <tarvenkel/smtp/smtp.h>
#include "tools/send/spool_file.h"

#include <string>

class CSpooledMessage : public CMailMessage {
public:
  // header: the header fields, every line ended with CR LF; the body is the
  // whole spool file, which must have been flushed and must outlive the
  // message. The end of the data adds a line end, so the body's last one is
  // left out.
  CSpooledMessage(const SpoolFile& spool, const std::string& header);

  // The system's error of a failed read of the spool file, 0 when none failed.
  int GetReadError() const { return m_nReadError; }

protected:
  // The header and the body are set as they go out: formatting changes nothing.
  void start_header() override {}
  void prepare_header() override {}
  void end_header() override {}
  void prepare_body() override {}
  // Copies the body from the spool file into the file, a piece at a time;
  // throws a CFileException when the spool file cannot be read.
  void write_body(CFile& file) override;

private:
  const SpoolFile& m_spool;
  unsigned long long m_nBodyBytes = 0;
  int m_nReadError = 0;
};

// A session that writes every message into the data phase as it goes
// (CSMTP::transmit_streamed_message) instead of formatting it whole first.
class CStreamingSMTP : public CSMTP {
protected:
  BOOL transmit_message(CMailMessage* msg) override { return transmit_streamed_message(msg); }
};

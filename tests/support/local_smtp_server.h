// SPDX-License-Identifier: Apache-2.0
// Starts tools/local_smtp_server.py (Debian's aiosmtpd) on a free port of
// 127.0.0.1 for a test, and stops it again when the object goes.
#pragma once

#include "tests/support/port_service.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tarvenkel::test {

// A stored message as Python's email package sees it (tests/smtp/parse_message.py).
struct ParsedMessage {
  // "From: ...", "To: ...", "Cc: ...", "Bcc: ...", "Subject: ...", then
  // "part N <type> <file name> <charset>" per leaf part, "defect ..." lines.
  std::vector<std::string> lines;
  // The decoded payload of every leaf part.
  std::vector<std::string> parts;
  // The value of one of the five headers, "<absent>" when missing.
  std::string Header(const std::string& name) const;
};
// Parses a stored message; throws std::runtime_error when the parser fails.
ParsedMessage ParseMessage(const std::string& emlPath);

// The envelope the server stored beside a message (NNNN.json beside
// NNNN.eml): "mail_from" and "rcpt_tos" as JSON.
std::string Envelope(const std::string& emlPath);
// Success when the envelope of the message holds the text; the failure
// shows the envelope.
::testing::AssertionResult EnvelopeHas(const std::string& emlPath, const std::string& text);

class LocalSmtpServer {
public:
  // auth: "USER:PASSWORD" to require a login, empty for none. Throws
  // std::runtime_error when the server does not come up within 20 s.
  explicit LocalSmtpServer(const std::string& auth = "") : LocalSmtpServer(auth, {}) {}
  // extraArgs: further options of the server script (--tls-cert FILE,
  // --tls-key FILE, --implicit-tls, --tls-client-ca FILE, --auth-exclude
  // MECHANISM, --refuse ADDRESS, --pipelining).
  LocalSmtpServer(const std::string& auth, const std::vector<std::string>& extraArgs);
  ~LocalSmtpServer();
  LocalSmtpServer(const LocalSmtpServer&) = delete;
  LocalSmtpServer& operator=(const LocalSmtpServer&) = delete;

  int port() const;
  const std::string& spool() const { return m_spool.path(); }
  // The paths of the stored messages (NNNN.eml), in arrival order, once at
  // least count have arrived or timeoutMs has passed.
  std::vector<std::string> Messages(std::size_t count = 1, int timeoutMs = 5000) const;
  // One line per login so far: "MECHANISM tls|plain ok|refused".
  std::string AuthLog() const;

private:
  TempDir m_spool;
  std::unique_ptr<PortService> m_server;
};

}  // namespace tarvenkel::test

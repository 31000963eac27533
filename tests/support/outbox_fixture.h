// SPDX-License-Identifier: Apache-2.0
// Shared pieces of the outbox tests: an alarm message, a client of a test
// server, a port nothing listens on, and the subjects a server stored.
#pragma once

#include "mail/mail_message.h"
#include "smtp/smtp.h"

#include <memory>
#include <string>
#include <vector>

namespace tarvenkel::test {

// A short alarm from alarm@x to the recipients, with the subject.
std::unique_ptr<CMailMessage> Alarm(const std::string& subject, const std::vector<std::string>& to = {"ops@x"});
// A full-dialogue client of 127.0.0.1:port with a short time-out.
std::unique_ptr<CSMTP> ClientOf(int port, bool bShortDialogue = false);
// A port of 127.0.0.1 that refuses connections.
int ClosedPort();
// The Subject of each stored message of a local server ("<absent>" when none).
std::vector<std::string> Subjects(const std::vector<std::string>& emlPaths);

}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// The lines of the SMTP dialogue that scripted-server tests share: the
// server's greeting, its replies to the hello and to the login, EHLO replies
// offering the extensions the client uses, and the client's lines for the
// login of user "user" with password "secret".
#pragma once

#include "tests/support/scripted_smtp_server.h"

#include <string>

namespace tarvenkel::test {

// The server's side.
inline const std::string kGreeting = "220 test.example ESMTP ready\r\n";
inline const std::string kHelloReply = "250 hello\r\n";
inline const std::string kUserPrompt = "334 VXNlcm5hbWU6\r\n";      // base64 of "Username:"
inline const std::string kPasswordPrompt = "334 UGFzc3dvcmQ6\r\n";  // base64 of "Password:"
inline const std::string kByeReply = "221 bye\r\n";

// EHLO replies: a login alone, and beside it PIPELINING, CHUNKING, or both
// with AUTH PLAIN too.
inline constexpr char kLoginOnly[] = "250-test.example\r\n250 AUTH LOGIN\r\n";
inline constexpr char kPipelining[] = "250-test.example\r\n250-PIPELINING\r\n250 AUTH LOGIN\r\n";
inline constexpr char kChunkingOnly[] = "250-test.example\r\n250-CHUNKING\r\n250 AUTH LOGIN\r\n";
inline constexpr char kEverything[] = "250-test.example\r\n250-PIPELINING\r\n250-CHUNKING\r\n250 AUTH PLAIN LOGIN\r\n";

// The client's side.
inline const std::string kHelo = "HELO " + HostName() + "\r\n";
inline const std::string kEhlo = "EHLO " + HostName() + "\r\n";
inline const std::string kUserLine = "dXNlcg==\r\n";                        // base64 of "user"
inline const std::string kPasswordLine = "c2VjcmV0\r\n";                    // base64 of "secret"
inline const std::string kPlainLogin = "AUTH PLAIN AHVzZXIAc2VjcmV0\r\n";  // base64 of "\0user\0secret"

// A script that greets and answers HELO; the transaction's steps follow.
inline SmtpScript Opened() {
  return SmtpScript().Send(kGreeting).Reply(kHelloReply);
}

}  // namespace tarvenkel::test

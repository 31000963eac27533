// SPDX-License-Identifier: Apache-2.0
// A client of a test server, configured from named settings: the server's
// port and the login, the protection, the short dialogue, the time-out and
// the charset. Fields left out keep the values below.
#pragma once

#include "smtp/smtp.h"

#include <chrono>
#include <memory>
#include <string>

namespace tarvenkel::test {

struct ClientSettings {
  int port = 0;
  std::string user{};      // empty with an empty password: no login
  std::string password{};
  std::string token{};     // for SetOAuth2Token; empty: none
  CSMTP::AUTH_MECHANISM mechanism = CSMTP::AUTH_AUTO;
  CSMTP::SECURITY_MODE security = CSMTP::SECURITY_NONE;
  std::string caFile{};    // empty: the system's store
  bool shortDialogue = false;
  // Seconds for SetTimeout, short so that a broken test does not hang; -1
  // keeps the client's default.
  int timeout = 10;
  std::string charset{};   // for SetCharset; empty: not set
  std::string host = "127.0.0.1";
  std::string sender = "alarm@example.com";
};

// Applies the settings to a client, or to an object of a class derived from CSMTP.
void Configure(CSMTP& smtp, const ClientSettings& settings);

// A new client with the settings.
template <class Client = CSMTP>
std::unique_ptr<Client> MakeClient(const ClientSettings& settings) {
  auto smtp = std::make_unique<Client>();
  Configure(*smtp, settings);
  return smtp;
}

// The seconds since start, for the waits of the client.
double SecondsSince(std::chrono::steady_clock::time_point start);

// Checks that Connect fails with the error once the client's time-out of 1 s
// has passed, not before and not long after.
void ExpectConnectTimesOut(CSMTP& smtp, const std::string& error);

}  // namespace tarvenkel::test

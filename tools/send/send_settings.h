// SPDX-License-Identifier: Apache-2.0
// The settings of one run of tarvenkel-send: the command line's options,
// filled in from the configuration file, checked, with the server split into
// host and port and the password read. Both entries send with them.
#pragma once

#include "tools/send/oauth2_client.h"
#include "tools/send/aliases.h"
#include "tools/send/send_options.h"

#include <string>
#include <vector>

class CSMTP;

struct SendSettings : SendOptions {
  std::string host;         // of the first server
  unsigned port = 25;       // of the first server, or of the configuration's port
  bool hasPort = false;     // given, not the default of the security
  std::vector<ServerAddress> servers;  // every server of the list, tried in order; ports completed
  std::string fromName;     // the name of a sender given as "Name <address>"
  std::string configFile;   // the configuration file read; empty when none
  std::vector<std::string> keysFromFile;  // the keys whose values the file gave
  std::string token;        // the access token of a token login read for this run
  std::string tokenSource;  // where it came from, for messages ("token file /x", "TARVENKEL_TOKEN")
  bool tokenFromStore = false;  // the token comes from oauth2 (the built-in refresh)
  OAuth2Settings oauth2;    // the built-in refresh, completed; for --authorize too
  Aliases addresses;        // aliases, default-domain and the configured sender

  // Whether the configuration file gave the key's value, for errors that
  // name where a mistake is.
  bool FromFile(const std::string& key) const;

  bool StartTls() const { return security == kStartTls; }
  bool ImplicitTls() const { return security == kTls; }
  bool LogsIn() const { return user.has_value(); }
  // Whether the login uses a bearer token rather than the password.
  bool TokenLogin() const { return !token.empty() || tokenFromStore; }
  // Whether a sender is given that is not blank.
  bool HasSender() const;
  // A server of the list as messages name it, "mail.example.org:587" or "[::1]:25".
  std::string ServerText(size_t index = 0) const;
  // Whether one of the queue's commands (--flush, --list-queue, --drop) is asked for.
  bool QueueCommand() const { return flush || listQueue || drop.has_value(); }
};

// Reads the configuration file (the one of --config, else the default one),
// fills in what the options leave open, checks the settings and reads the
// password or the token (the token file, the token command, TARVENKEL_TOKEN,
// or the settings of the built-in refresh). With --authorize, only the
// configuration and the OAuth2 settings. 0, or the exit status of the mistake after reporting it: a file
// the command line names that cannot be used is bad usage; the configuration
// file, a file it names, a charset it names or a secret that others may read
// is a bad configuration. A sender without a domain is qualified (see
// Aliases::Sender); where none is given, the running user's login name at
// the default domain is the sender of the notification and mail entries.
int PrepareSendSettings(SendSettings& settings);

// Sets up a session with the settings, for the server of the list at index.
// A login upgrades with STARTTLS
// wherever the server offers it, and goes unencrypted only when
// --plaintext-login allows it.
void ConfigureSession(CSMTP& smtp, const SendSettings& settings, size_t index = 0);

// Reports a bad configuration on standard error and gives the exit status for it.
int ReportConfigError(const std::string& message);

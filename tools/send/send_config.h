// SPDX-License-Identifier: Apache-2.0
// The configuration file of tarvenkel-send: one "key = value" setting a
// line, "#" at the start of a comment line, blank lines ignored, a UTF-8
// byte-order mark at the start skipped. Each key is named after the
// command-line option it gives the default of; the caller lets the options
// win.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

struct SendConfig {
  enum Security { kNone, kStartTls, kTls };

  std::optional<std::string> server;        // HOST[:PORT], as --server takes it
  std::optional<unsigned> port;             // 1 to 65535
  std::optional<Security> security;         // none, starttls or tls
  std::optional<std::string> caFile;        // cafile (old spelling ca-file)
  std::optional<std::string> tlsServerName;   // tls-server-name
  std::optional<std::string> tlsFingerprint;  // tls-fingerprint, as given
  std::optional<std::string> tlsCertFile;     // tls-cert-file
  std::optional<std::string> tlsKeyFile;      // tls-key-file: a secret, the file must be private
  std::optional<std::string> user;
  std::optional<std::string> password;      // the secret itself: the file must be private
  std::optional<std::string> passwordFile;  // password-file
  std::optional<std::string> from;
  std::optional<unsigned> timeout;          // seconds, 0 for no limit
  std::optional<std::string> charset;
  std::optional<bool> shortDialogue;        // short-dialogue = yes|no
  std::optional<bool> plaintextLogin;       // plaintext-login = yes|no
  std::optional<std::string> auth;          // auto, login, plain, xoauth2 or oauthbearer
  std::optional<std::string> tokenFile;     // token-file: a private file, the access token on its first line
  std::optional<std::string> tokenCommand;  // token-command: prints the access token
  // The built-in refresh: the provider, its endpoints, the client and the
  // private token store (oauth2_client.h).
  std::optional<std::string> oauth2Provider, oauth2Tenant, oauth2ClientId, oauth2ClientSecretFile,
      oauth2TokenEndpoint, oauth2DeviceEndpoint, oauth2AuthorizationEndpoint, oauth2Scope, oauth2TokenStore;
  std::optional<std::string> aliases;       // the aliases file for recipients without a domain
  std::optional<std::string> defaultDomain; // default-domain, for addresses without one
  std::optional<std::string> queue;         // the outbox folder: mail that cannot go now waits there
  std::optional<std::string> logFile;       // log-file: the delivery log goes there instead of to syslog
};

// The keys a configuration file may hold, old spellings included: those of
// the option table (send_options.h).
const std::vector<std::string>& SendConfigKeys();

// Of the names, the one nearest to word (fewest letters added, removed or
// changed), when it is near enough to be a likely typing mistake; empty
// otherwise.
std::string NearestName(const std::string& word, const std::vector<std::string>& names);

// Reads a decimal number without sign or blanks into value, up to limit.
bool ParseDecimal(const std::string& text, unsigned long limit, unsigned long& value);

// Reads the settings of a configuration text into config; false with the
// line number and the reason in error at the first line that is not a known
// key with a valid value, or a key given twice (under either spelling). An
// unknown key is named with the nearest known one.
bool ParseSendConfig(const std::string& text, SendConfig& config, std::string& error);

// Whether a file that holds a secret may keep it: false, with an error that
// names the path and its mode and says how to fix it, when every user of the
// machine may read it (the "other" read bit). The owner and the file's
// group may read it: a group is how several accounts share one secret.
bool SecretFileModeIsSafe(const std::string& path, mode_t mode, std::string& error);

// Reads and parses the file at path; false with an error that starts with
// the path. A file that holds a password itself must be safe as
// SecretFileModeIsSafe says; one that only names a password file may be
// readable by all.
bool ReadSendConfig(const std::string& path, SendConfig& config, std::string& error);

// Reads the secret of a password file: its first line, without the line
// end. False with an error that names the path: the file is missing,
// unreadable or not a regular file, or every user may read it (then
// *pExposed is set, where given).
bool ReadPasswordFile(const std::string& path, std::string& password, std::string& error, bool* pExposed = nullptr);

// The system's configuration file.
inline constexpr char kSystemSendConfig[] = "/etc/tarvenkel/send.conf";

// The configuration file used when none is named: the first that exists of
// $XDG_CONFIG_HOME/tarvenkel/send.conf (~/.config when the variable is unset
// or empty) and /etc/tarvenkel/send.conf; empty when neither does.
std::string DefaultSendConfigPath();

// SPDX-License-Identifier: Apache-2.0
#include "tools/send/send_settings.h"

#include <tarvenkel/mail/mime_message.h>
#include <tarvenkel/smtp/smtp.h>
#include "tools/send/address_list.h"
#include "tools/send/group_rights.h"
#include "tools/send/send_charset.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

// Takes the file's value where the options give none; whether it did.
template <typename T>
bool fill(std::optional<T>& value, const std::optional<T>& fromFile) {
  if (value || !fromFile) return false;
  value = fromFile;
  return true;
}

// Whether the system knows the charset, and the library can label with it.
bool charset_is_usable(const std::string& charset) {
  CMailMessage probe;
  return CharsetIsKnown(charset) && probe.SetCharset(charset.c_str());
}

// Fills in from the configuration file what the options leave open, and
// splits the server; false with the error, a bad configuration.
bool apply_config(SendSettings& settings, const std::string& path, std::string& error) {
  SendConfig config;
  if (!path.empty() && !ReadSendConfig(path, config, error)) return false;
  auto taken = [&settings](const char* key, bool fromFile) {
    if (fromFile) settings.keysFromFile.push_back(key);
  };
  // The configuration's port goes with its server only.
  taken("server", fill(settings.server, config.server));
  if (settings.server && !ParseServerList(*settings.server, settings.FromFile("server") ? "server in " + path : "--server",
                                          settings.servers, error))
    return false;
  if (settings.FromFile("server") && config.port) {
    for (ServerAddress& server : settings.servers) {
      if (server.hasPort) continue;
      server.port = *config.port;
      server.hasPort = true;
      taken("port", true);
    }
  }
  if (config.charset && !settings.charset && !charset_is_usable(*config.charset)) {
    error = "charset in " + path + ": '" + *config.charset + "' is not a charset this system knows";
    return false;
  }
  if (config.password && config.passwordFile) {
    error = path + ": give password or password-file, not both";
    return false;
  }
  // The password given for this run, in the environment or by
  // --password-file, wins over the file's.
  if (!settings.passwordFile && !std::getenv(kSendPasswordVariable)) {
    taken("password", fill(settings.password, config.password));
    taken("password-file", fill(settings.passwordFile, config.passwordFile));
  }
  // So does a token given for this run over the file's token source.
  if (config.tokenFile && config.tokenCommand) {
    error = path + ": give token-file or token-command, not both";
    return false;
  }
  if (!settings.tokenFile && !settings.tokenCommand && !std::getenv(kSendTokenVariable)) {
    taken("token-file", fill(settings.tokenFile, config.tokenFile));
    taken("token-command", fill(settings.tokenCommand, config.tokenCommand));
  }
  for (const SendOption& option : SendOptionTable())
    if (option.key && option.fill) taken(option.key, option.fill(settings, config));
  // The configuration's sender stands in for a sender without a domain, even where -f names one.
  std::vector<Mailbox> sender;
  std::string ignored;
  if (config.from && ParseAddressList(*config.from, sender, ignored) && sender.size() == 1)
    settings.addresses.SetConfiguredSender(sender[0].address);
  return true;
}

// The settings of the built-in refresh, completed from the provider's
// preset, with the client secret read; 0, or the exit status of the mistake
// (a bad configuration) after reporting it.
int prepare_oauth2(SendSettings& settings) {
  OAuth2Settings& o = settings.oauth2;
  o.provider = settings.oauth2Provider.value_or("");
  o.tenant = settings.oauth2Tenant.value_or("");
  o.clientId = settings.oauth2ClientId.value_or("");
  o.tokenEndpoint = settings.oauth2TokenEndpoint.value_or("");
  o.deviceEndpoint = settings.oauth2DeviceEndpoint.value_or("");
  o.authorizationEndpoint = settings.oauth2AuthorizationEndpoint.value_or("");
  o.scope = settings.oauth2Scope.value_or("");
  o.tokenStore = settings.oauth2TokenStore.value_or("");
  o.caFile = settings.caFile.value_or("");
  std::string error;
  if (o.provider.empty()) return ReportConfigError("oauth2-provider is missing (microsoft, google or custom)");
  if (!CompleteOAuth2Settings(o, error)) return ReportConfigError(error);
  if (settings.oauth2ClientSecretFile &&
      !ReadPasswordFile(*settings.oauth2ClientSecretFile, o.clientSecret, error))
    return ReportConfigError("oauth2-client-secret-file " + error);
  return EX_OK;
}

// Runs the token command and takes the first line of what it prints as the
// access token. 0, or the exit status after
// reporting: 78 when the command cannot be run, 75 when it fails or prints
// nothing (a token helper that could not reach its provider).
int run_token_command(const std::string& command, std::string& token) {
  std::fflush(nullptr);
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return ReportConfigError("token-command '" + command + "': " + std::strerror(errno));
  std::string output;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = ::pclose(pipe);
  const int code = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  token = output.substr(0, output.find_first_of("\r\n"));
  if (code == 126 || code == 127)
    return ReportConfigError("token-command '" + command + "' cannot be run (exit status " + std::to_string(code) + ")");
  if (code != 0 || token.empty()) {
    std::fprintf(stderr, "%s: not sent: token-command '%s' %s\n", kSendProgram, command.c_str(),
                 code != 0 ? ("failed (exit status " + std::to_string(code) + ")").c_str() : "printed no token");
    return EX_TEMPFAIL;
  }
  return EX_OK;
}

// Reads the token of a token login: the token file, the token command, the
// environment, or the settings of the built-in refresh (the token itself is
// taken just before the connection). 0, or the exit status of the mistake.
int prepare_token(SendSettings& settings) {
  const std::string& path = settings.configFile;
  if (settings.tokenFile && settings.tokenCommand && !settings.FromFile("token-file"))
    return ReportUsageError("give --token-file or --token-command, not both");
  if (settings.tokenFile) {
    std::string error;
    bool exposed = false;
    settings.tokenSource = "token file " + *settings.tokenFile;
    if (ReadPasswordFile(*settings.tokenFile, settings.token, error, &exposed) && !settings.token.empty())
      return EX_OK;
    if (error.empty()) error = *settings.tokenFile + ": holds no token";
    if (settings.FromFile("token-file")) return ReportConfigError("token-file in " + path + ": " + error);
    return exposed ? ReportConfigError("--token-file " + error) : ReportUsageError("--token-file " + error);
  }
  if (settings.tokenCommand) {
    settings.tokenSource = "token command";
    return run_token_command(*settings.tokenCommand, settings.token);
  }
  if (const char* token = std::getenv(kSendTokenVariable); token != nullptr && *token != '\0') {
    settings.token = token;
    settings.tokenSource = kSendTokenVariable;
    return EX_OK;
  }
  if (!settings.oauth2TokenStore && !settings.oauth2Provider)
    return ReportUsageError("--auth " + *settings.auth + " needs a token: set " + kSendTokenVariable +
                            ", give --token-file or --token-command, or set up oauth2-token-store");
  settings.tokenFromStore = true;
  settings.tokenSource = "token store";
  return prepare_oauth2(settings);
}

// Whether the run has a token to log in with: a token source is given and
// --auth does not ask for a password mechanism.
bool wants_token(const SendSettings& settings) {
  const std::string auth = settings.auth.value_or("auto");
  if (auth == "login" || auth == "plain") return false;
  const char* token = std::getenv(kSendTokenVariable);
  return auth != "auto" || settings.tokenFile || settings.tokenCommand || (token != nullptr && *token != '\0') ||
         settings.oauth2TokenStore || settings.oauth2Provider;
}

// Reads the aliases file and takes the default domain; 0, or the exit
// status of the mistake after reporting it.
int prepare_addresses(SendSettings& settings) {
  if (settings.defaultDomain) settings.addresses.SetDefaultDomain(*settings.defaultDomain);
  if (!settings.aliases) return EX_OK;
  std::string error;
  if (settings.addresses.ReadFile(*settings.aliases, error)) return EX_OK;
  return settings.FromFile("aliases") ? ReportConfigError("aliases in " + settings.configFile + ": " + error)
                                      : ReportUsageError("--aliases " + error);
}

// Checks the settings of the server's and the client's certificates; 0, or
// the exit status of the mistake after reporting it. The key of the client
// certificate is a secret like the password.
int prepare_tls(const SendSettings& settings) {
  const std::string& path = settings.configFile;
  auto label = [&](const std::string& key) { return settings.FromFile(key) ? key + " in " + path : "--" + key; };
  auto report = [&](const std::string& key, const std::string& message) {
    return settings.FromFile(key) ? ReportConfigError(message) : ReportUsageError(message);
  };
  const std::pair<const char*, const std::optional<std::string>*> given[] = {
      {"tls-server-name", &settings.tlsServerName},
      {"tls-fingerprint", &settings.tlsFingerprint},
      {"tls-cert-file", &settings.tlsCertFile},
      {"tls-key-file", &settings.tlsKeyFile},
  };
  for (const auto& [key, value] : given)
    if (*value && !settings.FromFile(key) && !settings.StartTls() && !settings.ImplicitTls() && !settings.LogsIn())
      return ReportUsageError(std::string("--") + key + " needs --starttls, --tls or a login (--user)");
  if (settings.tlsKeyFile && !settings.tlsCertFile)
    return report("tls-key-file", label("tls-key-file") + " needs tls-cert-file, the certificate of the key");
  if (!settings.tlsCertFile) return EX_OK;
  if (access(settings.tlsCertFile->c_str(), R_OK) != 0)
    return report("tls-cert-file", label("tls-cert-file") + " '" + *settings.tlsCertFile + "': " + std::strerror(errno));
  // The key, in its own file or in the certificate's.
  const char* keyKey = settings.tlsKeyFile ? "tls-key-file" : "tls-cert-file";
  const std::string& keyFile = settings.tlsKeyFile ? *settings.tlsKeyFile : *settings.tlsCertFile;
  struct stat info;
  if (stat(keyFile.c_str(), &info) != 0 || access(keyFile.c_str(), R_OK) != 0)
    return report(keyKey, label(keyKey) + " '" + keyFile + "': " + std::strerror(errno));
  std::string error;
  if (!SecretFileModeIsSafe(keyFile, info.st_mode, error)) return ReportConfigError(label(keyKey) + " " + error);
  return EX_OK;
}

// Checks the connection settings and reads the password; 0, or the exit
// status of the mistake after reporting it.
int prepare_connection(SendSettings& settings) {
  const std::string& path = settings.configFile;
  if (settings.caFile && !settings.FromFile("cafile") && !settings.StartTls() && !settings.ImplicitTls() &&
      !settings.LogsIn())
    return ReportUsageError("--cafile needs --starttls, --tls or a login (--user)");
  if (settings.caFile && access(settings.caFile->c_str(), R_OK) != 0) {
    const std::string reason = "'" + *settings.caFile + "': " + std::strerror(errno);
    return settings.FromFile("cafile") ? ReportConfigError("cafile in " + path + " " + reason)
                                   : ReportUsageError("--cafile " + reason);
  }
  if (const int status = prepare_tls(settings); status != EX_OK) return status;
  for (ServerAddress& server : settings.servers) {
    if (!server.hasPort && settings.StartTls()) server.port = 587;
    if (!server.hasPort && settings.ImplicitTls()) server.port = 465;
  }
  if (!settings.servers.empty()) {
    settings.host = settings.servers[0].host;
    settings.port = settings.servers[0].port;
    settings.hasPort = settings.servers[0].hasPort;
  }

  if (settings.passwordFile && !settings.LogsIn()) {
    return settings.FromFile("password-file") ? ReportConfigError(path + ": password-file needs user")
                                         : ReportUsageError("--password-file needs --user");
  }
  if ((settings.tokenFile || settings.tokenCommand) && !settings.LogsIn()) {
    const char* key = settings.tokenFile ? "token-file" : "token-command";
    return settings.FromFile(key) ? ReportConfigError(path + ": " + key + " needs user")
                                  : ReportUsageError(std::string("--") + key + " needs --user");
  }
  if (!settings.LogsIn()) return EX_OK;
  // A token is the user's own: read with the user's rights.
  if (wants_token(settings)) {
    GiveUpGroupRights();
    return prepare_token(settings);
  }
  // Run setgid by another user, the system's login goes only to the system's
  // server, as its user, and never in the clear unless the file allows it.
  const bool systemLogin = settings.FromFile("password") || settings.FromFile("password-file");
  if (HoldsGroupRights() && systemLogin &&
      (!settings.FromFile("server") || !settings.FromFile("user") ||
       (settings.plaintextLogin.value_or(false) && !settings.FromFile("plaintext-login"))))
    return ReportUsageError("the login of " + path + " serves its own server and user only; with --server, --user " +
                            "or --plaintext-login give --password-file or set " + kSendPasswordVariable);
  if (!settings.FromFile("password-file")) GiveUpGroupRights();
  if (settings.passwordFile) {
    std::string error, password;
    bool exposed = false;
    if (WithGroupRights([&] { return ReadPasswordFile(*settings.passwordFile, password, error, &exposed); })) {
      settings.password = password;
      return EX_OK;
    }
    if (settings.FromFile("password-file")) return ReportConfigError("password-file in " + path + ": " + error);
    return exposed ? ReportConfigError("--password-file " + error) : ReportUsageError("--password-file " + error);
  }
  if (const char* password = std::getenv(kSendPasswordVariable)) {
    settings.password = password;
    return EX_OK;
  }
  if (settings.password) return EX_OK;  // the configuration file's own
  return ReportUsageError(std::string("--user needs a password: set ") + kSendPasswordVariable +
                          " or give --password-file (or a token: " + kSendTokenVariable +
                          ", --token-file, --token-command or oauth2-token-store)");
}

// Reads "address" or "Name <address>" into the address and the name.
bool read_sender(const std::string& label, const std::string& text, std::string& address, std::string& name,
                 std::string& error) {
  std::vector<Mailbox> mailboxes;
  if (!ParseAddressList(text, mailboxes, error)) {
    error = label + " " + error;
    return false;
  }
  if (mailboxes.size() != 1) {
    error = label + " '" + text + "': expected one address, or 'Name <address>'";
    return false;
  }
  address = mailboxes[0].address;
  name = mailboxes[0].name;
  return true;
}

}  // namespace

bool SendSettings::FromFile(const std::string& key) const {
  return std::find(keysFromFile.begin(), keysFromFile.end(), key) != keysFromFile.end();
}

bool SendSettings::HasSender() const {
  return from && from->find_first_not_of(" \t\r\n\v\f") != std::string::npos;
}

std::string SendSettings::ServerText(size_t index) const {
  const std::string& name = index < servers.size() ? servers[index].host : host;
  const unsigned number = index < servers.size() ? servers[index].port : port;
  const bool ipv6 = name.find(':') != std::string::npos;
  return (ipv6 ? "[" + name + "]" : name) + ":" + std::to_string(number);
}

int PrepareSendSettings(SendSettings& settings) {
  std::string error;
  settings.configFile = settings.configPath ? *settings.configPath : DefaultSendConfigPath();
  // The group's rights read the system's configuration only, never a file a user names.
  if (settings.configFile != kSystemSendConfig) GiveUpGroupRights();
  if (!WithGroupRights([&] { return apply_config(settings, settings.configFile, error); }))
    return ReportConfigError(error);
  if (settings.authorize) return prepare_oauth2(settings);
  if (settings.charset && !settings.FromFile("charset") && !charset_is_usable(*settings.charset))
    return ReportUsageError("--charset '" + *settings.charset + "': not a charset this system knows");
  if (settings.retryNow && !settings.flush) return ReportUsageError("--retry-now goes with --flush");
  if (settings.QueueCommand() && !settings.queue)
    return ReportUsageError("no queue: give --queue DIR, or queue in the configuration file");
  // The queue's commands need a server only to flush, and then only when something is due.
  if (!settings.server && !settings.dryRun && !settings.QueueCommand())
    return ReportUsageError("missing --server HOST[:PORT] (or server in the configuration file)");
  const int connection = prepare_connection(settings);
  GiveUpGroupRights();
  if (connection != EX_OK) return connection;
  if (const int status = prepare_addresses(settings); status != EX_OK) return status;
  // A sender "Name <address>": the address goes to the server, the name on the From line.
  if (settings.HasSender()) {
    std::string address;
    if (!read_sender(settings.sendmail ? "sender" : settings.mail ? "-r" : "--from", *settings.from, address,
                     settings.fromName, error))
      return ReportUsageError(error);
    settings.from = settings.addresses.Sender(address);
  } else if (!settings.sendmail) {
    // The sendmail entry may still find its sender in the message.
    if (const std::string sender = settings.addresses.Sender(""); !sender.empty()) settings.from = sender;
  }
  return EX_OK;
}

void ConfigureSession(CSMTP& smtp, const SendSettings& settings, size_t index) {
  const ServerAddress server =
      index < settings.servers.size() ? settings.servers[index] : ServerAddress{settings.host, settings.port, false};
  smtp.SetCharset(settings.charset.value_or("").c_str());
  smtp.SetParams(server.host.c_str(), settings.from.value_or("").c_str(), static_cast<int>(server.port),
                 settings.user.value_or("").c_str(), settings.password.value_or("").c_str());
  if (settings.timeout) smtp.SetTimeout(*settings.timeout);
  if (settings.LogsIn()) smtp.SetSecurity(CSMTP::SECURITY_STARTTLS_OFFERED);
  if (settings.StartTls()) smtp.SetSecurity(CSMTP::SECURITY_STARTTLS);
  if (settings.ImplicitTls()) smtp.SetSecurity(CSMTP::SECURITY_TLS);
  smtp.SetPlaintextLogin(settings.plaintextLogin.value_or(false));
  smtp.SetOAuth2Token(settings.token.c_str());
  const std::string auth = settings.auth.value_or("auto");
  smtp.SetAuthMechanism(auth == "login"         ? CSMTP::AUTH_LOGIN
                        : auth == "plain"       ? CSMTP::AUTH_PLAIN
                        : auth == "xoauth2"     ? CSMTP::AUTH_XOAUTH2
                        : auth == "oauthbearer" ? CSMTP::AUTH_OAUTHBEARER
                                                : CSMTP::AUTH_AUTO);
  if (settings.caFile) smtp.SetCAFile(settings.caFile->c_str());
  if (settings.tlsServerName) smtp.SetTLSServerName(settings.tlsServerName->c_str());
  if (settings.tlsFingerprint) smtp.SetTLSFingerprint(settings.tlsFingerprint->c_str());
  if (settings.tlsCertFile)
    smtp.SetClientCertificate(settings.tlsCertFile->c_str(), settings.tlsKeyFile.value_or("").c_str());
  // --no-short-dialogue wins over the configuration file's short-dialogue.
  smtp.SetShortDialogue(settings.shortDialogue.value_or(true));
}

int ReportConfigError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kSendProgram, message.c_str());
  return EX_CONFIG;
}

#include "tools/send/send_settings.h"

#include "mail/mime_message.h"
#include "smtp/smtp.h"
#include "tools/send/address_list.h"
#include "tools/send/group_rights.h"
#include "tools/send/send_charset.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
  if (settings.server && !ParseServer(*settings.server, settings.FromFile("server") ? "server in " + path : "--server",
                                      settings.host, settings.port, settings.hasPort, error))
    return false;
  if (settings.FromFile("server") && config.port && !settings.hasPort) {
    settings.port = *config.port;
    settings.hasPort = true;
    taken("port", true);
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
  for (const SendOption& option : SendOptionTable())
    if (option.key && option.fill) taken(option.key, option.fill(settings, config));
  // The configuration's sender stands in for a sender without a domain, even where -f names one.
  std::vector<Mailbox> sender;
  std::string ignored;
  if (config.from && ParseAddressList(*config.from, sender, ignored) && sender.size() == 1)
    settings.addresses.SetConfiguredSender(sender[0].address);
  return true;
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
  if (!settings.hasPort && settings.StartTls()) settings.port = 587;
  if (!settings.hasPort && settings.ImplicitTls()) settings.port = 465;

  if (settings.passwordFile && !settings.LogsIn()) {
    return settings.FromFile("password-file") ? ReportConfigError(path + ": password-file needs user")
                                         : ReportUsageError("--password-file needs --user");
  }
  if (!settings.LogsIn()) return EX_OK;
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
                          " or give --password-file");
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

std::string SendSettings::ServerText() const {
  const bool ipv6 = host.find(':') != std::string::npos;
  return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

int PrepareSendSettings(SendSettings& settings) {
  std::string error;
  settings.configFile = settings.configPath ? *settings.configPath : DefaultSendConfigPath();
  // The group's rights read the system's configuration only, never a file a user names.
  if (settings.configFile != kSystemSendConfig) GiveUpGroupRights();
  if (!WithGroupRights([&] { return apply_config(settings, settings.configFile, error); }))
    return ReportConfigError(error);
  if (settings.charset && !settings.FromFile("charset") && !charset_is_usable(*settings.charset))
    return ReportUsageError("--charset '" + *settings.charset + "': not a charset this system knows");
  if (!settings.server && !settings.dryRun)
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

void ConfigureSession(CSMTP& smtp, const SendSettings& settings) {
  smtp.SetCharset(settings.charset.value_or("").c_str());
  smtp.SetParams(settings.host.c_str(), settings.from.value_or("").c_str(), static_cast<int>(settings.port),
                 settings.user.value_or("").c_str(), settings.password.value_or("").c_str());
  if (settings.timeout) smtp.SetTimeout(*settings.timeout);
  if (settings.LogsIn()) smtp.SetSecurity(CSMTP::SECURITY_STARTTLS_OFFERED);
  if (settings.StartTls()) smtp.SetSecurity(CSMTP::SECURITY_STARTTLS);
  if (settings.ImplicitTls()) smtp.SetSecurity(CSMTP::SECURITY_TLS);
  smtp.SetPlaintextLogin(settings.plaintextLogin.value_or(false));
  if (settings.caFile) smtp.SetCAFile(settings.caFile->c_str());
  // --no-short-dialogue wins over the configuration file's short-dialogue.
  smtp.SetShortDialogue(settings.shortDialogue.value_or(true));
}

int ReportConfigError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kSendProgram, message.c_str());
  return EX_CONFIG;
}

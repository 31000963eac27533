// The configuration file of tarvenkel-send: one "key = value" setting a
// line, "#" at the start of a comment line, blank lines ignored. Each key is
// the default of one command-line option; the caller lets the options win.
#pragma once

#include <optional>
#include <string>

struct SendConfig {
  enum Security { kNone, kStartTls, kTls };

  std::optional<std::string> server;        // HOST[:PORT], as --server takes it
  std::optional<unsigned> port;             // 1 to 65535
  std::optional<Security> security;         // none, starttls or tls
  std::optional<std::string> caFile;        // ca-file
  std::optional<std::string> user;
  std::optional<std::string> passwordFile;  // password-file
  std::optional<std::string> from;
  std::optional<unsigned> timeout;          // seconds, 0 for no limit
  std::optional<std::string> charset;
  std::optional<bool> shortDialogue;        // short-dialogue = yes|no
};

// Reads a decimal number without sign or blanks into value, up to limit.
bool ParseDecimal(const std::string& text, unsigned long limit, unsigned long& value);

// Reads the settings of a configuration text into config; false with the
// line number and the reason in error at the first line that is not a known
// key with a valid value, or a key given twice.
bool ParseSendConfig(const std::string& text, SendConfig& config, std::string& error);

// Reads and parses the file at path; false with an error that starts with
// the path. A file that names a password file and that others than its owner
// may read (a group or other read bit) is refused, naming its mode.
bool ReadSendConfig(const std::string& path, SendConfig& config, std::string& error);

// The configuration file used when none is named: the first that exists of
// $XDG_CONFIG_HOME/tarvenkel/send.conf (~/.config when the variable is unset
// or empty) and /etc/tarvenkel/send.conf; empty when neither does.
std::string DefaultSendConfigPath();

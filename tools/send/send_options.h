// SPDX-License-Identifier: Apache-2.0
// The command line of tarvenkel-send. Every option is declared once, in one
// table: its name, an older spelling, whether it takes a value, its help text,
// the configuration file's key that gives its default, and how its value is
// stored. Parsing, --help and the configuration file's keys all come from it,
// so adding an option is one line of the table plus the code that uses it.
#pragma once

#include "tools/send/send_config.h"

#include <optional>
#include <string>
#include <vector>

// The name the program reports under.
extern const char kSendProgram[];
// The environment variable that holds the password of a login.
extern const char kSendPasswordVariable[];
// The environment variable that holds the OAuth2 access token of a login.
extern const char kSendTokenVariable[];

// What the command line says. The values that have a configuration key are
// those of SendConfig; the configuration file fills in what they leave open.
struct SendOptions : SendConfig {
  std::vector<std::string> to, cc, bcc;   // address lists, as given
  std::vector<std::string> attachments;   // --attach
  std::optional<std::string> subject;
  std::optional<std::string> body;
  std::optional<std::string> configPath;  // --config, -C
  bool dryRun = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
  bool authorize = false;                 // --authorize: the first OAuth2 sign-in
  // The outbox (queue): its commands.
  bool flush = false;                     // --flush, sendmail's -q
  bool retryNow = false;                  // --retry-now: every queued message, whatever its pause
  bool listQueue = false;                 // --list-queue, sendmail's -bp
  std::optional<std::string> drop;        // --drop ID
  // The sendmail entry.
  bool sendmail = false;                // called as sendmail, or with -t
  bool headerRecipients = false;        // -t
  bool ignoreDots = false;              // -i, -oi
  std::string fullName;                 // -F
  std::vector<std::string> arguments;   // the recipient arguments
  // The mail entry: called as mail or mailx.
  bool mail = false;
};

// One option of the command line, one key of the configuration file, or both.
struct SendOption {
  // Where an option may be given.
  enum Entry { kEveryEntry, kNotSendmail };
  // How a value is kept: once (a second is a mistake), repeated (each one
  // added), or a flag that takes no value and stores flagValue.
  enum Kind { kOnce, kRepeated, kFlag };

  const char* name;   // the long option without "--"; nullptr for a key only
  const char* alias;  // an older spelling of the option and of its key; or nullptr
  const char* key;    // the configuration file's key; nullptr for none
  Kind kind;
  const char* value;      // the value as the help names it ("HOST[:PORT]"); the flag's stored value
  const char* help;       // the help text, lines separated by '\n'
  Entry entry;
  // Checks a value of the command line before it is stored; false with the
  // error, which names the option. nullptr where store's own check is enough.
  bool (*check)(const std::string& value, std::string& error);
  // Stores a value; fromFile tells a key of the configuration file from an
  // option. False with the reason when the value is not valid.
  bool (*store)(SendOptions& options, const std::string& value, bool fromFile, std::string& error);
  // Takes the configuration file's value where the options leave it open;
  // whether it did. nullptr for an option without a key, and for a key
  // whose value the settings weigh against others (the server's port, the
  // password).
  bool (*fill)(SendOptions& options, const SendConfig& file);
};

// Every option and key, in the order --help lists them.
const std::vector<SendOption>& SendOptionTable();

// The row of an option (its name or alias) or of a key; nullptr when none.
const SendOption* FindSendOption(const std::string& name);
const SendOption* FindSendConfigKey(const std::string& key);

// Whether the program stands in for sendmail: called through a link of that
// name, or given -t as an option (not as the value of one).
bool IsSendmailCall(int argc, char** argv);

// Whether the program is called through a link named mail or mailx.
bool IsMailCall(const char* argv0);

// The usage line of the mail entry.
extern const char kMailUsage[];

// Parses the arguments into options; false with the error, a usage mistake.
bool ParseSendArguments(int argc, char** argv, SendOptions& options, std::string& error);

// The text of --help.
std::string SendUsage();

// Reports bad usage on standard error and gives the exit status for it.
int ReportUsageError(const std::string& message);
// The same for the mail entry, with its usage line.
int ReportMailUsageError(const std::string& message);

// One server of the server list.
struct ServerAddress {
  std::string host;
  unsigned port = 25;
  bool hasPort = false;  // given, not the default
};

// Splits a list of servers separated by commas, each as ParseServer takes
// it; false with the error when one of them is not valid or none is given.
bool ParseServerList(const std::string& text, const std::string& label, std::vector<ServerAddress>& servers,
                     std::string& error);

// Splits HOST[:PORT], [ADDRESS][:PORT] or a bare IPv6 address; label names
// where the text came from in an error. port and hasPort are left alone when
// the text gives no port.
bool ParseServer(const std::string& text, const std::string& label, std::string& host, unsigned& port, bool& hasPort,
                 std::string& error);

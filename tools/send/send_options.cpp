// SPDX-License-Identifier: Apache-2.0
#include "tools/send/send_options.h"

#include <tarvenkel/framework/net/tls_settings.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <span>

#include <sysexits.h>

const char kSendProgram[] = "tarvenkel-send";
const char kSendPasswordVariable[] = "TARVENKEL_PASSWORD";
const char kSendTokenVariable[] = "TARVENKEL_TOKEN";

namespace {

// The value a member of the options (or of its configuration) holds.
template <auto field>
auto& member(SendOptions& options) {
  return std::invoke(field, options);
}

// A text. The configuration file must give one; the command line may give
// an empty one, which the checks of the run then report.
template <auto field>
bool text(SendOptions& options, const std::string& value, bool fromFile, std::string& error) {
  if (fromFile && value.empty()) {
    error = "empty value";
    return false;
  }
  member<field>(options) = value;
  return true;
}

// The file's value of a key, where the options give none.
template <auto field>
bool taken(SendOptions& options, const SendConfig& file) {
  auto& value = member<field>(options);
  const auto& fromFile = std::invoke(field, file);
  if (value || !fromFile) return false;
  value = fromFile;
  return true;
}

template <auto field>
bool repeated(SendOptions& options, const std::string& value, bool, std::string&) {
  member<field>(options).push_back(value);
  return true;
}

template <auto field>
bool flag(SendOptions& options, const std::string&, bool, std::string&) {
  member<field>(options) = true;
  return true;
}

template <auto field, unsigned long low, unsigned long high>
bool number(SendOptions& options, const std::string& value, bool, std::string& error) {
  unsigned long parsed = 0;
  if (!ParseDecimal(value, high, parsed) || parsed < low) {
    error = "'" + value + "' is not a number from " + std::to_string(low) + " to " + std::to_string(high);
    return false;
  }
  member<field>(options) = static_cast<unsigned>(parsed);
  return true;
}

template <auto field>
bool yes_no(SendOptions& options, const std::string& value, bool, std::string& error) {
  if (value != "yes" && value != "no") {
    error = "'" + value + "' is not yes or no";
    return false;
  }
  member<field>(options) = value == "yes";
  return true;
}

// none, starttls or tls; on the command line --starttls and --tls exclude
// each other.
bool security(SendOptions& options, const std::string& value, bool fromFile, std::string& error) {
  const std::optional<SendConfig::Security> chosen = value == "none"       ? SendConfig::kNone
                                                     : value == "starttls" ? SendConfig::kStartTls
                                                     : value == "tls"      ? SendConfig::kTls
                                                                           : std::optional<SendConfig::Security>();
  if (!chosen) {
    error = "'" + value + "' is not none, starttls or tls";
    return false;
  }
  if (!fromFile && options.security && options.security != chosen) {
    error = "give either --starttls or --tls, not both";
    return false;
  }
  options.security = chosen;
  return true;
}

// A SHA-256 fingerprint in hex, colons and openssl's "sha256 Fingerprint="
// allowed.
bool fingerprint(SendOptions& options, const std::string& value, bool fromFile, std::string& error) {
  CString normalized;
  if (!NormalizeTlsFingerprint(value.c_str(), normalized)) {
    error = std::string(fromFile ? "" : "--tls-fingerprint ") + "'" + value +
            "': not a SHA-256 fingerprint (64 hex digits, colons allowed)";
    return false;
  }
  options.tlsFingerprint = value;
  return true;
}

bool auth_mechanism(SendOptions& options, const std::string& value, bool, std::string& error) {
  if (value != "auto" && value != "login" && value != "plain" && value != "xoauth2" && value != "oauthbearer") {
    error = "'" + value + "' is not auto, login, plain, xoauth2 or oauthbearer";
    return false;
  }
  options.auth = value;
  return true;
}

bool check_server(const std::string& value, std::string& error) {
  std::vector<ServerAddress> servers;
  return ParseServerList(value, "--server", servers, error);
}

bool check_seconds(const std::string& value, std::string& error) {
  unsigned long seconds = 0;
  if (ParseDecimal(value, UINT_MAX / 1000, seconds)) return true;
  error = "--timeout '" + value + "': expected a whole number of seconds (0 for no limit)";
  return false;
}

bool check_domain(const std::string& value, std::string& error) {
  if (!value.empty() && value.find_first_of(" \t\r\n@<>,;()\"") == std::string::npos && value.front() != '.' &&
      value.back() != '.')
    return true;
  error = "'" + value + "' is not a domain name (such as example.org)";
  return false;
}

// A domain: checked on the command line and in the configuration file alike.
template <auto field>
bool domain(SendOptions& options, const std::string& value, bool, std::string& error) {
  if (!check_domain(value, error)) return false;
  member<field>(options) = value;
  return true;
}

using O = SendOption;
using C = SendConfig;
using S = SendOptions;

const std::vector<SendOption> kTable = {
    // name, alias, key, kind, value, help, entry, check, store, fill
    {"server", nullptr, "server", O::kOnce, "HOST[:PORT]",
     "server name or address, port 25 unless given;\nan IPv6 address with a port as [ADDRESS]:PORT;\nseveral "
     "separated by commas are tried in order:\none that cannot be reached or is busy (4xx) gives\nway to the next",
     O::kEveryEntry,
     check_server, text<&C::server>, nullptr},
    {nullptr, nullptr, "port", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr, number<&C::port, 1, 65535>, nullptr},
    {nullptr, nullptr, "security", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr, security,
     taken<&C::security>},
    {"from", nullptr, "from", O::kOnce, "ADDRESS",
     "sender: an address, or \"Name <address>\" (the name\ngoes on the From line, the address to the server)",
     O::kEveryEntry, nullptr, text<&C::from>, taken<&C::from>},
    {"to", nullptr, nullptr, O::kRepeated, "LIST",
     "recipients: addresses or \"Name <address>\",\nseparated by ',' or ';' (a name with a comma in\ndouble quotes); "
     "may be repeated",
     O::kNotSendmail, nullptr, repeated<&S::to>, nullptr},
    {"cc", nullptr, nullptr, O::kRepeated, "LIST", "copy recipients, same syntax; may be repeated", O::kNotSendmail,
     nullptr, repeated<&S::cc>, nullptr},
    {"bcc", nullptr, nullptr, O::kRepeated, "LIST", "blind-copy recipients, same syntax; may be repeated",
     O::kNotSendmail, nullptr, repeated<&S::bcc>, nullptr},
    {"subject", nullptr, nullptr, O::kOnce, "TEXT", "subject (\"Hello!\" when empty)", O::kNotSendmail, nullptr,
     text<&S::subject>, nullptr},
    {"body", nullptr, nullptr, O::kOnce, "TEXT", "body (\"Hello!\" when empty); standard input if absent",
     O::kNotSendmail, nullptr, text<&S::body>, nullptr},
    {"attach", nullptr, nullptr, O::kRepeated, "FILE",
     "attach a file; may be repeated. A file that cannot\nbe read is left out with a warning (exit status 66)",
     O::kNotSendmail, nullptr, repeated<&S::attachments>, nullptr},
    {"charset", nullptr, "charset", O::kOnce, "NAME",
     "the charset the texts are in (default: the one of\nthe locale; where the locale names only ASCII,\nUTF-8, or "
     "GBK for texts that are not valid UTF-8);\n8-bit texts are labelled with it, never converted",
     O::kEveryEntry, nullptr, text<&C::charset>, taken<&C::charset>},
    {"user", nullptr, "user", O::kOnce, "NAME",
     "log in as NAME; the password comes from the\nenvironment variable TARVENKEL_PASSWORD or from\n--password-file, "
     "never from the command line",
     O::kEveryEntry, nullptr, text<&C::user>, taken<&C::user>},
    {nullptr, nullptr, "password", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr, text<&C::password>, nullptr},
    {"password-file", nullptr, "password-file", O::kOnce, "FILE",
     "read the password from the first line of FILE,\nkept from other users (chmod 600, or 640 for a group)",
     O::kEveryEntry, nullptr, text<&C::passwordFile>, nullptr},
    {"plaintext-login", nullptr, "plaintext-login", O::kFlag, "yes",
     "allow the password over an unencrypted connection;\nby default a login upgrades with STARTTLS where the\nserver "
     "offers it and is refused where it does not",
     O::kEveryEntry, nullptr, yes_no<&C::plaintextLogin>, taken<&C::plaintextLogin>},
    {"auth", nullptr, "auth", O::kOnce, "MECHANISM",
     "the login: auto (the best the server offers for\nthe credential: OAUTHBEARER or XOAUTH2 with a\ntoken, PLAIN or "
     "LOGIN with a password), login,\nplain, xoauth2 or oauthbearer",
     O::kEveryEntry, nullptr, auth_mechanism, taken<&C::auth>},
    {"token-file", nullptr, "token-file", O::kOnce, "FILE",
     "log in with the OAuth2 access token on the first\nline of FILE, kept from other users (chmod 600);\nalso from "
     "the environment variable TARVENKEL_TOKEN",
     O::kEveryEntry, nullptr, text<&C::tokenFile>, nullptr},
    {"token-command", nullptr, "token-command", O::kOnce, "CMD",
     "log in with the OAuth2 access token the shell\ncommand CMD prints (its first line)", O::kEveryEntry, nullptr,
     text<&C::tokenCommand>, nullptr},
    {"authorize", nullptr, nullptr, O::kFlag, "",
     "sign in once with the OAuth2 provider of the\nconfiguration file (oauth2-* keys) and write its\ntoken store",
     O::kNotSendmail, nullptr, flag<&S::authorize>, nullptr},
    {nullptr, nullptr, "oauth2-provider", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr,
     text<&C::oauth2Provider>, taken<&C::oauth2Provider>},
    {nullptr, nullptr, "oauth2-tenant", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr, text<&C::oauth2Tenant>,
     taken<&C::oauth2Tenant>},
    {nullptr, nullptr, "oauth2-client-id", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr,
     text<&C::oauth2ClientId>, taken<&C::oauth2ClientId>},
    {nullptr, nullptr, "oauth2-client-secret-file", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr,
     text<&C::oauth2ClientSecretFile>, taken<&C::oauth2ClientSecretFile>},
    {nullptr, nullptr, "oauth2-token-endpoint", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr,
     text<&C::oauth2TokenEndpoint>, taken<&C::oauth2TokenEndpoint>},
    {nullptr, nullptr, "oauth2-device-endpoint", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr,
     text<&C::oauth2DeviceEndpoint>, taken<&C::oauth2DeviceEndpoint>},
    {nullptr, nullptr, "oauth2-authorization-endpoint", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr,
     text<&C::oauth2AuthorizationEndpoint>, taken<&C::oauth2AuthorizationEndpoint>},
    {nullptr, nullptr, "oauth2-scope", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr, text<&C::oauth2Scope>,
     taken<&C::oauth2Scope>},
    {nullptr, nullptr, "oauth2-token-store", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr,
     text<&C::oauth2TokenStore>, taken<&C::oauth2TokenStore>},
    {"starttls", nullptr, nullptr, O::kFlag, "starttls",
     "upgrade to TLS with STARTTLS before anything else\n(port 587 unless given)", O::kEveryEntry, nullptr, security, nullptr},
    {"tls", nullptr, nullptr, O::kFlag, "tls", "speak TLS from the first byte (port 465 unless given)", O::kEveryEntry,
     nullptr, security, nullptr},
    {"cafile", "ca-file", "cafile", O::kOnce, "FILE",
     "trust the certificate authorities in FILE instead of\nthe system's store (also --ca-file)", O::kEveryEntry,
     nullptr, text<&C::caFile>, taken<&C::caFile>},
    {"tls-server-name", nullptr, "tls-server-name", O::kOnce, "NAME",
     "the name the server's certificate must be issued\nfor (and sent to the server) when --server gives\nits address",
     O::kEveryEntry, nullptr, text<&C::tlsServerName>, taken<&C::tlsServerName>},
    {"tls-fingerprint", nullptr, "tls-fingerprint", O::kOnce, "SHA256",
     "trust the server's certificate by its SHA-256\nfingerprint, as 'openssl x509 -noout -fingerprint\n-sha256' "
     "prints it, whoever signed it and whatever\nname it bears; any other certificate is refused\n(exit status 78)",
     O::kEveryEntry, nullptr, fingerprint, taken<&C::tlsFingerprint>},
    {"tls-cert-file", nullptr, "tls-cert-file", O::kOnce, "FILE",
     "a client certificate (PEM) for a server that asks\nfor one; its key in it or in --tls-key-file",
     O::kEveryEntry, nullptr, text<&C::tlsCertFile>, taken<&C::tlsCertFile>},
    {"tls-key-file", nullptr, "tls-key-file", O::kOnce, "FILE",
     "the client certificate's private key (unencrypted\nPEM), kept from other users (chmod 600 or 640)",
     O::kEveryEntry, nullptr, text<&C::tlsKeyFile>, taken<&C::tlsKeyFile>},
    {"timeout", nullptr, "timeout", O::kOnce, "SECONDS",
     "longest wait for the connection or one reply\n(default 300; 0 waits for ever)", O::kEveryEntry, check_seconds,
     number<&C::timeout, 0, UINT_MAX / 1000>, taken<&C::timeout>},
    {"no-short-dialogue", nullptr, nullptr, O::kFlag, "no",
     "speak the full dialogue: HELO without a login,\nAUTH LOGIN, every command waiting for its reply;\nby default "
     "the shortest the server allows is used\n(EHLO, AUTH PLAIN, PIPELINING, CHUNKING)",
     O::kEveryEntry, nullptr, yes_no<&C::shortDialogue>, nullptr},
    {nullptr, nullptr, "short-dialogue", O::kOnce, nullptr, nullptr, O::kEveryEntry, nullptr,
     yes_no<&C::shortDialogue>, taken<&C::shortDialogue>},
    {"aliases", nullptr, "aliases", O::kOnce, "FILE",
     "send recipients without a domain (root) to the\naddresses FILE gives them, in the syntax of\n/etc/aliases; off "
     "by default",
     O::kEveryEntry, nullptr, text<&C::aliases>, taken<&C::aliases>},
    {"default-domain", nullptr, "default-domain", O::kOnce, "DOMAIN",
     "the domain of a recipient without one that no alias\ncovers, and of a sender without one where no from\nis "
     "configured",
     O::kEveryEntry, nullptr, domain<&C::defaultDomain>, taken<&C::defaultDomain>},
    {"queue", nullptr, "queue", O::kOnce, "DIR",
     "keep mail that cannot be delivered now in the outbox\nDIR (made private to this user where missing) and\n"
     "retry it later: exit 0, printing \"queued\" and its id",
     O::kEveryEntry, nullptr, text<&C::queue>, taken<&C::queue>},
    {"flush", nullptr, nullptr, O::kFlag, "", "send what is due in the queue, then exit", O::kEveryEntry, nullptr,
     flag<&S::flush>, nullptr},
    {"retry-now", nullptr, nullptr, O::kFlag, "", "with --flush: every queued message, whatever its\npause",
     O::kEveryEntry, nullptr, flag<&S::retryNow>, nullptr},
    {"list-queue", nullptr, nullptr, O::kFlag, "",
     "list the queued messages: id, age, tries, sender,\nrecipients and the last reply", O::kEveryEntry, nullptr,
     flag<&S::listQueue>, nullptr},
    {"drop", nullptr, nullptr, O::kOnce, "ID", "remove a queued message (or one in failed/)", O::kEveryEntry, nullptr,
     text<&S::drop>, nullptr},
    {"log-file", nullptr, "log-file", O::kOnce, "FILE",
     "write the delivery log of the queue to FILE instead\nof to syslog (facility mail)",
     O::kEveryEntry, nullptr, text<&C::logFile>, taken<&C::logFile>},
    {"dry-run", nullptr, nullptr, O::kFlag, "", "print the formatted message instead of sending it", O::kNotSendmail,
     nullptr, flag<&S::dryRun>, nullptr},
    {"verbose", nullptr, nullptr, O::kFlag, "",
     "print the SMTP dialogue on standard error, with the\npassword and the token masked", O::kEveryEntry, nullptr,
     flag<&S::verbose>, nullptr},
    {"config", nullptr, nullptr, O::kOnce, "FILE",
     "take the defaults of the options above from FILE\ninstead of $XDG_CONFIG_HOME/tarvenkel/send.conf\n(~/.config "
     "when unset) or /etc/tarvenkel/send.conf;\nthe options given here win",
     O::kEveryEntry, nullptr, text<&S::configPath>, nullptr},
    {"help", nullptr, nullptr, O::kFlag, "", "print this text", O::kEveryEntry, nullptr, flag<&S::help>, nullptr},
    {"version", nullptr, nullptr, O::kFlag, "", "print the version of the mail module", O::kEveryEntry, nullptr,
     flag<&S::version>, nullptr},
};

// One letter option of the sendmail entry. Its value, where it takes one,
// follows the letter or comes as the next argument ("-fADDRESS", "-f ADDRESS").
struct LetterOption {
  const char* letters;  // the letter, and those that mean the same
  bool takesValue;
  const char* label;    // how the help shows it
  const char* help;     // nullptr: accepted and ignored
  const char* same;     // the long option it stands for; or nullptr
  // Stores the value where same is nullptr; false with the error. nullptr:
  // ignored.
  bool (*store)(SendOptions& options, const std::string& value, std::string& error);
};

const LetterOption kLetters[] = {
    {"t", false, "-t", "send to the To, Cc and Bcc recipients too", nullptr,
     [](S& o, const std::string&, std::string&) {
       o.headerRecipients = true;
       return true;
     }},
    {"i", false, "-i, -oi", "a line of a single '.' does not end the message", nullptr,
     [](S& o, const std::string&, std::string&) {
       o.ignoreDots = true;
       return true;
     }},
    {"fr", true, "-f, -r ADDRESS", "envelope sender (default: --from, then the From line)", "from", nullptr},
    {"F", true, "-F NAME", "the sender's name, for a From line the message lacks", nullptr,
     [](S& o, const std::string& v, std::string&) {
       o.fullName = v;
       return true;
     }},
    {"v", false, "-v", "as --verbose", "verbose", nullptr},
    {"C", true, "-C FILE", "as --config", "config", nullptr},
    {"b", true, "-bm, -bp", "send a message; -bp: as --list-queue", nullptr,
     [](S& o, const std::string& v, std::string& e) {
       if (v == "m") return true;
       if (v == "p") {
         o.listQueue = true;
         return true;
       }
       e = "'-b" + v + "': the modes are sending a message (-bm) and listing the queue (-bp)";
       return false;
     }},
    {"q", false, "-q", "as --flush", "flush", nullptr},
    {"B", true, "-B TYPE", nullptr, nullptr, nullptr},
    {"N", true, "-N DSN", nullptr, nullptr, nullptr},
    {"R", true, "-R RETURN", nullptr, nullptr, nullptr},
    {"V", true, "-V ENVID", nullptr, nullptr, nullptr},
    {"L", true, "-L TAG", nullptr, nullptr, nullptr},
    {"h", true, "-h HOPS", nullptr, nullptr, nullptr},
    {"O", true, "-O OPTION", nullptr, nullptr, nullptr},
    {"X", true, "-X FILE", nullptr, nullptr, nullptr},
    {"A", true, "-A ...", nullptr, nullptr, nullptr},
    {"d", true, "-d ...", nullptr, nullptr, nullptr},
    {"e", true, "-e ...", nullptr, nullptr, nullptr},
    {"p", true, "-p ...", nullptr, nullptr, nullptr},
    {"o", true, "-o...", nullptr, nullptr,  // of sendmail's -o options only -oi means anything here
     [](S& o, const std::string& v, std::string&) {
       if (v == "i") o.ignoreDots = true;
       return true;
     }},
    {"m", false, "-m", nullptr, nullptr, nullptr},
    {"n", false, "-n", nullptr, nullptr, nullptr},
    {"U", false, "-U", nullptr, nullptr, nullptr},
    {"G", false, "-G", nullptr, nullptr, nullptr},
    {"s", false, "-s", nullptr, nullptr, nullptr},
    {"c", false, "-c", nullptr, nullptr, nullptr},
};

// The options of the mail entry, each standing for a long option.
const LetterOption kMailLetters[] = {
    {"s", true, "-s SUBJECT", "the subject", "subject", nullptr},
    {"c", true, "-c LIST", "copy recipients", "cc", nullptr},
    {"b", true, "-b LIST", "blind-copy recipients", "bcc", nullptr},
    {"r", true, "-r ADDRESS", "the sender (as --from)", "from", nullptr},
    {"a", true, "-a FILE", "attach a file; may be repeated", "attach", nullptr},
};

const LetterOption* find_letter(std::span<const LetterOption> letters, char letter) {
  for (const LetterOption& option : letters)
    if (std::strchr(option.letters, letter)) return &option;
  return nullptr;
}

// The options of the command line given so far: one given once may not come
// again, a flag given again changes nothing.
using Given = std::vector<const SendOption*>;

// Checks and stores the value of an option of the command line.
bool apply(const SendOption& option, const std::string& value, SendOptions& options, Given& given,
           std::string& error) {
  if (option.kind != SendOption::kRepeated) {
    for (const SendOption* earlier : given) {
      if (earlier != &option) continue;
      if (option.kind == SendOption::kFlag) return true;
      error = std::string("option '--") + option.name + "' given twice";
      return false;
    }
    given.push_back(&option);
  }
  if (option.check && !option.check(value, error)) return false;
  return option.store(options, value, false, error);
}

// Parses one cluster of one-letter options at argv[i], as sendmail's own
// getopt does ("-ti", "-fADDRESS", "-f ADDRESS", "-oi").
bool parse_letters(int argc, char** argv, int& i, SendOptions& options, Given& given, std::string& error) {
  const std::string arg = argv[i];
  const std::span<const LetterOption> letters =
      options.mail ? std::span<const LetterOption>(kMailLetters) : std::span<const LetterOption>(kLetters);
  for (size_t k = 1; k < arg.size(); ++k) {
    const char letter = arg[k];
    const LetterOption* option = find_letter(letters, letter);
    if (!option) {
      error = std::string("unknown option '-") + letter + "'";
      return false;
    }
    std::string value;
    if (option->takesValue) {
      value = arg.substr(k + 1);
      if (value.empty()) {
        if (i + 1 >= argc) {
          error = std::string("option '-") + letter + "' needs a value";
          return false;
        }
        value = argv[++i];
      }
    }
    if (option->same) {
      const SendOption& same = *FindSendOption(option->same);
      if (!apply(same, same.kind == SendOption::kFlag ? same.value : value, options, given, error)) return false;
    } else if (option->store && !option->store(options, value, error)) {
      return false;
    }
    if (option->takesValue) return true;
  }
  return true;
}

// Every option's name and alias, for the nearest-name suggestion.
std::vector<std::string> option_names() {
  std::vector<std::string> names;
  for (const SendOption& option : kTable) {
    if (option.name) names.push_back(option.name);
    if (option.name && option.alias) names.push_back(option.alias);
  }
  return names;
}

// Parses one long option at argv[i], "--name", "--name=value" or "--name value".
bool parse_long(int argc, char** argv, int& i, SendOptions& options, Given& given, std::string& error) {
  std::string name = std::string(argv[i]).substr(2);
  const char* inlineValue = nullptr;
  if (const size_t equals = name.find('='); equals != std::string::npos) {
    inlineValue = argv[i] + 2 + equals + 1;
    name = name.substr(0, equals);
  }
  if (name == "password" || name == "pass" || name == "passwd") {
    error = "refusing '--" + name +
            "': a password on the command line can be read by every user of this machine (ps, /proc); put it in "
            "the environment variable " +
            kSendPasswordVariable + " or in a file named by --password-file";
    return false;
  }
  const SendOption* option = FindSendOption(name);
  if (!option) {
    error = "unknown option '--" + name + "'";
    const std::string nearest = NearestName(name, option_names());
    if (!nearest.empty()) error += " (did you mean '--" + nearest + "'?)";
    return false;
  }
  name = option->name;
  if (options.sendmail && option->entry == SendOption::kNotSendmail) {
    error = "'--" + name + "' does not go with the sendmail entry";
    if (option->kind != SendOption::kFlag) error += ": the message comes whole on standard input";
    return false;
  }
  if (options.mail && option->entry == SendOption::kNotSendmail) {
    error = "'--" + name + "' does not go with the mail entry";
    return false;
  }
  std::string value;
  if (option->kind == SendOption::kFlag) {
    if (inlineValue) {
      error = "option '--" + name + "' takes no value";
      return false;
    }
    value = option->value;
  } else if (inlineValue) {
    value = inlineValue;
  } else if (i + 1 < argc) {
    value = argv[++i];
  } else {
    error = "option '--" + name + "' needs a value";
    return false;
  }
  return apply(*option, value, options, given, error);
}

// Appends line and the items to out in lines of at most width bytes,
// breaking between the items only; each item but the last ends with a comma,
// the last with last.
void wrap_items(std::string& out, std::string line, const std::vector<std::string>& items, const char* last,
                size_t width) {
  for (size_t k = 0; k < items.size(); ++k) {
    const std::string item = items[k] + (k + 1 < items.size() ? "," : last);
    if (line.size() + 1 + item.size() > width) {
      out += line + "\n";
      line = item;
    } else {
      line += (line.empty() ? "" : " ") + item;
    }
  }
  out += line + "\n";
}

// Appends an option's line: its label, then the help text in a column.
void option_lines(std::string& out, const std::string& label, const std::string& help) {
  constexpr size_t kColumn = 24;
  std::string line = "  " + label;
  line += std::string(line.size() + 2 <= kColumn ? kColumn - line.size() : 2, ' ');
  for (size_t start = 0; start <= help.size();) {
    size_t end = help.find('\n', start);
    if (end == std::string::npos) end = help.size();
    out += line + help.substr(start, end - start) + "\n";
    line = std::string(kColumn, ' ');
    start = end + 1;
  }
}

const char kExitStatus[] =
    "Exit status, every way (a refused recipient of an accepted message is a\n"
    "warning on standard error):\n"
    "   0  sent; with a queue, also queued (\"queued ID\" on standard output)\n"
    "  64  bad usage (EX_USAGE)\n"
    "  65  the server refused the message or its sender; a NUL byte in the\n"
    "      message of the sendmail entry (EX_DATAERR)\n"
    "  66  sent, but without an attachment that could not be read (EX_NOINPUT)\n"
    "  67  the server refused every recipient (EX_NOUSER)\n"
    "  69  the server refused the session: its greeting or HELO (EX_UNAVAILABLE)\n"
    "  74  standard input could not be read (EX_IOERR)\n"
    "  75  try again later: a 4xx reply, no connection, a time-out, a lost\n"
    "      connection or a TLS failure (but see 78), whatever an earlier reply\n"
    "      said; the message's temporary file could not be written; the OAuth2\n"
    "      token endpoint or the token command failed (EX_TEMPFAIL)\n"
    "  77  the server refused the login; the OAuth2 provider refused the\n"
    "      refresh token or the sign-in (EX_NOPERM)\n"
    "  78  a bad configuration: the configuration file or a file it names, an\n"
    "      unknown charset, a secret others may read, a login that would go\n"
    "      unencrypted, a bad OAuth2 configuration; a server certificate other\n"
    "      than the one of --tls-fingerprint, a client certificate that cannot\n"
    "      be used or that the server refused (EX_CONFIG)\n";

}  // namespace

const std::vector<SendOption>& SendOptionTable() { return kTable; }

const SendOption* FindSendOption(const std::string& name) {
  for (const SendOption& option : kTable)
    if (option.name && (name == option.name || (option.alias && name == option.alias))) return &option;
  return nullptr;
}

const SendOption* FindSendConfigKey(const std::string& key) {
  for (const SendOption& option : kTable)
    if (option.key && (key == option.key || (option.alias && key == option.alias))) return &option;
  return nullptr;
}

bool IsSendmailCall(int argc, char** argv) {
  const char* slash = std::strrchr(argv[0], '/');
  if (std::strcmp(slash ? slash + 1 : argv[0], "sendmail") == 0) return true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg == "-t") return true;
    if (arg.compare(0, 2, "--") != 0 || arg.find('=') != std::string::npos) continue;
    const SendOption* option = FindSendOption(arg.substr(2));
    if (option && option->kind != SendOption::kFlag) ++i;
  }
  return false;
}

bool IsMailCall(const char* argv0) {
  const char* slash = std::strrchr(argv0, '/');
  const char* name = slash ? slash + 1 : argv0;
  return std::strcmp(name, "mail") == 0 || std::strcmp(name, "mailx") == 0;
}

const char kMailUsage[] = "mail [-s SUBJECT] [-c LIST] [-b LIST] [-r ADDRESS] [-a FILE]... [options] ADDRESS...";

bool ParseSendArguments(int argc, char** argv, SendOptions& options, std::string& error) {
  Given given;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (options.sendmail || options.mail) {
      if (optionsEnded || arg.empty() || arg[0] != '-') {
        options.arguments.push_back(arg);
        continue;
      }
      if (arg == "--") {
        optionsEnded = true;
        continue;
      }
      if (arg.compare(0, 2, "--") != 0) {
        if (!parse_letters(argc, argv, i, options, given, error)) return false;
        continue;
      }
    }
    if (arg == "-h") {
      options.help = true;
      continue;
    }
    if (arg.compare(0, 2, "--") != 0 || arg.size() == 2) {
      error = "unexpected argument '" + arg + "' (the body goes in --body or on standard input)";
      return false;
    }
    if (!parse_long(argc, argv, i, options, given, error)) return false;
  }
  return true;
}

std::string SendUsage() {
  std::string out =
      "usage: tarvenkel-send --server HOST[:PORT] --from ADDRESS --to LIST [options]\n"
      "\n"
      "Sends one mail through an SMTP server. The body is --body TEXT, or else\n"
      "standard input.\n"
      "\n";
  for (const SendOption& option : kTable) {
    if (!option.name) continue;
    const bool valued = option.kind != SendOption::kFlag;
    option_lines(out, std::string("--") + option.name + (valued ? std::string(" ") + option.value : ""), option.help);
  }
  out +=
      "\n"
      "usage: sendmail [-t] [-i] [-f ADDRESS] [-F NAME] [options] [ADDRESS...]\n"
      "\n"
      "Called through a link named sendmail, or with -t, it reads a whole message\n"
      "from standard input and sends it as it is to the ADDRESSes, with its Bcc\n"
      "lines removed. The connection options above apply.\n";
  std::vector<std::string> ignored;
  for (const LetterOption& option : kLetters) {
    if (option.help)
      option_lines(out, option.label, option.help);
    else
      ignored.push_back(option.label);
  }
  wrap_items(out, "These are accepted and ignored:", ignored, ".", 78);
  out += std::string("\nusage: ") + kMailUsage +
         "\n"
         "\n"
         "Called through a link named mail or mailx, it sends standard input as the\n"
         "body to the ADDRESSes. The connection options above apply; any other\n"
         "option is refused.\n";
  for (const LetterOption& option : kMailLetters) option_lines(out, option.label, option.help);
  return out + "\n" + kExitStatus;
}

int ReportUsageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kSendProgram, message.c_str());
  std::fprintf(stderr, "Try '%s --help' for more information.\n", kSendProgram);
  return EX_USAGE;
}

int ReportMailUsageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kSendProgram, message.c_str());
  std::fprintf(stderr, "usage: %s\n", kMailUsage);
  return EX_USAGE;
}

bool ParseServerList(const std::string& text, const std::string& label, std::vector<ServerAddress>& servers,
                     std::string& error) {
  servers.clear();
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const size_t first = text.find_first_not_of(" \t", start);
    const size_t last = text.find_last_not_of(" \t", end == 0 ? 0 : end - 1);
    const std::string item = first < end && last != std::string::npos && last >= first ? text.substr(first, last + 1 - first) : "";
    ServerAddress server;
    if (!ParseServer(item, label, server.host, server.port, server.hasPort, error)) return false;
    servers.push_back(server);
    start = end + 1;
  }
  return true;
}

bool ParseServer(const std::string& text, const std::string& label, std::string& host, unsigned& port, bool& hasPort,
                 std::string& error) {
  std::string name = text, portText;
  if (!text.empty() && text[0] == '[') {
    const size_t close = text.find(']');
    if (close == std::string::npos) {
      error = label + " '" + text + "': missing ']' after the IPv6 address";
      return false;
    }
    name = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') {
        error = label + " '" + text + "': expected ':PORT' after ']'";
        return false;
      }
      portText = rest.substr(1);
      if (portText.empty()) {
        error = label + " '" + text + "': empty port";
        return false;
      }
    }
  } else {
    const size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
      name = text.substr(0, colon);
      portText = text.substr(colon + 1);
      if (portText.empty()) {
        error = label + " '" + text + "': empty port";
        return false;
      }
    }
  }
  if (name.empty()) {
    error = label + " '" + text + "': no host name";
    return false;
  }
  host = name;
  if (!portText.empty()) {
    unsigned long value = 0;
    if (!ParseDecimal(portText, 65535, value) || value == 0) {
      error = label + " '" + text + "': bad port '" + portText + "' (expected a number from 1 to 65535)";
      return false;
    }
    port = static_cast<unsigned>(value);
    hasPort = true;
  }
  return true;
}

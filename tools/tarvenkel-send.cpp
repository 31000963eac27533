// tarvenkel-send: sends one notification mail, for scripts and cron jobs of
// monitoring systems. Called through a link named sendmail, or with -t, it
// stands in for sendmail: it sends a whole message read from standard input.
// Both ways exit with one table of <sysexits.h> codes, so that a caller can
// tell "try again later" (75) from "give up" (the other non-zero codes).
#include "framework/core/code_page.h"
#include "framework/core/string.h"
#include "framework/core/string_array.h"
#include "framework/io/file.h"
#include "framework/net/socket_trace.h"
#include "mail/base64.h"
#include "mail/mime_message.h"
#include "module/version.h"
#include "smtp/smtp.h"
#include "tools/send/address_list.h"
#include "tools/send/send_charset.h"
#include "tools/send/send_config.h"
#include "tools/send/sendmail_input.h"
#include "tools/send/spool_file.h"
#include "tools/send/spooled_message.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <clocale>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <langinfo.h>
#include <strings.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

const char kProgram[] = "tarvenkel-send";
const char kPasswordVariable[] = "TARVENKEL_PASSWORD";

const char kUsage[] =
    "usage: tarvenkel-send --server HOST[:PORT] --from ADDRESS --to LIST [options]\n"
    "\n"
    "Sends one mail through an SMTP server. The body is --body TEXT, or else\n"
    "standard input.\n"
    "\n"
    "  --server HOST[:PORT]  server name or address, port 25 unless given;\n"
    "                        an IPv6 address with a port as [ADDRESS]:PORT\n"
    "  --from ADDRESS        sender: an address, or \"Name <address>\" (the name\n"
    "                        goes on the From line, the address to the server)\n"
    "  --to LIST             recipients: addresses or \"Name <address>\",\n"
    "                        separated by ',' or ';' (a name with a comma in\n"
    "                        double quotes); may be repeated\n"
    "  --cc LIST             copy recipients, same syntax; may be repeated\n"
    "  --bcc LIST            blind-copy recipients, same syntax; may be repeated\n"
    "  --subject TEXT        subject (\"Hello!\" when empty)\n"
    "  --body TEXT           body (\"Hello!\" when empty); standard input if absent\n"
    "  --attach FILE         attach a file; may be repeated. A file that cannot\n"
    "                        be read is left out with a warning (exit status 66)\n"
    "  --charset NAME        the charset the texts are in (default: the one of\n"
    "                        the locale; where the locale names only ASCII,\n"
    "                        UTF-8, or GBK for texts that are not valid UTF-8);\n"
    "                        8-bit texts are labelled with it, never converted\n"
    "  --user NAME           log in as NAME; the password comes from the\n"
    "                        environment variable TARVENKEL_PASSWORD or from\n"
    "                        --password-file, never from the command line\n"
    "  --password-file FILE  read the password from the first line of FILE,\n"
    "                        kept from other users (chmod 600, or 640 for a group)\n"
    "  --plaintext-login     allow the password over an unencrypted connection;\n"
    "                        by default a login upgrades with STARTTLS where the\n"
    "                        server offers it and is refused where it does not\n"
    "  --starttls            upgrade to TLS with STARTTLS before anything else\n"
    "                        (port 587 unless given)\n"
    "  --tls                 speak TLS from the first byte (port 465 unless given)\n"
    "  --cafile FILE         trust the certificate authorities in FILE instead of\n"
    "                        the system's store (also --ca-file)\n"
    "  --timeout SECONDS     longest wait for the connection or one reply\n"
    "                        (default 300; 0 waits for ever)\n"
    "  --no-short-dialogue   speak the full dialogue: HELO without a login,\n"
    "                        AUTH LOGIN, every command waiting for its reply;\n"
    "                        by default the shortest the server allows is used\n"
    "                        (EHLO, AUTH PLAIN, PIPELINING, CHUNKING)\n"
    "  --dry-run             print the formatted message instead of sending it\n"
    "  --verbose             print the SMTP dialogue on standard error, with the\n"
    "                        password masked\n"
    "  --config FILE         take the defaults of the options above from FILE\n"
    "                        instead of $XDG_CONFIG_HOME/tarvenkel/send.conf\n"
    "                        (~/.config when unset) or /etc/tarvenkel/send.conf;\n"
    "                        the options given here win\n"
    "  --help                print this text\n"
    "  --version             print the version of the mail module\n"
    "\n"
    "usage: sendmail [-t] [-i] [-f ADDRESS] [-F NAME] [options] [ADDRESS...]\n"
    "\n"
    "Called through a link named sendmail, or with -t, it reads a whole message\n"
    "from standard input and sends it as it is to the ADDRESSes, with its Bcc\n"
    "lines removed. The connection options above apply.\n"
    "  -t                    send to the To, Cc and Bcc recipients too\n"
    "  -i, -oi               a line of a single '.' does not end the message\n"
    "  -f, -r ADDRESS        envelope sender (default: --from, then the From line)\n"
    "  -F NAME               the sender's name, for a From line the message lacks\n"
    "  -v                    as --verbose\n"
    "  -C FILE               as --config\n"
    "  -bm                   send a message (the only mode there is)\n"
    "These are accepted and ignored: -B TYPE, -N DSN, -R RETURN, -V ENVID, -L TAG,\n"
    "-h HOPS, -O OPTION, -X FILE, -A ..., -d ..., -e ..., -p ..., -o..., -m, -n,\n"
    "-U, -G, -s, -c.\n"
    "\n"
    "Exit status, both ways (a refused recipient of an accepted message is a\n"
    "warning on standard error):\n"
    "   0  sent\n"
    "  64  bad usage (EX_USAGE)\n"
    "  65  the server refused the message or its sender; a NUL byte in the\n"
    "      message of the sendmail entry (EX_DATAERR)\n"
    "  66  sent, but without an attachment that could not be read (EX_NOINPUT)\n"
    "  67  the server refused every recipient (EX_NOUSER)\n"
    "  69  the server refused the session: its greeting or HELO (EX_UNAVAILABLE)\n"
    "  74  standard input could not be read (EX_IOERR)\n"
    "  75  try again later: a 4xx reply, no connection, a time-out, a lost\n"
    "      connection or a TLS failure, whatever an earlier reply said; the\n"
    "      message's temporary file could not be written (EX_TEMPFAIL)\n"
    "  77  the server refused the login (EX_NOPERM)\n"
    "  78  a bad configuration: the configuration file or a file it names, an\n"
    "      unknown charset, a secret others may read, a login that would go\n"
    "      unencrypted (EX_CONFIG)\n";

struct Options {
  std::string host;
  unsigned port = 25;
  bool hasPort = false;
  bool hasServer = false;
  bool startTls = false;
  bool implicitTls = false;
  std::string caFile;
  bool hasCaFile = false;
  bool caFileFromConfig = false;
  std::string from;
  bool hasFrom = false;
  std::string fromName;  // the name of --from "Name <address>"
  std::vector<std::string> to, cc, bcc;
  std::string subject;
  bool hasSubject = false;
  std::string body;
  bool hasBody = false;
  std::vector<std::string> attachments;
  std::string charset;
  bool hasCharset = false;
  bool charsetFromConfig = false;
  std::string user;
  bool hasUser = false;
  std::string passwordFile;
  bool hasPasswordFile = false;
  bool passwordFileFromConfig = false;
  std::string password;
  bool plaintextLogin = false;  // --plaintext-login
  unsigned timeout = 0;
  bool hasTimeout = false;
  bool dryRun = false;
  bool noShortDialogue = false;
  bool verbose = false;
  bool help = false;
  bool version = false;
  std::string configPath;
  bool hasConfig = false;
  // The configuration file's short-dialogue (yes unless it says no).
  bool shortDialogue = true;
  // The sendmail entry.
  bool sendmail = false;
  bool headerRecipients = false;  // -t
  bool ignoreDots = false;        // -i, -oi
  std::string fullName;           // -F
  std::vector<std::string> arguments;  // the recipient arguments
};

// The exit status of an attachment left out of a message that was sent:
// the alarm went, so it must not be sent again, but something is missing.
constexpr int kAttachmentMissing = EX_NOINPUT;

// Reports bad usage and gives the exit status for it.
int usage_error(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
  return EX_USAGE;
}

// Reports a bad configuration file and gives the exit status for it.
int config_error(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return EX_CONFIG;
}

// Splits HOST[:PORT], [ADDRESS][:PORT] or a bare IPv6 address; label names
// where the text came from in an error.
bool parse_server(const std::string& text, Options& options, std::string& error,
                  const std::string& label = "--server") {
  std::string host = text, port;
  if (!text.empty() && text[0] == '[') {
    size_t close = text.find(']');
    if (close == std::string::npos) {
      error = label + " '" + text + "': missing ']' after the IPv6 address";
      return false;
    }
    host = text.substr(1, close - 1);
    std::string rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') {
        error = label + " '" + text + "': expected ':PORT' after ']'";
        return false;
      }
      port = rest.substr(1);
      if (port.empty()) {
        error = label + " '" + text + "': empty port";
        return false;
      }
    }
  } else {
    size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
      if (port.empty()) {
        error = label + " '" + text + "': empty port";
        return false;
      }
    }
  }
  if (host.empty()) {
    error = label + " '" + text + "': no host name";
    return false;
  }
  options.host = host;
  if (!port.empty()) {
    unsigned long value = 0;
    if (!ParseDecimal(port, 65535, value) || value == 0) {
      error = label + " '" + text + "': bad port '" + port + "' (expected a number from 1 to 65535)";
      return false;
    }
    options.port = static_cast<unsigned>(value);
    options.hasPort = true;
  }
  return true;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Reads the address lists of one option into mailboxes.
bool read_recipients(const char* option, const std::vector<std::string>& lists, std::vector<Mailbox>& mailboxes,
                     std::string& error) {
  for (const std::string& list : lists) {
    if (!ParseAddressList(list, mailboxes, error)) {
      error = std::string(option) + " " + error;
      return false;
    }
  }
  return true;
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

// Takes the value of an option from "--name=value" or the next argument.
bool take_value(int argc, char** argv, int& i, const std::string& name, const char* inline_value,
                std::string& value, std::string& error) {
  if (inline_value) {
    value = inline_value;
    return true;
  }
  if (i + 1 >= argc) {
    error = "option '--" + name + "' needs a value";
    return false;
  }
  value = argv[++i];
  return true;
}

// Stores a value that may be given once only.
bool set_once(const std::string& name, bool& seen, std::string& target, const std::string& value, std::string& error) {
  if (seen) {
    error = "option '--" + name + "' given twice";
    return false;
  }
  seen = true;
  target = value;
  return true;
}

// The options that take a value.
const char* const kValued[] = {"server", "from",          "to",      "cc",     "bcc",     "subject", "body",    "attach",
                               "user",   "password-file", "timeout", "cafile", "ca-file", "charset", "config"};

// The options that take none.
const char* const kFlags[] = {"dry-run",  "verbose", "help", "version", "starttls", "tls", "no-short-dialogue",
                              "plaintext-login"};

bool takes_value(const std::string& name) {
  for (const char* valued : kValued)
    if (name == valued) return true;
  return false;
}

// Whether the program stands in for sendmail: called through a link of that
// name, or given -t as an option (not as the value of one).
bool is_sendmail_call(int argc, char** argv) {
  const char* slash = std::strrchr(argv[0], '/');
  if (std::strcmp(slash ? slash + 1 : argv[0], "sendmail") == 0) return true;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg == "-t") return true;
    if (arg.compare(0, 2, "--") == 0 && arg.find('=') == std::string::npos && takes_value(arg.substr(2))) ++i;
  }
  return false;
}

// Parses one cluster of sendmail's one-letter options at argv[i], as
// sendmail's own getopt does ("-ti", "-fADDRESS", "-f ADDRESS", "-oi").
bool parse_sendmail_option(int argc, char** argv, int& i, Options& options, std::string& error) {
  const std::string arg = argv[i];
  for (size_t k = 1; k < arg.size(); ++k) {
    const char letter = arg[k];
    if (std::strchr("tivmnUGsc", letter)) {
      if (letter == 't') options.headerRecipients = true;
      if (letter == 'i') options.ignoreDots = true;
      if (letter == 'v') options.verbose = true;
      continue;
    }
    if (!std::strchr("frFCobBNRVLhOXAdep", letter)) {
      error = std::string("unknown option '-") + letter + "'";
      return false;
    }
    std::string value = arg.substr(k + 1);
    if (value.empty()) {
      if (i + 1 >= argc) {
        error = std::string("option '-") + letter + "' needs a value";
        return false;
      }
      value = argv[++i];
    }
    switch (letter) {
      case 'f':
      case 'r':
        return set_once("from", options.hasFrom, options.from, value, error);
      case 'F':
        options.fullName = value;
        return true;
      case 'C':
        return set_once("config", options.hasConfig, options.configPath, value, error);
      case 'o':
        if (value == "i") options.ignoreDots = true;
        return true;
      case 'b':
        if (value == "m") return true;
        error = "'-b" + value + "': the only mode is sending a message (-bm)";
        return false;
      default:
        return true;  // an option of sendmail's that does not apply here
    }
  }
  return true;
}

bool parse_arguments(int argc, char** argv, Options& options, std::string& error) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (options.sendmail) {
      if (optionsEnded || arg.empty() || arg[0] != '-') {
        options.arguments.push_back(arg);
        continue;
      }
      if (arg == "--") {
        optionsEnded = true;
        continue;
      }
      if (arg.compare(0, 2, "--") != 0) {
        if (!parse_sendmail_option(argc, argv, i, options, error)) return false;
        continue;
      }
    }
    if (arg == "-h") arg = "--help";
    if (arg.compare(0, 2, "--") != 0 || arg.size() == 2) {
      error = "unexpected argument '" + arg + "' (the body goes in --body or on standard input)";
      return false;
    }
    std::string name = arg.substr(2);
    const char* inline_value = nullptr;
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
      inline_value = argv[i] + 2 + equals + 1;
      name = name.substr(0, equals);
    }

    if (name == "password" || name == "pass" || name == "passwd") {
      error = "refusing '--" + name +
              "': a password on the command line can be read by every user of this machine "
              "(ps, /proc); put it in the environment variable " +
              kPasswordVariable + " or in a file named by --password-file";
      return false;
    }

    bool* flag = name == "dry-run"   ? &options.dryRun
                 : name == "verbose" ? &options.verbose
                 : name == "help"    ? &options.help
                 : name == "version" ? &options.version
                 : name == "starttls" ? &options.startTls
                 : name == "tls"      ? &options.implicitTls
                 : name == "no-short-dialogue" ? &options.noShortDialogue
                 : name == "plaintext-login" ? &options.plaintextLogin
                                     : nullptr;
    if (flag == &options.dryRun && options.sendmail) {
      error = "'--dry-run' does not go with the sendmail entry";
      return false;
    }
    if (flag) {
      if (inline_value) {
        error = "option '--" + name + "' takes no value";
        return false;
      }
      *flag = true;
      continue;
    }

    if (!takes_value(name)) {
      error = "unknown option '--" + name + "'";
      std::vector<std::string> known(std::begin(kValued), std::end(kValued));
      known.insert(known.end(), std::begin(kFlags), std::end(kFlags));
      const std::string nearest = NearestName(name, known);
      if (!nearest.empty()) error += " (did you mean '--" + nearest + "'?)";
      return false;
    }
    // The old spelling stays an alias.
    if (name == "ca-file") name = "cafile";
    if (options.sendmail && (name == "to" || name == "cc" || name == "bcc" || name == "subject" ||
                             name == "body" || name == "attach")) {
      error = "'--" + name + "' does not go with the sendmail entry: the message comes whole on standard input";
      return false;
    }
    std::string value;
    if (!take_value(argc, argv, i, name, inline_value, value, error)) return false;

    bool ok = true;
    std::string server;
    if (name == "server") {
      ok = set_once(name, options.hasServer, server, value, error) && parse_server(value, options, error);
    } else if (name == "from") {
      ok = set_once(name, options.hasFrom, options.from, value, error);
    } else if (name == "to") {
      options.to.push_back(value);
    } else if (name == "cc") {
      options.cc.push_back(value);
    } else if (name == "bcc") {
      options.bcc.push_back(value);
    } else if (name == "subject") {
      ok = set_once(name, options.hasSubject, options.subject, value, error);
    } else if (name == "body") {
      ok = set_once(name, options.hasBody, options.body, value, error);
    } else if (name == "attach") {
      options.attachments.push_back(value);
    } else if (name == "user") {
      ok = set_once(name, options.hasUser, options.user, value, error);
    } else if (name == "password-file") {
      ok = set_once(name, options.hasPasswordFile, options.passwordFile, value, error);
    } else if (name == "charset") {
      ok = set_once(name, options.hasCharset, options.charset, value, error);
    } else if (name == "cafile") {
      ok = set_once(name, options.hasCaFile, options.caFile, value, error);
    } else if (name == "config") {
      ok = set_once(name, options.hasConfig, options.configPath, value, error);
    } else if (name == "timeout") {
      std::string text;
      unsigned long seconds = 0;
      ok = set_once(name, options.hasTimeout, text, value, error);
      if (ok && !ParseDecimal(value, UINT_MAX / 1000, seconds)) {
        error = "--timeout '" + value + "': expected a whole number of seconds (0 for no limit)";
        ok = false;
      }
      options.timeout = static_cast<unsigned>(seconds);
    }
    if (!ok) return false;
  }
  return true;
}

// Whether an attachment is a regular file this process can read; false with
// the reason when it is not, so that it can be left out with a warning.
bool attachment_is_readable(const std::string& path, std::string& reason) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  close(fd);
  return true;
}

// Reads a whole stream; false on a read error.
bool read_all(FILE* stream, std::string& text) {
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
  return !std::ferror(stream);
}

// The codeset of the user's locale, as a terminal hands over what is typed.
std::string locale_codeset() {
  std::setlocale(LC_CTYPE, "");
  return nl_langinfo(CODESET);
}

// Everything the message needs, checked and in the library's terms.
struct Prepared {
  std::vector<Mailbox> to, cc, bcc;
  std::string subject, body;
  std::vector<std::string> attachments;  // those that could be read
};

// The texts of a message that are labelled with its charset, each with the
// words a warning names it by.
std::vector<std::pair<std::string, std::string>> labelled_texts(const Options& options, const Prepared& prepared) {
  std::vector<std::pair<std::string, std::string>> texts = {
      {"the subject", prepared.subject}, {"the body", prepared.body}, {"the name of --from", options.fromName}};
  for (const auto* list : {&prepared.to, &prepared.cc, &prepared.bcc})
    for (const Mailbox& mailbox : *list) texts.push_back({"the name of <" + mailbox.address + ">", mailbox.name});
  for (const std::string& path : prepared.attachments) {
    const size_t slash = path.rfind('/');
    texts.push_back({"the file name of '" + path + "'", slash == std::string::npos ? path : path.substr(slash + 1)});
  }
  return texts;
}

bool has_eight_bit(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The charset the texts are labelled with: the one given, else the locale's.
// A locale that names only ASCII (the C locale of cron) says nothing: texts
// valid as UTF-8 are labelled UTF-8, others GBK, the code page the library
// defaults to, and the user is told. A text not valid in the charset is sent
// as it is, with a warning that names it.
std::string choose_charset(const Options& options, const Prepared& prepared) {
  const auto texts = labelled_texts(options, prepared);
  std::string charset = options.charset;
  if (!options.hasCharset) {
    charset = locale_codeset();
    if (CodesetIsAsciiOnly(charset)) {
      const bool utf8 = std::all_of(texts.begin(), texts.end(), [](const auto& t) {
        return !has_eight_bit(t.second) || TextIsValidIn(t.second, "UTF-8");
      });
      charset = utf8 ? "UTF-8" : "GBK";
      if (!utf8)
        std::fprintf(stderr,
                     "%s: note: the texts are not valid UTF-8 and the locale names no charset: labelled GBK "
                     "(give --charset to name theirs)\n",
                     kProgram);
      return charset;
    }
  }
  for (const auto& [what, text] : texts)
    if (has_eight_bit(text) && !TextIsValidIn(text, charset))
      std::fprintf(stderr, "%s: warning: %s is not valid %s text; it is sent as it is, labelled %s\n", kProgram,
                   what.c_str(), charset.c_str(), charset.c_str());
  return charset;
}

// The From line's text for a sender with a name: "Name <address>", which
// the message writes with the name quoted or encoded as it needs.
std::string from_line(const std::string& name, const std::string& address) {
  return name.empty() ? address : name + " <" + address + ">";
}

// A MIME message whose From line carries the sender's name, while MAIL FROM
// carries the bare address in m_sFrom.
class CNamedSenderMessage : public CMIMEMessage {
public:
  std::string m_sFromLine;  // the From line's text; empty: the bare address

protected:
  void prepare_header() override {
    if (m_sFromLine.empty()) return CMIMEMessage::prepare_header();
    const CString address = m_sFrom;
    m_sFrom = m_sFromLine.c_str();
    CMIMEMessage::prepare_header();
    m_sFrom = address;
  }
};

// A name is written before "<" with a blank, as the library's own
// "Name <address>" lists give it.
CString name_of(const Mailbox& mailbox) { return mailbox.name.empty() ? "" : (mailbox.name + " ").c_str(); }

// Fills a MIME message the way the one-call send does, so that --dry-run
// shows what either way of sending puts on the wire.
void build_message(const Options& options, const Prepared& prepared, CNamedSenderMessage& message) {
  message.SetCharset(options.charset.c_str());
  message.m_sFrom = options.from.c_str();
  if (!options.fromName.empty()) message.m_sFromLine = from_line(options.fromName, options.from);
  message.m_sSubject = prepared.subject.c_str();
  message.m_sBody = prepared.body.c_str();
  for (const Mailbox& mailbox : prepared.to) message.AddRecipient(mailbox.address.c_str(), name_of(mailbox), CMailMessage::TO);
  for (const Mailbox& mailbox : prepared.cc) message.AddRecipient(mailbox.address.c_str(), name_of(mailbox), CMailMessage::CC);
  for (const Mailbox& mailbox : prepared.bcc)
    message.AddRecipient(mailbox.address.c_str(), name_of(mailbox), CMailMessage::BCC);
  for (const std::string& path : prepared.attachments)
    message.AddMIMEPart(path.c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
}

// The recipients as the one-call send takes them, "Name <address>" separated
// by ";"; empty when that list cannot carry them (Cc, Bcc, a sender's name,
// a ";", "<" or ">" inside a name or address), and the message is sent whole.
std::string one_call_list(const Options& options, const Prepared& prepared) {
  if (!prepared.cc.empty() || !prepared.bcc.empty() || !options.fromName.empty()) return "";
  std::string list;
  for (const Mailbox& mailbox : prepared.to) {
    if ((mailbox.name + mailbox.address).find_first_of(";<>") != std::string::npos) return "";
    if (!list.empty()) list += ';';
    list += name_of(mailbox).str() + (mailbox.name.empty() ? mailbox.address : "<" + mailbox.address + ">");
  }
  return list;
}

// Prints the SMTP dialogue on standard error as "C: " and "S: " lines. The
// password line of a login is masked; of the message data only the first
// lines are shown, whether it follows DATA or comes in BDAT chunks. Commands
// may go out several at once: every command line is answered by one reply,
// in order, so the reply to DATA is told by counting.
class DialogueTrace {
public:
  explicit DialogueTrace(const std::string& password) {
    if (!password.empty()) {
      CBase64 encoder;
      m_encodedPassword = encoder.Encode(password.data(), static_cast<int>(password.size())).str();
    }
  }

  static void Observe(BOOL bSent, const void* lpBuf, int nLength, void* pContext) {
    auto* self = static_cast<DialogueTrace*>(pContext);
    (bSent ? self->m_client : self->m_server).append(static_cast<const char*>(lpBuf), static_cast<size_t>(nLength));
    self->flush(bSent != FALSE);
  }

  // Ends the trace: a line the peer left unfinished is shown as it is.
  void Finish() {
    if (!m_client.empty()) client_line(m_client);
    if (!m_server.empty()) server_line(m_server);
    m_client.clear();
    m_server.clear();
  }

private:
  static constexpr int kDataLinesShown = 40;

  void flush(bool sent) {
    std::string& pending = sent ? m_client : m_server;
    size_t start = 0, end;
    for (;;) {
      if (sent && m_chunkLeft > 0) {
        const size_t take = std::min<size_t>(m_chunkLeft, pending.size() - start);
        chunk_data(pending.substr(start, take));
        start += take;
        m_chunkLeft -= take;
        if (m_chunkLeft > 0) break;
        continue;
      }
      if ((end = pending.find('\n', start)) == std::string::npos) break;
      std::string line = pending.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (sent)
        client_line(line);
      else
        server_line(line);
      start = end + 1;
    }
    pending.erase(0, start);
  }

  static std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return text;
  }

  void data_line(const std::string& line) {
    if (++m_dataLines <= kDataLinesShown)
      std::fprintf(stderr, "C: %s\n", line.c_str());
    else
      m_hiddenBytes += line.size() + 2;
  }

  void end_of_data() {
    if (m_dataLines > kDataLinesShown)
      std::fprintf(stderr, "C: [... %ld more lines, %llu bytes of message data not shown]\n",
                   m_dataLines - kDataLinesShown, m_hiddenBytes);
    m_dataLines = 0;
    m_hiddenBytes = 0;
  }

  // Bytes of a BDAT chunk, shown as the lines they hold.
  void chunk_data(const std::string& bytes) {
    m_chunkText += bytes;
    size_t start = 0, end;
    while ((end = m_chunkText.find('\n', start)) != std::string::npos) {
      std::string line = m_chunkText.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      data_line(line);
      start = end + 1;
    }
    m_chunkText.erase(0, start);
    if (m_chunkLeft == bytes.size() && m_lastChunk) {
      if (!m_chunkText.empty()) data_line(m_chunkText);
      m_chunkText.clear();
      end_of_data();
    }
  }

  void client_line(const std::string& line) {
    if (m_inData) {
      if (line == ".") {
        end_of_data();
        std::fprintf(stderr, "C: .\n");
        m_inData = false;
        ++m_commands;
        return;
      }
      data_line(line);
      return;
    }
    ++m_commands;
    std::string command = upper(line);
    unsigned long long chunk = 0;
    if (std::sscanf(command.c_str(), "BDAT %llu", &chunk) == 1) {
      m_chunkLeft = chunk;
      m_lastChunk = command.find(" LAST") != std::string::npos;
    }
    // After AUTH LOGIN the user name comes first and the password last; a line
    // that is the encoded password is masked wherever it turns up.
    bool secret = m_secretLines == 1 || (!m_encodedPassword.empty() && line == m_encodedPassword);
    if (m_secretLines > 0) --m_secretLines;
    if (command == "AUTH LOGIN") {
      m_secretLines = 2;
    } else if (command.compare(0, 11, "AUTH LOGIN ") == 0) {
      m_secretLines = 1;
    } else if (command == "AUTH PLAIN") {
      m_secretLines = 1;
    } else if (command.compare(0, 11, "AUTH PLAIN ") == 0) {
      std::fprintf(stderr, "C: %s ********\n", line.substr(0, 10).c_str());
      return;
    }
    if (command == "DATA") m_dataReply = m_commands;
    std::fprintf(stderr, "C: %s\n", secret ? "******** (password)" : line.c_str());
  }

  void server_line(const std::string& line) {
    const bool last = line.size() < 4 || line[3] != '-';
    // The greeting is reply 0, the reply to the first command reply 1.
    if (last && m_replies++ == m_dataReply && line.compare(0, 3, "354") == 0) {
      m_inData = true;
      m_dataLines = 0;
      m_hiddenBytes = 0;
    }
    std::fprintf(stderr, "S: %s\n", line.c_str());
  }

  std::string m_encodedPassword;
  std::string m_client, m_server;
  int m_secretLines = 0;
  long m_commands = 0;     // command lines sent
  long m_replies = 0;      // replies received, the greeting included
  long m_dataReply = -1;   // the number of the reply to DATA
  unsigned long long m_chunkLeft = 0;  // bytes of the BDAT chunk still to come
  bool m_lastChunk = false;
  std::string m_chunkText;  // a line of chunk data not yet ended
  bool m_inData = false;
  long m_dataLines = 0;
  unsigned long long m_hiddenBytes = 0;
};

// The server as messages name it, "mail.example.org:587" or "[::1]:25".
std::string server_text(const Options& options) {
  const bool ipv6 = options.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(options.port);
}

// Sets up a session with the connection options. A login upgrades with
// STARTTLS wherever the server offers it, and goes unencrypted only when
// --plaintext-login allows it.
void configure(CSMTP& smtp, const Options& options) {
  smtp.SetCharset(options.charset.c_str());
  smtp.SetParams(options.host.c_str(), options.from.c_str(), static_cast<int>(options.port), options.user.c_str(),
                 options.password.c_str());
  if (options.hasTimeout) smtp.SetTimeout(options.timeout);
  if (options.hasUser) smtp.SetSecurity(CSMTP::SECURITY_STARTTLS_OFFERED);
  if (options.startTls) smtp.SetSecurity(CSMTP::SECURITY_STARTTLS);
  if (options.implicitTls) smtp.SetSecurity(CSMTP::SECURITY_TLS);
  smtp.SetPlaintextLogin(options.plaintextLogin);
  if (options.hasCaFile) smtp.SetCAFile(options.caFile.c_str());
  // --no-short-dialogue wins over the configuration file's short-dialogue.
  smtp.SetShortDialogue(options.shortDialogue && !options.noShortDialogue);
}

const char kPlaintextLoginRefused[] = "Login refused: the connection is not encrypted";

bool starts_with(const CString& text, const char* prefix) { return text.str().rfind(prefix, 0) == 0; }
bool ends_with(const CString& text, const char* suffix) { return text.str().ends_with(suffix); }

// What a send that was not accepted left behind, as it stood right after the
// failing call: a QUIT failure that may follow does not count.
struct Failure {
  CString text;         // GetLastError
  CString reply;        // the server's words behind the failure
  CString socketError;  // the system's reason behind it

  explicit Failure(const CSMTP& smtp)
      : text(smtp.GetLastError()), reply(smtp.GetLastReply()), socketError(smtp.GetLastSocketError()) {}

  // Whether the connection itself failed: none was made, a wait timed out,
  // the connection broke, or TLS failed. Any reply read before is stale.
  bool LinkFailed() const {
    return !socketError.IsEmpty() || text == "Timed out" || text == "Socket Error" || text == "Must be connected" ||
           text == "Unable to connect to server" || text == "Unable to create the socket." ||
           starts_with(text, "TLS handshake failed") || starts_with(text, "Server certificate rejected");
  }
  // The first digit of the reply: '4' for a failure that is temporary, '5'
  // for a refusal; 0 when there was none.
  char ReplyClass() const { return LinkFailed() || reply.IsEmpty() ? '\0' : reply[0]; }
  // Whether the failing reply answered a step of the login (AUTH and the
  // user name expect 334, the password 235).
  bool AtLogin() const { return ends_with(text, ":SMTP AUTH FAILED") || ends_with(text, ":SMTP server not available"); }

  void Print(const Options& options) const {
    const std::string server = server_text(options);
    if (text == "Unable to connect to server") {
      std::fprintf(stderr, "%s: not sent: cannot connect to %s: %s\n", kProgram, server.c_str(),
                   socketError.IsEmpty() ? text.str().c_str() : socketError.str().c_str());
    } else {
      std::fprintf(stderr, "%s: not sent: %s (%s)\n", kProgram, text.str().c_str(), server.c_str());
      if (ReplyClass() != '\0') std::fprintf(stderr, "%s: server said: %s\n", kProgram, reply.str().c_str());
      if (!socketError.IsEmpty()) std::fprintf(stderr, "%s: reason: %s\n", kProgram, socketError.str().c_str());
    }
    const char* hint = nullptr;
    if (text == kPlaintextLoginRefused)
      hint = "the server offers no STARTTLS: use --tls if it speaks TLS on another port, or add --plaintext-login "
             "(plaintext-login = yes) to send the password unencrypted";
    else if (starts_with(text, "TLS handshake failed") && options.implicitTls &&
             (text.str().find("wrong version number") != std::string::npos ||
              text.str().find("packet length too long") != std::string::npos))
      hint = "the port does not speak TLS from the first byte: use --starttls (security = starttls) where the "
             "server offers STARTTLS, usually on port 587, or leave out --tls";
    else if (starts_with(text, "Server certificate rejected") && options.hasUser && !options.startTls &&
             !options.implicitTls)
      hint = "a login upgrades with STARTTLS where the server offers it: give --cafile (cafile) with the authority "
             "that signed the server's certificate";
    else if (text == "Server does not offer STARTTLS")
      hint = "leave out --starttls, or use --tls where the server speaks TLS from the first byte (port 465)";
    else if (!options.implicitTls && options.port == 465 && text == "Server didn't respond.")
      hint = "port 465 usually speaks TLS from the first byte: use --tls (security = tls)";
    if (hint) std::fprintf(stderr, "%s: hint: %s\n", kProgram, hint);
  }
};

// The exit status of a Connect that failed.
int connect_status(const Failure& failure) {
  if (failure.text == kPlaintextLoginRefused) return EX_CONFIG;
  switch (failure.ReplyClass()) {
    case '5':
      return failure.AtLogin() ? EX_NOPERM : EX_UNAVAILABLE;
    default:  // a 4xx, no connection, a time-out, a lost connection, TLS
      return EX_TEMPFAIL;
  }
}

// The recipients the server refused in the latest transaction, each printed
// with the server's reply.
struct Refusals {
  int count = 0;
  bool forNow = false;  // one of them was refused with a 4xx
};

Refusals report_refused(const CSMTP& smtp, bool accepted) {
  Refusals refusals;
  refusals.count = smtp.GetNumRefusedRecipients();
  for (int i = 0; i < refusals.count; ++i) {
    CString address, reply;
    smtp.GetRefusedRecipient(i, address, reply);
    refusals.forNow = refusals.forNow || (!reply.IsEmpty() && reply[0] == '4');
    std::fprintf(stderr, "%s: %s: recipient refused: %s\n", kProgram, accepted ? "warning" : "error",
                 address.str().c_str());
    std::fprintf(stderr, "%s: server said: %s\n", kProgram, reply.str().c_str());
  }
  return refusals;
}

// Reports a transaction that was not accepted and gives the exit status.
// Every recipient refused says so, not what DATA met after it; otherwise a
// broken link or a time-out is temporary whatever a reply before it said.
int send_failure_status(const Options& options, const Failure& failure, const Refusals& refused, int recipients) {
  if (refused.count > 0 && refused.count >= recipients) {
    std::fprintf(stderr, "%s: not sent: every recipient was refused\n", kProgram);
    return refused.forNow ? EX_TEMPFAIL : EX_NOUSER;
  }
  failure.Print(options);
  switch (failure.ReplyClass()) {
    case '5':
      return EX_DATAERR;
    case '4':
      return EX_TEMPFAIL;
    default:
      return failure.LinkFailed() || (failure.text != "No Recipients" && failure.text != "Invalid address")
                 ? EX_TEMPFAIL
                 : EX_DATAERR;
  }
}

// Sends the message; the exit status of the program.
int send(const Options& options, const Prepared& prepared) {
  CSMTP smtp;
  configure(smtp, options);
  if (!smtp.Connect()) {
    const Failure failure(smtp);
    failure.Print(options);
    return connect_status(failure);
  }
  // The one-call send formats the message into the connection a piece at a
  // time; it uses the connection already open and closes it.
  BOOL accepted = FALSE;
  if (const std::string list = one_call_list(options, prepared); !list.empty()) {
    CStringArray paths;
    for (const std::string& path : prepared.attachments) paths.Add(path.c_str());
    accepted = smtp.SendMessage(list.c_str(), prepared.body.c_str(), prepared.subject.c_str(), &paths);
  } else {
    CNamedSenderMessage message;
    build_message(options, prepared, message);
    accepted = smtp.SendMessage(&message);
  }
  const Failure failure(smtp);
  smtp.Disconnect();
  const Refusals refused = report_refused(smtp, accepted != FALSE);
  if (!accepted)
    return send_failure_status(options, failure, refused,
                               static_cast<int>(prepared.to.size() + prepared.cc.size() + prepared.bcc.size()));
  if (starts_with(failure.text, "Attachment could not be read")) {
    std::fprintf(stderr, "%s: warning: sent without what could not be read: %s\n", kProgram,
                 failure.text.str().c_str());
    return kAttachmentMissing;
  }
  return EX_OK;
}

// The current local time as a Date line gives it, with a four-digit year.
std::string date_now() {
  const std::time_t now = std::time(nullptr);
  std::tm local;
  char text[64];
  localtime_r(&now, &local);
  return std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S %z", &local) ? text : "";
}

// A Message-ID for a message that lacks one, at the sender's domain (or the
// host's name for a sender without one): the time, the process and a random
// number make it unique.
std::string new_message_id(const std::string& sender) {
  std::string domain = sender.substr(sender.rfind('@') + 1);
  if (sender.find('@') == std::string::npos) {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    domain = name[0] != '\0' ? name : "localhost";
  }
  std::random_device random;
  char text[64];
  std::snprintf(text, sizeof text, "<%lld.%d.%08x%08x@", static_cast<long long>(std::time(nullptr)),
                static_cast<int>(getpid()), random(), random());
  return text + domain + ">";
}

bool same_address(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// The exit status of a message sendmail-style: 0 accepted, else what the
// failure was, in the codes of <sysexits.h>, as for a normal send.
int send_incoming(const Options& options, CMailMessage& message) {
  CStreamingSMTP smtp;
  configure(smtp, options);
  if (!smtp.Connect()) {
    const Failure failure(smtp);
    failure.Print(options);
    return connect_status(failure);
  }
  const BOOL accepted = smtp.SendMessage(&message);
  const Failure failure(smtp);
  smtp.Disconnect();
  const Refusals refused = report_refused(smtp, accepted != FALSE);
  if (accepted) return EX_OK;
  return send_failure_status(options, failure, refused, message.GetNumRecipients(CMailMessage::TO));
}

// Reads the message on standard input: its header into the reader, its body
// into the spool file. EX_OK, or the exit status of what went wrong, said on
// standard error.
int read_incoming(IncomingMessageReader& reader, SpoolFile& spool) {
  std::vector<char> buffer(256 * 1024);
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::fprintf(stderr, "%s: cannot read the message from standard input: %s\n", kProgram, std::strerror(errno));
      return EX_IOERR;
    }
    if (n == 0 || !reader.Put(buffer.data(), static_cast<std::size_t>(n))) break;
  }
  reader.Finish();
  if (reader.Refused()) {
    std::fprintf(stderr, "%s: not sent: line %lu of the message holds a NUL byte\n", kProgram, reader.NulLine());
    return EX_DATAERR;
  }
  if (reader.SinkFailed() || !spool.Flush()) {
    std::fprintf(stderr, "%s: not sent: %s\n", kProgram, spool.Error().c_str());
    return EX_TEMPFAIL;
  }
  return EX_OK;
}

// The sendmail entry: the message comes whole on standard input. It is read
// once, and its body waits in a private temporary file, so that it is checked
// whole before anything is sent and memory stays small whatever its size.
int run_as_sendmail(Options& options, DialogueTrace& trace) {
  SpoolFile spool;
  if (!spool.Create(SpoolFile::DefaultFolder())) {
    std::fprintf(stderr, "%s: not sent: %s\n", kProgram, spool.Error().c_str());
    return EX_TEMPFAIL;
  }
  IncomingMessageReader reader(!options.ignoreDots, spool);
  if (const int status = read_incoming(reader, spool); status != EX_OK) return status;
  const IncomingMessage& incoming = reader.Message();

  std::vector<std::string> recipients;
  auto add = [&recipients](const std::string& address) {
    for (const std::string& known : recipients)
      if (same_address(known, address)) return;
    recipients.push_back(address);
  };
  for (const std::string& argument : options.arguments)
    for (const std::string& address : AddressesOf(argument)) add(address);
  if (options.headerRecipients)
    for (const std::string& address : incoming.recipients) add(address);
  if (recipients.empty())
    return usage_error(options.headerRecipients ? "no recipients: the message has no To, Cc or Bcc address"
                                                : "no recipients: give their addresses, or -t to take them "
                                                  "from the message");
  for (const std::string& address : recipients)
    if (address.find_first_of("\r\n<>") != std::string::npos)
      return usage_error("recipient '" + address + "': not an address");

  if (!options.hasFrom) options.from = incoming.fromAddress;
  if (trim(options.from).empty())
    return usage_error("no sender: give -f ADDRESS, --from, or from in the configuration file");
  if (options.from.find_first_of("\r\n<>") != std::string::npos)
    return usage_error("sender '" + options.from + "': give the bare address");

  std::string header = incoming.header;
  if (!incoming.hasFrom) {
    std::string name;
    for (char c : options.fullName)
      if (c != '\r' && c != '\n') name += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    header += "From: " + (name.empty() ? options.from : "\"" + name + "\" <" + options.from + ">") + "\r\n";
  }
  if (!incoming.hasDate) header += "Date: " + date_now() + "\r\n";
  if (!incoming.hasMessageId) header += "Message-ID: " + new_message_id(options.from) + "\r\n";
  CSpooledMessage message(spool, header);
  message.m_sFrom = options.from.c_str();
  for (const std::string& address : recipients) message.AddRecipient(address.c_str());

  if (options.verbose) AfxSetSocketTrace(&DialogueTrace::Observe, &trace);
  const int status = send_incoming(options, message);
  if (options.verbose) {
    AfxSetSocketTrace(nullptr, nullptr);
    trace.Finish();
  }
  if (message.GetReadError() != 0)
    std::fprintf(stderr, "%s: cannot read the message back from its temporary file: %s\n", kProgram,
                 std::strerror(message.GetReadError()));
  return status;
}

// Fills in from the configuration file what the options leave open.
bool apply_config(Options& options, const std::string& path, std::string& error) {
  SendConfig config;
  if (!ReadSendConfig(path, config, error)) return false;
  if (!options.hasServer && config.server) {
    if (!parse_server(*config.server, options, error, "server in " + path)) return false;
    options.hasServer = true;
    if (config.port && !options.hasPort) {
      options.port = *config.port;
      options.hasPort = true;
    }
  }
  if (!options.startTls && !options.implicitTls && config.security) {
    options.startTls = *config.security == SendConfig::kStartTls;
    options.implicitTls = *config.security == SendConfig::kTls;
  }
  auto take = [](bool& has, std::string& target, const std::optional<std::string>& value) {
    if (has || !value) return false;
    has = true;
    target = *value;
    return true;
  };
  options.caFileFromConfig = take(options.hasCaFile, options.caFile, config.caFile);
  take(options.hasUser, options.user, config.user);
  take(options.hasFrom, options.from, config.from);
  if (config.charset && !options.hasCharset) {
    CMailMessage probe;
    if (!CharsetIsKnown(*config.charset) || !probe.SetCharset(config.charset->c_str())) {
      error = "charset in " + path + ": '" + *config.charset + "' is not a charset this system knows";
      return false;
    }
    options.charsetFromConfig = take(options.hasCharset, options.charset, config.charset);
  }
  if (!options.hasTimeout && config.timeout) {
    options.hasTimeout = true;
    options.timeout = *config.timeout;
  }
  if (config.shortDialogue) options.shortDialogue = *config.shortDialogue;
  if (config.plaintextLogin && !options.plaintextLogin) options.plaintextLogin = *config.plaintextLogin;
  if (config.password && config.passwordFile) {
    error = path + ": give password or password-file, not both";
    return false;
  }
  // The password given for this run, in the environment or by
  // --password-file, wins over the file's.
  if (!options.hasPasswordFile && !std::getenv(kPasswordVariable)) {
    if (config.password) options.password = *config.password;
    options.passwordFileFromConfig = take(options.hasPasswordFile, options.passwordFile, config.passwordFile);
  }
  return true;
}

// Checks the connection options and reads the password; 0, or the exit
// status of the mistake after reporting it: a file the command line names
// that cannot be used is bad usage, one the configuration names, or a secret
// that others may read, a bad configuration.
int prepare_connection(Options& options, const std::string& configPath) {
  if (options.startTls && options.implicitTls) return usage_error("give either --starttls or --tls, not both");
  if (options.hasCaFile && !options.caFileFromConfig && !options.startTls && !options.implicitTls && !options.hasUser)
    return usage_error("--cafile needs --starttls, --tls or a login (--user)");
  if (options.hasCaFile && access(options.caFile.c_str(), R_OK) != 0) {
    const std::string reason = "'" + options.caFile + "': " + std::strerror(errno);
    return options.caFileFromConfig ? config_error("cafile in " + configPath + " " + reason)
                                    : usage_error("--cafile " + reason);
  }
  if (!options.hasPort && options.startTls) options.port = 587;
  if (!options.hasPort && options.implicitTls) options.port = 465;

  if (options.hasPasswordFile && !options.hasUser) {
    return options.passwordFileFromConfig ? config_error(configPath + ": password-file needs user")
                                          : usage_error("--password-file needs --user");
  }
  if (!options.hasUser) return 0;
  if (options.hasPasswordFile) {
    std::string error;
    bool exposed = false;
    if (ReadPasswordFile(options.passwordFile, options.password, error, &exposed)) return 0;
    if (options.passwordFileFromConfig) return config_error("password-file in " + configPath + ": " + error);
    return exposed ? config_error("--password-file " + error) : usage_error("--password-file " + error);
  }
  if (const char* password = std::getenv(kPasswordVariable)) {
    options.password = password;
    return 0;
  }
  if (!options.password.empty()) return 0;  // the configuration file's own
  return usage_error(std::string("--user needs a password: set ") + kPasswordVariable + " or give --password-file");
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  options.sendmail = is_sendmail_call(argc, argv);
  if (!parse_arguments(argc, argv, options, error)) return usage_error(error);
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (options.version) {
    std::printf("%s %s\n", kProgram, TarvenkelVersion());
    return 0;
  }
  const std::string configPath = options.hasConfig ? options.configPath : DefaultSendConfigPath();
  if (!configPath.empty() && !apply_config(options, configPath, error)) return config_error(error);

  if (options.hasCharset && !options.charsetFromConfig) {
    CMailMessage probe;
    if (!CharsetIsKnown(options.charset) || !probe.SetCharset(options.charset.c_str()))
      return usage_error("--charset '" + options.charset + "': not a charset this system knows");
  }
  if (!options.hasServer && !options.dryRun)
    return usage_error("missing --server HOST[:PORT] (or server in the configuration file)");
  if (const int status = prepare_connection(options, configPath); status != 0) return status;
  // A sender "Name <address>": the address goes to the server, the name on the From line.
  if (options.hasFrom && !trim(options.from).empty() &&
      !read_sender(options.sendmail ? "sender" : "--from", std::string(options.from), options.from, options.fromName,
                   error))
    return usage_error(error);
  DialogueTrace trace(options.password);
  if (options.sendmail) {
    if (options.fullName.empty()) options.fullName = options.fromName;
    if (!options.hasCharset) options.charset = CodesetIsAsciiOnly(locale_codeset()) ? "UTF-8" : locale_codeset();
    return run_as_sendmail(options, trace);
  }

  if (!options.hasFrom || trim(options.from).empty()) return usage_error("missing --from ADDRESS");
  Prepared prepared;
  if (!read_recipients("--to", options.to, prepared.to, error) ||
      !read_recipients("--cc", options.cc, prepared.cc, error) ||
      !read_recipients("--bcc", options.bcc, prepared.bcc, error))
    return usage_error(error);
  if (prepared.to.empty()) return usage_error("missing --to LIST (at least one recipient)");
  // A file that cannot be read is left out: the alarm text must still go.
  bool attachmentMissing = false;
  for (const std::string& path : options.attachments) {
    std::string reason;
    if (attachment_is_readable(path, reason)) {
      prepared.attachments.push_back(path);
      continue;
    }
    std::fprintf(stderr, "%s: warning: --attach '%s': %s; the message goes without it\n", kProgram, path.c_str(),
                 reason.c_str());
    attachmentMissing = true;
  }

  std::string body = options.body;
  if (!options.hasBody && !read_all(stdin, body)) {
    std::fprintf(stderr, "%s: cannot read the body from standard input: %s\n", kProgram, std::strerror(errno));
    return EX_IOERR;
  }
  // The same defaults as the one-call send, so both ways send the same text.
  prepared.subject = options.subject.empty() ? "Hello!" : options.subject;
  // The text agent makes the body's bare LF and CR line ends CR LF.
  prepared.body = body.empty() ? "Hello!" : body;
  options.charset = choose_charset(options, prepared);
  // Paths are split as text of the same charset: a byte of "\\" inside a
  // character is no separator.
  if (const UINT nCodePage = AfxGetCharsetCodePage(options.charset.c_str())) AfxSetAnsiCodePage(nCodePage);
  const int sent = attachmentMissing ? kAttachmentMissing : EX_OK;

  if (options.dryRun) {
    CNamedSenderMessage message;
    build_message(options, prepared, message);
    // Written to the descriptor as it is formatted, so that an attachment
    // is never held whole in memory; nothing of stdio's is pending before.
    if (std::fflush(stdout) != 0) return EX_IOERR;
    CFile out(STDOUT_FILENO);
    if (message.WriteMessage(out)) return sent;
    std::fprintf(stderr, "%s: cannot write the message to standard output\n", kProgram);
    return EX_IOERR;
  }

  if (options.verbose) AfxSetSocketTrace(&DialogueTrace::Observe, &trace);
  int status = send(options, prepared);
  if (options.verbose) {
    AfxSetSocketTrace(nullptr, nullptr);
    trace.Finish();
  }
  return status == EX_OK ? sent : status;
}

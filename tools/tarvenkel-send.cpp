// tarvenkel-send: sends one notification mail, for scripts and cron jobs of
// monitoring systems. Exit status 0 when the server accepted the message,
// 1 when it did not, 2 for bad usage (checked before anything is sent).
// Called through a link named sendmail, or with -t, it stands in for
// sendmail: it sends a whole message read from standard input, with the exit
// codes of <sysexits.h> that sendmail's callers expect.
#include "framework/core/code_page.h"
#include "framework/core/string.h"
#include "framework/core/string_array.h"
#include "framework/io/file.h"
#include "framework/net/socket_trace.h"
#include "mail/base64.h"
#include "mail/mime_message.h"
#include "module/version.h"
#include "smtp/smtp.h"
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
    "  --from ADDRESS        sender (envelope and From line)\n"
    "  --to LIST             recipients: addresses or \"Name <address>\",\n"
    "                        separated by ';'; may be repeated\n"
    "  --cc LIST             copy recipients, same syntax; may be repeated\n"
    "  --bcc LIST            blind-copy recipients, same syntax; may be repeated\n"
    "  --subject TEXT        subject (\"Hello!\" when empty)\n"
    "  --body TEXT           body (\"Hello!\" when empty); standard input if absent\n"
    "  --attach FILE         attach a file; may be repeated\n"
    "  --charset NAME        the charset the texts are in (default: the one of\n"
    "                        the locale, UTF-8 where it names only ASCII); 8-bit\n"
    "                        texts are labelled with it, never converted\n"
    "  --user NAME           log in with AUTH LOGIN as NAME; the password comes\n"
    "                        from the environment variable TARVENKEL_PASSWORD\n"
    "                        or from --password-file, never from the command line\n"
    "  --password-file FILE  read the password from the first line of FILE\n"
    "  --starttls            upgrade to TLS with STARTTLS before logging in\n"
    "                        (port 587 unless given)\n"
    "  --tls                 speak TLS from the first byte (port 465 unless given)\n"
    "  --cafile FILE         trust the certificate authorities in FILE instead of\n"
    "                        the system's store\n"
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
    "Exit status: 0 the server accepted the message (a warning on standard error\n"
    "when a recipient was refused), 1 it did not (the reason on standard error),\n"
    "2 bad usage or a bad configuration file.\n"
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
    "Exit status: 0 sent, 64 bad usage, 65 the message or its sender was refused,\n"
    "67 every recipient was refused, 69 the server refused the session, 75 a\n"
    "temporary failure (a 4xx reply, no connection, a time-out, TLS), 78 a bad\n"
    "configuration file.\n";

struct Options {
  std::string host;
  unsigned port = 25;
  bool hasPort = false;
  bool hasServer = false;
  bool startTls = false;
  bool implicitTls = false;
  std::string caFile;
  bool hasCaFile = false;
  std::string from;
  bool hasFrom = false;
  std::vector<std::string> to, cc, bcc;
  std::string subject;
  bool hasSubject = false;
  std::string body;
  bool hasBody = false;
  std::vector<std::string> attachments;
  std::string charset;
  bool hasCharset = false;
  std::string user;
  bool hasUser = false;
  std::string passwordFile;
  bool hasPasswordFile = false;
  std::string password;
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

// The exit status of bad usage and of a bad configuration file: 2, or those
// of <sysexits.h> for the sendmail entry.
int usage_status = 2;
int config_status = 2;

// Reports bad usage and gives the exit status for it.
int usage_error(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  std::fprintf(stderr, "Try '%s --help' for more information.\n", kProgram);
  return usage_status;
}

// Reports a bad configuration file and gives the exit status for it.
int config_error(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
  return config_status;
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

// Checks one recipient list and rewrites it for the library: pieces trimmed
// of surrounding blanks (the library would keep them as part of the address)
// and empty pieces dropped (the library would add an empty recipient).
bool normalise_recipients(const char* option, const std::vector<std::string>& lists, std::string& joined,
                          std::string& error) {
  joined.clear();
  for (const std::string& list : lists) {
    size_t start = 0;
    for (;;) {
      size_t end = list.find(';', start);
      std::string piece = trim(list.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (!piece.empty()) {
        size_t open = piece.find('<');
        size_t close = piece.find('>');
        if (open != std::string::npos && (close == std::string::npos || close < open)) {
          error = std::string(option) + " '" + piece + "': expected 'Name <address>'";
          return false;
        }
        std::string address = open == std::string::npos ? piece : piece.substr(open + 1, close - open - 1);
        if (trim(address).empty()) {
          error = std::string(option) + " '" + piece + "': empty address";
          return false;
        }
        if (piece.find_first_of("\r\n") != std::string::npos) {
          error = std::string(option) + ": a recipient must not contain a line break";
          return false;
        }
        if (!joined.empty()) joined += ';';
        joined += piece;
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
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
const char* const kValued[] = {"server",  "from",    "to",     "cc",      "bcc",    "subject",       "body",
                               "attach",  "user",    "password-file",     "timeout", "cafile", "charset", "config"};

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
      return false;
    }
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

// Checks that an attachment is a regular file this process can read, so that
// a mistyped path stops the run before anything is sent.
bool check_attachment(const std::string& path, std::string& error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    error = "--attach '" + path + "': " + std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = "--attach '" + path + "': not a regular file";
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "--attach '" + path + "': cannot be read: " + std::strerror(errno);
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

// The password is the first line of the file, without its line end.
bool read_password_file(const std::string& path, std::string& password, std::string& error) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    error = "--password-file '" + path + "': " + std::strerror(errno);
    return false;
  }
  std::string text;
  bool ok = read_all(file, text);
  int saved = errno;
  std::fclose(file);
  if (!ok) {
    error = "--password-file '" + path + "': " + std::strerror(saved);
    return false;
  }
  password = text.substr(0, text.find_first_of("\r\n"));
  return true;
}

// The charset of the user's locale, as a terminal hands over what is typed;
// UTF-8 where the locale names only ASCII (the C locale).
std::string locale_charset() {
  std::setlocale(LC_CTYPE, "");
  const std::string codeset = nl_langinfo(CODESET);
  if (codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII") return "UTF-8";
  return codeset;
}

// Everything the message needs, checked and in the library's syntax.
struct Prepared {
  std::string to, cc, bcc;
  std::string subject, body;
};

// Fills a MIME message the way the one-call send does, so that --dry-run
// shows what either way of sending puts on the wire.
void build_message(const Options& options, const Prepared& prepared, CMIMEMessage& message) {
  message.SetCharset(options.charset.c_str());
  message.m_sFrom = options.from.c_str();
  message.m_sSubject = prepared.subject.c_str();
  message.m_sBody = prepared.body.c_str();
  message.AddMultipleRecipients(prepared.to.c_str(), CMailMessage::TO);
  if (!prepared.cc.empty()) message.AddMultipleRecipients(prepared.cc.c_str(), CMailMessage::CC);
  if (!prepared.bcc.empty()) message.AddMultipleRecipients(prepared.bcc.c_str(), CMailMessage::BCC);
  for (const std::string& path : options.attachments)
    message.AddMIMEPart(path.c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
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

// Sets up a session with the connection options.
void configure(CSMTP& smtp, const Options& options) {
  smtp.SetCharset(options.charset.c_str());
  smtp.SetParams(options.host.c_str(), options.from.c_str(), static_cast<int>(options.port), options.user.c_str(),
                 options.password.c_str());
  if (options.hasTimeout) smtp.SetTimeout(options.timeout);
  if (options.startTls) smtp.SetSecurity(CSMTP::SECURITY_STARTTLS);
  if (options.implicitTls) smtp.SetSecurity(CSMTP::SECURITY_TLS);
  if (options.hasCaFile) smtp.SetCAFile(options.caFile.c_str());
  // --no-short-dialogue wins over the configuration file's short-dialogue.
  smtp.SetShortDialogue(options.shortDialogue && !options.noShortDialogue);
}

// What a send that was not accepted left behind, as it stood right after the
// failing call: a QUIT failure that may follow does not count.
struct Failure {
  CString text;         // GetLastError
  CString reply;        // the server's words behind the failure
  CString socketError;  // the system's reason behind it

  explicit Failure(const CSMTP& smtp)
      : text(smtp.GetLastError()), reply(smtp.GetLastReply()), socketError(smtp.GetLastSocketError()) {}

  void Print() const {
    std::fprintf(stderr, "%s: not sent: %s\n", kProgram, text.str().c_str());
    if (!reply.IsEmpty()) std::fprintf(stderr, "%s: server said: %s\n", kProgram, reply.str().c_str());
    if (!socketError.IsEmpty()) std::fprintf(stderr, "%s: reason: %s\n", kProgram, socketError.str().c_str());
  }
};

// Sends the message; the exit status of the program.
int send(const Options& options, const Prepared& prepared) {
  CSMTP smtp;
  configure(smtp, options);
  BOOL accepted = FALSE;
  if (options.cc.empty() && options.bcc.empty()) {
    CStringArray paths;
    for (const std::string& path : options.attachments) paths.Add(path.c_str());
    accepted = smtp.SendMessage(prepared.to.c_str(), prepared.body.c_str(), prepared.subject.c_str(), &paths);
  } else {
    CMIMEMessage message;
    build_message(options, prepared, message);
    if (smtp.Connect()) {
      accepted = smtp.SendMessage(&message);
      if (!accepted) {
        Failure(smtp).Print();
        smtp.Disconnect();
        return 1;
      }
      smtp.Disconnect();
    }
  }
  if (!accepted) {
    Failure(smtp).Print();
    return 1;
  }
  CString last = smtp.GetLastError();
  if (last != "OK") std::fprintf(stderr, "%s: warning: %s\n", kProgram, last.str().c_str());
  return 0;
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

// The first digit of a reply as GetLastReply gives it: '4' for a failure
// that is temporary, '5' for a refusal; 0 when there was no reply.
char reply_class(const CString& reply) { return reply.IsEmpty() ? '\0' : reply[0]; }

// The exit status of a message sendmail-style: 0 accepted, else what the
// failure was, in the codes of <sysexits.h>. A failure without a reply that
// refuses the mail (no connection, a time-out, a broken connection, a failed
// TLS handshake) is temporary, as it is for a mail server that queues.
int send_incoming(const Options& options, CMailMessage& message) {
  CStreamingSMTP smtp;
  configure(smtp, options);
  if (!smtp.Connect()) {
    Failure failure(smtp);
    failure.Print();
    return reply_class(failure.reply) == '5' ? EX_UNAVAILABLE : EX_TEMPFAIL;
  }
  const BOOL accepted = smtp.SendMessage(&message);
  const Failure failure(smtp);
  smtp.Disconnect();
  const int refused = smtp.GetNumRefusedRecipients();
  bool refusedForNow = false;
  for (int i = 0; i < refused; ++i) {
    CString address, reply;
    smtp.GetRefusedRecipient(i, address, reply);
    refusedForNow = refusedForNow || reply_class(reply) == '4';
    std::fprintf(stderr, "%s: %s: recipient refused: %s\n", kProgram, accepted ? "warning" : "error",
                 address.str().c_str());
    std::fprintf(stderr, "%s: server said: %s\n", kProgram, reply.str().c_str());
  }
  if (accepted) return EX_OK;
  if (refused > 0 && refused == message.GetNumRecipients(CMailMessage::TO)) {
    std::fprintf(stderr, "%s: not sent: every recipient was refused\n", kProgram);
    return refusedForNow ? EX_TEMPFAIL : EX_NOUSER;
  }
  failure.Print();
  return reply_class(failure.reply) == '5' ? EX_DATAERR : EX_TEMPFAIL;
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
    if (has || !value) return;
    has = true;
    target = *value;
  };
  take(options.hasCaFile, options.caFile, config.caFile);
  take(options.hasUser, options.user, config.user);
  take(options.hasFrom, options.from, config.from);
  if (!options.hasCharset && config.charset) {
    CMailMessage probe;
    if (!probe.SetCharset(config.charset->c_str())) {
      error = path + ": charset '" + *config.charset + "': not a charset name";
      return false;
    }
    take(options.hasCharset, options.charset, config.charset);
  }
  if (!options.hasTimeout && config.timeout) {
    options.hasTimeout = true;
    options.timeout = *config.timeout;
  }
  if (config.shortDialogue) options.shortDialogue = *config.shortDialogue;
  // The password given for this run, in the environment or by
  // --password-file, wins over the file's.
  if (!options.hasPasswordFile && config.passwordFile && !std::getenv(kPasswordVariable)) {
    options.hasPasswordFile = true;
    options.passwordFile = *config.passwordFile;
  }
  return true;
}

// Checks the connection options and reads the password; false with the
// reason for a usage error.
bool prepare_connection(Options& options, std::string& error) {
  if (options.startTls && options.implicitTls) {
    error = "give either --starttls or --tls, not both";
    return false;
  }
  if (options.hasCaFile && !options.startTls && !options.implicitTls) {
    error = "--cafile needs --starttls or --tls";
    return false;
  }
  if (options.hasCaFile && access(options.caFile.c_str(), R_OK) != 0) {
    error = "--cafile '" + options.caFile + "': " + std::strerror(errno);
    return false;
  }
  if (!options.hasPort && options.startTls) options.port = 587;
  if (!options.hasPort && options.implicitTls) options.port = 465;

  if (options.hasPasswordFile && !options.hasUser) {
    error = "--password-file needs --user";
    return false;
  }
  if (!options.hasUser) return true;
  if (options.hasPasswordFile) return read_password_file(options.passwordFile, options.password, error);
  if (const char* password = std::getenv(kPasswordVariable)) {
    options.password = password;
    return true;
  }
  error = std::string("--user needs a password: set ") + kPasswordVariable + " or give --password-file";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  options.sendmail = is_sendmail_call(argc, argv);
  if (options.sendmail) {
    usage_status = EX_USAGE;
    config_status = EX_CONFIG;
  }
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

  if (options.hasCharset) {
    CMailMessage probe;
    if (options.charset.empty() || !probe.SetCharset(options.charset.c_str()))
      return usage_error("--charset '" + options.charset + "': not a charset name");
  } else {
    options.charset = locale_charset();
  }
  // Paths are split as text of the same charset: a byte of "\\" inside a
  // character is no separator.
  if (const UINT nCodePage = AfxGetCharsetCodePage(options.charset.c_str())) AfxSetAnsiCodePage(nCodePage);
  if (!options.hasServer && !options.dryRun)
    return usage_error("missing --server HOST[:PORT] (or server in the configuration file)");
  if (!prepare_connection(options, error)) return usage_error(error);
  DialogueTrace trace(options.password);
  if (options.sendmail) return run_as_sendmail(options, trace);

  if (!options.hasFrom || trim(options.from).empty()) return usage_error("missing --from ADDRESS");
  if (options.from.find_first_of("\r\n") != std::string::npos)
    return usage_error("--from: the address must not contain a line break");
  // The sender goes unchanged into MAIL FROM as well as into the From line,
  // where a display name would make the command invalid.
  if (options.from.find_first_of("<>") != std::string::npos)
    return usage_error("--from '" + options.from + "': give the bare address, without a name or '<>'");
  Prepared prepared;
  if (!normalise_recipients("--to", options.to, prepared.to, error) ||
      !normalise_recipients("--cc", options.cc, prepared.cc, error) ||
      !normalise_recipients("--bcc", options.bcc, prepared.bcc, error))
    return usage_error(error);
  if (prepared.to.empty()) return usage_error("missing --to LIST (at least one recipient)");
  for (const std::string& path : options.attachments)
    if (!check_attachment(path, error)) return usage_error(error);

  std::string body = options.body;
  if (!options.hasBody && !read_all(stdin, body)) {
    std::fprintf(stderr, "%s: cannot read the body from standard input: %s\n", kProgram, std::strerror(errno));
    return 1;
  }
  // The same defaults as the one-call send, so both ways send the same text.
  prepared.subject = options.subject.empty() ? "Hello!" : options.subject;
  // The text agent makes the body's bare LF and CR line ends CR LF.
  prepared.body = body.empty() ? "Hello!" : body;

  if (options.dryRun) {
    CMIMEMessage message;
    build_message(options, prepared, message);
    // Written to the descriptor as it is formatted, so that an attachment
    // is never held whole in memory; nothing of stdio's is pending before.
    if (std::fflush(stdout) != 0) return 1;
    CFile out(STDOUT_FILENO);
    if (message.WriteMessage(out)) return 0;
    std::fprintf(stderr, "%s: cannot write the message to standard output\n", kProgram);
    return 1;
  }

  if (options.verbose) AfxSetSocketTrace(&DialogueTrace::Observe, &trace);
  int status = send(options, prepared);
  if (options.verbose) {
    AfxSetSocketTrace(nullptr, nullptr);
    trace.Finish();
  }
  return status;
}

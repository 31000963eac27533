// SPDX-License-Identifier: Apache-2.0
// Hostile line breaks in every text a caller hands the mail path: CR, LF,
// CR LF and a header fold inside the sender, the recipient addresses and
// names (To, Cc, Bcc; one at a time and as a ";" list), the subject, the
// mailer, the body, the attachment path and the parameters of a queued text
// part. Every case is sent to Debian's aiosmtpd, through a session (Connect,
// SendMessage, Disconnect) and through the one-call send, and the spool is
// then read with Python's email package: no command and no header line may
// appear that the caller did not ask for, the envelope holds exactly the
// intended recipients, and exactly one message is stored per accepted case.
#include "framework/core/string_array.h"
#include "mail/mail_message.h"
#include "mail/mime_message.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/smtp_client.h"
#include "tests/support/split.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace tarvenkel::test;

namespace {

enum class Path { Session, SessionMime, OneCall };
enum class Field {
  Sender,       // MAIL From and the From header
  Address,      // AddRecipient's address
  ListAddress,  // the address between "<" and ">" of an AddMultipleRecipients piece
  Name,         // AddRecipient's friendly name
  ListName,     // a whole AddMultipleRecipients piece with a hostile name part
  Subject,
  Mailer,
  Body,
  AttachmentName,  // the file name of an attached file
  AttachmentDir,   // a folder on the attached file's path
  TextParameters,  // the Content-Type parameters of a queued text part
};

const char* PathName(Path p) {
  switch (p) {
    case Path::Session: return "session";
    case Path::SessionMime: return "session-mime";
    case Path::OneCall: return "one-call";
  }
  return "?";
}

const char* FieldName(Field f) {
  switch (f) {
    case Field::Sender: return "sender";
    case Field::Address: return "address";
    case Field::ListAddress: return "list-address";
    case Field::Name: return "name";
    case Field::ListName: return "list-name";
    case Field::Subject: return "subject";
    case Field::Mailer: return "mailer";
    case Field::Body: return "body";
    case Field::AttachmentName: return "attachment-name";
    case Field::AttachmentDir: return "attachment-dir";
    case Field::TextParameters: return "text-parameters";
  }
  return "?";
}

const char* KindName(CMailMessage::RECIPIENTS_TYPE k) {
  return k == CMailMessage::TO ? "To" : k == CMailMessage::CC ? "Cc" : "Bcc";
}

struct Separator {
  const char* label;
  const char* text;
};
// A fold (CR LF and a blank) is a legitimate continuation in a header; it is
// tried too, since a value could use it to smuggle a header line after it.
const Separator kSeparators[] = {{"CRLF", "\r\n"}, {"LF", "\n"}, {"CR", "\r"}, {"fold", "\r\n "}};

// Payload templates; every "^" becomes the separator under test.
const std::vector<const char*> kAddressPayloads = {
    "ok@example.com^RCPT TO:<evil@example.com>",
    "ok@example.com^DATA^Subject: forged^^forged text^.^QUIT",
    "ok@example.com^",
};
// Closes the angle bracket first, so that the rest would form a command of its own.
const char* const kBracketPayload = "ok@example.com>^RCPT TO:<evil@example.com";
const std::vector<const char*> kHeaderPayloads = {
    "Pump 7^Bcc: evil@example.com",
    "Pump 7^X-Injected: yes",
    "Pump 7^Subject: forged",
    "Pump 7^Content-Type: text/html^^<b>spoofed body</b>",
    "Pump 7^",
    "Pump 7^^ Bcc: evil@example.com",
};
const std::vector<const char*> kListNamePayloads = {
    "Pump 7^Bcc: evil@example.com <ok@example.com>",
    "Pump 7^^X-Injected: yes <ok@example.com>",
    "Victim <ok@example.com>^RCPT TO:<evil@example.com>",
};
// Kept under the 76-character wrap width, so that the text part carries them unwrapped.
const std::vector<const char*> kBodyPayloads = {
    "ok^.^MAIL FROM:<a@b>^RCPT TO:<e@x>^DATA^Subject: x^^evil^.^QUIT",
    "Level 3^.^",
    "ok^--ZOLVANE_PaRt_BoUnDaRy_05151998^Content-Type: text/html^^<b>spoof</b>",
    ".^..^.QUIT",
};
const std::vector<const char*> kFileNamePayloads = {
    "report^Content-Disposition: inline^^<script>.txt",
    "report^X-Injected: yes.txt",
    "report.txt^^--ZOLVANE_PaRt_BoUnDaRy_05151998",
};
const std::vector<const char*> kFolderPayloads = {
    "logs^X-Injected: yes",
    "logs^Content-Disposition: inline",
};

const std::vector<const char*> kParameterPayloads = {
    "; charset=us-ascii^Content-Disposition: attachment; filename=evil.exe",
    "; charset=us-ascii^^spoofed text",
};

const char* const kAttachmentBytes = "pump log\n7.3 bar\n";

std::string Render(const std::string& tmpl, const std::string& sep) {
  std::string out;
  for (char c : tmpl) {
    if (c == '^') out += sep;
    else out += c;
  }
  return out;
}

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

// White space, CR and LF runs as one blank, none at either end: line breaks
// inside a header value become blanks and folds are unfolded, and this
// compares the words that arrive whatever the number of blanks between them.
std::string Collapse(const std::string& s) {
  std::string out;
  bool space = false;
  for (char c : s) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = true;
      continue;
    }
    if (space && !out.empty()) out += ' ';
    space = false;
    out += c;
  }
  return out;
}

// Body text with every line end as LF and no white space at its end: the
// data phase sends bare CR and LF as CR LF, and the text part loses the
// white space around it.
std::string NormalBody(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r') {
      out += '\n';
      if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
    } else {
      out += s[i];
    }
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

struct ExpectedPart {
  std::string type;
  std::string fileName;  // "-" for none
  std::string headerNames;
  std::string payload;
};

struct Case {
  int id = 0;
  Path path = Path::Session;
  Field field = Field::Subject;
  CMailMessage::RECIPIENTS_TYPE kind = CMailMessage::TO;
  std::string separator;
  std::string value;

  bool refused = false;
  std::vector<std::string> rcpts;
  // Name and value (compared after Collapse); no value: only the name is checked.
  std::vector<std::pair<std::string, std::optional<std::string>>> headers;
  std::vector<ExpectedPart> parts;

  std::string tag() const { return "case" + std::to_string(id) + "@example.com"; }
  std::string tagName() const { return "Case " + std::to_string(id); }
  std::string Describe() const {
    std::string d = "case " + std::to_string(id) + " " + PathName(path) + " " + FieldName(field);
    if (field == Field::Address || field == Field::ListAddress || field == Field::Name || field == Field::ListName)
      d += std::string(" ") + KindName(kind);
    return d + " " + separator + " \"" + Escape(value) + "\"";
  }
};

bool Mime(Path p) { return p != Path::Session; }

// One message as the server stored it, from describe_spool.py.
struct Stored {
  std::string stem;
  std::string from;
  std::vector<std::string> rcpts;
  std::vector<std::pair<std::string, std::string>> headers;
  std::vector<std::string> rawLines;
  int bareLineEnds = -1;
  std::vector<ExpectedPart> parts;
  std::vector<std::string> defects;
};

std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
  }
  return out;
}

std::vector<Stored> DescribeSpool(const std::string& spool) {
  const std::string text = RunPythonScript("tests/smtp/describe_spool.py", {spool});

  std::vector<Stored> stored;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    const std::vector<std::string> f = Split(text.substr(start, nl - start), "\t");
    const std::string& key = f[0];
    if (key.rfind("message ", 0) == 0) {
      stored.emplace_back();
      stored.back().stem = key.substr(8);
      continue;
    }
    if (stored.empty() || key == "end") continue;
    Stored& s = stored.back();
    if (key == "from" && f.size() == 2) s.from = Unescape(f[1]);
    else if (key == "rcpt" && f.size() == 2) s.rcpts.push_back(Unescape(f[1]));
    else if (key == "header" && f.size() == 3) s.headers.emplace_back(Unescape(f[1]), Unescape(f[2]));
    else if (key == "rawline" && f.size() == 2) s.rawLines.push_back(Unescape(f[1]));
    else if (key == "bare-eol" && f.size() == 2) s.bareLineEnds = std::stoi(f[1]);
    else if (key == "part" && f.size() == 4) s.parts.push_back({f[1], Unescape(f[2]), f[3], ""});
    else if (key == "payload" && f.size() == 2 && !s.parts.empty()) s.parts.back().payload = Unescape(f[1]);
    else if (key == "defect" && f.size() == 2) s.defects.push_back(f[1]);
    else throw std::runtime_error("unexpected line from describe_spool.py: " + text.substr(start, nl - start));
  }
  return stored;
}

std::size_t CountStored(const std::string& spool) {
  std::size_t n = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(spool, ec))
    if (entry.path().extension() == ".eml") ++n;
  return n;
}

class InjectionCases : public testing::Test {
protected:
  static void SetUpTestSuite() { s_server = new LocalSmtpServer(); }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }
  static LocalSmtpServer* s_server;

  // Expands the table: field x payload x separator x path (x recipient kind).
  std::vector<Case> BuildCases() {
    std::vector<Case> cases;
    const std::vector<Path> all = {Path::Session, Path::SessionMime, Path::OneCall};
    const std::vector<Path> sessions = {Path::Session, Path::SessionMime};
    const std::vector<Path> mime = {Path::SessionMime, Path::OneCall};
    const std::vector<CMailMessage::RECIPIENTS_TYPE> kinds = {CMailMessage::TO, CMailMessage::CC, CMailMessage::BCC};

    auto add = [&](Field field, const std::vector<const char*>& payloads, const std::vector<Path>& paths,
                   CMailMessage::RECIPIENTS_TYPE kind) {
      for (const char* payload : payloads)
        for (const Separator& sep : kSeparators)
          for (Path path : paths) {
            Case c;
            c.id = static_cast<int>(cases.size()) + 1;
            c.path = path;
            c.field = field;
            c.kind = kind;
            c.separator = sep.label;
            c.value = Render(payload, sep.text);
            cases.push_back(c);
          }
    };

    std::vector<const char*> senderPayloads = kAddressPayloads;
    senderPayloads.push_back(kBracketPayload);
    add(Field::Sender, senderPayloads, all, CMailMessage::TO);
    for (auto kind : kinds) {
      add(Field::Address, senderPayloads, sessions, kind);
      add(Field::ListAddress, kAddressPayloads, sessions, kind);
      add(Field::Name, kHeaderPayloads, sessions, kind);
      add(Field::ListName, kListNamePayloads, sessions, kind);
    }
    // The one-call send takes its recipients as a list of primary recipients.
    add(Field::ListAddress, kAddressPayloads, {Path::OneCall}, CMailMessage::TO);
    add(Field::ListName, kListNamePayloads, {Path::OneCall}, CMailMessage::TO);
    add(Field::Subject, kHeaderPayloads, all, CMailMessage::TO);
    add(Field::Mailer, kHeaderPayloads, sessions, CMailMessage::TO);
    add(Field::Body, kBodyPayloads, all, CMailMessage::TO);
    add(Field::AttachmentName, kFileNamePayloads, mime, CMailMessage::TO);
    add(Field::AttachmentDir, kFolderPayloads, mime, CMailMessage::TO);
    add(Field::TextParameters, kParameterPayloads, {Path::SessionMime}, CMailMessage::TO);

    for (Case& c : cases) SetExpectations(c);
    return cases;
  }

  // What the server should hold for the case.
  static void SetExpectations(Case& c) {
    std::string subject = "Pump 7 pressure high";
    std::string mailer = "Zolvane";
    std::string body = "Pressure 7.3 bar";
    std::string to = c.tagName() + (c.path == Path::OneCall ? " " : "") + "<" + c.tag() + ">";
    std::string cc;
    std::string fileName = "pump-log.txt";
    c.rcpts = {c.tag()};

    bool longName = false;
    auto addRecipient = [&](const std::string& name, const std::string& address) {
      // A name with characters an atom may not hold goes as a quoted string.
      const bool atom = name.find_first_of(":@<>\",.;()[]\\") == std::string::npos;
      std::string quoted;
      for (char ch : Collapse(name)) quoted += ch == '"' || ch == '\\' ? std::string("\\") + ch : std::string(1, ch);
      const std::string entry = (atom ? name : "\"" + quoted + "\" ") + "<" + address + ">";
      // A name too long to share a line with its address goes as
      // encoded-words; only the header's presence is checked then.
      std::string written = name;
      for (char& ch : written)
        if (ch == '\r' || ch == '\n') ch = ' ';
      const std::size_t first = written.find_first_not_of(" \t");
      const std::size_t shown = atom ? written.size()
                                     : first == std::string::npos ? 3
                                     : written.find_last_not_of(" \t") - first + 4;
      if (shown + address.size() + 4 >= 78) longName = true;
      if (c.kind == CMailMessage::TO) to += "," + entry;
      if (c.kind == CMailMessage::CC) cc += entry;
      c.rcpts.push_back(address);
    };

    switch (c.field) {
      case Field::Sender:
      case Field::Address:
      case Field::ListAddress:
        // An address with a line break would end the command line early.
        c.refused = true;
        return;
      case Field::Name:
        addRecipient(c.value, "ok@example.com");
        break;
      case Field::ListName: {
        // The list syntax: the name is what comes before the first "<", the
        // address what lies between it and the first ">"; the rest of the
        // piece is dropped.
        const std::size_t lt = c.value.find('<');
        const std::size_t gt = c.value.find('>');
        addRecipient(c.value.substr(0, lt), c.value.substr(lt + 1, gt - lt - 1));
        break;
      }
      case Field::Subject: subject = c.value; break;
      case Field::Mailer: mailer = c.value; break;
      case Field::Body: body = c.value; break;
      case Field::AttachmentName: fileName = c.value; break;
      case Field::AttachmentDir: fileName = "report.txt"; break;
      case Field::TextParameters: break;
    }

    const auto value = [&longName](const std::string& text) {
      return longName ? std::nullopt : std::optional<std::string>(text);
    };
    c.headers = {{"From", "alarm@example.com"}, {"To", value(to)}, {"Cc", value(cc)}, {"Date", std::nullopt},
                 {"Subject", subject},          {"X-Mailer", mailer}};
    if (Mime(c.path)) {
      c.headers.emplace_back("MIME-Version", "1.0");
      c.headers.emplace_back("Content-Type", std::nullopt);
      c.parts = {{"text/plain", "-", "Content-Type,Content-Transfer-Encoding", NormalBody(body)},
                 {"application/octet-stream", Collapse(fileName),
                  "Content-Type,Content-Transfer-Encoding,Content-Disposition", kAttachmentBytes}};
      if (c.field == Field::TextParameters)
        c.parts.insert(c.parts.begin() + 1, {"text/plain", "-", "Content-Type,Content-Transfer-Encoding", "Shift note"});
    } else {
      c.parts = {{"text/plain", "-", "-", NormalBody(body)}};
    }
    c.headers.emplace_back("Message-ID", std::nullopt);
  }

  // Sends the case; false when the library refused it.
  BOOL Send(const Case& c, CString& lastError) {
    const std::string sender = c.field == Field::Sender ? c.value : "alarm@example.com";
    std::string attachment;
    if (Mime(c.path)) {
      if (c.field == Field::AttachmentName) {
        attachment = m_files.file(c.value);
      } else if (c.field == Field::AttachmentDir) {
        std::filesystem::create_directories(m_files.file(c.value));
        attachment = m_files.file(c.value) + "/report.txt";
      } else {
        attachment = m_files.file("pump-log.txt");
      }
      WriteFile(attachment, kAttachmentBytes);
    }

    CSMTP smtp;
    Configure(smtp, {.port = s_server->port(), .timeout = 20, .sender = sender});

    if (c.path == Path::OneCall) {
      std::string recipients = c.tagName() + " <" + c.tag() + ">";
      if (c.field == Field::ListAddress) recipients += ";Victim <" + c.value + ">";
      if (c.field == Field::ListName) recipients += ";" + c.value;
      CStringArray files;
      files.Add(attachment.c_str());
      const BOOL sent = smtp.SendMessage(recipients.c_str(), c.field == Field::Body ? c.value.c_str() : "Pressure 7.3 bar",
                                         c.field == Field::Subject ? c.value.c_str() : "Pump 7 pressure high", &files);
      lastError = smtp.GetLastError();
      return sent;
    }

    std::unique_ptr<CMailMessage> msg;
    if (c.path == Path::SessionMime) {
      auto mimeMsg = std::make_unique<CMIMEMessage>();
      mimeMsg->AddMIMEPart(attachment.c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
      if (c.field == Field::TextParameters)
        mimeMsg->AddMIMEPart("Shift note", TEXT_PLAIN, c.value.c_str(), ENCODING_7BIT, FALSE);
      msg = std::move(mimeMsg);
    } else {
      msg = std::make_unique<CMailMessage>();
    }
    msg->m_sFrom = sender.c_str();
    msg->m_sSubject = c.field == Field::Subject ? c.value.c_str() : "Pump 7 pressure high";
    if (c.field == Field::Mailer) msg->m_sMailer = c.value.c_str();
    msg->m_sBody = c.field == Field::Body ? c.value.c_str() : "Pressure 7.3 bar";
    msg->AddRecipient(c.tag().c_str(), c.tagName().c_str(), CMailMessage::TO);
    if (c.field == Field::Address) msg->AddRecipient(c.value.c_str(), "Victim", c.kind);
    if (c.field == Field::Name) msg->AddRecipient("ok@example.com", c.value.c_str(), c.kind);
    if (c.field == Field::ListAddress) {
      EXPECT_EQ(msg->AddMultipleRecipients(("Victim <" + c.value + ">").c_str(), c.kind), 1) << c.Describe();
    }
    if (c.field == Field::ListName) {
      EXPECT_EQ(msg->AddMultipleRecipients(c.value.c_str(), c.kind), 1) << c.Describe();
    }

    EXPECT_TRUE(smtp.Connect()) << c.Describe() << ": " << smtp.GetLastError().str();
    const BOOL sent = smtp.SendMessage(msg.get());
    lastError = smtp.GetLastError();
    // QUIT is answered in step: nothing extra was sent that the server is
    // still replying to.
    EXPECT_TRUE(smtp.Disconnect()) << c.Describe() << ": " << smtp.GetLastError().str();
    return sent;
  }

  static void CheckStored(const Case& c, const Stored& s) {
    SCOPED_TRACE(c.Describe() + " stored as " + s.stem);
    EXPECT_EQ(s.from, "alarm@example.com");
    EXPECT_EQ(s.rcpts, c.rcpts);
    EXPECT_EQ(s.bareLineEnds, 0);
    EXPECT_TRUE(s.rawLines.empty()) << "header line of another shape: \"" << Escape(s.rawLines.front()) << "\"";
    EXPECT_TRUE(s.defects.empty()) << "parser defect " << s.defects.front();

    std::vector<std::string> names;
    for (const auto& h : s.headers) names.push_back(h.first);
    std::vector<std::string> expectedNames;
    for (const auto& h : c.headers) expectedNames.push_back(h.first);
    ASSERT_EQ(names, expectedNames);
    for (std::size_t i = 0; i < c.headers.size(); ++i) {
      if (c.headers[i].second) {
        // A long address line is folded after its commas.
        auto unfolded = [](std::string text) {
          for (std::size_t at; (at = text.find(", ")) != std::string::npos;) text.erase(at + 1, 1);
          return text;
        };
        EXPECT_EQ(unfolded(Collapse(s.headers[i].second)), unfolded(Collapse(*c.headers[i].second))) << names[i];
      }
    }
    if (Mime(c.path)) {
      const std::string& type = s.headers[s.headers.size() - 2].second;
      EXPECT_EQ(type.rfind("multipart/mixed; boundary=", 0), 0u) << type;
    }

    ASSERT_EQ(s.parts.size(), c.parts.size());
    for (std::size_t i = 0; i < c.parts.size(); ++i) {
      const ExpectedPart& want = c.parts[i];
      const ExpectedPart& got = s.parts[i];
      EXPECT_EQ(got.type, want.type) << "part " << i;
      EXPECT_EQ(Collapse(got.fileName), want.fileName) << "part " << i;
      EXPECT_EQ(got.headerNames, want.headerNames) << "part " << i;
      if (want.type == "text/plain") EXPECT_EQ(NormalBody(got.payload), want.payload) << "part " << i;
      else EXPECT_EQ(got.payload, want.payload) << "part " << i;
    }
  }

  TempDir m_files;
};

LocalSmtpServer* InjectionCases::s_server = nullptr;

TEST_F(InjectionCases, LineBreaksInCallerTextNeverAddCommandsHeadersOrMessages) {
  const std::string spool = s_server->spool() + "/spool";
  const std::vector<Case> cases = BuildCases();
  std::size_t delivered = 0;
  std::size_t refused = 0;
  for (const Case& c : cases) {
    const std::size_t before = CountStored(spool);
    CString lastError;
    const BOOL sent = Send(c, lastError);
    if (c.refused) {
      EXPECT_FALSE(sent) << c.Describe();
      EXPECT_EQ(lastError.str(), "Invalid address") << c.Describe();
      ++refused;
    } else {
      EXPECT_TRUE(sent) << c.Describe() << ": " << lastError.str();
      ++delivered;
    }
    EXPECT_EQ(CountStored(spool), before + (c.refused ? 0 : 1)) << c.Describe();
  }
  std::printf("injection cases: %zu (%zu delivered, %zu refused)\n", cases.size(), delivered, refused);

  // A message smuggled in by a late command would arrive after its case
  // ended; give it a moment to show up.
  EXPECT_EQ(s_server->Messages(delivered + 1, 300).size(), delivered);

  std::map<std::string, const Case*> byTag;
  for (const Case& c : cases)
    if (!c.refused) byTag[c.tag()] = &c;
  std::size_t matched = 0;
  for (const Stored& s : DescribeSpool(spool)) {
    auto it = s.rcpts.empty() ? byTag.end() : byTag.find(s.rcpts.front());
    if (it == byTag.end()) {
      ADD_FAILURE() << "a message no case sent: " << s.stem << " for " << (s.rcpts.empty() ? "-" : s.rcpts.front());
      continue;
    }
    CheckStored(*it->second, s);
    byTag.erase(it);
    ++matched;
  }
  EXPECT_EQ(matched, delivered);
  EXPECT_TRUE(byTag.empty()) << byTag.size() << " accepted cases left nothing in the spool";
}

}  // namespace

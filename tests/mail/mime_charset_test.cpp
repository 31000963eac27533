// SPDX-License-Identifier: Apache-2.0
// 8-bit texts as readers decode them: the same alarm from a GBK host and
// from a UTF-8 host, read back by Python's email package and by MIME-tools;
// line ends, the plain message's body, the host's charset, long address lines.
#include "mail/mime_message.h"

#include "framework/core/code_page.h"
#include "tests/support/literal_wrap.h"
#include "tests/support/mime_words.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tarvenkel::test;

// Puts the ANSI code page back when a test ends.
class CodePage {
public:
  explicit CodePage(UINT nCodePage) : m_nSaved(AfxGetAnsiCodePage()) { AfxSetAnsiCodePage(nCodePage); }
  ~CodePage() { AfxSetAnsiCodePage(m_nSaved); }

private:
  UINT m_nSaved;
};

// The UTF-8 text as a host with the charset holds it.
CString Host(const std::string& utf8, const char* charset) {
  std::string text;
  EXPECT_TRUE(Convert(utf8, "UTF-8", charset, text)) << utf8;
  return CString(std::string_view(text));
}

// A JSON string as Python's json.dumps(ensure_ascii=False) writes one
// without quotes or backslashes inside: line ends as \n.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out + "\"";
}

// The text without its CR bytes.
std::string WithoutCr(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The header field's whole line, folds included.
std::string Field(const std::string& header, const std::string& name) {
  std::size_t at = header.rfind(name + ": ", 0) == 0 ? 0 : header.find("\r\n" + name + ": ");
  if (at == std::string::npos) return std::string();
  if (at > 0) at += 2;
  std::size_t end = at;
  while ((end = header.find("\r\n", end)) != std::string::npos && end + 2 < header.size() && header[end + 2] == ' ')
    end += 2;
  return header.substr(at, end - at);
}

class ChineseAlarm : public ::testing::TestWithParam<HostCharset> {};

TEST_P(ChineseAlarm, EveryTextDecodesToWhatTheHostMeantInTwoReaders) {
  const HostCharset host = GetParam();
  CodePage codePage(host.nCodePage);
  const char* cs = host.szCharset;
  TempDir dir;
  std::mt19937 rng(7);
  std::string bytes(3000, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  // 淺 has the GBK bytes B2 5C: its second byte is "\" and must not split the path.
  const std::vector<std::string> names = {"报警日志.txt", "淺.txt"};
  for (const std::string& name : names) WriteFile(dir.file(Host(name, cs).str()), bytes);

  std::string paragraph;
  for (int i = 0; i < 60; ++i) paragraph += "三号厅压力过高，请检查。";  // 720 characters without a blank
  const std::string body = "报警：三号厅压力 5.4 bar\nLimit: 4.0 bar\nTime: 2024-05-01 12:00:00\n" + paragraph;
  CMIMEMessage m;
  m.m_sFrom = "alarm@plant.example";
  m.m_sSubject = Host("报警：三号厅压力过高", cs);
  m.m_sMailer = Host("报警台 2.0", cs);
  m.AddMultipleRecipients(Host("值班员 <duty@example.test>;ops@plant.example", cs), CMailMessage::TO);
  m.AddRecipient("maint@example.test", Host("维修组", cs), CMailMessage::CC);
  m.m_sBody = Host(body, cs);
  for (const std::string& name : names) m.AddMIMEPart(dir.file(Host(name, cs).str()).c_str());
  m.FormatMessage();
  ASSERT_TRUE(m.GetFailedParts().IsEmpty());
  WriteFile(dir.file("message.eml"), m.m_sHeader.str() + m.m_sBody.str());
  EXPECT_NE(m.m_sHeader.Find(CString("Subject: =?") + cs + "?B?"), -1) << m.m_sHeader.str();

  // The text as the wrap of 76 leaves it, which breaks at blanks only: the
  // long paragraph stays whole, and an earlier line may be broken again at
  // its last blank.
  const CString hostBody = Host(body, cs);
  std::string crlf;
  for (char c : hostBody.str()) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  std::string shown;
  ASSERT_TRUE(Convert(tarvenkel::test::LiteralWrap(crlf.c_str(), 76), cs, "UTF-8", shown));
  shown = WithoutCr(shown);
  std::vector<std::string> python =
      Lines(RunPythonScript("tests/mail/read_mail.py", {dir.file("message.eml"), dir.path()}));
  const std::vector<std::string> expected = {
      "defects 0",
      "subject " + Json("报警：三号厅压力过高"),
      "mailer " + Json("报警台 2.0"),
      "to " + Json("值班员") + " \"duty@example.test\"",
      "to \"\" \"ops@plant.example\"",
      "cc " + Json("维修组") + " \"maint@example.test\"",
      std::string("part text/plain ") + (host.nCodePage == 936 ? "gbk" : "utf-8") + " null " + Json(shown),
      "part application/octet-stream - " + Json(names[0]) + " -",
      "part application/octet-stream - " + Json(names[1]) + " -",
  };
  ASSERT_GE(python.size(), 3u);
  const int longest = std::stoi(python[0].substr(8));
  // The header's own complaints may name only the older form of the file
  // name and its second spelling of the parameter.
  std::string complaints = python[2].substr(15);
  for (const char* allowed :
       {"\"Content-Disposition: duplicate parameter name; duplicate ignored\"",
        "\"Content-Disposition: encoded word inside quoted string\"",
        "\"Content-Disposition: missing trailing whitespace after encoded-word\"",
        "\"Content-Type: encoded word inside quoted string\"",
        "\"Content-Type: missing trailing whitespace after encoded-word\""})
    if (std::size_t at = complaints.find(allowed); at != std::string::npos) complaints.erase(at, std::strlen(allowed));
  EXPECT_EQ(complaints.find_first_not_of("[], "), std::string::npos) << python[2];
  python.erase(python.begin() + 2);
  EXPECT_LT(longest, 1000);
  EXPECT_LE(longest, 78);
  EXPECT_TRUE(std::vector<std::string>(python.begin() + 1, python.end()) == expected) << python.size();
  for (std::size_t i = 0; i + 1 < python.size() && i < expected.size(); ++i)
    EXPECT_TRUE(python[i + 1] == expected[i]) << "Python, line " << i + 1 << ": " << python[i + 1].substr(0, 300);
  EXPECT_TRUE(ReadFile(dir.file("1.bin")) == bytes);
  EXPECT_TRUE(ReadFile(dir.file("2.bin")) == bytes);

  const ProcessResult run = RunProcess({"perl", SourcePath("tests/mail/read_mail.pl"), dir.file("message.eml"), dir.path()});
  ASSERT_EQ(run.status, 0) << run.Describe();
  const std::string& perl = run.out;
  std::string perlBody = shown;
  for (std::size_t pos; (pos = perlBody.find('\n')) != std::string::npos;) perlBody.replace(pos, 1, "\\n");
  EXPECT_TRUE(Lines(perl) == (std::vector<std::string>{
                             "subject 报警：三号厅压力过高",
                             "to 值班员 <duty@example.test>,<ops@plant.example>",
                             "part text/plain -",
                             "text " + perlBody,
                             "part application/octet-stream " + names[0],
                             "part application/octet-stream " + names[1],
                         }))
      << perl.substr(0, 600);
  EXPECT_TRUE(ReadFile(dir.file("2.bin")) == bytes);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ChineseAlarm,
                         ::testing::Values(HostCharset{936, "GBK"}, HostCharset{CP_UTF8, "UTF-8"}),
                         [](const auto& info) { return info.param.nCodePage == 936 ? "Gbk" : "Utf8"; });

// The text part of a message with the body alone, as a string.
std::string TextPart(const std::string& body) {
  CMIMEMessage m;
  m.AddRecipient("a@example.test");
  m.m_sBody = CString(std::string_view(body));
  m.FormatMessage();
  return m.m_sBody.str();
}

TEST(TextLineEnds, BareLfAndBareCrWrapAsCrLfDoes) {
  const std::vector<std::string> texts = {
      "Pump 3 pressure above the limit for more than ten minutes, please check.\nLimit: 4.0 bar\nTime: "
      "2024-05-01 12:00:00",
      "one\n\ntwo words that run on for quite a while so that the wrap has to break them somewhere\n",
      "\nstarts with a line end and ends with two\n\n",
  };
  for (const std::string& lf : texts) {
    std::string crlf, cr;
    for (char c : lf) {
      crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
      cr += c == '\n' ? '\r' : c;
    }
    EXPECT_EQ(TextPart(lf), TextPart(crlf));
    EXPECT_EQ(TextPart(cr), TextPart(crlf));
  }
  EXPECT_NE(TextPart(texts[0]).find("\r\nTime: 2024-05-01 12:00:00"), std::string::npos) << TextPart(texts[0]);
}

TEST(PlainMessageBody, EncodedOnlyWhenEightBitOrOverLong) {
  CodePage codePage(936);
  struct Case {
    std::string body;
    const char* contentType;  // nullptr: no MIME lines at all
  };
  const std::vector<Case> cases = {
      {"Pump 3 pressure above limit\r\n", nullptr},
      {"\xD1\xB9\xC1\xA6\n5.4 bar", "Content-Type: text/plain; charset=GBK"},
      {std::string(1200, 'x'), "Content-Type: text/plain"},
  };
  for (const Case& c : cases) {
    CMailMessage m;
    m.AddRecipient("a@example.test");
    m.m_sBody = CString(std::string_view(c.body));
    m.FormatMessage();
    const std::string header = m.m_sHeader.str();
    if (c.contentType == nullptr) {
      EXPECT_EQ(header.find("MIME-Version"), std::string::npos);
      EXPECT_EQ(m.m_sBody.str(), c.body);
      continue;
    }
    std::string lines = "MIME-Version: 1.0\r\n";
    lines += c.contentType;
    lines += "\r\nContent-Transfer-Encoding: base64\r\n";
    EXPECT_NE(header.find(lines), std::string::npos) << header;
    std::string encoded = m.m_sBody.str();
    for (const std::string& line : Lines(encoded)) EXPECT_LE(line.size(), 77u);
    for (std::size_t pos; (pos = encoded.find("\r\n")) != std::string::npos;) encoded.erase(pos, 2);
    std::string decoded(encoded.size() + 1, '\0');
    CBase64 decoder;
    decoded.resize(static_cast<std::size_t>(decoder.Decode(encoded.c_str(), decoded.data())));
    std::string expected;
    for (std::size_t i = 0; i < c.body.size(); ++i) {
      if (c.body[i] == '\n' && (i == 0 || c.body[i - 1] != '\r')) expected += '\r';
      expected += c.body[i];
    }
    EXPECT_EQ(decoded, expected);
  }
}

TEST(MessageCharset, TheHostsLabelWinsAndBadNamesAreRefused) {
  CodePage codePage(936);
  CMIMEMessage m;
  EXPECT_EQ(m.GetCharset(), "GBK");
  EXPECT_FALSE(m.SetCharset("UTF 8"));
  EXPECT_FALSE(m.SetCharset("utf-8?"));
  EXPECT_TRUE(m.SetCharset("UTF-8"));
  EXPECT_EQ(m.GetCharset(), "UTF-8");
  m.AddRecipient("a@example.test");
  m.m_sSubject = "报警";
  m.m_sBody = "压力";
  m.AddMIMEPart("压力过高", TEXT_PLAIN, "; charset=\"Big5\"", ENCODING_7BIT, FALSE);
  m.FormatMessage();
  EXPECT_NE(m.m_sHeader.Find("Subject: =?UTF-8?B?5oql6K2m?="), -1) << m.m_sHeader.str();
  EXPECT_NE(m.m_sBody.Find("Content-Type: text/plain; charset=UTF-8\r\n"), -1) << m.m_sBody.str();
  EXPECT_NE(m.m_sBody.Find("Content-Type: text/plain; charset=\"Big5\"\r\n"), -1) << m.m_sBody.str();
  EXPECT_EQ(m.m_sBody.Find("Big5\"; charset"), -1);
}

TEST(AddressLines, OnlyLinesOver78AreFoldedAfterCommas) {
  for (int count : {1, 10, 40}) {
    CMailMessage m;
    std::string list;
    for (int i = 0; i < count; ++i) {
      if (i > 0) list += ";";
      list += "Operator number " + std::to_string(i) + " <operator." + std::to_string(i) + "@plant.example>";
    }
    m.AddMultipleRecipients(list.c_str(), CMailMessage::CC);
    m.FormatMessage();
    CString address, name, joined;
    for (int i = 0; i < count; ++i) {
      m.GetRecipient(address, name, i, CMailMessage::CC);
      joined += (i > 0 ? "," : "") + name + "<" + address + ">";
    }
    const std::string line = Field(m.m_sHeader.str(), "Cc");
    const std::string plain = "Cc: " + joined.str();
    if (plain.size() <= 78) {
      EXPECT_EQ(line, plain);
      continue;
    }
    std::string unfolded = line;
    for (std::size_t pos; (pos = unfolded.find(",\r\n ")) != std::string::npos;) unfolded.erase(pos + 1, 3);
    EXPECT_EQ(unfolded, plain);
    for (const std::string& physical : Lines(line)) EXPECT_LE(physical.size(), 79u) << physical;  // with its CR
  }
}

// Sets LC_ALL and forgets the host's code page for a test's length.
class LocaleEnvironment {
public:
  LocaleEnvironment() : m_bHad(std::getenv("LC_ALL") != nullptr), m_sSaved(m_bHad ? std::getenv("LC_ALL") : "") {
    AfxSetAnsiCodePage(0);
  }
  ~LocaleEnvironment() {
    if (m_bHad) setenv("LC_ALL", m_sSaved.c_str(), 1);
    else unsetenv("LC_ALL");
    AfxSetAnsiCodePage(0);
  }
  void Set(const char* szLocale) { setenv("LC_ALL", szLocale, 1); }

private:
  bool m_bHad;
  std::string m_sSaved;
};

TEST(DefaultCharset, FollowsTheLocaleUnlessTheHostChoseOne) {
  LocaleEnvironment environment;
  const std::pair<const char*, const char*> cases[] = {
      {"C.UTF-8", "UTF-8"},         {"C", "GBK"},           {"POSIX", "GBK"},
      {"zh_CN.GB18030", "GB18030"}, {"zh_CN.gbk", "GBK"},
      {"zh_CN.GB2312", "GBK"},      {"en_US.ISO-8859-1", "GBK"},  {"de_DE.utf8@euro", "UTF-8"},
  };
  for (const auto& [locale, charset] : cases) {
    environment.Set(locale);
    CMailMessage m;
    EXPECT_EQ(m.GetCharset(), charset) << locale;
  }
  // A locale the process set wins over the environment's.
  environment.Set("C");
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(CMailMessage().GetCharset(), "UTF-8");
  std::setlocale(LC_CTYPE, "C");
  // SetCharset and a code page the host set win over the locale.
  environment.Set("C.UTF-8");
  CMailMessage m;
  ASSERT_TRUE(m.SetCharset("GB18030"));
  EXPECT_EQ(m.GetCharset(), "GB18030");
  AfxSetAnsiCodePage(936);
  EXPECT_EQ(CMailMessage().GetCharset(), "GBK");
}

TEST(DefaultCharset, TextNotValidInItsLabelIsNamedByTheCheck) {
  LocaleEnvironment environment;
  environment.Set("C.UTF-8");
  TempDir dir;
  const std::string gbkName = "\xD6\xB5\xB0\xE0";  // 值班 in GBK: not UTF-8
  const std::string attachment = dir.file("\xB1\xA8.txt");
  WriteFile(attachment, "log");
  {
    // Under a UTF-8 locale, text that is not UTF-8 is labelled GBK, and so is valid.
    CMIMEMessage m;
    m.m_sSubject = "报警";
    m.AddRecipient("duty@example.test", gbkName.c_str());
    m.m_sBody = "压力过高";
    m.FormatMessage();
    EXPECT_NE(m.m_sHeader.Find("Subject: =?UTF-8?B?"), -1) << m.m_sHeader.str();
    EXPECT_NE(m.m_sHeader.Find("To: =?GBK?B?1rWw4A==?= <duty@example.test>"), -1) << m.m_sHeader.str();
    CString text, charset;
    EXPECT_TRUE(m.CheckCharset(text, charset)) << text.str();
  }
  // A charset the host set is used for every text; the check names the first that is not valid in it.
  struct Case {
    const char* field;
    const char* named;
  };
  const Case cases[] = {
      {"", ""},
      {"subject", "the subject"},
      {"name", "the name of duty@example.test"},
      {"body", "the body"},
      {"text", "text part 1"},
      {"file", nullptr},
  };
  for (const Case& c : cases) {
    CMIMEMessage m;
    ASSERT_TRUE(m.SetCharset("UTF-8"));
    const std::string field = c.field;
    m.m_sSubject = field == "subject" ? gbkName.c_str() : "报警";
    m.AddRecipient("duty@example.test", field == "name" ? gbkName.c_str() : "值班员");
    m.m_sBody = field == "body" ? gbkName.c_str() : "压力过高";
    m.AddMIMEPart(field == "text" ? gbkName.c_str() : "正文", TEXT_PLAIN, "", ENCODING_7BIT, FALSE);
    if (field == "file") m.AddMIMEPart(attachment.c_str());
    CString text("unchanged"), charset;
    const std::string expected = c.named != nullptr ? c.named : "the file name of " + attachment;
    EXPECT_EQ(m.CheckCharset(text, charset), field.empty() ? TRUE : FALSE) << field;
    EXPECT_EQ(text.str(), field.empty() ? "unchanged" : expected);
    if (!field.empty()) {
      EXPECT_EQ(charset, "UTF-8");
    }
  }
}

}  // namespace

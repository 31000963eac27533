// SPDX-License-Identifier: Apache-2.0
// What recipients see: each message is read back by Python's email package
// (policy default) and by GMime 3, for a GBK and a UTF-8 host. Names with the
// characters of address syntax, long texts, Chinese and ASCII mixed in one
// subject, and ASCII text that looks like an encoded-word.
#include "mail/mime_message.h"

#include "framework/core/code_page.h"
#include "tests/support/mime_words.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

using tarvenkel::test::Convert;
using tarvenkel::test::HostCharset;
using tarvenkel::test::RunPythonScript;
using tarvenkel::test::TempDir;
using tarvenkel::test::WriteFile;

class Readers : public ::testing::TestWithParam<HostCharset> {
protected:
  void SetUp() override { AfxSetAnsiCodePage(GetParam().nCodePage); }
  void TearDown() override { AfxSetAnsiCodePage(0); }

  // The UTF-8 text as the host holds it.
  CString Host(const std::string& utf8) {
    std::string text;
    EXPECT_TRUE(Convert(utf8, "UTF-8", GetParam().szCharset, text)) << utf8;
    return CString(std::string_view(text));
  }

  // A message from alarm@plant.example with the subject and body "Pump 3".
  static void Fill(CMIMEMessage& m, const CString& subject) {
    m.m_sFrom = "alarm@plant.example";
    m.m_sSubject = subject;
    m.m_sBody = "Pump 3";
  }

  // Formats the message into the folder; its bytes.
  std::string Write(CMIMEMessage& m) {
    m.FormatMessage();
    const std::string wire = m.m_sHeader.str() + m.m_sBody.str();
    WriteFile(m_dir.file("message.eml"), wire);
    return wire;
  }

  // The lines Python's reader prints for the message written last.
  std::vector<std::string> Python() {
    return Lines(RunPythonScript("tests/mail/read_mail.py", {m_dir.file("message.eml"), m_dir.path()}));
  }

  // The lines GMime's reader prints; empty when it is not built.
  std::vector<std::string> Gmime() {
#ifdef TARVENKEL_GMIME_READER
    const std::string command =
        std::string("ASAN_OPTIONS=detect_leaks=0 '") + TARVENKEL_GMIME_READER + "' '" + m_dir.file("message.eml") + "'";
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    EXPECT_NE(p, nullptr);
    if (p == nullptr) return {};
    char buf[4096];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    return Lines(out);
#else
    ADD_FAILURE() << "GMime 3 (libgmime-3.0-dev) was not found when the tests were built";
    return {};
#endif
  }

  // The lines of the output that start with the word and a blank.
  static std::vector<std::string> Only(const std::vector<std::string>& lines, const std::string& word) {
    std::vector<std::string> out;
    for (const std::string& line : lines)
      if (line.rfind(word + " ", 0) == 0) out.push_back(line);
    return out;
  }

  // A JSON string as Python's json.dumps(ensure_ascii=False) writes it.
  static std::string Json(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    return out + "\"";
  }

  // The length of the longest line of the bytes, without its CR LF.
  static std::size_t Longest(const std::string& wire) {
    std::size_t longest = 0, start = 0;
    for (std::size_t end; (end = wire.find("\r\n", start)) != std::string::npos; start = end + 2)
      longest = std::max(longest, end - start);
    return longest;
  }

  TempDir m_dir;

private:
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_P(Readers, SeeTheRecipientsOfTheEnvelopeWithTheirNames) {
  struct Recipient {
    const char* name;  // UTF-8
    const char* address;
    CMailMessage::RECIPIENTS_TYPE kind;
  };
  const std::vector<Recipient> recipients = {
      {"Doe, John", "j@example.org", CMailMessage::TO},
      {"boss@corp.example, Ops", "ops@example.org", CMailMessage::TO},
      {"x@evil.example", "real@example.org", CMailMessage::TO},
      {"Say \"hi\" <now>", "q@example.org", CMailMessage::TO},
      {"C:\\alarms\\", "b@example.org", CMailMessage::TO},
      {"Ops Desk", "desk@example.org", CMailMessage::TO},
      {"J. R. (night)", "night@example.org", CMailMessage::TO},
      {"", "bare@example.org", CMailMessage::TO},
      {"值班员, 张三", "duty@example.org", CMailMessage::CC},
      {"报警 \"A\" <x@y>", "a@example.org", CMailMessage::CC},
      {"Ops 值班\\2", "c@example.org", CMailMessage::CC},
  };
  CMIMEMessage m;
  Fill(m, "Pump 3");
  for (const Recipient& r : recipients) m.AddRecipient(r.address, Host(r.name), r.kind);
  Write(m);
  std::vector<std::string> python, gmime;
  for (const Recipient& r : recipients) {
    const std::string kind = r.kind == CMailMessage::TO ? "to" : "cc";
    python.push_back(kind + " " + Json(r.name) + " " + Json(r.address));
    gmime.push_back(kind + " " + r.name + " <" + r.address + ">");
  }
  const std::vector<std::string> seenByPython = Python(), seenByGmime = Gmime();
  std::vector<std::string> pythonTo = Only(seenByPython, "to"), gmimeTo = Only(seenByGmime, "to");
  for (const std::string& line : Only(seenByPython, "cc")) pythonTo.push_back(line);
  for (const std::string& line : Only(seenByGmime, "cc")) gmimeTo.push_back(line);
  EXPECT_EQ(pythonTo, python) << m.m_sHeader.str();
  EXPECT_EQ(gmimeTo, gmime) << m.m_sHeader.str();
}

TEST_P(Readers, LongTextsAreFoldedWithin78AndArriveWhole) {
  for (const std::size_t length : {1000u, 5000u}) {
    for (const bool blanks : {true, false}) {
      for (const bool chinese : {false, true}) {
        // Words of seven characters, or one run; Chinese characters count one each.
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
          text += blanks && i % 8 == 7 && i + 1 < length ? " " : chinese ? (i % 3 == 0 ? "压" : "力") : i % 2 ? "b" : "a";
        CMIMEMessage m;
        Fill(m, Host(text));
        m.m_sFrom = Host(text + " <alarm@plant.example>");
        m.AddRecipient("duty@example.org", Host(text), CMailMessage::TO);
        const std::string wire = Write(m);
        const std::string what = std::to_string(length) + (blanks ? " with blanks" : " without") +
                                 (chinese ? ", Chinese" : ", ASCII");
        // Folded at blanks, or encoded where a run has none: within 78, so within 998.
        EXPECT_LE(Longest(wire), 78u) << what;
        const std::vector<std::string> python = Python(), gmime = Gmime();
        EXPECT_EQ(Only(python, "subject"), std::vector<std::string>{"subject " + Json(text)}) << what;
        // Python's address parser shows a blank between the encoded-words
        // of a long name: the name is compared without blanks there.
        std::vector<std::string> to = Only(python, "to");
        for (std::string& line : to) std::erase(line, ' ');
        std::string solid = "to" + Json(text) + "\"duty@example.org\"";
        std::erase(solid, ' ');
        EXPECT_EQ(to, std::vector<std::string>{solid}) << what;
        EXPECT_EQ(Only(gmime, "subject"), std::vector<std::string>{"subject " + text}) << what;
        EXPECT_EQ(Only(gmime, "from"), std::vector<std::string>{"from " + text + " <alarm@plant.example>"}) << what;
        EXPECT_EQ(Only(gmime, "to"), std::vector<std::string>{"to " + text + " <duty@example.org>"}) << what;
      }
    }
  }
}

TEST_P(Readers, DecodeSubjectsOfChineseAndAsciiExactly) {
  const std::vector<std::string> subjects = {
      "报警：三号厅压力过高，详情见附件",
      "Pump 3 报警：压力 5.4 bar，详情见附件",
      "a报警三号厅压力过高请检查阀门和日志详情见附件报警三号厅压力过高请检查阀门和日志详情见附件",
      "ab报警三号厅压力过高请检查阀门和日志详情见附件 x 报警三号厅压力过高请检查阀门和日志详情见附件 y",
      "报警 Pump 3 pressure above the limit for ten minutes 压力过高，请检查阀门和日志。详情见附件",
  };
  for (const std::string& subject : subjects) {
    CMIMEMessage m;
    Fill(m, Host(subject));
    m.AddRecipient("duty@example.org");
    Write(m);
    EXPECT_EQ(Only(Python(), "subject"), std::vector<std::string>{"subject " + Json(subject)}) << m.m_sHeader.str();
    EXPECT_EQ(Only(Gmime(), "subject"), std::vector<std::string>{"subject " + subject}) << m.m_sHeader.str();
  }
}

TEST_P(Readers, SeeEncodedWordLookAlikesAsTheyWereWritten) {
  const std::string lookAlike = "=?UTF-8?B?SGFja2Vk?=";
  const std::string fileName = "=?UTF-8?B?ZXZpbC5leGU=?=.txt";
  WriteFile(m_dir.file(fileName), "log");
  for (const std::string& subject :
       std::vector<std::string>{lookAlike, "Re: " + lookAlike + " and =?GBK?Q?x?=", "x=?UTF-8?Q?y?=z"}) {
    CMIMEMessage m;
    Fill(m, CString(std::string_view(subject)));
    m.AddRecipient("duty@example.org", CString(std::string_view(lookAlike)));
    m.AddMIMEPart(m_dir.file(fileName).c_str());
    Write(m);
    const std::vector<std::string> python = Python(), gmime = Gmime();
    EXPECT_EQ(Only(python, "subject"), std::vector<std::string>{"subject " + Json(subject)});
    EXPECT_EQ(Only(python, "to"), std::vector<std::string>{"to " + Json(lookAlike) + " \"duty@example.org\""});
    EXPECT_EQ(Only(python, "part").back(), "part application/octet-stream - " + Json(fileName) + " -");
    EXPECT_EQ(Only(gmime, "subject"), std::vector<std::string>{"subject " + subject});
    EXPECT_EQ(Only(gmime, "to"), std::vector<std::string>{"to " + lookAlike + " <duty@example.org>"});
    EXPECT_EQ(Only(gmime, "part").back(), "part application/octet-stream " + fileName);
  }
}

INSTANTIATE_TEST_SUITE_P(Hosts, Readers,
                         ::testing::Values(HostCharset{936, "GBK"}, HostCharset{CP_UTF8, "UTF-8"}),
                         [](const auto& info) { return info.param.nCodePage == 936 ? "Gbk" : "Utf8"; });

}  // namespace

// SPDX-License-Identifier: Apache-2.0
#include "mail/mail_message.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <regex>
#include <set>
#include <string>

namespace {

using ::testing::MatchesRegex;

// Formats the message and splits its header at CR LF; the final empty line
// is the last element.
std::vector<std::string> HeaderLines(CMailMessage& m) {
  m.FormatMessage();
  std::vector<std::string> lines;
  const std::string& h = m.m_sHeader.str();
  std::size_t start = 0;
  for (std::size_t pos; (pos = h.find("\r\n", start)) != std::string::npos; start = pos + 2)
    lines.push_back(h.substr(start, pos - start));
  EXPECT_EQ(start, h.size()) << "header does not end in CR LF";
  return lines;
}

const char* kDatePattern =
    "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    "[0-9][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [+-][0-9][0-9][0-5][0-9]";
// The line every formatted message ends its header with.
const char* kMessageIdPattern = "Message-ID: <[0-9]+\\.[0-9]{6}\\.[0-9]+\\.[0-9]+\\.[0-9a-f]{16}@[^ <>]+>";

TEST(MailHeader, BlockIsByteForByteWithDateByPattern) {
  CMailMessage m;
  m.m_sFrom = "alarm@plant.example";
  m.m_sSubject = "Pump 3 pressure";
  m.AddRecipient("ops@plant.example", "", CMailMessage::TO);
  const auto lines = HeaderLines(m);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[0], "From: alarm@plant.example");
  EXPECT_EQ(lines[1], "To: <ops@plant.example>");
  EXPECT_EQ(lines[2], "Cc: ");
  EXPECT_THAT(lines[3], MatchesRegex(kDatePattern));
  EXPECT_EQ(lines[4], "Subject: Pump 3 pressure");
  EXPECT_EQ(lines[5], "X-Mailer: Zolvane");
  EXPECT_THAT(lines[6], MatchesRegex(kMessageIdPattern));
  EXPECT_EQ(lines[7], "");
}

TEST(MailHeader, DateUsesNumericOffsetAndEnglishNamesInAnyZone) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "CST-8", 1);
  tzset();
  CMailMessage m;
  const auto lines = HeaderLines(m);
  EXPECT_THAT(lines[3], MatchesRegex(std::string(kDatePattern)));
  EXPECT_EQ(lines[3].substr(lines[3].size() - 5), "+0800");
  setenv("TZ", "NST+05:30", 1);
  tzset();
  EXPECT_EQ(HeaderLines(m)[3].substr(lines[3].size() - 5), "-0530");
  if (old) setenv("TZ", saved.c_str(), 1);
  else unsetenv("TZ");
  tzset();
  // The time in the line is the moment the header was prepared.
  EXPECT_NE(m.m_tDateTime.GetTime(), 0);
}

TEST(MailHeader, RecipientListsJoinEntriesAndLeaveOutBcc) {
  CMailMessage m;
  ASSERT_EQ(m.AddMultipleRecipients("Ops Desk <ops@x>;a2@x", CMailMessage::TO), 1);
  m.AddRecipient("c1@x", "C One", CMailMessage::CC);
  m.AddRecipient("c2@x", "", CMailMessage::CC);
  m.AddRecipient("hidden@x", "Hidden", CMailMessage::BCC);
  const auto lines = HeaderLines(m);
  EXPECT_EQ(lines[1], "To: Ops Desk <ops@x>,<a2@x>");
  EXPECT_EQ(lines[2], "Cc: C One<c1@x>,<c2@x>");
  EXPECT_EQ(m.m_sHeader.Find("hidden"), -1);
  EXPECT_EQ(m.GetNumRecipients(CMailMessage::BCC), 1);
}

TEST(MailHeader, LineBreaksInValuesCannotStartNewHeaderLines) {
  CMailMessage m;
  m.m_sFrom = "a@x\r\nBcc: victim@y";
  m.m_sSubject = "one\nInjected: 1\rTwo";
  m.m_sMailer = "M\r\n\tfolded\r\n continued";
  m.AddRecipient("b@x>\r\nX-Evil: 1", "N", CMailMessage::TO);
  const auto lines = HeaderLines(m);
  ASSERT_EQ(lines.size(), 10u);  // six lines, two kept fold continuations, the Message-ID, the empty line
  EXPECT_EQ(lines[0], "From: a@x  Bcc: victim@y");
  EXPECT_EQ(lines[1], "To: N<b@x>  X-Evil: 1>");
  EXPECT_EQ(lines[4], "Subject: one Injected: 1 Two");
  EXPECT_EQ(lines[5], "X-Mailer: M");
  EXPECT_EQ(lines[6], "\tfolded");
  EXPECT_EQ(lines[7], " continued");
  // A CR LF at the very end of a value has nothing folded after it.
  CMailMessage n;
  n.m_sSubject = "end\r\n";
  EXPECT_EQ(HeaderLines(n)[4], "Subject: end  ");
}

// A fold whose continuation line would hold only blanks is no fold: such a
// line can be read as the empty line that ends the header block.
TEST(MailHeader, FoldsLeavingBlankLinesBecomeBlanks) {
  CMailMessage m;
  m.m_sSubject = "a\r\n \r\n\tBcc: v@y";
  m.m_sMailer = "M\r\n \t";
  const auto lines = HeaderLines(m);
  ASSERT_EQ(lines.size(), 9u);  // six lines, one kept fold continuation, the Message-ID, the empty line
  EXPECT_EQ(lines[4], "Subject: a   ");
  EXPECT_EQ(lines[5], "\tBcc: v@y");
  EXPECT_EQ(lines[6], "X-Mailer: M   \t");
}

TEST(MailHeader, FormattingAgainRebuildsTheHeader) {
  CMailMessage m;
  m.m_sSubject = "first";
  m.FormatMessage();
  m.m_sSubject = "second";
  EXPECT_EQ(HeaderLines(m).size(), 8u);
  EXPECT_EQ(m.m_sHeader.Find("first"), -1);
}

TEST(MailBody, EndsInExactlyOneAddedCrLf) {
  const std::pair<const char*, const char*> cases[] = {
      {"x", "x\r\n"}, {"done\r\n", "done\r\n"}, {"", "\r\n"}, {"bare\n", "bare\n\r\n"}, {"\r", "\r\r\n"}};
  for (const auto& [in, out] : cases) {
    CMailMessage m;
    m.m_sBody = in;
    m.FormatMessage();
    EXPECT_EQ(m.m_sBody.str(), out) << in;
    m.FormatMessage();
    EXPECT_EQ(m.m_sBody.str(), out) << "second format of " << in;
  }
}

// The recipients of the kind as "[address|name]" each.
std::string Entries(CMailMessage& m, CMailMessage::RECIPIENTS_TYPE kind) {
  std::string entries;
  CString a, n;
  for (int i = 0; i < m.GetNumRecipients(kind); ++i) {
    EXPECT_EQ(m.GetRecipient(a, n, i, kind), 1);
    entries += "[" + a.str() + "|" + n.str() + "]";
  }
  return entries;
}

// One AddMultipleRecipients call and what it returns.
struct AddCall {
  const char* recipients;
  CMailMessage::RECIPIENTS_TYPE type;
  int result;
};

// Makes the calls on one new message, then checks its three lists.
void ExpectLists(std::initializer_list<AddCall> calls, const char* to, const char* cc, const char* bcc) {
  CMailMessage m;
  for (const AddCall& call : calls)
    EXPECT_EQ(m.AddMultipleRecipients(call.recipients, call.type), call.result) << call.recipients;
  EXPECT_EQ(Entries(m, CMailMessage::TO), to);
  EXPECT_EQ(Entries(m, CMailMessage::CC), cc);
  EXPECT_EQ(Entries(m, CMailMessage::BCC), bcc);
}

TEST(AddMultipleRecipients, SplitsAtSemicolonsOnlyAndKeepsBlanks) {
  ExpectLists({{"N1 <A1>;A2", CMailMessage::TO, 1}}, "[A1|N1 ][A2|]", "", "");
  ExpectLists({{"A1; A2, A3;N <A4> rest;x>y", CMailMessage::CC, 1}}, "", "[A1|][ A2, A3|][A4|N ][x>y|]", "");
}

TEST(AddMultipleRecipients, EmptyPiecesBecomeEmptyRecipients) {
  ExpectLists({{"", CMailMessage::TO, 1}}, "[|]", "", "");
  ExpectLists({{"A1;", CMailMessage::TO, 1}, {";;", CMailMessage::BCC, 1}}, "[A1|][|]", "", "[|][|][|]");
}

TEST(AddMultipleRecipients, MalformedPieceStopsButKeepsEarlierOnes) {
  ExpectLists({{"ok@x;N1 <A1;later@x", CMailMessage::TO, 0}}, "[ok@x|]", "", "");
  // A ">" after the first "<" suffices.
  ExpectLists({{"a>b <c", CMailMessage::TO, 0}, {"N <a> <b", CMailMessage::TO, 1}}, "[a|N ]", "", "");
}

TEST(Recipients, KindsAreSeparateAndOutOfRangeLeavesOutputs) {
  CMailMessage m;
  EXPECT_EQ(m.AddRecipient("c1", "n1", CMailMessage::CC), 1);
  EXPECT_EQ(m.AddRecipient("c2", "n2", CMailMessage::CC), 1);
  EXPECT_EQ(m.AddRecipient("z", "z", static_cast<CMailMessage::RECIPIENTS_TYPE>(3)), 1);
  EXPECT_EQ(m.GetNumRecipients(CMailMessage::TO), 0);
  EXPECT_EQ(m.GetNumRecipients(CMailMessage::CC), 2);
  EXPECT_EQ(m.GetNumRecipients(static_cast<CMailMessage::RECIPIENTS_TYPE>(3)), 0);
  CString a("keep-a"), n("keep-n");
  EXPECT_EQ(m.GetRecipient(a, n, 1, CMailMessage::CC), 1);
  EXPECT_EQ(a.str() + "/" + n.str(), "c2/n2");
  a = "keep-a";
  n = "keep-n";
  EXPECT_EQ(m.GetRecipient(a, n, 2, CMailMessage::CC), 0);
  EXPECT_EQ(m.GetRecipient(a, n, -1, CMailMessage::CC), 0);
  EXPECT_EQ(m.GetRecipient(a, n, 0, CMailMessage::TO), 0);
  EXPECT_EQ(m.GetRecipient(a, n, 0, static_cast<CMailMessage::RECIPIENTS_TYPE>(3)), 0);
  EXPECT_EQ(a.str() + "/" + n.str(), "keep-a/keep-n");
}

TEST(MailMessage, DefaultsAndCharsPerLine) {
  CMailMessage m;
  EXPECT_EQ(m.m_sMailer.str(), "Zolvane");
  EXPECT_EQ(m.GetCharsPerLine(), 76u);
  m.SetCharsPerLine(40);
  EXPECT_EQ(m.GetCharsPerLine(), 40u);
  EXPECT_TRUE(m.m_sReserved.IsEmpty());
  static_assert(!std::is_copy_constructible_v<CMailMessage>);
  static_assert(!std::is_copy_assignable_v<CMailMessage>);
}

// A derived message changes the output through the overridable steps, which
// FormatMessage calls in the order start, prepare, end, body.
TEST(MailMessage, DerivedMessageOverridesTheSteps) {
  struct Tagged : CMailMessage {
    std::string order;
    void start_header() override { order += "s"; CMailMessage::start_header(); }
    void prepare_header() override { order += "p"; add_header_line("X-Only: 1"); }
    void end_header() override { order += "e"; CMailMessage::end_header(); }
    void prepare_body() override { order += "b"; m_sBody = "custom"; }
  } m;
  m.FormatMessage();
  EXPECT_EQ(m.order, "speb");
  EXPECT_THAT(m.m_sHeader.str(), MatchesRegex(std::string("X-Only: 1\r\n") + kMessageIdPattern + "\r\n\r\n"));
  EXPECT_EQ(m.m_sBody.str(), "custom");
}

// The value of the message's Message-ID line after formatting.
std::string MessageId(CMailMessage& m) {
  m.FormatMessage();
  const std::string& h = m.m_sHeader.str();
  const std::size_t at = h.find("\r\nMessage-ID: ");
  return at == std::string::npos ? std::string() : h.substr(at + 14, h.find("\r\n", at + 2) - at - 14);
}

TEST(MessageId, EachMessageOfEachProcessGetsItsOwnAndAHostsOwnIsKept) {
  std::set<std::string> ids;
  for (int i = 0; i < 500; ++i) {
    CMailMessage m;
    m.m_sFrom = "Alarm desk <alarm@plant.example>";
    ids.insert(MessageId(m));
  }
  EXPECT_EQ(ids.size(), 500u);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    CMailMessage m;
    m.m_sFrom = "alarm@plant.example";
    const std::string id = MessageId(m);
    _exit(write(fds[1], id.data(), id.size()) == static_cast<ssize_t>(id.size()) ? 0 : 1);
  }
  close(fds[1]);
  char buf[512];
  const ssize_t n = read(fds[0], buf, sizeof buf);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_GT(n, 0);
  const std::string childId(buf, static_cast<std::size_t>(n));
  EXPECT_EQ(ids.count(childId), 0u) << childId;
  // The local host's name when it is a domain, else the sender's domain.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const std::string domain = std::strchr(host, '.') != nullptr ? host : "plant.example";
  EXPECT_EQ(childId.substr(childId.size() - domain.size() - 2), "@" + domain + ">");

  struct Own : CMailMessage {
    void prepare_header() override {
      CMailMessage::prepare_header();
      add_header_line("Message-Id: <mine@plant.example>");
    }
  } own;
  own.FormatMessage();
  const std::string& h = own.m_sHeader.str();
  EXPECT_NE(h.find("\r\nMessage-Id: <mine@plant.example>\r\n\r\n"), std::string::npos) << h;
  EXPECT_EQ(h.find("Message-ID"), std::string::npos) << h;
}

}  // namespace

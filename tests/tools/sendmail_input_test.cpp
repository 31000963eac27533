// The reading of a message as sendmail's callers write it: the addresses of
// address lists, the header block with its Bcc fields taken out, and the
// lone-dot end of a message.
#include "tools/send/sendmail_input.h"

#include <gtest/gtest.h>

namespace tarvenkel::test {
namespace {

std::string Joined(const std::vector<std::string>& addresses) {
  std::string text;
  for (const std::string& a : addresses) text += (text.empty() ? "" : "|") + a;
  return text;
}

TEST(SendmailInput, AddressListsGiveTheBareAddresses) {
  const struct {
    const char* list;
    const char* addresses;
  } cases[] = {
      {"ops@example.org", "ops@example.org"},
      {" a@x ,b@x,, ", "a@x|b@x"},
      {"Ops Desk <ops@x>, \"Doe, Jane\" <jane@x>", "ops@x|jane@x"},
      {"root (Cron Daemon)", "root"},
      {"a@x (comment, with (nested) comma), b@x", "a@x|b@x"},
      {"team: a@x, B <b@x>;, c@x", "a@x|b@x|c@x"},
      {"undisclosed-recipients:;", ""},
      {"<\"odd name\"@x>", "\"odd name\"@x"},
      {"\"quoted \\\" <fake@x>\" <real@x>", "real@x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Joined(AddressesOf(c.list)), c.addresses) << c.list;
}

TEST(SendmailInput, TheHeaderLosesItsBccFieldsAndGivesTheRecipients) {
  const IncomingMessage m = ReadIncomingMessage(
      "From: root (Cron Daemon)\nTo: ops@x\nBCC: audit@x,\n  archive@x\nCc: Desk <desk@x>,\n\tchief@x\n"
      "Subject: done\n\nline 1\nBcc: not a header\n");
  EXPECT_EQ(m.header, "From: root (Cron Daemon)\nTo: ops@x\nCc: Desk <desk@x>,\n\tchief@x\nSubject: done\n");
  EXPECT_EQ(m.body, "line 1\nBcc: not a header\n");
  EXPECT_EQ(Joined(m.recipients), "ops@x|audit@x|archive@x|desk@x|chief@x");
  EXPECT_TRUE(m.hasFrom);
  EXPECT_EQ(m.fromAddress, "root");
  EXPECT_FALSE(m.hasDate || m.hasMessageId);
}

TEST(SendmailInput, WhereTheHeaderBlockEnds) {
  const struct {
    const char* text;
    const char* header;
    const char* body;
  } cases[] = {
      {"Subject: a\r\nDate: now\r\n\r\nbody\r\n", "Subject: a\r\nDate: now\r\n", "body\r\n"},
      {"Subject: a\nnot a field\nmore\n", "Subject: a\n", "not a field\nmore\n"},
      {"Subject: no line end", "Subject: no line end\r\n", ""},
      {"\nonly a body\n", "", "only a body\n"},
      {" folded first\n", "", " folded first\n"},
      {"From alarms Thu Dec 10 10:00:00 2026\nSubject: a\n\nx", "Subject: a\n", "x"},
      {"Subject: a\n\n", "Subject: a\n", ""},
  };
  for (const auto& c : cases) {
    const IncomingMessage m = ReadIncomingMessage(c.text);
    EXPECT_EQ(m.header, c.header) << c.text;
    EXPECT_EQ(m.body, c.body) << c.text;
  }
  const IncomingMessage dated = ReadIncomingMessage("Date: now\nmessage-id: <1@x>\n\n");
  EXPECT_TRUE(dated.hasDate && dated.hasMessageId);
}

TEST(SendmailInput, ALoneDotEndsTheMessage) {
  EXPECT_EQ(CutAtLoneDot("a\n.b\n.\nlost\n"), "a\n.b\n");
  EXPECT_EQ(CutAtLoneDot("a\r\n.\r\n"), "a\r\n");
  EXPECT_EQ(CutAtLoneDot("a\n.."), "a\n..");
  EXPECT_EQ(CutAtLoneDot("a\n."), "a\n");
}

}  // namespace
}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// The reading of a message as sendmail's callers write it: the addresses of
// address lists, the header block with its Bcc fields taken out, one reading
// of line ends for the header and the data phase, NUL bytes refused, and the
// lone-dot end of a message.
#include "smtp/dot_stuffer.h"
#include "tests/support/text_case.h"
#include "tools/send/sendmail_input.h"

#include <gtest/gtest.h>

namespace tarvenkel::test {
namespace {

std::string Joined(const std::vector<std::string>& addresses) {
  std::string text;
  for (const std::string& a : addresses) text += (text.empty() ? "" : "|") + a;
  return text;
}

// The bytes of a literal that holds NUL bytes, without its terminating one.
template <std::size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

// The body as the data phase sends it: line ends CR LF, dots doubled.
std::string OnTheWire(const std::string& body) {
  struct Collect : CDotStuffer::COutput {
    std::string text;
    void Put(const char* data, std::size_t length) override { text.append(data, length); }
  } out;
  CDotStuffer stuffer;
  stuffer.Write(body.data(), body.size(), out);
  stuffer.Finish(out);
  return out.text;
}

TEST(SendmailInput, AddressListsGiveTheBareAddresses) {
  const TextCase cases[] = {
      {"ops@example.org", "ops@example.org"},
      {" a@x ,b@x,, ", "a@x|b@x"},
      {"Ops Desk <ops@x>, \"Doe, Jane\" <jane@x>", "ops@x|jane@x"},
      {"root (Cron Daemon)", "root"},
      {"a@x (comment, with (nested) comma), b@x", "a@x|b@x"},
      {"team: a@x, B <b@x>;, c@x", "a@x|b@x|c@x"},
      {"undisclosed-recipients:;", ""},
      {"<\"odd name\"@x>", "\"odd name\"@x"},
      {"\"john smith\"@x.org", "\"john smith\"@x.org"},
      {"\"a, b\\\"c\"@x, d@x", "\"a, b\\\"c\"@x|d@x"},
      {"\"quoted \\\" <fake@x>\" <real@x>", "real@x"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Joined(AddressesOf(c.input)), c.expected) << c.input;
}

TEST(SendmailInput, TheHeaderLosesItsBccFieldsAndGivesTheRecipients) {
  std::string body;
  const IncomingMessage m = ReadIncomingMessage(
      "From: root (Cron Daemon)\nTo: ops@x\nBCC: audit@x,\n  archive@x\nCc: Desk <desk@x>,\n\tchief@x\n"
      "Subject: done\n\nline 1\nBcc: not a header\n",
      &body);
  EXPECT_EQ(m.header, "From: root (Cron Daemon)\r\nTo: ops@x\r\nCc: Desk <desk@x>,\r\n\tchief@x\r\nSubject: done\r\n");
  EXPECT_EQ(body, "line 1\nBcc: not a header\n");
  EXPECT_EQ(Joined(m.recipients), "ops@x|audit@x|archive@x|desk@x|chief@x");
  EXPECT_TRUE(m.hasFrom);
  EXPECT_EQ(m.fromAddress, "root");
  EXPECT_FALSE(m.hasDate || m.hasMessageId);
}

// Every way a Bcc line has been hidden from the header parse, or shown to
// the other recipients: the field is gone and its address is a recipient.
TEST(SendmailInput, BccIsRemovedAndDeliveredHoweverItIsWritten) {
  const struct {
    const char* what;
    const char* text;
    const char* header;
  } cases[] = {
      {"after a bare CR in the subject", "To: a@x\nSubject: s\rBcc: hidden@x\nX: 1\n\nbody\n",
       "To: a@x\r\nSubject: s\r\nX: 1\r\n"},
      {"a blank before the colon", "To: a@x\nBcc : hidden@x\nX: 1\n\nbody\n", "To: a@x\r\nX: 1\r\n"},
      {"a tab before the colon", "To: a@x\nbcc\t: hidden@x\n\nbody\n", "To: a@x\r\n"},
      {"folded", "To: a@x\r\nBcc:\r\n hidden@x\r\nX: 1\r\n\r\nbody\r\n", "To: a@x\r\nX: 1\r\n"},
      {"folded after a bare CR", "To: a@x\rBcc: b@x,\r hidden@x\r\rbody\r", "To: a@x\r\n"},
      {"in lower case", "to: a@x\nbcc: hidden@x\n\nbody\n", "to: a@x\r\n"},
  };
  for (const auto& c : cases) {
    std::string body;
    const IncomingMessage m = ReadIncomingMessage(c.text, &body);
    EXPECT_EQ(m.header, c.header) << c.what;
    EXPECT_NE(Joined(m.recipients).find("hidden@x"), std::string::npos) << c.what;
    EXPECT_EQ(Joined(m.recipients).rfind("a@x", 0), 0u) << c.what;
    EXPECT_EQ(OnTheWire(body), "body\r\n") << c.what;
  }
}

TEST(SendmailInput, ANulByteAnywhereIsRefusedWithItsLine) {
  const struct {
    std::string text;
    unsigned long line;
  } cases[] = {
      {Bytes("To: a@x\nSubject: x\0y\nBcc: b@x\n\nbody\n"), 2},
      {Bytes("To: a@x\r\n\r\nl3\r\nl4\rl5\nl\0"), 6},
      {Bytes("\0"), 1},
      {Bytes("To: a@x\n\n.\0\n"), 3},
  };
  for (const auto& c : cases) {
    unsigned long line = 0;
    ReadIncomingMessage(c.text, nullptr, true, &line);
    EXPECT_EQ(line, c.line) << c.text;
  }
  unsigned long none = 7;
  ReadIncomingMessage("To: a@x\n\nbody\n", nullptr, false, &none);
  EXPECT_EQ(none, 0u);
}

// CR LF, bare LF and bare CR are one and the same line end for the header
// and for the data phase; a message read in pieces split anywhere reads as
// the whole.
TEST(SendmailInput, EveryLineEndReadsTheSameAndPiecesReadAsTheWhole) {
  const std::string lf = "From alarm Thu Dec 10 10:00:00 2026\nFrom: a@x\nTo: b@x,\n c@x\nBcc: d@x\n"
                         "Subject: s\n\nline 1\n.dot\n\nlast\n";
  std::string expectedWire;
  for (const char* end : {"\n", "\r\n", "\r"}) {
    std::string text;
    for (char c : lf) text += c == '\n' ? std::string(end) : std::string(1, c);
    std::string body;
    const IncomingMessage whole = ReadIncomingMessage(text, &body, true);
    EXPECT_EQ(whole.header, "From: a@x\r\nTo: b@x,\r\n c@x\r\nSubject: s\r\n") << end;
    EXPECT_EQ(Joined(whole.recipients), "b@x|c@x|d@x") << end;
    const std::string wire = whole.header + "\r\n" + OnTheWire(body);
    if (expectedWire.empty()) expectedWire = wire;
    EXPECT_EQ(wire, expectedWire) << end;

    struct Sink : IncomingMessageReader::BodySink {
      std::string text;
      bool Write(const char* data, std::size_t length) override {
        text.append(data, length);
        return true;
      }
    } sink;
    IncomingMessageReader reader(true, sink);
    for (char c : text) reader.Put(&c, 1);
    reader.Finish();
    EXPECT_EQ(reader.Message().header, whole.header) << end;
    EXPECT_EQ(sink.text, body) << end;
  }
  EXPECT_EQ(expectedWire, "From: a@x\r\nTo: b@x,\r\n c@x\r\nSubject: s\r\n\r\nline 1\r\n..dot\r\n\r\nlast\r\n");
}

TEST(SendmailInput, WhereTheHeaderBlockEnds) {
  const struct {
    std::string text;
    const char* header;
    const char* body;
  } cases[] = {
      {"Subject: a\r\nDate: now\r\n\r\nbody\r\n", "Subject: a\r\nDate: now\r\n", "body\r\n"},
      {"Subject: a\nnot a field\nmore\n", "Subject: a\r\n", "not a field\nmore\n"},
      {"Subject: a\rnot a field\r\nmore\n", "Subject: a\r\n", "not a field\r\nmore\n"},
      {"Subject: no line end", "Subject: no line end\r\n", ""},
      {"\nonly a body\n", "", "only a body\n"},
      {"\r\n\nsecond line\n", "", "\nsecond line\n"},
      {" folded first\n", "", " folded first\n"},
      {"From alarms Thu Dec 10 10:00:00 2026\nSubject: a\n\nx", "Subject: a\r\n", "x"},
      {"Subject: a\n\n", "Subject: a\r\n", ""},
      {std::string(70000, 'x') + "\nSubject: a\n", "", ""},
  };
  for (const auto& c : cases) {
    std::string body;
    const IncomingMessage m = ReadIncomingMessage(c.text, &body);
    EXPECT_EQ(m.header, c.header) << c.text.substr(0, 40);
    if (c.text.size() < 1000) {
      EXPECT_EQ(body, c.body) << c.text;
    }
  }
  std::string body;
  ReadIncomingMessage(std::string(70000, 'x') + "\nSubject: a\n", &body);
  EXPECT_EQ(body, std::string(70000, 'x') + "\nSubject: a\n");
  const IncomingMessage dated = ReadIncomingMessage("Date: now\nmessage-id: <1@x>\n\n");
  EXPECT_TRUE(dated.hasDate && dated.hasMessageId);
}

TEST(SendmailInput, ALoneDotEndsTheMessage) {
  const TextCase cases[] = {
      {"a\n.b\n.\nlost\n", "a\n.b\n"},
      {"a\r\n.\r\nlost", "a\r\n"},
      {"a\r.\rlost", "a\r"},
      {"a\n..", "a\n.."},
      {"a\n.", "a\n"},
      {".\nlost\n", ""},
  };
  for (const auto& c : cases) {
    std::string body;
    ReadIncomingMessage(std::string("\n") + c.input, &body, true);
    EXPECT_EQ(body, c.expected) << c.input;
  }
  std::string kept;
  ReadIncomingMessage("\na\n.\nkept\n", &kept, false);
  EXPECT_EQ(kept, "a\n.\nkept\n");
  const IncomingMessage cut = ReadIncomingMessage("To: a@x\n.\nBcc: b@x\n", nullptr, true);
  EXPECT_EQ(Joined(cut.recipients), "a@x");
}

}  // namespace
}  // namespace tarvenkel::test

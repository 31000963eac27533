// SPDX-License-Identifier: Apache-2.0
#include "mail/mime_message.h"

#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tarvenkel::test::TempDir;
using tarvenkel::test::WriteFile;

const std::string kBoundary = "--ZOLVANE_PaRt_BoUnDaRy_05151998";
const std::string kPreamble = "This is a multi-part message in MIME format.\r\n\r\n";
const std::string kTextHead = "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7Bit\r\n\r\n";

std::string AttachHead(const std::string& name) {
  return "Content-Type: application/octet-stream; file=" + name +
         "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=" + name + "\r\n\r\n";
}

class Inspectable : public CMIMEMessage {
public:
  static int AgentCount() { return mime_type_manager().GetAgentCount(); }
  static CMIMEContentAgent* Agent(int code) { return mime_type_manager().FindAgent(code); }
  static void Register(CMIMEContentAgent* pAgent) { mime_type_manager().RegisterAgent(pAgent); }
};

TEST(MimeLayout, HeaderEndsWithMimeLines) {
  CMIMEMessage m;
  m.m_sFrom = "a@x";
  m.FormatMessage();
  // The Message-ID line, which differs from message to message, follows them.
  std::string h = m.m_sHeader.str();
  const std::size_t id = h.find("\r\nMessage-ID: <");
  ASSERT_NE(id, std::string::npos) << h;
  h.erase(id + 2, h.find("\r\n", id + 2) - id);
  const std::string tail =
      "X-Mailer: Zolvane\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=ZOLVANE_PaRt_BoUnDaRy_05151998\r\n\r\n";
  ASSERT_GE(h.size(), tail.size());
  EXPECT_EQ(h.substr(h.size() - tail.size()), tail);
  EXPECT_EQ(h.substr(0, 23), "From: a@x\r\nTo: \r\nCc: \r\n");
}

TEST(MimeLayout, BodyBecomesTheTextPartTrimmed) {
  CMIMEMessage m;
  m.m_sBody = "  Pump 3 stopped.\r\n";
  m.FormatMessage();
  EXPECT_EQ(m.m_sBody.str(),
            kPreamble + kBoundary + "\r\n" + kTextHead + "Pump 3 stopped.\r\n" + kBoundary + "--\r\n");
}

TEST(MimeLayout, EmptyAndBlankBodies) {
  CMIMEMessage empty;
  empty.FormatMessage();
  EXPECT_EQ(empty.m_sBody.str(), kPreamble + kBoundary + "--\r\n");
  CMIMEMessage blank;
  blank.m_sBody = " \t ";
  blank.FormatMessage();
  EXPECT_EQ(blank.m_sBody.str(), kPreamble + kBoundary + "\r\n" + kTextHead + kBoundary + "--\r\n");
}

TEST(MimeLayout, ShortBodyAndSmallAttachmentLineByLine) {
  TempDir dir;
  WriteFile(dir.file("alarm.txt"), "abc");
  CMIMEMessage m;
  m.m_sBody = "Level high";
  m.AddMIMEPart(dir.file("alarm.txt").c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  m.FormatMessage();
  EXPECT_EQ(m.m_sBody.str(), kPreamble + kBoundary + "\r\n" + kTextHead + "Level high\r\n" + kBoundary + "\r\n" +
                                 AttachHead("alarm.txt") + "YWJj\r\n\r\n" + kBoundary + "--\r\n");
}

TEST(MimeParts, TextPartsFirstNewestForemostThenOthersInOrder) {
  TempDir dir;
  WriteFile(dir.file("x.bin"), "X");
  WriteFile(dir.file("y.bin"), "Y");
  CMIMEMessage m;
  m.m_sBody = "B";
  m.AddMIMEPart(dir.file("x.bin").c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  m.AddMIMEPart("T1", TEXT_PLAIN, "", ENCODING_7BIT, FALSE);
  m.AddMIMEPart(dir.file("y.bin").c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  m.AddMIMEPart("T2", TEXT_PLAIN, "; charset=us-ascii", ENCODING_BASE64, FALSE);
  m.FormatMessage();
  const std::string b = kBoundary + "\r\n";
  EXPECT_EQ(m.m_sBody.str(),
            kPreamble + b + kTextHead + "B\r\n" + b +
                "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7Bit\r\n\r\nT2\r\n" + b +
                kTextHead + "T1\r\n" + b + AttachHead("x.bin") + "WA==\r\n\r\n" + b + AttachHead("y.bin") +
                "WQ==\r\n\r\n" + kBoundary + "--\r\n");
}

TEST(MimeParts, UnopenableAttachmentBecomesAnEmptyPartAndIsReported) {
  TempDir dir;
  WriteFile(dir.file("ok.bin"), "abc");
  CMIMEMessage m;
  m.AddMIMEPart(dir.file("gone.bin").c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  m.AddMIMEPart(dir.file("ok.bin").c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  m.AddMIMEPart(dir.file("gone2.bin").c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  m.FormatMessage();
  // The empty line keeps each failed part a part of its own: without it the
  // closing line would follow a boundary line directly and not count as one.
  const std::string b = kBoundary + "\r\n";
  EXPECT_EQ(m.m_sBody.str(),
            kPreamble + b + "\r\n" + b + AttachHead("ok.bin") + "YWJj\r\n\r\n" + b + "\r\n" + kBoundary + "--\r\n");
  ASSERT_EQ(m.GetFailedParts().GetSize(), 2);
  EXPECT_EQ(m.GetFailedParts()[0].str(), dir.file("gone.bin"));
  EXPECT_EQ(m.GetFailedParts()[1].str(), dir.file("gone2.bin"));
  // Formatting again starts a fresh list.
  WriteFile(dir.file("gone.bin"), "");
  WriteFile(dir.file("gone2.bin"), "");
  m.FormatMessage();
  EXPECT_EQ(m.GetFailedParts().GetSize(), 0);
}

TEST(MimeParts, UnclaimedCodeIsWrittenByTheAttachmentAgent) {
  TempDir dir;
  WriteFile(dir.file("seven.dat"), "abc");
  CMIMEMessage m;
  m.AddMIMEPart(dir.file("seven.dat").c_str(), 7, "", 0, FALSE);
  m.FormatMessage();
  EXPECT_EQ(m.m_sBody.str(),
            kPreamble + kBoundary + "\r\n" + AttachHead("seven.dat") + "YWJj\r\n\r\n" + kBoundary + "--\r\n");
}

// A text holding the boundary delimiter would split its part; the message
// then uses a longer boundary that no text holds.
TEST(MimeLayout, BoundaryInATextGetsASuffix) {
  CMIMEMessage m;
  m.m_sBody = ("ok\r\n" + kBoundary + "\r\nContent-Type: text/html\r\n\r\nspoof").c_str();
  m.AddMIMEPart(("note " + kBoundary + "_1").c_str(), TEXT_PLAIN, "", ENCODING_7BIT, FALSE);
  m.FormatMessage();
  const std::string chosen = kBoundary + "_2";
  EXPECT_NE(m.m_sHeader.str().find("boundary=ZOLVANE_PaRt_BoUnDaRy_05151998_2\r\n"), std::string::npos);
  EXPECT_EQ(m.m_sBody.str(), kPreamble + chosen + "\r\n" + kTextHead + "ok\r\n" + kBoundary +
                                 "\r\nContent-Type: text/html\r\n\r\nspoof\r\n" + chosen + "\r\n" + kTextHead +
                                 "note " + kBoundary + "_1\r\n" + chosen + "--\r\n");
}

TEST(MimeRegistry, HoldsOneAgentPerCodeHoweverManyMessages) {
  { CMIMEMessage first; }
  const int count = Inspectable::AgentCount();
  EXPECT_GE(count, 2);
  CMIMEContentAgent* text = Inspectable::Agent(TEXT_PLAIN);
  CMIMEContentAgent* file = Inspectable::Agent(APPLICATION_OCTETSTREAM);
  for (int i = 0; i < 100; ++i) {
    CMIMEMessage m;
    m.SetCharsPerLine(10);  // the text agent keeps its own width
  }
  EXPECT_EQ(Inspectable::AgentCount(), count);
  EXPECT_EQ(Inspectable::Agent(TEXT_PLAIN), text);
  EXPECT_EQ(Inspectable::Agent(APPLICATION_OCTETSTREAM), file);
  EXPECT_EQ(text->QueryType(TEXT_PLAIN), 1);
  EXPECT_EQ(file->QueryType(APPLICATION_OCTETSTREAM), 1);
}

// A registry of its own, so that the lookup rule shows on known contents.
class NamedAgent : public CMIMEContentAgent {
public:
  NamedAgent(int code, const char* name, int* deleted) : CMIMEContentAgent(code), m_name(name), m_deleted(deleted) {}
  ~NamedAgent() override { ++*m_deleted; }
  BOOL AppendPart(LPCTSTR, LPCTSTR, int, BOOL, CString& dest) override {
    dest += m_name;
    return TRUE;
  }
  CString GetContentTypeString() override { return CString(m_name); }

protected:
  CString build_sub_header(LPCTSTR, LPCTSTR, int, BOOL) override { return CString(); }

private:
  const char* m_name;
  int* m_deleted;
};

TEST(MimeRegistry, AnUnknownCodeGoesToTheAttachmentAgentUnlessAHostAgentCameAfterTheLastMessage) {
  static int deleted = 0;  // the process's registry deletes the host's agents at unload
  { CMIMEMessage first; }
  CMIMEContentAgent* attachment = Inspectable::Agent(APPLICATION_OCTETSTREAM);
  auto* before = new NamedAgent(42, "before", &deleted);
  Inspectable::Register(before);
  EXPECT_EQ(Inspectable::Agent(7), before);
  TempDir dir;
  WriteFile(dir.file("unknown.bin"), "abc");
  CMIMEMessage plain;
  EXPECT_EQ(Inspectable::Agent(7), attachment);
  EXPECT_EQ(Inspectable::Agent(42), before) << "a claimed code still finds its first claimer";
  plain.AddMIMEPart(dir.file("unknown.bin").c_str(), 7);
  plain.FormatMessage();
  EXPECT_NE(plain.m_sBody.str().find(AttachHead("unknown.bin") + "YWJj\r\n"), std::string::npos) << plain.m_sBody.str();
  auto* after = new NamedAgent(43, "after", &deleted);
  Inspectable::Register(after);
  EXPECT_EQ(Inspectable::Agent(7), after);
  const int count = Inspectable::AgentCount();
  for (int i = 0; i < 10000; ++i) CMIMEMessage m;
  EXPECT_EQ(Inspectable::AgentCount(), count);
  EXPECT_EQ(Inspectable::Agent(7), attachment);
}

TEST(MimeRegistry, FindAgentTakesTheFirstClaimerElseTheNewestAndDeletesAll) {
  int deleted = 0;
  {
    CMIMEMessage::CMIMETypeManager registry;
    EXPECT_EQ(registry.FindAgent(0), nullptr);
    NamedAgent* a0 = new NamedAgent(0, "a0", &deleted);
    NamedAgent* b0 = new NamedAgent(0, "b0", &deleted);
    NamedAgent* c1 = new NamedAgent(1, "c1", &deleted);
    registry.RegisterAgent(a0);
    registry.RegisterAgent(nullptr);
    registry.RegisterAgent(b0);
    registry.RegisterAgent(c1);
    EXPECT_EQ(registry.GetAgentCount(), 3);
    EXPECT_EQ(registry.FindAgent(0), a0);
    EXPECT_EQ(registry.FindAgent(1), c1);
    EXPECT_EQ(registry.FindAgent(9), c1);
  }
  EXPECT_EQ(deleted, 3);
}

}  // namespace

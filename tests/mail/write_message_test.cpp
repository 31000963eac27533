// SPDX-License-Identifier: Apache-2.0
// WriteMessage against FormatMessage: the same bytes for every kind of
// message, failed parts included; the message left as the host set it; write
// failures reported as FALSE; memory that does not grow with an attachment.
#include "mail/mime_message.h"

#include "framework/io/file.h"
#include "tests/support/local_smtp_server.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using tarvenkel::test::ParseMessage;
using tarvenkel::test::ReadFile;
using tarvenkel::test::TempDir;
using tarvenkel::test::WriteFile;

// Bytes of the file per piece the attachment encoder reads.
constexpr std::size_t kPiece = 1024 * 54;
const std::string kBoundary = "--ZOLVANE_PaRt_BoUnDaRy_05151998";

// The Date line's value blanked: the clock may tick between two formattings.
std::string WithoutDate(std::string text) {
  // The Date and Message-ID lines differ from one formatting to the next.
  for (const std::string_view field : {std::string_view("\r\nDate: "), std::string_view("\r\nMessage-ID: ")}) {
    const std::size_t at = text.find(field);
    if (at == std::string::npos) continue;
    const std::size_t start = at + field.size();
    const std::size_t end = text.find("\r\n", start);
    text.replace(start, end == std::string::npos ? std::string::npos : end - start, "<varies>");
  }
  return text;
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// "<size>.bin" (built in steps: GCC 12 warns wrongly about "a" + std::string).
std::string SizedName(std::size_t size) {
  std::string name = std::to_string(size);
  name += ".bin";
  return name;
}

// Writes the message into a new file at path and returns what the file holds.
std::string WriteToFile(CMailMessage& m, const std::string& path) {
  CFile out;
  EXPECT_TRUE(out.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite));
  EXPECT_EQ(m.WriteMessage(out), TRUE);
  out.Close();
  return ReadFile(path);
}

// A host's agent that has only AppendPart: it writes its text without a
// line end, and fails without writing anything for the content "fail".
class HostAgent : public CMIMEContentAgent {
public:
  static constexpr int kCode = 42;
  HostAgent() : CMIMEContentAgent(kCode) {}
  BOOL AppendPart(LPCTSTR szContent, LPCTSTR, int, BOOL, CString& dest) override {
    if (CString(szContent) == CString("fail")) return FALSE;
    dest += build_sub_header(szContent, "", 0, FALSE);
    dest += szContent;
    return TRUE;
  }
  CString GetContentTypeString() override { return CString("x-host/marked"); }

protected:
  CString build_sub_header(LPCTSTR, LPCTSTR, int, BOOL) override { return CString("Content-Type: x-host/marked\r\n\r\n"); }
};

class HostMessage : public CMIMEMessage {
public:
  // Registers the host's agent once for the process; the registry owns it.
  HostMessage() {
    static const bool registered = [this] {
      register_mime_type(new HostAgent);
      return true;
    }();
    (void)registered;
  }
};

struct Case {
  const char* name;
  std::function<void(CMIMEMessage&, const TempDir&)> build;
};

void Addresses(CMailMessage& m) {
  m.m_sFrom = "alarm@plant.example";
  m.m_sSubject = "Pump 3";
  m.AddRecipient("ops@plant.example", "Ops", CMailMessage::TO);
  m.AddRecipient("chief@plant.example", "", CMailMessage::CC);
}

void Attach(CMIMEMessage& m, const std::string& path) {
  m.AddMIMEPart(path.c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
}

TEST(WriteMessage, WritesWhatFormatMessageBuildsAndLeavesTheMessageAsSet) {
  TempDir dir;
  const std::vector<std::size_t> sizes = {0, 1, 53, 54, 55, 2 * kPiece, 3 * kPiece + 1000};
  for (std::size_t size : sizes) WriteFile(dir.file(SizedName(size)), RandomBytes(size, 7));
  WriteFile(dir.file("ok.txt"), "abc");
  const std::vector<Case> cases = {
      {"empty", [](CMIMEMessage&, const TempDir&) {}},
      {"text parts",
       [](CMIMEMessage& m, const TempDir&) {
         m.m_sBody = "  Pump 3 pressure above limit for more than ten minutes; operator please check the valve.\r\n";
         m.AddMIMEPart("second text", TEXT_PLAIN, "; charset=us-ascii", ENCODING_7BIT, FALSE);
         m.AddMIMEPart("third text\r\nwith two lines", TEXT_PLAIN, "; format=flowed", ENCODING_7BIT, FALSE);
       }},
      {"attachment sizes",
       [&](CMIMEMessage& m, const TempDir& d) {
         m.m_sBody = "Logs attached.";
         for (std::size_t size : sizes) Attach(m, d.file(SizedName(size)));
       }},
      // A missing file becomes an empty part; /proc/self/mem fails its first
      // read, so its part keeps the sub-header and one line end.
      {"failed attachments",
       [](CMIMEMessage& m, const TempDir& d) {
         Attach(m, d.file("gone.bin"));
         Attach(m, d.file("ok.txt"));
         Attach(m, "/proc/self/mem");
         Attach(m, d.file("gone2.bin"));
       }},
      {"boundary in a text",
       [](CMIMEMessage& m, const TempDir&) {
         m.m_sBody = ("ok\r\n" + kBoundary + "\r\nspoof").c_str();
         m.AddMIMEPart(("note " + kBoundary + "_1").c_str(), TEXT_PLAIN, "", ENCODING_7BIT, FALSE);
       }},
      {"host agent",
       [](CMIMEMessage& m, const TempDir& d) {
         m.m_sBody = "B";
         m.AddMIMEPart("marked text", HostAgent::kCode, "", 0, FALSE);
         m.AddMIMEPart("fail", HostAgent::kCode, "", 0, FALSE);
         Attach(m, d.file("ok.txt"));
         m.AddMIMEPart("last", HostAgent::kCode, "", 0, FALSE);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HostMessage formatted;
    Addresses(formatted);
    c.build(formatted, dir);
    formatted.FormatMessage();
    const std::string expected = WithoutDate(formatted.m_sHeader.str() + formatted.m_sBody.str());

    HostMessage written;
    Addresses(written);
    c.build(written, dir);
    const std::string body = written.m_sBody.str();
    const std::string text = WriteToFile(written, dir.file("out.eml"));
    EXPECT_TRUE(WithoutDate(text) == expected) << WithoutDate(text).substr(0, 2000) << "\n----\n"
                                               << expected.substr(0, 2000);
    EXPECT_EQ(text.substr(0, written.m_sHeader.GetLength()), written.m_sHeader.str());
    EXPECT_EQ(written.m_sBody.str(), body);
    ASSERT_EQ(written.GetFailedParts().GetSize(), formatted.GetFailedParts().GetSize());
    for (int i = 0; i < written.GetFailedParts().GetSize(); ++i)
      EXPECT_EQ(written.GetFailedParts()[i].str(), formatted.GetFailedParts()[i].str());
    // The queue is as the host left it: writing again, and formatting
    // afterwards, give the same message.
    EXPECT_TRUE(WithoutDate(WriteToFile(written, dir.file("again.eml"))) == expected);
    written.FormatMessage();
    EXPECT_TRUE(WithoutDate(written.m_sHeader.str() + written.m_sBody.str()) == expected);
  }
}

TEST(WriteMessage, PlainMessageAndAClassThatChangesTheBody) {
  TempDir dir;
  for (const char* body : {"", "no line end", "ends\r\n"}) {
    CMailMessage formatted, written;
    for (CMailMessage* m : {&formatted, &written}) {
      Addresses(*m);
      m->m_sBody = body;
    }
    formatted.FormatMessage();
    const std::string text = WriteToFile(written, dir.file("plain.eml"));
    EXPECT_EQ(WithoutDate(text), WithoutDate(formatted.m_sHeader.str() + formatted.m_sBody.str()));
    EXPECT_EQ(written.m_sBody.str(), body);
  }
  class Signed : public CMailMessage {
  protected:
    void prepare_body() override { m_sBody += "\r\n-- \r\nplant 7\r\n"; }
  } signedMessage;
  signedMessage.m_sBody = "Level high";
  const std::string text = WriteToFile(signedMessage, dir.file("signed.eml"));
  EXPECT_EQ(text.substr(text.size() - 30), "\r\n\r\nLevel high\r\n-- \r\nplant 7\r\n");
  EXPECT_EQ(signedMessage.m_sBody.str(), "Level high");
}

TEST(WriteMessage, PythonEmailReadsTheWrittenMessageBack) {
  TempDir dir;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty.bin", ""},
      {"block1.bin", RandomBytes(55, 3)},
      {"trend log.dat", RandomBytes(3 * kPiece + 1000, 4)},
  };
  CMIMEMessage m;
  Addresses(m);
  m.m_sBody = "Pump 3 pressure above limit.";
  for (const auto& [name, bytes] : files) {
    WriteFile(dir.file(name), bytes);
    Attach(m, dir.file(name));
  }
  WriteToFile(m, dir.file("message.eml"));
  const auto parsed = ParseMessage(dir.file("message.eml"));
  EXPECT_EQ(parsed.Header("From"), "alarm@plant.example");
  EXPECT_EQ(parsed.Header("To"), "Ops<ops@plant.example>");
  EXPECT_EQ(parsed.Header("Subject"), "Pump 3");
  for (const std::string& line : parsed.lines) EXPECT_NE(line.rfind("defect", 0), 0u) << line;
  ASSERT_EQ(parsed.parts.size(), files.size() + 1);
  EXPECT_EQ(parsed.parts[0], "Pump 3 pressure above limit.");
  for (std::size_t i = 0; i < files.size(); ++i) {
    EXPECT_TRUE(parsed.parts[i + 1] == files[i].second) << files[i].first;
    EXPECT_NE(std::find(parsed.lines.begin(), parsed.lines.end(),
                        "part " + std::to_string(i + 1) + " application/octet-stream " + files[i].first + " -"),
              parsed.lines.end())
        << files[i].first;
  }
}

// A file that takes limit bytes, then fails as a full disk does.
class CFullAfter : public CMemFile {
public:
  explicit CFullAfter(std::size_t limit) : m_nLimit(limit) {}
  void Write(const void* lpBuf, UINT nCount) override {
    if (GetLength() + nCount > m_nLimit) AfxThrowFileException(CFileException::diskFull, ENOSPC);
    CMemFile::Write(lpBuf, nCount);
  }
  std::string Text() const { return std::string(reinterpret_cast<const char*>(m_lpBuffer), m_nFileSize); }

private:
  std::size_t m_nLimit;
};

TEST(WriteMessage, AFailedWriteIsFalseAndTheMessageCanBeWrittenAgain) {
  TempDir dir;
  WriteFile(dir.file("big.bin"), RandomBytes(4 * kPiece + 7, 5));
  CMIMEMessage m;
  Addresses(m);
  m.m_sBody = "See the log.";
  Attach(m, dir.file("big.bin"));
  CMailMessage plain;
  plain.m_sBody = "Level high";

  CFile full;
  ASSERT_TRUE(full.Open("/dev/full", CFile::modeWrite));
  EXPECT_EQ(plain.WriteMessage(full), FALSE);
  EXPECT_EQ(m.WriteMessage(full), FALSE);
  // A memory file over a fixed buffer throws CMemoryException* when full.
  BYTE small[100];
  CMemFile fixed(small, sizeof small);
  EXPECT_EQ(m.WriteMessage(fixed), FALSE);
  // Failing in the middle of the attachment (in its third piece) leaves a
  // beginning of the message.
  const std::size_t pieceText = kPiece / 54 * 74;
  CFullAfter cut(2 * pieceText + 1000);
  EXPECT_EQ(m.WriteMessage(cut), FALSE);
  const std::string good = WriteToFile(m, dir.file("good.eml"));
  ASSERT_GT(good.size(), 3 * pieceText);
  EXPECT_GT(cut.Text().size(), pieceText);
  EXPECT_EQ(WithoutDate(cut.Text()), WithoutDate(good).substr(0, WithoutDate(cut.Text()).size()));

  CMIMEMessage fresh;
  Addresses(fresh);
  fresh.m_sBody = "See the log.";
  Attach(fresh, dir.file("big.bin"));
  fresh.FormatMessage();
  EXPECT_EQ(WithoutDate(good), WithoutDate(fresh.m_sHeader.str() + fresh.m_sBody.str()));
  EXPECT_EQ(m.m_sBody.str(), "See the log.");
  EXPECT_EQ(m.GetFailedParts().GetSize(), 0);
}

// A field of /proc/self/status in KiB; -1 when missing.
long StatusKiB(const std::string& field) {
  std::ifstream in("/proc/self/status");
  std::string key;
  long value = -1;
  while (in >> key) {
    if (key == field + ":") {
      in >> value;
      return value;
    }
    in.ignore(1 << 12, '\n');
  }
  return value;
}

// /dev/null, counting what it is given.
class CCountingNull : public CFile {
public:
  void Write(const void* lpBuf, UINT nCount) override {
    CFile::Write(lpBuf, nCount);
    m_nWritten += nCount;
  }
  std::size_t m_nWritten = 0;
};

TEST(WriteMessage, PeakMemoryDoesNotGrowWithTheAttachment) {
  constexpr std::size_t kSize = 64u << 20;
  TempDir dir;
  {
    std::ofstream out(dir.file("large.bin"), std::ios::binary);
    std::string chunk = RandomBytes(1u << 20, 6);
    for (std::size_t done = 0; done < kSize; done += chunk.size()) out.write(chunk.data(), chunk.size());
    ASSERT_TRUE(out.good());
  }
  CMIMEMessage m;
  Addresses(m);
  m.m_sBody = "The log of the last day is attached.";
  Attach(m, dir.file("large.bin"));
  CCountingNull sink;
  ASSERT_TRUE(sink.Open("/dev/null", CFile::modeWrite));

  // Resets the peak resident size to the current one.
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5" << std::flush;
  if (!clear) GTEST_SKIP() << "cannot reset the peak resident size here";
  const long before = StatusKiB("VmRSS");
  ASSERT_EQ(m.WriteMessage(sink), TRUE);
  const long peak = StatusKiB("VmHWM");
  ASSERT_GT(before, 0);
  // Formatted in memory the message would take 88 MiB; written, a few
  // buffers of some hundred KiB.
  EXPECT_GT(sink.m_nWritten, kSize / 54 * 74);
  EXPECT_LT(peak - before, 8 * 1024) << "peak grew by " << peak - before << " KiB";
}

}  // namespace

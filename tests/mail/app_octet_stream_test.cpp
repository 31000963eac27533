// SPDX-License-Identifier: Apache-2.0
#include "mail/app_octet_stream.h"
#include "mail/base64.h"

#include "framework/io/file.h"

#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tarvenkel::test::TempDir;
using tarvenkel::test::WriteFile;

class Attacher : public CAppOctetStream {
public:
  Attacher() : CAppOctetStream(APPLICATION_OCTETSTREAM) {}
  std::string SubHeader(const char* path, BOOL bPath) { return build_sub_header(path, "; x=y", 0, bPath).str(); }
};

std::string SubHeaderFor(const std::string& shownName) {
  return "Content-Type: application/octet-stream; file=" + shownName +
         "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=" + shownName +
         "\r\n\r\n";
}

// The text AppendPart writes for a file with the given bytes.
std::string Attach(const std::string& bytes, const std::string& name = "data.bin") {
  TempDir dir;
  WriteFile(dir.file(name), bytes);
  CAppOctetStream agent(APPLICATION_OCTETSTREAM);
  CString dest;
  EXPECT_EQ(agent.AppendPart(dir.file(name).c_str(), "ignored", 0, FALSE, dest), 1);
  return dest.str();
}

TEST(AttachmentLayout, BlocksOf54BytesBecomeLinesOf72Characters) {
  const std::string head = SubHeaderFor("data.bin");
  EXPECT_EQ(Attach(""), head + "\r\n\r\n");
  EXPECT_EQ(Attach("abc"), head + "YWJj\r\n\r\n");
  const std::string line72(72, 'Y');
  const std::string b54 = Attach(std::string(54, 'a'));
  ASSERT_EQ(b54.size(), head.size() + 72 + 6);
  EXPECT_EQ(b54.substr(head.size() + 72), "\r\n\r\n\r\n");
  const std::string b55 = Attach(std::string(55, 'a'));
  EXPECT_EQ(b55.substr(head.size() + 72), "\r\nYQ==\r\n\r\n");
  const std::string b108 = Attach(std::string(108, '\xff'));
  EXPECT_EQ(b108.substr(head.size()), std::string(72, '/') + "\r\n" + std::string(72, '/') + "\r\n\r\n\r\n");
}

TEST(AttachmentLayout, SubHeaderUsesNameAndExtensionOfTheLastComponent) {
  Attacher a;
  EXPECT_EQ(a.SubHeader("C:\\logs\\alarm.txt", TRUE), SubHeaderFor("alarm.txt"));
  EXPECT_EQ(a.SubHeader("/srv/report.final.txt", TRUE), SubHeaderFor("report.final.txt"));
  EXPECT_EQ(a.SubHeader("/srv/README", FALSE),
            "Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
            "Content-Disposition: attachment; filename=README\r\n\r\n");
  EXPECT_EQ(a.GetContentTypeString().str(), "application/octet-stream");
}

TEST(AttachmentLayout, NamesThatAreNotTokensAreQuoted) {
  Attacher a;
  EXPECT_EQ(a.SubHeader("/srv/alarm log.txt", TRUE), SubHeaderFor("\"alarm log.txt\""));
  EXPECT_EQ(a.SubHeader("a;b.txt", TRUE), SubHeaderFor("\"a;b.txt\""));
  EXPECT_EQ(a.SubHeader("say \"hi\".txt", TRUE), SubHeaderFor("\"say \\\"hi\\\".txt\""));
  EXPECT_EQ(a.SubHeader("x\r\nBcc: y.txt", TRUE), SubHeaderFor("\"x  Bcc: y.txt\""));
  EXPECT_EQ(a.SubHeader("tab\there=1", TRUE), SubHeaderFor("\"tab\there=1\""));
  EXPECT_EQ(a.SubHeader("plain-name_v2.tar.gz", TRUE), SubHeaderFor("plain-name_v2.tar.gz"));
}

TEST(AttachmentFailures, UnopenableFilesAppendNothing) {
  TempDir dir;
  CAppOctetStream agent(APPLICATION_OCTETSTREAM);
  CString dest("kept");
  EXPECT_EQ(agent.AppendPart(dir.file("missing.txt").c_str(), "", 4, TRUE, dest), 0);
  EXPECT_EQ(agent.AppendPart(nullptr, "", 4, TRUE, dest), 0);
  EXPECT_EQ(agent.AppendPart(dir.path().c_str(), "", 4, TRUE, dest), 0);
  EXPECT_EQ(dest.str(), "kept");
}

TEST(AttachmentFailures, ReadErrorEndsThePartWithOneEmptyLineAndFails) {
  // The first read of this process's memory at offset 0 fails with EIO.
  CAppOctetStream agent(APPLICATION_OCTETSTREAM);
  CString dest;
  EXPECT_EQ(agent.AppendPart("/proc/self/mem", "", 4, TRUE, dest), 0);
  EXPECT_EQ(dest.str(), SubHeaderFor("mem") + "\r\n");
}

TEST(AttachmentLayout, WritePartWritesWhatAppendPartAppends) {
  TempDir dir;
  // Several pieces of the streaming encoder (54 KiB of the file each) and a rest.
  std::string bytes(3 * 1024 * 54 + 1001, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 7);
  WriteFile(dir.file("big.bin"), bytes);
  WriteFile(dir.file("small.bin"), "abc");
  CAppOctetStream agent(APPLICATION_OCTETSTREAM);
  for (const std::string& path : {dir.file("big.bin"), dir.file("small.bin"), dir.file("missing.bin"),
                                 std::string("/proc/self/mem")}) {
    CString appended;
    const BOOL appendedWhole = agent.AppendPart(path.c_str(), "", 4, TRUE, appended);
    CMemFile file;
    const BOOL writtenWhole = agent.WritePart(path.c_str(), "", 4, TRUE, file);
    EXPECT_EQ(writtenWhole, appendedWhole) << path;
    const auto size = static_cast<std::size_t>(file.GetLength());
    BYTE* block = file.Detach();
    EXPECT_TRUE(std::string(reinterpret_cast<const char*>(block), size) == appended.str()) << path;
    AfxFreeMemory(block);
  }
}

TEST(AttachmentLayout, FileWithoutAStatedLengthIsReadToItsEnd) {
  // procfs files report a length of 0 and have content all the same.
  CAppOctetStream agent(APPLICATION_OCTETSTREAM);
  CString dest;
  EXPECT_EQ(agent.AppendPart("/proc/self/status", "", 4, TRUE, dest), 1);
  const std::string text = dest.str();
  const std::size_t content = SubHeaderFor("status").size();
  ASSERT_EQ(text.substr(0, content), SubHeaderFor("status"));
  std::string encoded;
  for (char c : text.substr(content))
    if (c != '\r' && c != '\n') encoded += c;
  std::string decoded(encoded.size() + 1, '\0');
  CBase64 base64;
  const int n = base64.Decode(encoded.c_str(), decoded.data());
  ASSERT_GT(n, 0);
  decoded.resize(static_cast<std::size_t>(n));
  EXPECT_NE(decoded.find("VmRSS:"), std::string::npos) << decoded;
}

}  // namespace

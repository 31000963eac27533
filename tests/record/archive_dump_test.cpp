// SPDX-License-Identifier: Apache-2.0
// The archive dump tool run on real files: a good archive, archives cut
// short in a header and in a block, and a missing file.
#include "tests/support/alarm_records.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace tarvenkel::test;

ProcessResult dump(std::vector<std::string> args) {
  args.insert(args.begin(), BinaryPath("tools/tarvenkel-archive-dump"));
  return RunProcess(args);
}

TEST(ArchiveDump, PrintsEveryRecordWithValuesLengthAndBlock) {
  TempDir dir;
  WriteFile(dir.file("good.arc"), RawRecord(1, 2, 3, 3, "abc") + RawRecord(-1, 7, 0x10, -5) +
                                      RawRecord(4, 5, 6, 18, std::string("bin\x00\x01\xff" "ary data..", 16) + std::string(2, '\0')));
  ProcessResult run = dump({dir.file("good.arc")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const char* expected[] = {
      "record 1 at offset 0\n",
      "  m_nValue1  1 (0x00000001)\n  m_nValue2  2 (0x00000002)\n  m_nValue3  3 (0x00000003)\n  m_nDataLen 3\n",
      "  block     3 bytes\n    00000000  61 62 63",
      "|abc|\n  text      \"abc\"\n",
      "record 2 at offset 19\n  m_nValue1  -1 (0xffffffff)\n",
      "  m_nDataLen -5\n  block     none\n",
      "record 3 at offset 35\n",
      ("    00000000  62 69 6e 00 01 ff 61 72 79 20 64 61 74 61 2e 2e  |bin...ary data..|\n"
       "    00000010  00 00"),
      "3 records, 69 bytes\n",
  };
  for (const char* piece : expected) EXPECT_NE(run.out.find(piece), std::string::npos) << piece << "\n---\n" << run.out;
  EXPECT_EQ(run.out.find("text      \"bin"), std::string::npos) << "binary blocks are not shown as text";

  ProcessResult limited = dump({"--max-block", "2", dir.file("good.arc")});
  EXPECT_EQ(limited.status, 0);
  EXPECT_NE(limited.out.find("61 62 "), std::string::npos);
  EXPECT_NE(limited.out.find("... 1 more bytes"), std::string::npos) << limited.out;
}

TEST(ArchiveDump, CutShortArchivesNameTheOffsetAndFail) {
  TempDir dir;
  std::string first = RawRecord(1, 2, 3, 3, "abc");
  WriteFile(dir.file("block.arc"), first + RawRecord(4, 5, 6, 10, "01234"));
  ProcessResult run = dump({dir.file("block.arc")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("record 1 at offset 0"), std::string::npos) << "records before the break are shown";
  EXPECT_NE(run.err.find("record 2 at offset 19 is cut short: its block claims 10 bytes but only 5 follow"),
            std::string::npos)
      << run.err;

  WriteFile(dir.file("header.arc"), first + RawRecord(4, 5, 6, 0).substr(0, 10));
  run = dump({dir.file("header.arc")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("record 2 at offset 19 is cut short: the file ends 10 bytes into its 16-byte header"),
            std::string::npos)
      << run.err;

  WriteFile(dir.file("huge.arc"), RawRecord(1, 2, 3, 0x7FFFFFFF));
  run = dump({dir.file("huge.arc")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("claims 2147483647 bytes but only 0 follow"), std::string::npos) << run.err;
}

TEST(ArchiveDump, EmptyArchiveHasNoRecordsAndBadUsageFails) {
  TempDir dir;
  WriteFile(dir.file("empty.arc"), "");
  ProcessResult run = dump({dir.file("empty.arc")});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "0 records, 0 bytes\n");
  run = dump({dir.file("missing.arc")});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot open"), std::string::npos) << run.err;
  EXPECT_EQ(dump({}).status, 2);
  EXPECT_EQ(dump({"--max-block", "x", dir.file("empty.arc")}).status, 2);
}

}  // namespace

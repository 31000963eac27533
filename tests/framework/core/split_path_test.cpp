// SPDX-License-Identifier: Apache-2.0
#include "framework/core/split_path.h"

#include "framework/core/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Split {
  std::string drive, dir, fname, ext;
};

Split Do(const char* path) {
  char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(path, drive, dir, fname, ext);
  return {drive, dir, fname, ext};
}

TEST(SplitPath, BothSeparatorsAndLastDotOfLastComponent) {
  Split s = Do("C:\\logs\\alarm.txt");
  EXPECT_EQ(s.drive, "C:");
  EXPECT_EQ(s.dir, "\\logs\\");
  EXPECT_EQ(s.fname, "alarm");
  EXPECT_EQ(s.ext, ".txt");
  s = Do("/var/spool.d/report.final.txt");
  EXPECT_EQ(s.drive, "");
  EXPECT_EQ(s.dir, "/var/spool.d/");
  EXPECT_EQ(s.fname, "report.final");
  EXPECT_EQ(s.ext, ".txt");
  s = Do("mixed/dir.v2\\README");
  EXPECT_EQ(s.dir, "mixed/dir.v2\\");
  EXPECT_EQ(s.fname, "README");
  EXPECT_EQ(s.ext, "");
  s = Do(".profile");
  EXPECT_EQ(s.fname, "");
  EXPECT_EQ(s.ext, ".profile");
  s = Do("1:odd");  // only a letter makes a drive
  EXPECT_EQ(s.drive, "");
  EXPECT_EQ(s.fname, "1:odd");
}

TEST(SplitPath, NullOutputsAndInputAndLongPartsAreCut) {
  char fname[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(nullptr, nullptr, nullptr, fname, ext);
  EXPECT_STREQ(fname, "");
  const std::string longName(400, 'n');
  const std::string longExt = "." + std::string(300, 'e');
  char dir[_MAX_DIR];
  const std::string path = "/" + std::string(300, 'd') + "/" + longName + longExt;
  _splitpath(path.c_str(), nullptr, dir, fname, ext);
  EXPECT_EQ(std::string(dir), path.substr(0, 255));
  EXPECT_EQ(std::string(fname), longName.substr(0, 255));
  EXPECT_EQ(std::string(ext), longExt.substr(0, 255));
}

TEST(SplitPath, ABackslashInsideACharacterOfTheCodePageIsNoSeparator) {
  // 淺 is B2 5C in GBK, 嘰 87 5C; 0x5C after a lead byte is a trail byte.
  AfxSetAnsiCodePage(936);
  Split s = Do("C:\\logs\\\xB2\x5C.txt");
  EXPECT_EQ(s.dir, "\\logs\\");
  EXPECT_EQ(s.fname, "\xB2\x5C");
  EXPECT_EQ(s.ext, ".txt");
  s = Do("/spool/\x87\x5C\x87\x5C\\\xB1\xA8.log");  // the last 0x5C stands alone
  EXPECT_EQ(s.dir, "/spool/\x87\x5C\x87\x5C\\");
  EXPECT_EQ(s.fname, "\xB1\xA8");
  // A cut that would end inside a character ends before it.
  const std::string name = "xy" + std::string(300, '\xB1');
  char fname[_MAX_FNAME];
  _splitpath(name.c_str(), nullptr, nullptr, fname, nullptr);
  EXPECT_EQ(std::string(fname), name.substr(0, 255 - 1));
  // In UTF-8 no byte of a sequence is "\\", and a lone lead byte is a character of its own.
  AfxSetAnsiCodePage(CP_UTF8);
  s = Do("a\\\xE6\\b");
  EXPECT_EQ(s.fname, "b");
  AfxSetAnsiCodePage(936);
}

}  // namespace

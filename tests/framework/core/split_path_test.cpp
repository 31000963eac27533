// SPDX-License-Identifier: Apache-2.0
#include "framework/core/split_path.h"

#include "framework/core/code_page.h"
#include "tests/support/text_case.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The four parts of the path, joined by "|": drive, folder, name, extension.
std::string Parts(const char* path) {
  char drive[_MAX_DRIVE], dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(path, drive, dir, fname, ext);
  return std::string(drive) + "|" + dir + "|" + fname + "|" + ext;
}

TEST(SplitPath, BothSeparatorsAndLastDotOfLastComponent) {
  const tarvenkel::test::TextCase cases[] = {
      {"C:\\logs\\alarm.txt", "C:|\\logs\\|alarm|.txt"},
      {"/var/spool.d/report.final.txt", "|/var/spool.d/|report.final|.txt"},
      {"mixed/dir.v2\\README", "|mixed/dir.v2\\|README|"},
      {".profile", "|||.profile"},
      {"1:odd", "||1:odd|"},  // only a letter makes a drive
  };
  for (const auto& c : cases) EXPECT_EQ(Parts(c.input), c.expected) << c.input;
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
  EXPECT_EQ(Parts("C:\\logs\\\xB2\x5C.txt"), "C:|\\logs\\|\xB2\x5C|.txt");
  // The last 0x5C stands alone.
  EXPECT_EQ(Parts("/spool/\x87\x5C\x87\x5C\\\xB1\xA8.log"), "|/spool/\x87\x5C\x87\x5C\\|\xB1\xA8|.log");
  // A cut that would end inside a character ends before it.
  const std::string name = "xy" + std::string(300, '\xB1');
  char fname[_MAX_FNAME];
  _splitpath(name.c_str(), nullptr, nullptr, fname, nullptr);
  EXPECT_EQ(std::string(fname), name.substr(0, 255 - 1));
  // In UTF-8 no byte of a sequence is "\\", and a lone lead byte is a character of its own.
  AfxSetAnsiCodePage(CP_UTF8);
  EXPECT_EQ(Parts("a\\\xE6\\b"), "|a\\\xE6\\|b|");
  AfxSetAnsiCodePage(936);
}

}  // namespace

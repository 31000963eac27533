#include "framework/split_path.h"

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

}  // namespace

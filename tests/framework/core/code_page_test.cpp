// SPDX-License-Identifier: Apache-2.0
#include "framework/core/code_page.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(CodePage, LabelsAndCharacterLengths) {
  EXPECT_STREQ(AfxGetCodePageCharset(936), "GBK");
  EXPECT_STREQ(AfxGetCodePageCharset(CP_UTF8), "UTF-8");
  EXPECT_STREQ(AfxGetCodePageCharset(1252), "windows-1252");
  EXPECT_STREQ(AfxGetCodePageCharset(12345), "UNKNOWN-8BIT");
  EXPECT_EQ(AfxGetCharsetCodePage("gb2312"), 936u);
  EXPECT_EQ(AfxGetCharsetCodePage("GB18030"), 936u);
  EXPECT_EQ(AfxGetCharsetCodePage("utf-8"), CP_UTF8);
  EXPECT_EQ(AfxGetCharsetCodePage("ISO-8859-1"), 0u);
  struct Case {
    UINT nCodePage;
    const char* bytes;
    int length;
  } cases[] = {
      {936, "\xB1\xA8", 2},         {936, "\xB2\x5C", 2},         {936, "\xB1\x7F", 1},
      {936, "\x81\x30\x81\x30", 4}, {936, "\x81\x30\x81", 1},    {936, "\xB1", 1},
      {936, "\x80\x41", 1},         {CP_UTF8, "\xE6\x8A\xA5", 3}, {CP_UTF8, "\xF0\x9F\x98\x80", 4},
      {CP_UTF8, "\xE6\x8A", 1},     {CP_UTF8, "\xC3\x28", 1},     {1252, "\xE9\x41", 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(AfxCharLength(c.nCodePage, c.bytes, std::strlen(c.bytes)), c.length) << c.nCodePage << " " << c.bytes;
}

}  // namespace

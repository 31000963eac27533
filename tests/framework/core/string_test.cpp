// SPDX-License-Identifier: Apache-2.0
#include "framework/core/collections.h"
#include "framework/core/exception.h"
#include "framework/core/string.h"
#include "framework/core/string_array.h"
#include "framework/core/time.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>

TEST(CStringSlicing, LeftRightAndMidClampToTheText) {
  const CString two("ab");
  EXPECT_EQ(two.Left(3), "ab");
  EXPECT_EQ(two.Left(-1), "");
  EXPECT_EQ(CString().Right(2), "");
  EXPECT_EQ(CString("hello\r\n").Right(2), "\r\n");
  EXPECT_EQ(CString("hello").Right(9), "hello");
  EXPECT_EQ(CString("hello").Mid(1, 3), "ell");
  EXPECT_EQ(CString("hello").Mid(3, 10), "lo");
  EXPECT_EQ(CString("hello").Mid(7), "");
  EXPECT_EQ(CString("hello").Mid(-2, 2), "he");
}

TEST(CStringSearching, FindGivesFirstPositionOrMinusOne) {
  const CString s("a<b>c<d>");
  EXPECT_EQ(s.Find('<'), 1);
  EXPECT_EQ(s.Find('<', 2), 5);
  EXPECT_EQ(s.Find("a<"), 0);
  EXPECT_EQ(s.Find("zz"), -1);
  EXPECT_EQ(s.Find("c", 99), -1);
  EXPECT_EQ(s.ReverseFind('<'), 5);
  EXPECT_EQ(CString().Find('x'), -1);
}

TEST(CStringTrimming, RemovesExactlyTheSixWhiteSpaceCharacters) {
  CString s(" \t\r\n\v\fword\f\v\n\r\t ");
  s.TrimLeft();
  EXPECT_EQ(s, "word\f\v\n\r\t ");
  s.TrimRight();
  EXPECT_EQ(s, "word");
  CString blank(" \t \r\n");
  blank.TrimLeft();
  EXPECT_TRUE(blank.IsEmpty());
  CString other("\x01word\xa0");
  other.Trim();
  EXPECT_EQ(other.GetLength(), 6) << "control and high bytes are not white space";
}

TEST(CStringFormat, FillsInPrintfConversions) {
  const CString name("Alarm");
  CString s;
  s.Format("%s:%d:%s", name.GetString(), -42, "x");
  EXPECT_EQ(s, "Alarm:-42:x");
  s.Format("100%%");
  EXPECT_EQ(s, "100%");
  s.Format("%5s|%-4s|%.2s", "ab", "c", "abcdef");
  EXPECT_EQ(s, "   ab|c   |ab");
  const CString big('z', 5000);
  s.Format("[%s]", big.GetString());
  EXPECT_EQ(s.GetLength(), 5002);
  EXPECT_EQ(s.Right(2), "z]");
  // The format may read the string it replaces.
  s = "abc";
  s.Format("%s%s", s.GetString(), s.GetString());
  EXPECT_EQ(s, "abcabc");
  s.AppendFormat("-%03d", 7);
  EXPECT_EQ(s, "abcabc-007");
  const LPCTSTR kNoPattern = nullptr;
  s.Format(kNoPattern);
  EXPECT_TRUE(s.IsEmpty());
}

TEST(CStringBytes, CountedTextKeepsZerosAndHighBytes) {
  CString s("a\0b", 3);
  EXPECT_EQ(s.GetLength(), 3);
  s.Append("\xff\0", 2);
  EXPECT_EQ(s.GetLength(), 5);
  EXPECT_EQ(std::memcmp(s.str().data(), "a\0b\xff\0", 5), 0);
  EXPECT_STREQ(static_cast<LPCTSTR>(s), "a");
  EXPECT_FALSE(CString("a\0b", 3) == CString("a\0c", 3));
  EXPECT_EQ(_mbscmp(reinterpret_cast<const unsigned char*>("abc"), reinterpret_cast<const unsigned char*>("abc")), 0);
  EXPECT_NE(_mbscmp(reinterpret_cast<const unsigned char*>("abc"), reinterpret_cast<const unsigned char*>("abd")), 0);
}

TEST(CStringEditing, ReplaceInsertDeleteAndBuffer) {
  CString s("a.b.c");
  EXPECT_EQ(s.Replace(".", "--"), 2);
  EXPECT_EQ(s, "a--b--c");
  EXPECT_EQ(s.Replace("x", "y"), 0);
  s.Insert(0, ">");
  s.Delete(1, 3);
  EXPECT_EQ(s, ">b--c");
  char* p = s.GetBuffer(10);
  std::strcpy(p, "new");
  s.ReleaseBuffer();
  EXPECT_EQ(s, "new");
  const CString copy = s;
  s += "er";
  EXPECT_EQ(copy, "new") << "copies are independent values";
  EXPECT_EQ(s + '!' + CString("?"), "newer!?");
}

TEST(CStringLimits, LengthsPastIntMaxThrowBeforeAllocatingAndKeepTheString) {
  constexpr std::size_t kMax = INT_MAX;
  const struct {
    std::size_t nLength, nMore;
    int nSum;  // -1: throws
  } sums[] = {{0, 0, 0},           {kMax, 0, INT_MAX}, {kMax - 5, 5, INT_MAX}, {kMax - 5, 6, -1},
              {1, kMax, -1},       {kMax + 1, 0, -1},  {SIZE_MAX, 1, -1},      {SIZE_MAX, SIZE_MAX, -1}};
  for (const auto& c : sums) {
    if (c.nSum >= 0) EXPECT_EQ(AfxCheckedLength(c.nLength, c.nMore), c.nSum);
    else EXPECT_THROW(AfxCheckedLength(c.nLength, c.nMore), CMemoryException*) << c.nLength << " + " << c.nMore;
  }
  // The source holds a few bytes only: each call must throw before reading or allocating.
  const char bytes[] = "abc";
  const std::function<void(CString&)> growths[] = {
      [&](CString& s) { s.Append(bytes, INT_MAX); },
      [&](CString& s) { s.Append(bytes, INT_MAX - 3); },
      // What a length plus a count wrapped around to.
      [](CString& s) { s.GetBuffer(static_cast<int>(static_cast<unsigned>(s.GetLength()) + unsigned{INT_MAX})); },
  };
  for (const auto& grow : growths) {
    CString s("keep");
    EXPECT_THROW(grow(s), CMemoryException*);
    EXPECT_EQ(s, "keep");
    s += '!';
    EXPECT_EQ(s, "keep!");
  }
}

TEST(Collections, ListKeepsOrderAtBothEndsAndArrayGrows) {
  CList<int, int> list;
  list.AddTail(2);
  list.AddHead(1);
  list.AddTail(3);
  std::string seen;
  for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) seen += std::to_string(list.GetNext(pos));
  EXPECT_EQ(seen, "123");
  EXPECT_EQ(list.RemoveHead(), 1);
  EXPECT_EQ(list.GetCount(), 2);

  CStringArray array;
  array.Add("x");
  array.Add(CString("y"));
  ASSERT_EQ(array.GetSize(), 2);
  EXPECT_EQ(array.GetAt(1), "y");
  EXPECT_THROW(array.GetAt(2), std::out_of_range);
}

TEST(CTimeFormat, FormatsLocalAndUniversalTime) {
  const CTime epoch(86400 * 365);
  EXPECT_EQ(epoch.FormatGmt("%Y-%m-%d %H:%M:%S"), "1971-01-01 00:00:00");
  const CString empty;  // not a literal, which the compiler would reject
  EXPECT_EQ(epoch.FormatGmt(empty), "");
  const CTime now = CTime::GetCurrentTime();
  EXPECT_GT(now.GetTime(), 1700000000);
  EXPECT_EQ(now.Format("%y").GetLength(), 2);
}

// SPDX-License-Identifier: Apache-2.0
#include "mail/text_plain.h"

#include "tests/support/literal_wrap.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using tarvenkel::test::LiteralWrap;

class Wrapper : public CTextPlain {
public:
  explicit Wrapper(UINT width) : CTextPlain(TEXT_PLAIN, width) {}
  std::string Wrap(const char* text) { return wrap_text(text).str(); }
  std::string SubHeader(const char* params, int encoding) {
    return build_sub_header("ignored", params, encoding, TRUE).str();
  }
};

TEST(WrapText, BreaksAtTheLastSpaceOnceALineExceedsTheWidth) {
  Wrapper w(20);
  EXPECT_EQ(w.Wrap("The quick brown fox jumps over the lazy dog and keeps running far away"),
            "The quick brown fox\r\njumps over the lazy\r\ndog and keeps running\r\nfar away");
  EXPECT_EQ(w.Wrap("exactly twenty-one ch"), "exactly twenty-one ch");
  EXPECT_EQ(w.Wrap("exactly twenty-one cha"), "exactly twenty-one\r\ncha");
  EXPECT_EQ(w.Wrap("line one\r\nline two is a bit longer than twenty"),
            "line one\r\nline two is a bit\r\nlonger than twenty");
  EXPECT_EQ(w.Wrap(""), "");
  EXPECT_EQ(w.Wrap(nullptr), "");
}

TEST(WrapText, TextsWithoutASpaceOnTheLineFollowTheLastSpaceSeenAnywhere) {
  Wrapper w(5);
  // No space at all: s stays 0, so CR LF goes in front and the run stays whole.
  EXPECT_EQ(w.Wrap("  abcdefghijkl"), "\r\nabcdefghijkl");
  // After a break, a long run stays whole (the break at s is put back as it was).
  EXPECT_EQ(w.Wrap("ab cdefghijklmnopq"), "ab\r\ncdefghijklmnopq");
  // A break that trimmed several blanks leaves s inside the next word.
  EXPECT_EQ(w.Wrap("ab     cdefghijklmnop"), "ab\r\ncd\r\nefghijklmnop");
  EXPECT_EQ(Wrapper(3).Wrap("abcde     fghijklmnopqrstu"), "\r\nabcde\r\nfghijklmnopqrstu");
}

// Random texts from a small alphabet rich in the characters that matter.
std::string RandomText(std::mt19937& rng, std::size_t maxLength) {
  static const char* const pieces[] = {" ", " ", " ", "  ", "     ", "\t", "\r\n", "\r\n\r\n", "\n", "\r",
                                       "a", "b", "word", "longerword", "x", " \r\n ", "\f", "\v"};
  std::string text;
  const std::size_t length = rng() % (maxLength + 1);
  // Some texts are one long run, some have long words.
  const int style = static_cast<int>(rng() % 4);
  while (text.size() < length) {
    if (style == 0) text += static_cast<char>('a' + rng() % 26);
    else if (style == 1 && rng() % 8 == 0) text += std::string(rng() % 60, 'w');
    else text += pieces[rng() % (sizeof pieces / sizeof *pieces)];
  }
  return text;
}

TEST(WrapText, MatchesTheLiteralStepsOnRandomTexts) {
  std::mt19937 rng(1208);
  int cases = 0;
  for (UINT width = 1; width <= 100; ++width) {
    Wrapper w(width);
    for (int round = 0; round < 60; ++round, ++cases) {
      const std::string text = RandomText(rng, round < 40 ? 3 * width + 10 : 1500);
      ASSERT_EQ(w.Wrap(text.c_str()), LiteralWrap(text.c_str(), width))
          << "width " << width << " text [" << text << "]";
    }
  }
  // Width 0 and the largest width take the comparison's edges.
  for (UINT width : {0u, 0xFFFFFFFFu}) {
    Wrapper w(width);
    for (int round = 0; round < 200; ++round) {
      const std::string text = RandomText(rng, 300);
      ASSERT_EQ(w.Wrap(text.c_str()), LiteralWrap(text.c_str(), width)) << width << " [" << text << "]";
    }
  }
  EXPECT_EQ(cases, 6000);
}

TEST(TextPlainAgent, SubHeaderDeclares7BitWhateverTheEncoding) {
  Wrapper w(76);
  EXPECT_EQ(w.SubHeader("", 0), "Content-Type: text/plain\r\nContent-Transfer-Encoding: 7Bit\r\n\r\n");
  EXPECT_EQ(w.SubHeader("; charset=us-ascii", 4),
            "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7Bit\r\n\r\n");
  // Line breaks in the parameters become blanks (a fold stays one), so
  // that they add no header line to the part.
  EXPECT_EQ(w.SubHeader("; charset=us-ascii\r\nContent-Disposition: attachment\n;\r\n\tformat=flowed", 0),
            "Content-Type: text/plain; charset=us-ascii  Content-Disposition: attachment ;\r\n\tformat=flowed\r\n"
            "Content-Transfer-Encoding: 7Bit\r\n\r\n");
  EXPECT_EQ(w.GetContentTypeString().str(), "text/plain");
  EXPECT_EQ(w.QueryType(TEXT_PLAIN), 1);
  EXPECT_EQ(w.QueryType(APPLICATION_OCTETSTREAM), 0);
}

TEST(TextPlainAgent, AppendPartAddsSubHeaderAndWrappedTextOnly) {
  CTextPlain agent(TEXT_PLAIN, 20);
  CString dest("before\r\n");
  EXPECT_EQ(agent.AppendPart("exactly twenty-one cha", "", ENCODING_BASE64, TRUE, dest), 1);
  EXPECT_EQ(dest.str(),
            "before\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7Bit\r\n\r\n"
            "exactly twenty-one\r\ncha");
}

}  // namespace

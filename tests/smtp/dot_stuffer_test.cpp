// The data-phase transparency filter on its own.
#include "smtp/dot_stuffer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string Cook(const std::string& text) {
  return CDotStuffer::Cook(CString(std::string_view(text))).str();
}

// The same filter fed in pieces of the given size.
std::string CookInPieces(const std::string& text, std::size_t piece) {
  CDotStuffer stuffer;
  std::string out;
  for (std::size_t at = 0; at < text.size(); at += piece)
    stuffer.Write(text.data() + at, std::min(piece, text.size() - at), out);
  stuffer.Finish(out);
  return out;
}

// A plain statement of the rules, line by line: cut the text at every CR LF,
// bare LF and bare CR; double a leading dot; join with CR LF.
std::string Reference(const std::string& text) {
  std::string out;
  std::string line;
  bool lineOpen = false;
  auto endLine = [&](bool withBreak) {
    if (!line.empty() && line[0] == '.') out += '.';
    out += line;
    if (withBreak) out += "\r\n";
    line.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    lineOpen = true;
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      endLine(true);
      lineOpen = false;
    } else {
      line += c;
    }
  }
  if (lineOpen) endLine(false);
  return out;
}

}  // namespace

TEST(DotStuffing, EveryLineStartingWithADotGetsOneMore) {
  EXPECT_EQ(Cook(".\r\n"), "..\r\n");
  EXPECT_EQ(Cook("a\r\n.\r\nb\r\n"), "a\r\n..\r\nb\r\n");
  EXPECT_EQ(Cook(".\r\n.\r\n.\r\n"), "..\r\n..\r\n..\r\n");
  EXPECT_EQ(Cook(".5 bar over limit\r\n"), "..5 bar over limit\r\n");
  EXPECT_EQ(Cook("x\r\n..two\r\n"), "x\r\n...two\r\n");
  EXPECT_EQ(Cook("a.b\r\n a\r\n"), "a.b\r\n a\r\n");  // dots elsewhere stay
  EXPECT_EQ(Cook(""), "");
  EXPECT_EQ(Cook("."), "..");
}

TEST(DotStuffing, BareLineEndsBecomeCrLf) {
  EXPECT_EQ(Cook("a\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(Cook("a\rb\r"), "a\r\nb\r\n");
  EXPECT_EQ(Cook("a\r\r\nb"), "a\r\n\r\nb");
  EXPECT_EQ(Cook("a\n\rb"), "a\r\n\r\nb");
  // The end-of-data sequence cannot be smuggled in with bare line ends.
  EXPECT_EQ(Cook("x\n.\ny\r\n.\nz\n.\r\n"), "x\r\n..\r\ny\r\n..\r\nz\r\n..\r\n");
  EXPECT_EQ(Cook("\r"), "\r\n");
}

TEST(DotStuffing, SplitAtEveryByteGivesTheSameText) {
  const std::string samples[] = {
      "a\r\n.\r\nb\r\n", "..\r\n.\n.\r.x\r\r\n\n\r", ".\r", "\r\n.", "line\r\n\r\n.\r\n..\r\n...\r\nend",
  };
  for (const std::string& text : samples) {
    std::string whole = Cook(text);
    EXPECT_EQ(whole, Reference(text)) << text;
    for (std::size_t piece = 1; piece <= text.size(); ++piece) EXPECT_EQ(CookInPieces(text, piece), whole) << piece;
  }
}

TEST(DotStuffing, RandomTextsMatchTheLineByLineRules) {
  std::mt19937 random(20240607);
  const char alphabet[] = {'.', '.', '\r', '\n', 'a', ' ', '\0', 'z'};
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 60, ' ');
    for (char& c : text) c = alphabet[random() % sizeof alphabet];
    std::string expected = Reference(text);
    ASSERT_EQ(Cook(text), expected) << round;
    ASSERT_EQ(CookInPieces(text, 1), expected) << round;
    ASSERT_EQ(CookInPieces(text, 1 + random() % 7), expected) << round;
  }
}

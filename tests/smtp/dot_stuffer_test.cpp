// SPDX-License-Identifier: Apache-2.0
// The data-phase transparency filter on its own.
#include "smtp/dot_stuffer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Collects what the filter hands to an output, piece by piece.
struct CollectedOutput : CDotStuffer::COutput {
  std::vector<std::string_view> pieces;
  std::string text;
  void Put(const char* pData, std::size_t nLength) override {
    pieces.emplace_back(pData, nLength);
    text.append(pData, nLength);
  }
};

// The filtered text, fed to the filter in pieces of the given size (all of
// it in one piece by default).
std::string Cook(const std::string& text, std::size_t piece = std::string::npos, bool stuffDots = true) {
  CDotStuffer stuffer(stuffDots ? TRUE : FALSE);
  CollectedOutput out;
  std::size_t at = 0;
  do {
    const std::size_t n = std::min(piece, text.size() - at);
    stuffer.Write(text.data() + at, n, out);
    at += n;
  } while (at < text.size());
  stuffer.Finish(out);
  return out.text;
}

// A plain statement of the rules, line by line: cut the text at every CR LF,
// bare LF and bare CR; double a leading dot (unless only line ends are
// made CR LF); join with CR LF.
std::string Reference(const std::string& text, bool stuffDots = true) {
  std::string out;
  std::string line;
  bool lineOpen = false;
  auto endLine = [&](bool withBreak) {
    if (stuffDots && !line.empty() && line[0] == '.') out += '.';
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
  EXPECT_EQ(Cook(".a\n.\r.", std::string::npos, false), ".a\r\n.\r\n.");
}

TEST(DotStuffing, SplitAtEveryByteGivesTheSameText) {
  const std::string samples[] = {
      "a\r\n.\r\nb\r\n", "..\r\n.\n.\r.x\r\r\n\n\r", ".\r", "\r\n.", "line\r\n\r\n.\r\n..\r\n...\r\nend",
  };
  for (const std::string& text : samples) {
    std::string whole = Cook(text);
    EXPECT_EQ(whole, Reference(text)) << text;
    for (std::size_t piece = 1; piece <= text.size(); ++piece) EXPECT_EQ(Cook(text, piece), whole) << piece;
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
    ASSERT_EQ(Cook(text, 1), expected) << round;
    ASSERT_EQ(Cook(text, 1 + random() % 7), expected) << round;
    // For counted data (BDAT) only the line ends change.
    ASSERT_EQ(Cook(text, 1 + random() % 7, false), Reference(text, false)) << round;
  }
}

// The sender relies on this to pass an encoded attachment to the socket
// without copying it: text that needs no change reaches the output as one
// piece that is the caller's own bytes.
TEST(DotStuffing, UnchangedTextReachesTheOutputWholeAndUncopied) {
  const std::string line = "UHVtcCAzOiBwcmVzc3VyZSBhYm92ZSBsaW1pdC4gVmFsdmUgQiBjbG9zZWQu\r\n";
  std::string text;
  for (int i = 0; i < 2000; ++i) text += line;
  CDotStuffer stuffer;
  CollectedOutput out;
  stuffer.Write(text.data(), text.size(), out);
  stuffer.Finish(out);
  ASSERT_EQ(out.pieces.size(), 1u);
  EXPECT_EQ(out.pieces[0].data(), text.data());
  EXPECT_EQ(out.pieces[0].size(), text.size());

  // A line that begins with a dot splits the text there and nowhere else.
  const std::size_t dotLine = line.size() * 1000;
  text[dotLine] = '.';
  CollectedOutput split;
  stuffer.Write(text.data(), text.size(), split);
  stuffer.Finish(split);
  ASSERT_EQ(split.pieces.size(), 3u);
  EXPECT_EQ(split.pieces[0].data(), text.data());
  EXPECT_EQ(split.pieces[0].size(), dotLine);
  EXPECT_EQ(split.pieces[1], ".");
  EXPECT_EQ(split.pieces[2].data(), text.data() + dotLine);
  EXPECT_EQ(split.text, Reference(text));
}

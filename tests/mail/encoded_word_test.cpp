// SPDX-License-Identifier: Apache-2.0
#include "mail/encoded_word.h"

#include "framework/core/code_page.h"
#include "tests/support/mime_words.h"
#include "tests/support/split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tarvenkel::HeaderFolder;
using tarvenkel::test::Convert;
using tarvenkel::test::DecodeWords;
using tarvenkel::test::EncodedWord;
using tarvenkel::test::Unfold;

// The physical lines of a header line.
std::vector<std::string> Lines(const std::string& text) {
  return tarvenkel::test::Split(text, "\r\n");
}

// The subjects of the splitting table, in UTF-8.
std::vector<std::string> Subjects() {
  std::vector<std::string> subjects = {
      "Pump 3 pressure",
      "报",
      "报警：三号厅压力过高",
      "Alarm 报警 pump 3: 压力 5.4 bar, limit 4.0 bar",
      "  报警  三号厅 ",
      "淺嘰淺嘰 C:\\logs\\淺.txt | 丨",  // GBK second bytes 0x5C and 0x7C
      "表情 😀 和 𠀋 四字节",             // four bytes in GB18030 and in UTF-8
  };
  const std::string cycle = "报警a三号 厅压😀力过高";
  for (std::size_t count : {1u, 2u, 37u, 38u, 75u, 76u, 150u, 300u}) {
    std::string text;
    std::size_t chars = 0;
    for (std::size_t i = 0; chars < count; ++chars) {
      const std::size_t n = static_cast<std::size_t>(AfxCharLength(CP_UTF8, cycle.data() + i, cycle.size() - i));
      text += cycle.substr(i, n);
      i = (i + n) % cycle.size();
    }
    subjects.push_back(text);
  }
  return subjects;
}

TEST(EncodedWords, EveryWordHoldsWholeCharactersAndEveryLineIsShort) {
  for (const char* charset : {"GB18030", "UTF-8"}) {
    const UINT nCodePage = AfxGetCharsetCodePage(charset);
    for (const std::string& utf8 : Subjects()) {
      std::string text;
      ASSERT_TRUE(Convert(utf8, "UTF-8", charset, text)) << utf8;
      HeaderFolder line("Subject: ", tarvenkel::kEncodedLineWidth);
      line.AddEncoded(text, charset, nCodePage, false);
      for (const std::string& physical : Lines(line.Text()))
        EXPECT_LE(physical.size(), tarvenkel::kEncodedLineWidth) << charset << " " << utf8;
      const std::string unfolded = Unfold(line.Text());
      std::vector<EncodedWord> words;
      ASSERT_TRUE(DecodeWords(unfolded.substr(9), words)) << line.Text();
      std::string joined;
      for (const EncodedWord& word : words) {
        EXPECT_EQ(word.charset, charset);
        // Readers that join the words of a run before decoding need whole
        // groups of three bytes in every B word but the last.
        if (&word != &words.back() && word.text.find("?B?") != std::string::npos) {
          EXPECT_EQ(word.bytes.size() % 3, 0u) << "padding inside the run: " << word.text;
        }
        EXPECT_LE(word.text.size(), tarvenkel::kEncodedWordWidth);
        std::string alone;
        EXPECT_TRUE(Convert(word.bytes, charset, "UTF-8", alone)) << "a word cuts a character: " << word.text;
        joined += alone;
      }
      EXPECT_EQ(joined, utf8) << charset;
    }
  }
}

TEST(EncodedWords, AWordAfterOtherTextStartsWhereTheLineHasRoom) {
  // A name after two addresses: the first word fills the rest of the line,
  // the address follows the last word after a blank.
  HeaderFolder line("To: ", tarvenkel::kEncodedLineWidth);
  line.AddWord("<first.address@example.test>,", false);
  line.AddWord("<second@example.test>,", false);
  const std::string name(60, '\xB1');  // 30 GBK characters B1 B1
  line.AddEncoded(name, "GBK", 936, true);
  line.AddWord("<duty@example.test>", true);
  const std::vector<std::string> lines = Lines(line.Text());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 56), "To: <first.address@example.test>,<second@example.test>, ");
  EXPECT_NE(lines[0].find("=?GBK?B?"), std::string::npos) << "the first word should use the first line";
  for (const std::string& physical : lines) EXPECT_LE(physical.size(), tarvenkel::kEncodedLineWidth);
  EXPECT_EQ(lines.back().substr(lines.back().size() - 19), "<duty@example.test>");
}

TEST(ExtendedParameter, LongNamesAreSplitIntoSectionsOfWholeCharacters) {
  for (std::size_t count : {4u, 40u, 120u}) {
    std::string name;
    for (std::size_t i = 0; i < count; ++i) name += "\xB2\x5C";  // 淺
    name += ".txt";
    HeaderFolder line("Content-Disposition: attachment;", tarvenkel::kEncodedLineWidth, true);
    line.AddExtendedParameter("filename", name, "GBK", 936, ";");
    for (const std::string& physical : Lines(line.Text())) EXPECT_LE(physical.size(), tarvenkel::kEncodedLineWidth);
    std::string value, charset;
    ASSERT_TRUE(tarvenkel::test::ParameterValue(Unfold(line.Text()), "filename", true, value, charset)) << line.Text();
    EXPECT_EQ(charset, "GBK");
    EXPECT_EQ(value, name);
    // No section ends inside a character: each holds an even number of
    // escaped bytes before the extension.
    for (const std::string& physical : Lines(line.Text())) {
      std::size_t escapes = 0;
      for (char c : physical) escapes += c == '%';
      EXPECT_EQ(escapes % 2, 0u) << physical;
    }
  }
}

TEST(CharsetParameter, FindsTheNameInAnyCaseAndQuotes) {
  EXPECT_EQ(tarvenkel::CharsetParameter("; charset=GBK"), "GBK");
  EXPECT_EQ(tarvenkel::CharsetParameter("; format=flowed; CharSet = \"utf-8\""), "utf-8");
  EXPECT_EQ(tarvenkel::CharsetParameter("; format=flowed"), "");
  EXPECT_EQ(tarvenkel::CharsetParameter("; xcharset=GBK"), "");
}

}  // namespace

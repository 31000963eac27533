// SPDX-License-Identifier: Apache-2.0
#include "mail/base64.h"

#include "framework/core/exception.h"
#include "mail/mime_output.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// Reaches the bit-level encoder and the bit reader of CBase64.
class BitwiseBase64 : public CBase64 {
public:
  using CBase64::EncodeBitwise;
  using CBase64::m_sBase64Alphabet;
  using CBase64::read_bits;

  void Start(const std::string& input) {
    m_pInput = reinterpret_cast<const unsigned char*>(input.data());
    m_nInputLength = static_cast<int>(input.size());
    m_nBitCount = 0;
  }
};

std::string Enc(const std::string& s) {
  CBase64 b;
  return b.Encode(s.data(), static_cast<int>(s.size())).str();
}

// Decodes into a buffer of strlen + 1 bytes; returns the count and the buffer.
std::pair<int, std::string> Dec(const char* text, CBase64& b) {
  std::string buf(std::strlen(text) + 1, '\x55');
  const int n = b.Decode(text, buf.data());
  return {n, buf};
}

TEST(Base64Encode, KnownTexts) {
  EXPECT_EQ(Enc("abc"), "YWJj");
  EXPECT_EQ(Enc("a"), "YQ==");
  EXPECT_EQ(Enc("ab"), "YWI=");
  EXPECT_EQ(Enc(""), "");
  EXPECT_EQ(Enc("\xff"), "/w==");
  EXPECT_EQ(Enc(std::string("\0\0\0", 3)), "AAAA");
  EXPECT_EQ(Enc("Man is distinguished"), "TWFuIGlzIGRpc3Rpbmd1aXNoZWQ=");
  const std::string block(54, '\xA7');
  const std::string line = Enc(block);
  EXPECT_EQ(line.size(), 72u);
  EXPECT_EQ(line.find('='), std::string::npos);
}

TEST(Base64Encode, NullOrNonPositiveLengthGivesEmptyText) {
  CBase64 b;
  EXPECT_TRUE(b.Encode(nullptr, 5).IsEmpty());
  EXPECT_TRUE(b.Encode("abc", 0).IsEmpty());
  EXPECT_TRUE(b.Encode("abc", -3).IsEmpty());
}

TEST(Base64Encode, AppendEncodedAppendsExactlyWhatEncodeReturns) {
  CBase64 b;
  CString dest("head:");
  b.AppendEncoded("ab", 2, dest);
  b.AppendEncoded(nullptr, 2, dest);
  b.AppendEncoded("abc", 3, dest);
  EXPECT_EQ(dest.str(), "head:YWI=YWJj");
}

TEST(Base64Encode, TablePathMatchesBitLevelWalkOnRandomInputs) {
  std::mt19937 rng(20261208);
  BitwiseBase64 b;
  EXPECT_EQ(b.m_sBase64Alphabet.str(), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
  for (int len = 0; len <= 300; ++len) {
    for (int round = 0; round < 20; ++round) {
      std::string input(static_cast<std::size_t>(len), '\0');
      // Half the rounds use only extreme bytes so that sign handling shows.
      for (auto& c : input) c = static_cast<char>(round % 2 ? (rng() & 1 ? 0xFF : 0x80) | (rng() & 0x7F) : rng());
      const CString fast = b.Encode(input.data(), len);
      const CString slow = b.EncodeBitwise(input.data(), len);
      ASSERT_EQ(fast.str(), slow.str()) << "length " << len << " round " << round;
      ASSERT_EQ(fast.GetLength(), (len + 2) / 3 * 4);
    }
  }
}

// The largest input whose text still fits an int: 4 * 536870911 characters.
constexpr int kLargestInput = 1610612733;

TEST(Base64Limits, TextPastIntMaxThrowsBeforeWritingAndKeepsTheDestination) {
  // The input is a few bytes only: each call must throw before reading it.
  const char bytes[] = "abc";
  char out[8] = "";
  CBase64 b;
  EXPECT_THROW(b.Encode(bytes, kLargestInput + 1), CMemoryException*);
  EXPECT_THROW(b.Encode(bytes, INT_MAX), CMemoryException*);
  EXPECT_THROW(b.EncodeInto(bytes, kLargestInput + 1, out), CMemoryException*);
  EXPECT_STREQ(out, "");
  const std::function<void(CString&)> growths[] = {
      [&](CString& s) { b.AppendEncoded(bytes, kLargestInput, s); },  // 2147483644 + the 4 held
      [](CString& s) { tarvenkel::detail::StringOutput(s).Reserve(std::size_t{INT_MAX} - 3); },
      [&](CString& s) { tarvenkel::detail::StringOutput(s).Append(bytes, std::size_t{INT_MAX} + 1); },
  };
  for (const auto& grow : growths) {
    CString s("keep");
    EXPECT_THROW(grow(s), CMemoryException*);
    EXPECT_EQ(s, "keep");
    b.AppendEncoded(bytes, 3, s);
    EXPECT_EQ(s, "keepYWJj");
  }
}

TEST(Base64Bits, ReadBitsPadsTheShortLastGroupWithZeros) {
  BitwiseBase64 b;
  const std::string in("\xC0", 1);
  b.Start(in);
  int lp = 0, got = 0;
  EXPECT_EQ(b.read_bits(6, &got, lp), 0x30u);  // 110000
  EXPECT_EQ(got, 6);
  EXPECT_EQ(b.read_bits(6, &got, lp), 0u);  // the remaining 2 bits, zeros below
  EXPECT_EQ(got, 2);
  b.read_bits(2, &got, lp);
  EXPECT_EQ(got, 0);
  EXPECT_EQ(lp, 1);
}

TEST(Base64Decode, KnownTextsAndBufferTermination) {
  CBase64 b;
  auto [n, buf] = Dec("YWJj", b);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(buf.substr(0, 4), std::string("abc\0", 4));
  EXPECT_EQ(Dec("YQ==", b).first, 1);
  EXPECT_EQ(Dec("YQ==", b).second[0], 'a');
}

TEST(Base64Decode, PaddingIsSkippedAnywhereAndTopBitIgnored) {
  CBase64 b;
  auto [n, buf] = Dec("YQ==YQ==", b);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(buf.substr(0, 3), std::string("\x61\x06\x10", 3));
  // 'Y' | 0x80 and so on decode like the plain characters.
  auto [n2, buf2] = Dec("\xD9\xD7\xCA\xEA", b);
  EXPECT_EQ(n2, 3);
  EXPECT_EQ(buf2.substr(0, 3), "abc");
}

TEST(Base64Decode, CharactersOutsideTheAlphabetFailTheCall) {
  CBase64 b;
  EXPECT_EQ(Dec("YW Jj", b).first, 0);
  EXPECT_EQ(Dec("YWJj\r\n", b).first, 0);
  // Bytes completed before the bad character stay, zero-terminated.
  auto [n, buf] = Dec("YWJj*YWJj", b);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(buf.substr(0, 4), std::string("abc\0", 4));
}

TEST(Base64Decode, EmptyOrNullArgumentsFailWithoutTouchingTheBuffer) {
  CBase64 b;
  char buf[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(b.Decode("", buf), 0);
  EXPECT_EQ(b.Decode(nullptr, buf), 0);
  EXPECT_EQ(b.Decode("YWJj", nullptr), 0);
  EXPECT_EQ(buf[0], 'x');
}

TEST(Base64Decode, RunsOnOneObjectAreIndependentAndRoundTrip) {
  CBase64 b;
  EXPECT_EQ(Dec("YQ==", b).first, 1);
  auto [n, buf] = Dec("YWJj", b);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(buf.substr(0, 3), "abc");
  std::mt19937 rng(7);
  for (int len = 0; len < 200; ++len) {
    std::string in(static_cast<std::size_t>(len), '\0');
    for (auto& c : in) c = static_cast<char>(rng());
    const CString text = b.Encode(in.data(), len);
    std::vector<char> out(static_cast<std::size_t>(text.GetLength()) + 1);
    ASSERT_EQ(b.Decode(text, out.data()), len);
    ASSERT_EQ(std::string(out.data(), static_cast<std::size_t>(len)), in);
  }
}

}  // namespace

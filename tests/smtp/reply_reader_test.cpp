// SPDX-License-Identifier: Apache-2.0
// The reply reader on its own: framing, splits at every byte, leftovers,
// malformed and oversized replies.
#include "smtp/reply_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// Feeds the bytes in pieces of the given size and collects every reply.
std::vector<CSMTPReply> ReadAll(const std::string& bytes, std::size_t piece) {
  CReplyReader reader;
  std::vector<CSMTPReply> replies;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    reader.Append(bytes.data() + at, std::min(piece, bytes.size() - at));
    CSMTPReply reply;
    while (reader.Take(reply) == CReplyReader::Result::Complete) replies.push_back(reply);
  }
  return replies;
}

}  // namespace

TEST(ReplyReader, WholeRepliesHoweverTheBytesAreSplit) {
  const std::string stream =
      "220-mail.example ESMTP\r\n220-second\r\n220 ready\r\n"
      "250\r\n"
      "250-mail.example\r\n250-AUTH LOGIN\r\n250 8BITMIME\r\n"
      "334 VXNlcm5hbWU6\r\n";
  for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
    std::vector<CSMTPReply> replies = ReadAll(stream, piece);
    ASSERT_EQ(replies.size(), 4u) << "piece " << piece;
    EXPECT_EQ(replies[0].nCode, 220);
    ASSERT_EQ(replies[0].lines.size(), 3u);
    EXPECT_EQ(replies[0].lines[0].str(), "mail.example ESMTP");
    EXPECT_EQ(replies[0].lines[2].str(), "ready");
    EXPECT_EQ(replies[1].nCode, 250);
    EXPECT_EQ(replies[1].lines.at(0).str(), "");
    EXPECT_EQ(replies[2].nCode, 250);
    EXPECT_EQ(replies[2].lines.at(1).str(), "AUTH LOGIN");
    EXPECT_EQ(replies[3].nCode, 334);
  }
}

TEST(ReplyReader, LeftoverBytesWaitForTheNextTake) {
  CReplyReader reader;
  const std::string bytes = "250 ok\r\n354 go";
  reader.Append(bytes.data(), bytes.size());
  CSMTPReply reply;
  ASSERT_EQ(reader.Take(reply), CReplyReader::Result::Complete);
  EXPECT_EQ(reply.nCode, 250);
  EXPECT_EQ(reader.Take(reply), CReplyReader::Result::Incomplete);
  EXPECT_EQ(reader.Pending(), 6u);
  reader.Append("\r\n", 2);
  ASSERT_EQ(reader.Take(reply), CReplyReader::Result::Complete);
  EXPECT_EQ(reply.nCode, 354);
  EXPECT_EQ(reply.lines.at(0).str(), "go");
  reader.Append("221", 3);
  reader.Reset();
  EXPECT_EQ(reader.Pending(), 0u);
  EXPECT_EQ(reader.Take(reply), CReplyReader::Result::Incomplete);
}

TEST(ReplyReader, MalformedRepliesHaveCodeZero) {
  const char* malformed[] = {
      "hello\r\n",         // no code
      "25\r\n",            // two digits
      "2500 x\r\n",        // four digits
      "250x\r\n",          // no separator
      "250-a\r\n251 b\r\n",  // the code changes inside the reply
      "250-a\r\nxyz\r\n",  // a continuation that is no reply line
      "\r\n",              // an empty line
  };
  for (const char* text : malformed) {
    std::vector<CSMTPReply> replies = ReadAll(text, 1);
    ASSERT_EQ(replies.size(), 1u) << text;
    EXPECT_EQ(replies[0].nCode, 0) << text;
  }
}

TEST(ReplyReader, RepliesBeyond64KiBFailAndLinesAreCapped) {
  std::string longLine = "250 " + std::string(5000, 'a') + "\r\n";
  std::vector<CSMTPReply> replies = ReadAll(longLine, 1000);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].nCode, 250);
  EXPECT_EQ(static_cast<std::size_t>(replies[0].lines[0].GetLength()), CReplyReader::kMaxStoredLineBytes);

  // Many continuation lines, and one line without an end: both fail at 64 KiB.
  std::string many;
  while (many.size() <= CReplyReader::kMaxReplyBytes) many += "250-" + std::string(60, 'b') + "\r\n";
  for (const std::string& bytes : {many + "250 end\r\n", "250 " + std::string(70 * 1024, 'c')}) {
    CReplyReader reader;
    CReplyReader::Result result = CReplyReader::Result::Incomplete;
    CSMTPReply reply;
    for (std::size_t at = 0; at < bytes.size() && result == CReplyReader::Result::Incomplete; at += 1024) {
      reader.Append(bytes.data() + at, std::min<std::size_t>(1024, bytes.size() - at));
      result = reader.Take(reply);
    }
    EXPECT_EQ(result, CReplyReader::Result::TooLong);
    EXPECT_LE(reader.Pending(), CReplyReader::kMaxReplyBytes);
  }
}

// A reply given up for its length must not leave pieces behind: the reply
// after it is the answer to the next command, however the bytes arrive.
TEST(ReplyReader, TheReplyAfterATooLongOneIsReadIntact) {
  std::string manyLines;
  while (manyLines.size() <= CReplyReader::kMaxReplyBytes) manyLines += "250-" + std::string(60, 'b') + "\r\n";
  const std::string tooLong[] = {
      "250 " + std::string(70 * 1024, 'c') + "\r\n",    // one endless final line
      "250-" + std::string(70 * 1024, 'd') + "\r\n250 done\r\n",  // an endless continuation
      manyLines + "250 end\r\n",                         // many short lines
      manyLines + "250-" + std::string(70 * 1024, 'e') + "\r\n250 end\r\n",
  };
  const std::string next = "550 5.1.1 no such user\r\n354 go ahead\r\n";
  for (const std::string& first : tooLong) {
    const std::string stream = first + next;
    for (std::size_t piece : {1u, 3u, 1024u, 4096u, 100000u}) {
      CReplyReader reader;
      std::vector<CSMTPReply> replies;
      int tooLongCount = 0;
      for (std::size_t at = 0; at < stream.size(); at += piece) {
        reader.Append(stream.data() + at, std::min(piece, stream.size() - at));
        for (;;) {
          CSMTPReply reply;
          const CReplyReader::Result result = reader.Take(reply);
          if (result == CReplyReader::Result::Incomplete) break;
          if (result == CReplyReader::Result::TooLong) {
            ++tooLongCount;
            // What stays is at most the bytes of this receive after the
            // line that went too far, or the head of the line being skipped.
            EXPECT_LE(reader.Pending(), std::max<std::size_t>(piece, 5u)) << "piece " << piece;
            continue;
          }
          replies.push_back(reply);
        }
      }
      EXPECT_EQ(tooLongCount, 1) << "piece " << piece;
      ASSERT_EQ(replies.size(), 2u) << "piece " << piece;
      EXPECT_EQ(replies[0].nCode, 550);
      EXPECT_EQ(replies[0].lines.at(0).str(), "5.1.1 no such user");
      EXPECT_EQ(replies[1].nCode, 354);
    }
  }
}

// SPDX-License-Identifier: Apache-2.0
// The AVI reader against the module's own clip and against damaged copies of it.
#include "framework/window/avi_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"
#include "ui/resources/connect_clip.h"

namespace {

using namespace tarvenkel::test;

std::vector<BYTE> Clip() { return {g_connectClip, g_connectClip + g_connectClipSize}; }

DWORD Le32(const std::vector<BYTE>& b, size_t at) {
  return DWORD(b[at]) | DWORD(b[at + 1]) << 8 | DWORD(b[at + 2]) << 16 | DWORD(b[at + 3]) << 24;
}
size_t FindTag(const std::vector<BYTE>& b, const char* tag, size_t from = 0) {
  for (size_t i = from; i + 4 <= b.size(); ++i)
    if (std::memcmp(&b[i], tag, 4) == 0) return i;
  return std::string::npos;
}

TEST(ConnectClip, HasTheFixedLayoutAndSize) {
  std::vector<BYTE> b = Clip();
  ASSERT_EQ(b.size(), 6446u);
  size_t avih = FindTag(b, "avih");
  ASSERT_NE(avih, std::string::npos);
  EXPECT_EQ(Le32(b, avih + 8), 200000u);       // microseconds per frame
  EXPECT_EQ(Le32(b, avih + 8 + 12), 0x710u);   // flags
  EXPECT_EQ(Le32(b, avih + 8 + 16), 8u);       // frames
  EXPECT_EQ(Le32(b, avih + 8 + 24), 1u);       // streams
  EXPECT_EQ(Le32(b, avih + 8 + 28), 972u);     // suggested buffer
  size_t strh = FindTag(b, "strh");
  EXPECT_EQ(std::memcmp(&b[strh + 8], "vidsDIB ", 8), 0);
  EXPECT_EQ(Le32(b, strh + 8 + 20), 200000u);  // scale
  EXPECT_EQ(Le32(b, strh + 8 + 24), 1000000u); // rate
  size_t idx1 = FindTag(b, "idx1");
  EXPECT_EQ(Le32(b, idx1 + 4), 16u * 16u);
  int records = 0, frames = 0;
  for (size_t at = FindTag(b, "movi"); at < idx1; at += 4) {
    if (std::memcmp(&b[at], "rec ", 4) == 0) ++records;
    if (std::memcmp(&b[at], "00db", 4) == 0 && Le32(b, at + 4) == 320) ++frames;
  }
  EXPECT_EQ(records, 8);
  EXPECT_EQ(frames, 8);
}

TEST(AviReader, ReadsTheClip) {
  std::vector<BYTE> b = Clip();
  CAviReader reader;
  ASSERT_TRUE(reader.Open(b.data(), static_cast<DWORD>(b.size()))) << reader.GetError().GetString();
  EXPECT_EQ(reader.GetWidth(), 16);
  EXPECT_EQ(reader.GetHeight(), 20);
  EXPECT_EQ(reader.GetFrameCount(), 8);
  EXPECT_EQ(reader.GetFramePeriod(), 200000u);
  // Every frame is distinct, so the loop visibly moves at each step.
  std::set<std::vector<DWORD>> distinct;
  for (int f = 0; f < 8; ++f) {
    std::vector<DWORD> px;
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 16; ++x) px.push_back(reader.GetPixelRGB(f, x, y));
    distinct.insert(px);
  }
  EXPECT_EQ(distinct.size(), 8u);
  // The top-left corner is the dialog face, the bottom row the monitor's foot:
  // rows are turned the right way up.
  EXPECT_EQ(reader.GetPixelRGB(0, 0, 0), 0xC0C0C0u);
  EXPECT_EQ(reader.GetPixelRGB(0, 6, 19), 0x000000u);
}

TEST(AviReader, RefusesEveryTruncation) {
  std::vector<BYTE> b = Clip();
  CAviReader reader;
  for (size_t n = 0; n < b.size(); ++n) {
    ASSERT_FALSE(reader.Open(b.data(), static_cast<DWORD>(n))) << n;
    ASSERT_FALSE(reader.GetError().IsEmpty());
    ASSERT_FALSE(reader.IsOpen());
  }
  EXPECT_FALSE(reader.Open(nullptr, 0));
}

std::string Le(DWORD v) { return {char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; }

TEST(AviReader, RefusesDamagedHeadersWithAReason) {
  // Bytes written at an offset from the first occurrence of a tag.
  struct Damage { const char* tag; size_t at; std::string bytes; const char* why; };
  const Damage damages[] = {
      {"RIFF", 4, Le(0xFFFFFFF0u), "RIFF size exceeds the file"},
      {"strh", 4, Le(0x10000u), "chunk size exceeds the stream list"},
      {"strf", 8 + 14, std::string(1, 24), "only 8-bit frames are supported"},
      {"strf", 8 + 16, Le(1), "only uncompressed frames are supported"},
      {"strf", 8 + 4, Le(0x7FFFFFFF), "frame size out of range"},
      {"strf", 8 + 32, Le(257), "palette larger than 256 entries"},
      {"00db", 4, Le(100), "frame chunk shorter than one frame"},
      {"idx1", 16, Le(0x7FFFFFFF), "index entry outside the movie list"},
      {"idx1", 8, "junk", "index entry names another chunk"},
      {"strh", 8 + 32, Le(9), "frame count differs from the stream header"},
  };
  for (const Damage& d : damages) {
    std::vector<BYTE> b = Clip();
    std::memcpy(&b[FindTag(b, d.tag) + d.at], d.bytes.data(), d.bytes.size());
    CAviReader reader;
    EXPECT_FALSE(reader.Open(b.data(), static_cast<DWORD>(b.size()))) << d.why;
    EXPECT_EQ(reader.GetError(), d.why);
  }
}

TEST(AviReader, CorruptedBytesNeverCrash) {
  std::vector<BYTE> good = Clip();
  std::srand(7);
  for (int round = 0; round < 2000; ++round) {
    std::vector<BYTE> b = good;
    for (int k = 0; k < 4; ++k) b[std::rand() % 1300] = static_cast<BYTE>(std::rand());
    CAviReader reader;
    if (!reader.Open(b.data(), static_cast<DWORD>(b.size()))) {
      EXPECT_FALSE(reader.GetError().IsEmpty());
    }
  }
}

TEST(ConnectClip, GeneratedSourceIsUpToDate) {
  EXPECT_EQ(GeneratedFile("tools/make-connect-clip"), ReadFile(SourcePath("ui/resources/connect_clip.cpp")));
}

}  // namespace

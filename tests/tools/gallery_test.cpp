// SPDX-License-Identifier: Apache-2.0
#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

unsigned be32(const std::string& s, std::size_t at) {
  return (unsigned(static_cast<unsigned char>(s[at])) << 24) | (unsigned(static_cast<unsigned char>(s[at + 1])) << 16) |
         (unsigned(static_cast<unsigned char>(s[at + 2])) << 8) | unsigned(static_cast<unsigned char>(s[at + 3]));
}

TEST(Gallery, WritesPngOfTheWholeSheet) {
  tarvenkel::test::TempDir dir;
  std::string out = dir.file("gallery.png");
  const std::string gallery = tarvenkel::test::BinaryPath("tools/tarvenkel-gallery");
  const tarvenkel::test::ProcessResult run = tarvenkel::test::RunProcess({gallery, out});
  ASSERT_EQ(run.status, 0) << run.Describe();
  std::string png = tarvenkel::test::ReadFile(out);
  ASSERT_GT(png.size(), 33u);
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8));
  EXPECT_EQ(png.substr(12, 4), "IHDR");
  EXPECT_EQ(be32(png, 16), 610u);
  EXPECT_EQ(be32(png, 20), 564u);
  // Usage error without a path.
  EXPECT_NE(tarvenkel::test::RunProcess({gallery}).status, 0);
}

}  // namespace

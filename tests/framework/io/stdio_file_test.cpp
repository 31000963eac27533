// SPDX-License-Identifier: Apache-2.0
#include "framework/io/stdio_file.h"

#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using tarvenkel::test::ReadFile;
using tarvenkel::test::TempDir;
using tarvenkel::test::WriteFile;

constexpr UINT kReadShared = 0x8020;  // read-only, share-deny-write, binary

TEST(StdioFile, SmallReadsReturnTheFileInOrderAcrossBufferRefills) {
  TempDir dir;
  std::string bytes(700 * 1024 + 13, '\0');
  std::mt19937 rng(3);
  for (auto& c : bytes) c = static_cast<char>(rng());
  WriteFile(dir.file("data"), bytes);
  CStdioFile f;
  ASSERT_TRUE(f.Open(dir.file("data").c_str(), kReadShared));
  EXPECT_EQ(f.GetLength(), bytes.size());
  std::string got;
  char buf[54];
  UINT n;
  // Mix small reads with one read larger than the internal buffer.
  while ((n = f.Read(buf, sizeof buf)) == sizeof buf) {
    got.append(buf, n);
    if (got.size() == 54 * 100) {
      std::string big(300 * 1024, '\0');
      ASSERT_EQ(f.Read(big.data(), static_cast<UINT>(big.size())), big.size());
      got += big;
    }
  }
  got.append(buf, n);
  EXPECT_EQ(got.size(), bytes.size());
  EXPECT_TRUE(got == bytes);
  EXPECT_EQ(f.Read(buf, sizeof buf), 0u);
  f.Close();
  EXPECT_FALSE(f.IsOpen());
}

TEST(StdioFile, OpenRefusesMissingFilesDirectoriesAndFifos) {
  TempDir dir;
  CStdioFile f;
  CFileException e;
  EXPECT_FALSE(f.Open(dir.file("missing").c_str(), kReadShared, &e));
  EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
  EXPECT_FALSE(f.Open(dir.path().c_str(), kReadShared, &e));
  EXPECT_EQ(e.m_lOsError, EISDIR);
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  EXPECT_FALSE(f.Open(dir.file("fifo").c_str(), kReadShared, &e));  // returns at once, no writer needed
  EXPECT_FALSE(f.Open(nullptr, kReadShared));
  EXPECT_FALSE(f.IsOpen());
}

TEST(StdioFile, DenyWriteKeepsOutLockingWritersWhileOpen) {
  TempDir dir;
  WriteFile(dir.file("log"), "abc");
  CStdioFile reader;
  ASSERT_TRUE(reader.Open(dir.file("log").c_str(), kReadShared));
  // Another reader is welcome.
  CStdioFile second;
  EXPECT_TRUE(second.Open(dir.file("log").c_str(), kReadShared));
  second.Close();
  // A writer that asks for a lock is refused.
  const int fd = ::open(dir.file("log").c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  EXPECT_NE(::fcntl(fd, F_OFD_SETLK, &lock), 0);
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  reader.Close();
  // While a writer holds a lock of either family, opening for shared reading fails.
  CStdioFile late;
  CFileException e;
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(late.Open(dir.file("log").c_str(), kReadShared, &e));
  EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
  ::flock(fd, LOCK_UN);
  EXPECT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
  e.m_cause = CFileException::none;
  EXPECT_FALSE(late.Open(dir.file("log").c_str(), kReadShared, &e));
  EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
  // Without a share-deny mode the open ignores the lock.
  EXPECT_TRUE(late.Open(dir.file("log").c_str(), CStdioFile::modeRead | CStdioFile::shareDenyNone));
  ::close(fd);
}

TEST(StdioFile, ReadErrorThrowsFileException) {
  // Reading this process's memory at offset 0 fails with EIO.
  CStdioFile f;
  ASSERT_TRUE(f.Open("/proc/self/mem", kReadShared));
  char buf[54];
  int thrown = 0;
  try {
    f.Read(buf, sizeof buf);
  } catch (CFileException* e) {
    thrown = e->m_lOsError;
    e->Delete();
  }
  EXPECT_EQ(thrown, EIO);
}

TEST(StdioFile, WriteCreateAndDestructorFlushes) {
  TempDir dir;
  const std::string path = dir.file("out");
  {
    CStdioFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeWrite));
    f.Write("hello ", 6);
    f.Write("world", 5);
    EXPECT_EQ(f.GetLength(), 11u);
  }
  EXPECT_EQ(ReadFile(path), "hello world");
  CStdioFile g;
  ASSERT_TRUE(g.Open(path.c_str(), CStdioFile::modeCreate | CStdioFile::modeNoTruncate | CStdioFile::modeReadWrite));
  char buf[6];
  ASSERT_EQ(g.Read(buf, 6), 6u);
  g.Write("W", 1);  // lands right after the bytes the caller has read
  g.Close();
  EXPECT_EQ(ReadFile(path), "hello World");
  CStdioFile ro;
  ASSERT_TRUE(ro.Open(path.c_str(), kReadShared));
  bool thrown = false;
  try {
    ro.Write("x", 1);
  } catch (CFileException* e) {
    thrown = true;
    e->Delete();
  }
  EXPECT_TRUE(thrown);
}

}  // namespace

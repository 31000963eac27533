// SPDX-License-Identifier: Apache-2.0
#include "framework/io/file.h"
#include "framework/io/stdio_file.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/file.h>
#include <unistd.h>

namespace {

using tarvenkel::test::ReadFile;
using tarvenkel::test::TempDir;
using tarvenkel::test::WriteFile;

TEST(File, OpensReadsWritesSeeksAndReportsLength) {
  TempDir dir;
  std::string path = dir.file("f.bin");
  {
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeReadWrite);
    file.Write("hello, world", 12);
    EXPECT_EQ(file.GetLength(), 12u);
    EXPECT_EQ(file.Seek(-5, CFile::end), 7u);
    char buf[16] = {};
    EXPECT_EQ(file.Read(buf, sizeof buf), 5u);
    EXPECT_STREQ(buf, "world");
    file.SetLength(5);
    file.Flush();
    file.Close();
    EXPECT_FALSE(file.IsOpen());
  }
  EXPECT_EQ(ReadFile(path), "hello");
  {
    // modeNoTruncate keeps the content; without it modeCreate empties the file.
    CFile file(path.c_str(), CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite);
    file.SeekToEnd();
    file.Write("!", 1);
  }
  EXPECT_EQ(ReadFile(path), "hello!");
}

TEST(File, FailuresCarryTheirCause) {
  TempDir dir;
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(dir.file("missing").c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::fileNotFound);
  EXPECT_EQ(error.m_strFileName, dir.file("missing"));
  EXPECT_FALSE(file.Open(dir.path().c_str(), CFile::modeRead, &error));
  EXPECT_EQ(error.m_cause, CFileException::invalidFile);
  try {
    CFile thrower(dir.file("missing").c_str(), CFile::modeRead);
    FAIL() << "no exception";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::fileNotFound);
    e->Delete();
  }
  // Writing to a read-only descriptor is an OS error, thrown as such.
  WriteFile(dir.file("ro"), "x");
  CFile ro(dir.file("ro").c_str(), CFile::modeRead);
  try {
    ro.Write("y", 1);
    FAIL() << "no exception";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::invalidFile);
    e->Delete();
  }
}

TEST(File, ExclusiveShareRefusesASecondOpener) {
  TempDir dir;
  WriteFile(dir.file("lock"), "x");
  CFile first(dir.file("lock").c_str(), CFile::modeRead | CFile::shareExclusive);
  CFile second;
  CFileException error;
  EXPECT_FALSE(second.Open(dir.file("lock").c_str(), CFile::modeRead | CFile::shareDenyWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
  first.Close();
  EXPECT_TRUE(second.Open(dir.file("lock").c_str(), CFile::modeRead | CFile::shareDenyWrite, &error));
}

TEST(FileOpenMode, ARefusedCreateLeavesALockedFileAsItWasForBothClasses) {
  TempDir dir;
  const std::string path = dir.file("held");
  const std::string content = "alarm log\r\n";
  const std::function<BOOL(UINT)> openers[] = {
      [&](UINT flags) { return CFile().Open(path.c_str(), flags); },
      [&](UINT flags) { return CStdioFile().Open(path.c_str(), flags); },
  };
  // Another holder locks the file with either lock family.
  const std::function<bool(int)> holders[] = {
      [](int fd) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        return ::fcntl(fd, F_OFD_SETLK, &lock) == 0;
      },
      [](int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; },
  };
  const UINT modes[] = {CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive,
                        CFile::modeCreate | CFile::modeReadWrite | CFile::shareDenyWrite,
                        CFile::modeCreate | CFile::modeWrite | CFile::shareDenyRead};
  for (const auto& open : openers) {
    for (const auto& hold : holders) {
      for (UINT mode : modes) {
        WriteFile(path, content);
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_TRUE(hold(fd));
        EXPECT_FALSE(open(mode)) << std::hex << mode;
        EXPECT_EQ(ReadFile(path), content) << std::hex << mode;
        ::close(fd);
        // Once the holder is gone the same open succeeds and empties the file.
        EXPECT_TRUE(open(mode)) << std::hex << mode;
        EXPECT_EQ(ReadFile(path), "") << std::hex << mode;
      }
    }
  }
}

TEST(File, AttachedDescriptorIsLeftOpen) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  {
    CFile writer(fds[1]);
    writer.Write("abc", 3);
  }
  char buf[4] = {};
  EXPECT_EQ(read(fds[0], buf, 3), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_NE(fcntl(fds[1], F_GETFD), -1) << "the descriptor must still be open";
  close(fds[0]);
  close(fds[1]);
}

TEST(MemFile, GrowsAndReadsBack) {
  CMemFile file(4);
  std::string data(1000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
  file.Write(data.data(), 600);
  file.Write(data.data() + 600, 400);
  EXPECT_EQ(file.GetLength(), 1000u);
  file.Seek(10, CFile::begin);
  std::string back(2000, '\0');
  EXPECT_EQ(file.Read(back.data(), 2000), 990u);
  EXPECT_EQ(back.substr(0, 990), data.substr(10));
  // Writing past the end leaves a zero-filled gap.
  file.Seek(1010, CFile::begin);
  file.Write("z", 1);
  EXPECT_EQ(file.GetLength(), 1011u);
  char gap[10];
  file.Seek(1000, CFile::begin);
  EXPECT_EQ(file.Read(gap, 10), 10u);
  EXPECT_EQ(std::string(gap, 10), std::string(10, '\0'));
  try {
    file.Seek(-1, CFile::begin);
    FAIL() << "a seek before the start must fail";
  } catch (CFileException* e) {
    EXPECT_EQ(e->m_cause, CFileException::badSeek);
    e->Delete();
  }
}

TEST(MemFile, AttachedBufferIsContentAndGrowthCopiesIt) {
  BYTE buf[4] = {'a', 'b', 'c', 'd'};
  CMemFile fixed(buf, 4);
  EXPECT_EQ(fixed.GetLength(), 4u);
  fixed.Seek(0, CFile::end);
  try {
    fixed.Write("e", 1);
    FAIL() << "a buffer that may not grow must refuse";
  } catch (CMemoryException* e) {
    e->Delete();
  }
  CMemFile growing(buf, 4, 16);
  EXPECT_EQ(growing.GetLength(), 0u);
  growing.Write("0123456789", 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd") << "the caller's buffer stays untouched";
  EXPECT_EQ(growing.GetLength(), 10u);
  BYTE* p = growing.Detach();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 10), "0123456789");
  AfxFreeMemory(p);
  EXPECT_EQ(growing.GetLength(), 0u);
}

}  // namespace

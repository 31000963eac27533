// SPDX-License-Identifier: Apache-2.0
#include "framework/io/archive.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using tarvenkel::test::ReadFile;
using tarvenkel::test::TempDir;
using tarvenkel::test::WriteFile;

std::string bytes_of(CMemFile& file) {
  std::string out(static_cast<std::size_t>(file.GetLength()), '\0');
  file.SeekToBegin();
  file.Read(out.data(), static_cast<UINT>(out.size()));
  return out;
}

// A file over a string that hands out at most nChunk bytes per Read, the way
// a pipe or a slow device does, and counts the reads it served.
class CTrickleFile : public CMemFile {
public:
  CTrickleFile(const std::string& content, UINT nChunk) : m_nChunk(nChunk) {
    Write(content.data(), static_cast<UINT>(content.size()));
    SeekToBegin();
  }
  UINT Read(void* lpBuf, UINT nCount) override {
    ++m_nReads;
    return CMemFile::Read(lpBuf, std::min(nCount, m_nChunk));
  }
  UINT m_nChunk;
  int m_nReads = 0;
};

int cause_of(CArchiveException* e) {
  int cause = e->m_cause;
  e->Delete();
  return cause;
}

TEST(Archive, IntegersAreLittleEndianWhateverTheHost) {
  CMemFile file;
  {
    CArchive ar(&file, CArchive::store);
    EXPECT_TRUE(ar.IsStoring());
    EXPECT_FALSE(ar.IsLoading());
    ar << static_cast<LONG>(-2) << static_cast<DWORD>(0x01020304u) << static_cast<WORD>(0xA1B2) << static_cast<BYTE>(7);
    ar << static_cast<int>(0x7FFFFFFF) << static_cast<UINT>(0x80000000u);
    ar.Close();
  }
  EXPECT_EQ(bytes_of(file), std::string("\xFE\xFF\xFF\xFF\x04\x03\x02\x01\xB2\xA1\x07"
                                        "\xFF\xFF\xFF\x7F\x00\x00\x00\x80",
                                        19));
  file.SeekToBegin();
  CArchive ar(&file, CArchive::load);
  LONG l = 0;
  DWORD dw = 0;
  WORD w = 0;
  BYTE by = 0;
  int n = 0;
  UINT u = 0;
  ar >> l >> dw >> w >> by >> n >> u;
  EXPECT_EQ(l, -2);
  EXPECT_EQ(dw, 0x01020304u);
  EXPECT_EQ(w, 0xA1B2);
  EXPECT_EQ(by, 7);
  EXPECT_EQ(n, 0x7FFFFFFF);
  EXPECT_EQ(u, 0x80000000u);
}

TEST(Archive, FourByteReadPastTheEndThrowsEndOfFileAndKeepsTheBytes) {
  CTrickleFile file(std::string("\x01\x00\x00\x00\x02\x00", 6), 1);
  CArchive ar(&file, CArchive::load, 16);
  DWORD dw = 0;
  ar >> dw;
  EXPECT_EQ(dw, 1u);
  try {
    ar >> dw;
    FAIL() << "no exception";
  } catch (CArchiveException* e) {
    EXPECT_EQ(cause_of(e), CArchiveException::endOfFile);
  }
  // The two bytes that were there are still delivered by Read.
  BYTE rest[4] = {};
  EXPECT_EQ(ar.Read(rest, 4), 2u);
  EXPECT_EQ(rest[0], 2);
}

TEST(Archive, SmallBufferCarriesValuesAcrossItsBoundaries) {
  // A 16-byte buffer and values that straddle it at every alignment.
  for (UINT nChunk : {1u, 3u, 7u, 4096u}) {
    CMemFile out;
    {
      CArchive ar(&out, CArchive::store, 16);
      for (DWORD i = 0; i < 100; ++i) {
        ar << static_cast<BYTE>(i);
        ar << (i * 2654435761u);
        if (i % 7 == 0) {
          std::string block(i, static_cast<char>('a' + i % 26));
          ar.Write(block.data(), static_cast<UINT>(block.size()));
        }
      }
      ar.Close();
    }
    CTrickleFile in(bytes_of(out), nChunk);
    CArchive ar(&in, CArchive::load, 16);
    for (DWORD i = 0; i < 100; ++i) {
      BYTE by = 0;
      DWORD dw = 0;
      ar >> by >> dw;
      ASSERT_EQ(by, static_cast<BYTE>(i)) << "chunk " << nChunk;
      ASSERT_EQ(dw, i * 2654435761u) << "chunk " << nChunk;
      if (i % 7 == 0) {
        std::string block(i, '\0');
        ASSERT_EQ(ar.Read(block.data(), i), i);
        ASSERT_EQ(block, std::string(i, static_cast<char>('a' + i % 26)));
      }
    }
    BYTE extra;
    EXPECT_EQ(ar.Read(&extra, 1), 0u);
  }
}

TEST(Archive, ReadReturnsWhatTheFileHadAndLargeReadsBypassTheBuffer) {
  std::string content(1000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  CTrickleFile file(content, 4096);
  CArchive ar(&file, CArchive::load, 64);
  std::string got(5, '\0');
  EXPECT_EQ(ar.Read(got.data(), 5), 5u);
  std::string big(2000, '\0');
  EXPECT_EQ(ar.Read(big.data(), 2000), 995u);
  EXPECT_EQ(std::string(got) + big.substr(0, 995), content);
  // 5 bytes came through one 64-byte fill; 960 directly; the tail through
  // the buffer again: a handful of reads, not one per byte.
  EXPECT_LE(file.m_nReads, 5);
}

TEST(Archive, FlushWritesTheBufferAndStoringWaitsForIt) {
  CMemFile file;
  CArchive ar(&file, CArchive::store, 16);
  ar << static_cast<DWORD>(1) << static_cast<DWORD>(2) << static_cast<DWORD>(3);
  EXPECT_EQ(file.GetLength(), 0u) << "the buffer holds small writes";
  ar << static_cast<DWORD>(4) << static_cast<DWORD>(5);
  EXPECT_EQ(file.GetLength(), 16u) << "a full buffer goes out when a value does not fit";
  ar.Flush();
  EXPECT_EQ(file.GetLength(), 20u);
  std::string big(40, 'x');
  ar.Write(big.data(), 40);
  ar.Close();
  EXPECT_EQ(file.GetLength(), 60u);
  EXPECT_EQ(ar.GetFile(), nullptr);
}

TEST(Archive, LoadingFlushGivesUnreadBytesBackToTheFile) {
  CTrickleFile file(std::string("\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00", 12), 4096);
  {
    CArchive ar(&file, CArchive::load, 16);
    DWORD dw;
    ar >> dw;
    ar.Close();
  }
  EXPECT_EQ(file.GetPosition(), 4u);
  CArchive ar(&file, CArchive::load, 16);
  DWORD dw = 0;
  ar >> dw;
  EXPECT_EQ(dw, 2u);
}

TEST(Archive, WrongDirectionIsRefused) {
  CMemFile file;
  CArchive store(&file, CArchive::store);
  DWORD dw = 0;
  try {
    store >> dw;
    FAIL();
  } catch (CArchiveException* e) {
    EXPECT_EQ(cause_of(e), CArchiveException::writeOnly);
  }
  store.Abort();
  CArchive load(&file, CArchive::load);
  try {
    load << dw;
    FAIL();
  } catch (CArchiveException* e) {
    EXPECT_EQ(cause_of(e), CArchiveException::readOnly);
  }
}

TEST(Archive, DestructorFlushesAStoringArchiveToARealFile) {
  TempDir dir;
  {
    CFile file(dir.file("a.bin").c_str(), CFile::modeCreate | CFile::modeWrite);
    CArchive ar(&file, CArchive::store);
    ar << static_cast<DWORD>(0xDEADBEEF);
  }
  EXPECT_EQ(ReadFile(dir.file("a.bin")), std::string("\xEF\xBE\xAD\xDE", 4));
  WriteFile(dir.file("b.bin"), std::string("\x2A\x00\x00\x00", 4));
  CFile file(dir.file("b.bin").c_str(), CFile::modeRead);
  CArchive ar(&file, CArchive::load);
  LONG l = 0;
  ar >> l;
  EXPECT_EQ(l, 42);
}

}  // namespace

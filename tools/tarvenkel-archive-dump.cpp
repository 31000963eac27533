// SPDX-License-Identifier: Apache-2.0
// tarvenkel-archive-dump: prints the alarm records of an archive file made of
// consecutive records (the three values, the length, and the block as hex and
// as text). A record that breaks off is reported with its offset and the
// program exits with status 1; usage and file errors exit with status 2.
#include <tarvenkel/record/alarm_msg.h>

#include <cctype>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE* out) {
  std::fputs(
      "usage: tarvenkel-archive-dump [--max-block N] ARCHIVE\n"
      "Prints every alarm record of ARCHIVE, a file of records stored one after another.\n"
      "  --max-block N  show at most N bytes of each block (default: all)\n",
      out);
}

// Prints a block as lines of 16 bytes: offset, hex, and the printable bytes.
void dump_block(const BYTE* p, std::size_t n, std::size_t nShown) {
  std::size_t nLimit = std::min(n, nShown);
  for (std::size_t line = 0; line < nLimit; line += 16) {
    std::printf("    %08zx ", line);
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i < nLimit)
        std::printf(" %02x", p[i]);
      else
        std::fputs("   ", stdout);
    }
    std::fputs("  |", stdout);
    for (std::size_t i = line; i < line + 16 && i < nLimit; ++i) std::putchar(std::isprint(p[i]) ? p[i] : '.');
    std::fputs("|\n", stdout);
  }
  if (nLimit < n) std::printf("    ... %zu more bytes\n", n - nLimit);
}

// Prints the block as one line of text when every byte is printable or a
// common white-space character.
void print_text(const BYTE* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (!std::isprint(p[i]) && p[i] != '\t') return;
  std::printf("  text      \"%.*s\"\n", static_cast<int>(n), reinterpret_cast<const char*>(p));
}

void print_record(const CAlarmMsg& msg, long nIndex, ULONGLONG nOffset, std::size_t nShown) {
  std::printf("record %ld at offset %llu\n", nIndex, static_cast<unsigned long long>(nOffset));
  std::printf("  m_nValue1  %d (0x%08x)\n", msg.m_nValue1, static_cast<unsigned>(msg.m_nValue1));
  std::printf("  m_nValue2  %d (0x%08x)\n", msg.m_nValue2, static_cast<unsigned>(msg.m_nValue2));
  std::printf("  m_nValue3  %d (0x%08x)\n", msg.m_nValue3, static_cast<unsigned>(msg.m_nValue3));
  std::printf("  m_nDataLen %d\n", static_cast<int>(msg.m_nDataLen));
  if (msg.m_pData == nullptr) {
    std::puts("  block     none");
    return;
  }
  std::printf("  block     %d bytes\n", static_cast<int>(msg.m_nDataLen));
  dump_block(msg.m_pData, static_cast<std::size_t>(msg.m_nDataLen), nShown);
  print_text(msg.m_pData, std::min(static_cast<std::size_t>(msg.m_nDataLen), nShown));
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t nShown = static_cast<std::size_t>(-1);
  const char* pszPath = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      usage(stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--max-block") == 0 && i + 1 < argc) {
      char* end = nullptr;
      unsigned long long n = std::strtoull(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0') {
        std::fprintf(stderr, "tarvenkel-archive-dump: --max-block needs a number, not '%s'\n", argv[i]);
        return 2;
      }
      nShown = static_cast<std::size_t>(n);
    } else if (pszPath == nullptr && (argv[i][0] != '-' || argv[i][1] == '\0')) {
      pszPath = argv[i];
    } else {
      usage(stderr);
      return 2;
    }
  }
  if (pszPath == nullptr) {
    usage(stderr);
    return 2;
  }

  CFile file;
  CFileException error;
  if (!file.Open(pszPath, CFile::modeRead | CFile::typeBinary, &error)) {
    char why[256];
    error.GetErrorMessage(why, sizeof why);
    std::fprintf(stderr, "tarvenkel-archive-dump: cannot open %s: %s\n", pszPath, why);
    return 2;
  }
  ULONGLONG nLength = file.GetLength();
  CArchive ar(&file, CArchive::load);
  ULONGLONG nOffset = 0;
  long nIndex = 0;
  while (nOffset < nLength) {
    CAlarmMsg msg;
    try {
      msg.Serialize(ar);
    } catch (CArchiveException* e) {
      e->Delete();
      ULONGLONG nLeft = nLength - nOffset;
      std::fflush(stdout);
      if (nLeft < 16) {
        std::fprintf(stderr,
                     "tarvenkel-archive-dump: %s: record %ld at offset %llu is cut short: the file ends %llu bytes "
                     "into its 16-byte header\n",
                     pszPath, nIndex + 1, static_cast<unsigned long long>(nOffset),
                     static_cast<unsigned long long>(nLeft));
      } else {
        // A failed load leaves the record claiming no block: the length the
        // header claims is read from the file itself.
        unsigned char claim[4] = {};
        file.Seek(static_cast<LONGLONG>(nOffset + 12), CFile::begin);
        file.Read(claim, sizeof claim);
        const auto nClaimed = static_cast<std::int32_t>(claim[0] | claim[1] << 8 | claim[2] << 16 |
                                                        static_cast<std::uint32_t>(claim[3]) << 24);
        std::fprintf(stderr,
                     "tarvenkel-archive-dump: %s: record %ld at offset %llu is cut short: its block claims %d bytes "
                     "but only %llu follow its header\n",
                     pszPath, nIndex + 1, static_cast<unsigned long long>(nOffset), static_cast<int>(nClaimed),
                     static_cast<unsigned long long>(nLeft - 16));
      }
      return 1;
    } catch (CException* e) {
      char why[256];
      e->GetErrorMessage(why, sizeof why);
      e->Delete();
      std::fflush(stdout);
      std::fprintf(stderr, "tarvenkel-archive-dump: %s: record %ld at offset %llu cannot be read: %s\n", pszPath,
                   nIndex + 1, static_cast<unsigned long long>(nOffset), why);
      return 1;
    }
    ++nIndex;
    print_record(msg, nIndex, nOffset, nShown);
    nOffset += 16 + (msg.m_nDataLen > 0 ? static_cast<ULONGLONG>(msg.m_nDataLen) : 0);
  }
  std::printf("%ld record%s, %llu bytes\n", nIndex, nIndex == 1 ? "" : "s", static_cast<unsigned long long>(nLength));
  return 0;
}

// SPDX-License-Identifier: Apache-2.0
// RIFF AVI reading for the animation control.
#include "framework/window/avi_reader.h"

#include <cstring>

namespace {

DWORD le32(const BYTE* p) {
  return DWORD(p[0]) | DWORD(p[1]) << 8 | DWORD(p[2]) << 16 | DWORD(p[3]) << 24;
}
WORD le16(const BYTE* p) { return WORD(p[0] | p[1] << 8); }
bool is_tag(const BYTE* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

// Walks the chunks of a list body. Each call to Next yields one chunk whose
// body lies wholly inside the list; a chunk that claims more bytes than
// remain stops the walk with Broken() set.
class ChunkWalker {
public:
  ChunkWalker(const BYTE* p, DWORD n) : m_p(p), m_n(n) {}
  bool Next(const BYTE*& tag, const BYTE*& body, DWORD& size) {
    if (m_n - m_at < 8) {
      m_broken = m_at != m_n;
      return false;
    }
    tag = m_p + m_at;
    size = le32(m_p + m_at + 4);
    if (size > m_n - m_at - 8) {
      m_broken = true;
      return false;
    }
    body = m_p + m_at + 8;
    m_at += 8 + size;
    if ((size & 1) && m_at < m_n) ++m_at;  // chunks are padded to even sizes
    return true;
  }
  bool Broken() const { return m_broken; }

private:
  const BYTE* m_p;
  DWORD m_n;
  DWORD m_at = 0;
  bool m_broken = false;
};

}  // namespace

BOOL CAviReader::fail(const char* pszWhy) {
  Close();
  m_strError = pszWhy;
  return FALSE;
}

void CAviReader::Close() {
  m_frames.clear();
  m_nWidth = m_nHeight = 0;
  m_bTopDown = FALSE;
  m_nFramePeriod = m_nDeclaredFrames = 0;
  m_bHaveMain = m_bHaveVideo = FALSE;
  std::memset(m_palette, 0, sizeof m_palette);
}

BYTE CAviReader::GetPixel(int nFrame, int x, int y) const {
  if (nFrame < 0 || nFrame >= GetFrameCount() || x < 0 || x >= m_nWidth || y < 0 || y >= m_nHeight)
    return 0;
  int stride = (m_nWidth + 3) & ~3;
  int row = m_bTopDown ? y : m_nHeight - 1 - y;
  return m_frames[nFrame][static_cast<size_t>(row) * stride + x];
}

// Reads the whole file: the RIFF form, its header list, movie list and index.
BOOL CAviReader::Open(const BYTE* pData, DWORD nSize) {
  Close();
  m_strError.Empty();
  if (pData == nullptr || nSize < 12) return fail("file too short for a RIFF header");
  if (!is_tag(pData, "RIFF") || !is_tag(pData + 8, "AVI ")) return fail("not a RIFF AVI file");
  DWORD riffSize = le32(pData + 4);
  if (riffSize < 4 || riffSize > nSize - 8) return fail("RIFF size exceeds the file");

  const BYTE* body = pData + 12;
  DWORD bodySize = riffSize - 4;
  const BYTE* movie = nullptr;
  DWORD movieSize = 0;
  const BYTE* index = nullptr;
  DWORD indexSize = 0;
  ChunkWalker walk(body, bodySize);
  const BYTE *tag, *chunk;
  DWORD size;
  while (walk.Next(tag, chunk, size)) {
    if (is_tag(tag, "LIST")) {
      if (size < 4) return fail("LIST chunk without a list type");
      if (is_tag(chunk, "hdrl")) {
        if (m_bHaveMain) return fail("second header list");
        if (!read_header_list(chunk + 4, size - 4)) return FALSE;
      } else if (is_tag(chunk, "movi")) {
        if (movie) return fail("second movie list");
        movie = chunk;
        movieSize = size;
      }
    } else if (is_tag(tag, "idx1")) {
      index = chunk;
      indexSize = size;
    }
  }
  if (walk.Broken()) return fail("chunk size exceeds its RIFF form");
  if (!m_bHaveMain) return fail("no header list");
  if (!m_bHaveVideo) return fail("no video stream header and format");
  if (!movie) return fail("no movie list");
  if (!read_movie_list(movie + 4, movieSize - 4, FALSE)) return FALSE;
  if (index && !check_index(index, indexSize, movie, movieSize)) return FALSE;
  if (m_frames.empty()) return fail("no frames in the movie list");
  if (m_nDeclaredFrames != 0 && m_frames.size() != m_nDeclaredFrames)
    return fail("frame count differs from the stream header");
  return TRUE;
}

// The header list: the main header and one stream list per stream.
BOOL CAviReader::read_header_list(const BYTE* p, DWORD n) {
  ChunkWalker walk(p, n);
  const BYTE *tag, *chunk;
  DWORD size;
  while (walk.Next(tag, chunk, size)) {
    if (is_tag(tag, "avih")) {
      if (size < 56) return fail("main header too short");
      m_nFramePeriod = le32(chunk);
      m_bHaveMain = TRUE;
    } else if (is_tag(tag, "LIST") && size >= 4 && is_tag(chunk, "strl")) {
      if (!read_stream_list(chunk + 4, size - 4)) return FALSE;
    }
  }
  if (walk.Broken()) return fail("chunk size exceeds the header list");
  if (!m_bHaveMain) return fail("header list without a main header");
  return TRUE;
}

// One stream list: the stream header and its format. Only the first video
// stream is kept; its frames must be uncompressed 8-bit with a palette.
BOOL CAviReader::read_stream_list(const BYTE* p, DWORD n) {
  ChunkWalker walk(p, n);
  const BYTE *tag, *chunk;
  DWORD size;
  const BYTE* strh = nullptr;
  const BYTE* strf = nullptr;
  DWORD strfSize = 0;
  while (walk.Next(tag, chunk, size)) {
    if (is_tag(tag, "strh")) {
      if (size < 48) return fail("stream header too short");
      strh = chunk;
    } else if (is_tag(tag, "strf")) {
      strf = chunk;
      strfSize = size;
    }
  }
  if (walk.Broken()) return fail("chunk size exceeds the stream list");
  if (!strh || !strf) return fail("stream list without header or format");
  if (!is_tag(strh, "vids") || m_bHaveVideo) return TRUE;  // other streams are not played

  DWORD scale = le32(strh + 20), rate = le32(strh + 24);
  if (rate != 0 && scale != 0) {
    unsigned long long us = 1000000ULL * scale / rate;
    if (us == 0 || us > 0xFFFFFFFFULL) return fail("stream rate out of range");
    m_nFramePeriod = static_cast<DWORD>(us);
  }
  if (m_nFramePeriod == 0) return fail("stream has no frame period");
  m_nDeclaredFrames = le32(strh + 32);

  if (strfSize < 40) return fail("stream format too short for a bitmap header");
  DWORD headerSize = le32(strf);
  if (headerSize < 40 || headerSize > strfSize) return fail("bitmap header size out of range");
  auto width = static_cast<std::int32_t>(le32(strf + 4));
  auto height = static_cast<std::int32_t>(le32(strf + 8));
  WORD bits = le16(strf + 14);
  DWORD compression = le32(strf + 16);
  DWORD colours = le32(strf + 32);
  if (bits != 8) return fail("only 8-bit frames are supported");
  if (compression != 0) return fail("only uncompressed frames are supported");
  if (width <= 0 || width > kMaxDimension || height == 0 || height < -kMaxDimension ||
      height > kMaxDimension)
    return fail("frame size out of range");
  if (colours == 0) colours = 256;
  if (colours > 256) return fail("palette larger than 256 entries");
  if (strfSize - headerSize < colours * 4) return fail("palette exceeds the stream format");
  const BYTE* pal = strf + headerSize;
  for (DWORD i = 0; i < colours; ++i)
    m_palette[i] = DWORD(pal[4 * i + 2]) << 16 | DWORD(pal[4 * i + 1]) << 8 | pal[4 * i];
  m_nWidth = width;
  m_bTopDown = height < 0;
  m_nHeight = height < 0 ? -height : height;
  m_bHaveVideo = TRUE;
  return TRUE;
}

// The movie list: frames of stream 0 ("00db"/"00dc"), directly or inside
// "rec " lists.
BOOL CAviReader::read_movie_list(const BYTE* p, DWORD n, BOOL bInRecord) {
  size_t frameBytes = static_cast<size_t>((m_nWidth + 3) & ~3) * m_nHeight;
  ChunkWalker walk(p, n);
  const BYTE *tag, *chunk;
  DWORD size;
  while (walk.Next(tag, chunk, size)) {
    if (is_tag(tag, "LIST")) {
      if (size < 4) return fail("LIST chunk without a list type");
      if (!is_tag(chunk, "rec ")) continue;
      if (bInRecord) return fail("record list inside a record list");
      if (!read_movie_list(chunk + 4, size - 4, TRUE)) return FALSE;
    } else if (is_tag(tag, "00db") || is_tag(tag, "00dc")) {
      if (size < frameBytes) return fail("frame chunk shorter than one frame");
      if (m_frames.size() >= static_cast<size_t>(kMaxFrames)) return fail("too many frames");
      m_frames.emplace_back(chunk, chunk + frameBytes);
    }
  }
  if (walk.Broken()) return fail("chunk size exceeds the movie list");
  return TRUE;
}

// The index must point at chunks that are where it says, with the sizes it
// says; a clip whose index disagrees with its movie list is refused.
BOOL CAviReader::check_index(const BYTE* p, DWORD n, const BYTE* pMovie, DWORD nMovie) {
  if (n % 16 != 0) return fail("index size is not a whole number of entries");
  for (DWORD at = 0; at < n; at += 16) {
    DWORD offset = le32(p + at + 8), size = le32(p + at + 12);
    // Offsets count from the "movi" tag; the chunk header sits at the offset.
    if (offset < 4 || offset > nMovie || nMovie - offset < 8) return fail("index entry outside the movie list");
    const BYTE* chunk = pMovie + offset;
    // A list is indexed under its list type ("rec "), a chunk under its tag.
    const BYTE* name = chunk;
    if (is_tag(chunk, "LIST")) {
      if (nMovie - offset < 12) return fail("index entry outside the movie list");
      name = chunk + 8;
    }
    if (std::memcmp(name, p + at, 4) != 0) return fail("index entry names another chunk");
    if (le32(chunk + 4) != size) return fail("index entry size differs from its chunk");
  }
  return TRUE;
}

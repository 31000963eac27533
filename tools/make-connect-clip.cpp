// SPDX-License-Identifier: Apache-2.0
// Generates the "connecting" animation clip of the progress dialog: a RIFF AVI
// with one uncompressed 8-bit video stream of 8 frames of 16 x 20 pixels at 5
// frames per second, 6 446 bytes in all. Writes it as a C++ source holding the
// bytes (ui/resources/connect_clip.cpp) and, when asked, as a plain .avi file.
//
//   make-connect-clip OUT.cpp [OUT.avi]
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/byte_array_source.h"

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 20;
constexpr int kFrames = 8;
constexpr int kFrameBytes = kWidth * kHeight;
constexpr std::uint32_t kTotalBytes = 6446;

// Palette indices; the rest of the 256 entries repeat the background.
enum : std::uint8_t { kBack, kDark, kScreen, kFrame, kLit, kDim, kGlobe, kLand };
const std::uint8_t kColours[][3] = {
    {192, 192, 192},  // background: the dialog face
    {0, 0, 0},        // outlines
    {0, 0, 128},      // monitor screen
    {128, 128, 128},  // monitor frame and link dashes
    {0, 255, 0},      // the travelling packet
    {0, 128, 0},      // the packet's trail
    {0, 128, 255},    // sea of the globe
    {0, 160, 64},     // land of the globe
};

class Writer {
public:
  void U8(std::uint8_t v) { m_bytes.push_back(v); }
  void U16(std::uint16_t v) { U8(v & 0xFF), U8(v >> 8); }
  void U32(std::uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
  void Tag(const char* t) { for (int i = 0; i < 4; ++i) U8(static_cast<std::uint8_t>(t[i])); }
  // Starts a chunk and returns where its size goes.
  std::size_t Open(const char* tag) {
    Tag(tag);
    std::size_t at = m_bytes.size();
    U32(0);
    return at;
  }
  // Fills in the size of the chunk opened at `at` (bytes after the size field).
  void Close(std::size_t at) {
    std::uint32_t n = static_cast<std::uint32_t>(m_bytes.size() - at - 4);
    for (int i = 0; i < 4; ++i) m_bytes[at + i] = static_cast<std::uint8_t>(n >> (8 * i));
  }
  std::size_t Size() const { return m_bytes.size(); }
  std::vector<std::uint8_t>& Bytes() { return m_bytes; }

private:
  std::vector<std::uint8_t> m_bytes;
};

// One frame, top row first: a globe above, a monitor below and a dashed link
// between them along which a packet climbs, one step per frame.
std::vector<std::uint8_t> DrawFrame(int frame) {
  std::vector<std::uint8_t> px(kFrameBytes, kBack);
  auto set = [&](int x, int y, std::uint8_t c) {
    if (x >= 0 && x < kWidth && y >= 0 && y < kHeight) px[y * kWidth + x] = c;
  };
  // Globe: a disc of radius 3.5 centred at (7.5, 3.5) with a little land.
  for (int y = 0; y < 8; ++y)
    for (int x = 4; x < 12; ++x) {
      double dx = x - 7.5, dy = y - 3.5, d2 = dx * dx + dy * dy;
      if (d2 <= 14.0) set(x, y, d2 >= 9.0 ? kDark : kGlobe);
    }
  const int land[][2] = {{6, 2}, {7, 2}, {6, 3}, {9, 4}, {9, 5}, {8, 5}, {5, 4}};
  for (const auto& p : land) set(p[0], p[1], kLand);
  // Monitor: frame rows 12..17, screen inside, stand and foot below.
  for (int y = 12; y <= 17; ++y)
    for (int x = 2; x <= 13; ++x) {
      bool edge = y == 12 || y == 17 || x == 2 || x == 13;
      set(x, y, edge ? kDark : (y == 13 || y == 16 || x == 3 || x == 12) ? kFrame : kScreen);
    }
  set(7, 18, kFrame), set(8, 18, kFrame);
  for (int x = 4; x <= 11; ++x) set(x, 19, kDark);
  // The link runs from the monitor (row 11) up to the globe (row 8), two
  // columns wide; the packet rises through rows 11..8 and then "arrives"
  // by lighting the screen edge, so the eye reads a loop of data going out.
  for (int y = 8; y <= 11; ++y) {
    set(7, y, (y % 2) ? kFrame : kBack);
    set(8, y, (y % 2) ? kBack : kFrame);
  }
  int step = frame % kFrames;
  if (step < 4) {
    int y = 11 - step;
    set(7, y, kLit), set(8, y, kLit);
    if (y + 1 <= 11) set(7, y + 1, kDim), set(8, y + 1, kDim);
  } else {
    // Reply: a spark on the globe's rim, then on the screen.
    int spark = step - 4;
    const int rim[][2] = {{7, 7}, {8, 7}, {4, 3}, {11, 3}};
    set(rim[spark][0], rim[spark][1], kLit);
    for (int x = 4; x < 4 + 2 * (spark + 1) && x <= 11; ++x) set(x, 14 + (spark % 2), kLit);
  }
  return px;
}

std::vector<std::uint8_t> BuildClip() {
  Writer w;
  std::size_t riff = w.Open("RIFF");
  w.Tag("AVI ");

  std::size_t hdrl = w.Open("LIST");
  w.Tag("hdrl");
  std::size_t avih = w.Open("avih");
  w.U32(200000);        // microseconds per frame
  w.U32(1600);          // max bytes per second
  w.U32(0);             // padding granularity
  w.U32(0x710);         // flags
  w.U32(kFrames);       // total frames
  w.U32(0);             // initial frames
  w.U32(1);             // streams
  w.U32(972);           // suggested buffer size
  w.U32(kWidth);
  w.U32(kHeight);
  for (int i = 0; i < 4; ++i) w.U32(0);
  w.Close(avih);

  std::size_t strl = w.Open("LIST");
  w.Tag("strl");
  std::size_t strh = w.Open("strh");
  w.Tag("vids");
  w.Tag("DIB ");
  w.U32(0);            // flags
  w.U16(0);            // priority
  w.U16(0);            // language
  w.U32(0);            // initial frames
  w.U32(200000);       // scale
  w.U32(1000000);      // rate
  w.U32(0);            // start
  w.U32(kFrames);      // length
  w.U32(972);          // suggested buffer size
  w.U32(0xFFFFFFFF);   // quality: default
  w.U32(0);            // sample size: varies
  w.U16(0), w.U16(0), w.U16(kWidth), w.U16(kHeight);  // frame rectangle
  w.Close(strh);
  std::size_t strf = w.Open("strf");
  w.U32(40);           // header size
  w.U32(kWidth);
  w.U32(kHeight);      // positive: rows stored bottom-up
  w.U16(1);            // planes
  w.U16(8);            // bits per pixel
  w.U32(0);            // uncompressed
  w.U32(kFrameBytes);
  w.U32(0), w.U32(0);  // pixels per metre
  w.U32(256);          // colours used
  w.U32(0);            // colours important: all
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t* c = kColours[i < 8 ? i : 0];
    w.U8(c[2]), w.U8(c[1]), w.U8(c[0]), w.U8(0);  // blue, green, red, reserved
  }
  w.Close(strf);
  w.Close(strl);
  w.Close(hdrl);

  // Padding that brings the file to its fixed size; the movie list follows.
  constexpr std::uint32_t kMovieBytes = 12 + kFrames * (12 + 8 + kFrameBytes);
  constexpr std::uint32_t kIndexBytes = 8 + 2 * kFrames * 16;
  std::size_t junk = w.Open("JUNK");
  while (w.Size() < kTotalBytes - kMovieBytes - kIndexBytes) w.U8(0);
  w.Close(junk);

  std::size_t movi = w.Open("LIST");
  std::size_t moviBase = w.Size();  // index offsets count from the "movi" tag
  w.Tag("movi");
  struct Entry { const char* tag; std::uint32_t flags, offset, size; };
  std::vector<Entry> index;
  for (int f = 0; f < kFrames; ++f) {
    std::size_t rec = w.Open("LIST");
    index.push_back({"rec ", 0x1, static_cast<std::uint32_t>(rec - 4 - moviBase), 0});
    w.Tag("rec ");
    std::size_t db = w.Open("00db");
    index.push_back({"00db", 0x10, static_cast<std::uint32_t>(db - 4 - moviBase), kFrameBytes});
    std::vector<std::uint8_t> top = DrawFrame(f);
    for (int y = kHeight - 1; y >= 0; --y)
      for (int x = 0; x < kWidth; ++x) w.U8(top[y * kWidth + x]);
    w.Close(db);
    w.Close(rec);
    index[index.size() - 2].size = static_cast<std::uint32_t>(w.Size() - rec - 4);
  }
  w.Close(movi);

  std::size_t idx1 = w.Open("idx1");
  for (const Entry& e : index) {
    w.Tag(e.tag);
    w.U32(e.flags);
    w.U32(e.offset);
    w.U32(e.size);
  }
  w.Close(idx1);
  w.Close(riff);
  return w.Bytes();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s OUT.cpp [OUT.avi]\n", argv[0]);
    return 2;
  }
  std::vector<std::uint8_t> clip = BuildClip();
  if (clip.size() != kTotalBytes) {
    std::fprintf(stderr, "clip has %zu bytes, expected %u\n", clip.size(), kTotalBytes);
    return 1;
  }
  if (!WriteByteArraySource(argv[1],
                            "// SPDX-License-Identifier: Apache-2.0\n"
                            "// The progress dialog's animation clip, a RIFF AVI of 8 frames of 16 x 20\n"
                            "// pixels. Generated by tools/make-connect-clip.cpp; do not edit.\n",
                            "ui/resources/connect_clip.h", "g_connectClip", clip))
    return 1;
  if (argc == 3) {
    std::FILE* f = std::fopen(argv[2], "wb");
    if (!f || std::fwrite(clip.data(), 1, clip.size(), f) != clip.size() || std::fclose(f) != 0) {
      std::perror(argv[2]);
      return 1;
    }
  }
  return 0;
}

// SPDX-License-Identifier: Apache-2.0
// A reader for RIFF AVI clips of the kind the animation control plays: one
// video stream of uncompressed 8-bit frames with a palette. Every size and
// offset is checked against the bytes actually present; a malformed file is
// rejected with a reason, never read out of bounds.
#pragma once

#include <vector>

#include "framework/core/string.h"
#include "framework/core/win_types.h"

// The reader of one clip, copied out of the bytes given to Open.
class AFX_EXT_CLASS CAviReader {
public:
  // Parses a whole clip, copying what it needs. On failure returns FALSE,
  // leaves the reader empty and GetError says which check failed.
  BOOL Open(const BYTE* pData, DWORD nSize);
  // Forgets the clip; the reader is empty again.
  void Close();
  // TRUE while a clip with at least one frame is open.
  BOOL IsOpen() const { return !m_frames.empty(); }
  // Why the last Open failed; empty after a successful one.
  const CString& GetError() const { return m_strError; }

  // Frame width in pixels; 0 while empty.
  int GetWidth() const { return m_nWidth; }
  // Frame height in pixels; 0 while empty.
  int GetHeight() const { return m_nHeight; }
  // The number of frames; 0 while empty.
  int GetFrameCount() const { return static_cast<int>(m_frames.size()); }
  // Display time of one frame in microseconds, from the stream's rate and scale.
  DWORD GetFramePeriod() const { return m_nFramePeriod; }
  // The palette as 0x00RRGGBB values, always 256 entries (unused ones black).
  const DWORD* GetPalette() const { return m_palette; }
  // The colour index of pixel (x, y) of a frame, y counted from the top row;
  // 0 for a frame or pixel outside the clip.
  BYTE GetPixel(int nFrame, int x, int y) const;
  // The colour of pixel (x, y) of a frame as 0x00RRGGBB.
  DWORD GetPixelRGB(int nFrame, int x, int y) const { return m_palette[GetPixel(nFrame, x, y)]; }

  // Largest frame edge accepted; keeps a hostile header from asking for a huge buffer.
  static constexpr int kMaxDimension = 4096;
  // Most frames accepted, for the same reason.
  static constexpr int kMaxFrames = 100000;

private:
  BOOL fail(const char* pszWhy);
  BOOL read_header_list(const BYTE* p, DWORD n);
  BOOL read_stream_list(const BYTE* p, DWORD n);
  BOOL read_movie_list(const BYTE* p, DWORD n, BOOL bInRecord);
  BOOL check_index(const BYTE* p, DWORD n, const BYTE* pMovie, DWORD nMovie);

  CString m_strError;
  int m_nWidth = 0;
  int m_nHeight = 0;
  BOOL m_bTopDown = FALSE;
  DWORD m_nFramePeriod = 0;
  DWORD m_nDeclaredFrames = 0;
  BOOL m_bHaveMain = FALSE;
  BOOL m_bHaveVideo = FALSE;
  DWORD m_palette[256] = {};
  std::vector<std::vector<BYTE>> m_frames;
};

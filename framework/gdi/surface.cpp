// SPDX-License-Identifier: Apache-2.0
#include "framework/gdi/surface.h"

#include "framework/gdi/font_engine.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// 0x00BBGGRR to the 0x00RRGGBB of the pixel memory, and back.
constexpr std::uint32_t to_pixel(COLORREF cr) {
  return ((cr & 0xFF) << 16) | (cr & 0xFF00) | ((cr >> 16) & 0xFF);
}

constexpr COLORREF to_colorref(std::uint32_t px) {
  return ((px & 0xFF) << 16) | (px & 0xFF00) | ((px >> 16) & 0xFF);
}

}  // namespace

int CSurface::GetCharAdvance(tarvenkel::gdi::CFontInstance& font, char32_t ch) {
  return font.GetGlyph(ch).nAdvance;
}

void CSurface::GetFontMetrics(tarvenkel::gdi::CFontInstance& font, TEXTMETRICA* ptm) {
  font.GetMetrics(ptm);
}

CRasterSurface::CRasterSurface(int cx, int cy, COLORREF crBackground)
    : m_cx(std::max(0, cx)), m_cy(std::max(0, cy)),
      m_pixels(static_cast<std::size_t>(m_cx) * m_cy, to_pixel(crBackground)) {}

void CRasterSurface::FillSpan(int x0, int x1, int y, COLORREF cr) {
  std::uint32_t* row = m_pixels.data() + static_cast<std::size_t>(y) * m_cx;
  std::fill(row + x0, row + x1, to_pixel(cr));
}

void CRasterSurface::BlendMask(int x, int y, const BYTE* pMask, int w, int h, int pitch, COLORREF cr) {
  const std::uint32_t fg = to_pixel(cr);
  for (int j = 0; j < h; ++j) {
    std::uint32_t* row = m_pixels.data() + static_cast<std::size_t>(y + j) * m_cx + x;
    const BYTE* mask = pMask + static_cast<std::ptrdiff_t>(j) * pitch;
    for (int i = 0; i < w; ++i) {
      unsigned a = mask[i];
      if (a == 0) continue;
      if (a == 255) {
        row[i] = fg;
        continue;
      }
      std::uint32_t bg = row[i];
      std::uint32_t out = 0;
      for (int shift = 0; shift <= 16; shift += 8) {
        unsigned f = (fg >> shift) & 0xFF;
        unsigned b = (bg >> shift) & 0xFF;
        unsigned v = (f * a + b * (255 - a) + 127) / 255;
        out |= v << shift;
      }
      row[i] = out;
    }
  }
}

COLORREF CRasterSurface::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_cx || y >= m_cy) return CLR_INVALID;
  return to_colorref(m_pixels[static_cast<std::size_t>(y) * m_cx + x]);
}

void CRasterSurface::Resize(int cx, int cy, COLORREF crBackground) {
  cx = std::max(0, cx);
  cy = std::max(0, cy);
  std::vector<std::uint32_t> pixels(static_cast<std::size_t>(cx) * cy, to_pixel(crBackground));
  for (int y = 0; y < std::min(cy, m_cy); ++y) {
    std::copy_n(m_pixels.data() + static_cast<std::size_t>(y) * m_cx, std::min(cx, m_cx),
                pixels.data() + static_cast<std::size_t>(y) * cx);
  }
  m_pixels.swap(pixels);
  m_cx = cx;
  m_cy = cy;
}

void CRasterSurface::Clear(COLORREF cr) {
  std::fill(m_pixels.begin(), m_pixels.end(), to_pixel(cr));
}

void CRasterSurface::CopyPixels(int x, int y, const std::uint32_t* pSrc, int cx, int cy, int srcPitch) {
  if (pSrc == nullptr) return;
  int x0 = std::max(0, x), y0 = std::max(0, y);
  int x1 = std::min(m_cx, x + cx), y1 = std::min(m_cy, y + cy);
  for (int row = y0; row < y1; ++row) {
    const std::uint32_t* src = pSrc + static_cast<std::ptrdiff_t>(row - y) * srcPitch + (x0 - x);
    if (x1 > x0) std::copy_n(src, x1 - x0, m_pixels.data() + static_cast<std::size_t>(row) * m_cx + x0);
  }
}

BOOL CRasterSurface::SavePng(const char* pszPath) const {
  if (pszPath == nullptr || m_cx == 0 || m_cy == 0) return FALSE;
  std::FILE* fp = std::fopen(pszPath, "wb");
  if (fp == nullptr) return FALSE;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(static_cast<std::size_t>(m_cx) * 3);
  bool ok = png != nullptr && info != nullptr;
  // libpng reports errors by longjmp; nothing with a destructor is created
  // between setjmp and the writes, so jumping back here leaks nothing.
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, fp);
    png_set_IHDR(png, info, static_cast<png_uint_32>(m_cx), static_cast<png_uint_32>(m_cy), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < m_cy; ++y) {
      const std::uint32_t* src = m_pixels.data() + static_cast<std::size_t>(y) * m_cx;
      for (int x = 0; x < m_cx; ++x) {
        row[3 * x] = static_cast<png_byte>((src[x] >> 16) & 0xFF);
        row[3 * x + 1] = static_cast<png_byte>((src[x] >> 8) & 0xFF);
        row[3 * x + 2] = static_cast<png_byte>(src[x] & 0xFF);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
  } else {
    ok = false;
  }
  png_destroy_write_struct(png != nullptr ? &png : nullptr, info != nullptr ? &info : nullptr);
  if (std::fclose(fp) != 0) ok = false;
  if (!ok) std::remove(pszPath);
  return ok ? TRUE : FALSE;
}

int CRecordingSurface::GetCharAdvance(tarvenkel::gdi::CFontInstance& font, char32_t ch) {
  return m_cxChar > 0 ? m_cxChar : CSurface::GetCharAdvance(font, ch);
}

void CRecordingSurface::GetFontMetrics(tarvenkel::gdi::CFontInstance& font, TEXTMETRICA* ptm) {
  CSurface::GetFontMetrics(font, ptm);
  if (m_cyLine > 0) {
    ptm->tmHeight = m_cyLine;
    ptm->tmDescent = m_cyLine / 4;
    ptm->tmAscent = m_cyLine - ptm->tmDescent;
    ptm->tmInternalLeading = 0;
    ptm->tmExternalLeading = 0;
  }
  if (m_cxChar > 0) {
    ptm->tmAveCharWidth = m_cxChar;
    ptm->tmMaxCharWidth = m_cxChar;
  }
}

std::vector<CDrawCall> CRecordingSurface::GetCalls(CDrawCall::Kind nKind) const {
  std::vector<CDrawCall> out;
  for (const CDrawCall& c : m_calls) {
    if (c.nKind == nKind) out.push_back(c);
  }
  return out;
}

// SPDX-License-Identifier: Apache-2.0
// Text layout for the device context: mnemonic prefixes, line splitting, tab
// expansion, word wrapping, alignment, and painting glyphs onto the surface.
#include "framework/core/code_page.h"
#include "framework/gdi/internal/gdi_internal.h"

#include <algorithm>
#include <cstring>

namespace tarvenkel::gdi {

namespace {

struct TextLine {
  std::u32string chars;
  std::vector<bool> underline;  // mnemonic marks, one per character
  int nWidth = 0;
};

// Measures characters in the device context's font as its surface reports them.
struct Measurer {
  CSurface* surface;
  CFontInstance& font;
  TEXTMETRICA tm{};
  bool bExpandTabs = false;

  Measurer(HDC__* dc, bool expandTabs)
      : surface(dc->pSurface), font(dc->state.hFont->Font()), bExpandTabs(expandTabs) {
    surface->GetFontMetrics(font, &tm);
  }

  int tab_width() const { return std::max<LONG>(1, 8 * tm.tmAveCharWidth); }

  // Advance of ch at pen position x from the start of its line.
  int width(char32_t ch, int x) const {
    if (ch == U'\t' && bExpandTabs) return tab_width() - x % tab_width();
    return surface->GetCharAdvance(font, ch);
  }

  int line_width(const std::u32string& s) const {
    int x = 0;
    for (char32_t ch : s) x += width(ch, x);
    return x;
  }
};

bool is_cjk(char32_t ch) {
  return (ch >= 0x2E80 && ch <= 0x9FFF) || (ch >= 0xAC00 && ch <= 0xD7AF) || (ch >= 0xF900 && ch <= 0xFAFF) ||
         (ch >= 0xFF00 && ch <= 0xFFEF) || (ch >= 0x20000 && ch <= 0x3FFFF);
}

// Removes mnemonic markers: "&x" underlines x, "&&" is one "&", and a final lone "&" vanishes.
TextLine strip_prefixes(const std::u32string& text) {
  TextLine out;
  out.chars.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == U'&') {
      if (i + 1 >= text.size()) break;
      ++i;
      out.chars.push_back(text[i]);
      out.underline.push_back(text[i] != U'&');
    } else {
      out.chars.push_back(text[i]);
      out.underline.push_back(false);
    }
  }
  return out;
}

// Splits at LF, CR LF and a lone CR.
std::vector<TextLine> split_lines(const TextLine& text) {
  std::vector<TextLine> lines(1);
  for (std::size_t i = 0; i < text.chars.size(); ++i) {
    char32_t ch = text.chars[i];
    if (ch == U'\r' || ch == U'\n') {
      if (ch == U'\r' && i + 1 < text.chars.size() && text.chars[i + 1] == U'\n') ++i;
      lines.emplace_back();
      continue;
    }
    lines.back().chars.push_back(ch);
    lines.back().underline.push_back(text.underline[i]);
  }
  return lines;
}

TextLine sub_line(const TextLine& line, std::size_t from, std::size_t to) {
  TextLine out;
  out.chars = line.chars.substr(from, to - from);
  out.underline.assign(line.underline.begin() + static_cast<std::ptrdiff_t>(from),
                       line.underline.begin() + static_cast<std::ptrdiff_t>(to));
  return out;
}

// Wraps one line to nMaxWidth: breaks after spaces and around CJK characters;
// a word wider than the line stays whole; spaces at a break are dropped.
void wrap_line(const TextLine& line, int nMaxWidth, const Measurer& m, std::vector<TextLine>& out) {
  const std::u32string& s = line.chars;
  std::size_t n = s.size();
  std::size_t start = 0;
  if (n == 0) {
    out.push_back(line);
    return;
  }
  while (start < n) {
    int x = 0;
    std::size_t lastBreak = std::u32string::npos;
    std::size_t i = start;
    for (; i < n; ++i) {
      if (i > start && (s[i - 1] == U' ' || is_cjk(s[i]) || is_cjk(s[i - 1])) && s[i] != U' ') lastBreak = i;
      int w = m.width(s[i], x);
      if (x + w > nMaxWidth && s[i] != U' ' && lastBreak != std::u32string::npos) break;
      x += w;
    }
    if (i >= n) {
      out.push_back(sub_line(line, start, n));
      return;
    }
    std::size_t end = lastBreak;
    while (end > start && s[end - 1] == U' ') --end;
    out.push_back(sub_line(line, start, end));
    start = lastBreak;
    while (start < n && s[start] == U' ') ++start;
  }
}

std::vector<TextLine> layout(const char* pszText, int nCount, UINT nFormat, int nMaxWidth, const Measurer& m) {
  std::u32string decoded = DecodeAnsi(pszText, nCount);
  TextLine all;
  if (nFormat & DT_NOPREFIX) {
    all.chars = std::move(decoded);
    all.underline.assign(all.chars.size(), false);
  } else {
    all = strip_prefixes(decoded);
  }
  std::vector<TextLine> lines;
  if (nFormat & DT_SINGLELINE) {
    lines.push_back(std::move(all));
  } else if (nFormat & DT_WORDBREAK) {
    for (const TextLine& line : split_lines(all)) wrap_line(line, nMaxWidth, m, lines);
  } else {
    lines = split_lines(all);
  }
  for (TextLine& line : lines) line.nWidth = m.line_width(line.chars);
  return lines;
}

// Blends a glyph's coverage at (x, y) device, clipped to clip.
void blit_glyph(CSurface* surface, const RECT& clip, int x, int y, const CGlyph& g, COLORREF cr) {
  if (g.nWidth <= 0 || g.nRows <= 0) return;
  RECT box{x, y, x + g.nWidth, y + g.nRows};
  RECT r;
  if (!IntersectRect(&r, &box, &clip)) return;
  const BYTE* p = g.coverage.data() + static_cast<std::size_t>(r.top - y) * g.nWidth + (r.left - x);
  surface->BlendMask(r.left, r.top, p, r.right - r.left, r.bottom - r.top, g.nWidth, cr);
}

// Paints one line with its top-left at device (x, y): background when opaque,
// glyphs, mnemonic underlines, and the font's own underline and strike-out.
void paint_line(HDC__* dc, const Measurer& m, const TextLine& line, int x, int y, int nLineHeight, const RECT& clip) {
  const CDcState& st = dc->state;
  if (st.nBkMode == OPAQUE) {
    RECT bg{x, y, x + line.nWidth, y + nLineHeight}, r;
    if (IntersectRect(&r, &bg, &clip)) FillDeviceRect(dc, r, st.crBk);
  }
  int baseline = y + m.tm.tmAscent;
  int em = m.font.GetEmPixels();
  int thickness = std::max(1, em / 16);
  int underlineY = baseline + std::max<int>(1, m.tm.tmDescent / 2);
  auto hline = [&](int x0, int x1, int yy) {
    RECT bar{x0, yy, x1, yy + thickness}, r;
    if (IntersectRect(&r, &bar, &clip)) FillDeviceRect(dc, r, st.crText);
  };
  int pen = 0;
  for (std::size_t i = 0; i < line.chars.size(); ++i) {
    char32_t ch = line.chars[i];
    int w = m.width(ch, pen);
    if (!(ch == U'\t' && m.bExpandTabs) && ch >= 0x20 && ch != 0x7F) {
      const CGlyph& g = m.font.GetGlyph(ch);
      blit_glyph(dc->pSurface, clip, x + pen + g.nLeft, baseline - g.nTop, g, st.crText);
    }
    if (line.underline[i]) hline(x + pen, x + pen + w, underlineY);
    pen += w;
  }
  if (m.font.IsUnderline()) hline(x, x + line.nWidth, underlineY);
  if (m.font.IsStrikeOut()) hline(x, x + line.nWidth, baseline - em * 3 / 10);
}

}  // namespace

int DrawTextOn(HDC__* dc, const char* pszText, int nCount, RECT* prc, UINT nFormat) {
  if (nCount < 0) nCount = static_cast<int>(std::strlen(pszText));
  Measurer m(dc, (nFormat & DT_EXPANDTABS) != 0);
  int nLineHeight = m.tm.tmHeight + ((nFormat & DT_EXTERNALLEADING) ? m.tm.tmExternalLeading : 0);
  std::vector<TextLine> lines = layout(pszText, nCount, nFormat, prc->right - prc->left, m);
  int nMaxWidth = 0;
  for (const TextLine& line : lines) nMaxWidth = std::max(nMaxWidth, line.nWidth);
  int nTotal = static_cast<int>(lines.size()) * nLineHeight;
  if (nFormat & DT_CALCRECT) {
    prc->right = prc->left + nMaxWidth;
    prc->bottom = prc->top + nTotal;
    return nTotal;
  }

  // Vertical placement applies to single-line text only, as in GDI.
  int y = prc->top;
  if (nFormat & DT_SINGLELINE) {
    if (nFormat & DT_VCENTER) {
      y = (prc->top + prc->bottom - nLineHeight) / 2;
    } else if (nFormat & DT_BOTTOM) {
      y = prc->bottom - nLineHeight;
    }
  }
  POINT org = dc->state.ptOrigin;
  RECT clip = dc->state.rcClip;
  if (!(nFormat & DT_NOCLIP)) {
    RECT box{prc->left + org.x, prc->top + org.y, prc->right + org.x, prc->bottom + org.y};
    RECT r = clip;
    if (!IntersectRect(&clip, &r, &box)) return nTotal;
  }
  int line_y = y;
  for (const TextLine& line : lines) {
    int x = prc->left;
    if (nFormat & DT_CENTER) {
      x = (prc->left + prc->right - line.nWidth) / 2;
    } else if (nFormat & DT_RIGHT) {
      x = prc->right - line.nWidth;
    }
    paint_line(dc, m, line, x + org.x, line_y + org.y, nLineHeight, clip);
    line_y += nLineHeight;
  }
  return y - prc->top + nTotal;
}

void TextOutOn(HDC__* dc, int x, int y, const char* pszText, int nCount) {
  Measurer m(dc, false);
  TextLine line;
  line.chars = DecodeAnsi(pszText, nCount);
  line.underline.assign(line.chars.size(), false);
  line.nWidth = m.line_width(line.chars);
  paint_line(dc, m, line, x + dc->state.ptOrigin.x, y + dc->state.ptOrigin.y, m.tm.tmHeight, dc->state.rcClip);
}

SIZE MeasureOn(HDC__* dc, const char* pszText, int nCount) {
  Measurer m(dc, false);
  return SIZE{m.line_width(DecodeAnsi(pszText, nCount)), m.tm.tmHeight};
}

void MetricsOn(HDC__* dc, TEXTMETRICA* ptm) {
  Measurer m(dc, false);
  *ptm = m.tm;
}

}  // namespace tarvenkel::gdi

// SPDX-License-Identifier: Apache-2.0
// Draws raised and sunken frames and text blocks in every alignment, in
// English and in Chinese, onto a raster surface and saves it as a PNG file.
//   tarvenkel-gallery OUTPUT.png
#include <tarvenkel/framework/core/code_page.h>
#include <tarvenkel/framework/gdi/dc.h>
#include <tarvenkel/framework/gdi/surface.h>
#include <tarvenkel/ui/text_block.h>
#include <tarvenkel/ui/three_d_frame.h>

#include <cstdio>

namespace {

const COLORREF kFace = RGB(212, 208, 200);
const COLORREF kHighlight = RGB(255, 255, 255);
const COLORREF kShadow = RGB(128, 128, 128);

// One cell: a frame and a text block inside it.
void draw_cell(CDC& dc, const CRect& rc, BOOL bRaised, int nWidth, const char* pszText, UINT nFormat,
               COLORREF crText, const char* pszFace, int nSize, COLORREF crBack) {
  C3DWin frame;
  frame.SetWin(rc, TRUE, bRaised, nWidth, kFace, kHighlight, kShadow);
  frame.Draw(&dc, 0);
  CSingleText text;
  CRect rcText = rc;
  rcText.DeflateRect(nWidth + 2, nWidth + 2);
  text.SetRect(rcText);
  if (pszFace != nullptr) text.SetFont(pszFace, nSize);
  text.SetFormat(nFormat);
  text.SetColor(crText);
  text.SetText(pszText);
  text.Draw(&dc, crBack);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  const int cellW = 190, cellH = 64, gap = 10;
  CRasterSurface surface(gap + 3 * (cellW + gap), 40 + 6 * (cellH + gap) + 80, kFace);
  CDC dc(&surface);

  CSingleText title;
  title.SetRect(CRect(0, 0, surface.GetWidth(), 36));
  title.SetFont("DejaVu Sans", 18);
  title.SetText("Tarvenkel drawing gallery");
  title.Draw(&dc, 0xFFFFFFFF);

  struct Align {
    const char* name;
    UINT flags;
  };
  const Align aligns[3][3] = {
      {{"top left", DT_LEFT | DT_TOP}, {"top centre", DT_CENTER | DT_TOP}, {"top right", DT_RIGHT | DT_TOP}},
      {{"middle left", DT_LEFT | DT_VCENTER}, {"centred", DT_CENTER | DT_VCENTER}, {"middle right", DT_RIGHT | DT_VCENTER}},
      {{"bottom left", DT_LEFT | DT_BOTTOM}, {"bottom centre", DT_CENTER | DT_BOTTOM}, {"bottom right", DT_RIGHT | DT_BOTTOM}},
  };
  // Chinese labels as GBK bytes, the default code page: 上左 (top left) and so on.
  const char* chinese[3][3] = {
      {"\xC9\xCF\xD7\xF3 \xCB\xCE\xCC\xE5", "\xC9\xCF\xD6\xD0 \xCB\xCE\xCC\xE5", "\xC9\xCF\xD3\xD2 \xCB\xCE\xCC\xE5"},
      {"\xD6\xD0\xD7\xF3 \xCB\xCE\xCC\xE5", "\xBE\xD3\xD6\xD0 \xCB\xCE\xCC\xE5", "\xD6\xD0\xD3\xD2 \xCB\xCE\xCC\xE5"},
      {"\xCF\xC2\xD7\xF3 \xCB\xCE\xCC\xE5", "\xCF\xC2\xD6\xD0 \xCB\xCE\xCC\xE5", "\xCF\xC2\xD3\xD2 \xCB\xCE\xCC\xE5"},
  };
  int y = 40;
  for (int row = 0; row < 3; ++row, y += cellH + gap) {
    for (int col = 0; col < 3; ++col) {
      CRect rc(gap + col * (cellW + gap), y, gap + col * (cellW + gap) + cellW, y + cellH);
      draw_cell(dc, rc, TRUE, 1, aligns[row][col].name, aligns[row][col].flags, RGB(0, 0, 128), "DejaVu Sans", 13,
                0xFFFFFFFF);
    }
  }
  for (int row = 0; row < 3; ++row, y += cellH + gap) {
    for (int col = 0; col < 3; ++col) {
      CRect rc(gap + col * (cellW + gap), y, gap + col * (cellW + gap) + cellW, y + cellH);
      draw_cell(dc, rc, FALSE, 2, chinese[row][col], aligns[row][col].flags, RGB(160, 0, 0), nullptr, 0,
                RGB(255, 255, 240));
    }
  }
  // Two lines, centred both ways; then a label switched to UTF-8 text.
  CRect rcTwo(gap, y, gap + cellW, y + cellH);
  draw_cell(dc, rcTwo, TRUE, 2, "two lines\ncentred together", DT_CENTER | DT_VCENTER, RGB(0, 96, 0), "DejaVu Sans",
            12, 0xFFFFFFFF);
  AfxSetAnsiCodePage(CP_UTF8);
  CRect rcUtf8(gap + cellW + gap, y, gap + 2 * cellW + gap, y + cellH);
  draw_cell(dc, rcUtf8, FALSE, 1, "报警监控 (UTF-8)", DT_CENTER | DT_VCENTER, RGB(0, 0, 0), "宋体", 16,
            RGB(255, 255, 255));
  AfxSetAnsiCodePage(936);
  CRect rcSunken(gap + 2 * (cellW + gap), y, gap + 3 * cellW + 2 * gap, y + cellH);
  draw_cell(dc, rcSunken, FALSE, 1, "&Mnemonic && ampersand", DT_CENTER | DT_VCENTER, RGB(0, 0, 0), "DejaVu Sans",
            12, 0xFFFFFFFF);

  if (!surface.SavePng(argv[1])) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

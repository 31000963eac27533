// SPDX-License-Identifier: Apache-2.0
#include "ui/text_block.h"

#include "framework/core/code_page.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A recording device context whose text measures 4 x 12 per character, so a
// five-character line is 20 x 12 whatever fonts are installed.
struct Recorder {
  explicit Recorder(BOOL bPrinting = FALSE) : rec(1000, 1000, bPrinting), dc(&rec) { rec.SetFixedCells(4, 12); }
  CRecordingSurface rec;
  CDC dc;

  // The rectangle and flags of the drawing (not measuring) DrawText call.
  CDrawCall drawn() const {
    CDrawCall found{};
    int n = 0;
    for (const CDrawCall& c : rec.GetCalls(CDrawCall::drawText)) {
      if (!(c.nFormat & DT_CALCRECT)) {
        found = c;
        ++n;
      }
    }
    EXPECT_EQ(n, 1);
    return found;
  }
};

CDrawCall draw_block(Recorder& r, const CRect& rc, const char* text, UINT nFormat = DT_CENTER | DT_VCENTER) {
  CSingleText block;
  block.SetRect(rc);
  block.SetFormat(nFormat);
  block.SetText(text);
  block.Draw(&r.dc, 0xFFFFFFFF);
  return r.drawn();
}

TEST(TextBlock, DefaultsAreCentredBlackTwelvePixelSimSun) {
  CSingleText block;
  EXPECT_EQ(block.m_nFormat, 5u);
  EXPECT_EQ(block.m_crText, 0u);
  EXPECT_TRUE(block.m_strText.IsEmpty());
  EXPECT_EQ(block.m_logFont.lfHeight, -12);
  EXPECT_EQ(block.m_logFont.lfWeight, 400);
  EXPECT_EQ(block.m_logFont.lfCharSet, 1);
  EXPECT_EQ(block.m_logFont.lfPitchAndFamily, 0x22);
  EXPECT_EQ(block.m_logFont.lfWidth, 0);
  EXPECT_EQ(block.m_logFont.lfItalic, 0);
  const char face[LF_FACESIZE] = "\xCB\xCE\xCC\xE5";
  EXPECT_EQ(std::memcmp(block.m_logFont.lfFaceName, face, LF_FACESIZE), 0);
}

TEST(TextBlock, SetFontChangesOnlyFaceAndHeightAndCutsLongNames) {
  CSingleText block;
  block.m_logFont.lfWeight = FW_BOLD;
  block.SetFont("Arial", 16);
  EXPECT_EQ(block.m_logFont.lfHeight, -16);
  EXPECT_STREQ(block.m_logFont.lfFaceName, "Arial");
  EXPECT_EQ(block.m_logFont.lfWeight, FW_BOLD);
  EXPECT_EQ(block.m_logFont.lfCharSet, 1);
  block.SetFont("A face name that is far longer than thirty-one bytes", 9);
  EXPECT_EQ(std::strlen(block.m_logFont.lfFaceName), 31u);
  // The block's own face name, whole or from an offset into it.
  block.SetFont("Arial", 16);
  block.SetFont(block.m_logFont.lfFaceName, 20);
  EXPECT_STREQ(block.m_logFont.lfFaceName, "Arial");
  EXPECT_EQ(block.m_logFont.lfHeight, -20);
  block.SetFont(block.m_logFont.lfFaceName + 1, 20);
  EXPECT_STREQ(block.m_logFont.lfFaceName, "rial");
}

TEST(TextBlock, CentresOneLineInsideRectangle) {
  Recorder r;
  CDrawCall call = draw_block(r, CRect(0, 0, 100, 30), "abcde");
  EXPECT_EQ(call.rc, CRect(40, 9, 60, 21));
  EXPECT_EQ(call.nFormat, 0x25u);
  // The measuring call got the block's rectangle and DT_CALCRECT alone.
  auto calls = r.rec.GetCalls(CDrawCall::drawText);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].nFormat, DT_CALCRECT);
  EXPECT_EQ(calls[0].rc, CRect(0, 0, 100, 30));
  EXPECT_EQ(calls[0].rcResult, CRect(0, 0, 20, 12));
}

TEST(TextBlock, RightBottomAlignsToCorner) {
  Recorder r;
  CDrawCall call = draw_block(r, CRect(0, 0, 100, 30), "abcde", DT_RIGHT | DT_BOTTOM);
  EXPECT_EQ(call.rc, CRect(80, 18, 100, 30));
  EXPECT_EQ(call.nFormat, 0x2Au);
}

TEST(TextBlock, OddRemaindersTruncateTowardZero) {
  Recorder r;
  CDrawCall call = draw_block(r, CRect(0, 0, 101, 31), "abcde");
  // d = (0 - 31 + 12) / 2 = -9 and (0 - 101 + 20) / 2 = -40.
  EXPECT_EQ(call.rc, CRect(40, 9, 61, 22));
  EXPECT_EQ(call.rc.Height(), 13);
}

TEST(TextBlock, TextLargerThanRectangleUsesWholeRectangle) {
  Recorder r;
  CDrawCall call = draw_block(r, CRect(5, 5, 25, 13), "a rather long label");
  EXPECT_EQ(call.rc, CRect(5, 5, 25, 13));
  Recorder r2;
  CDrawCall corner = draw_block(r2, CRect(5, 5, 25, 13), "a rather long label", DT_RIGHT | DT_BOTTOM);
  EXPECT_EQ(corner.rc, CRect(5, 5, 25, 13));
}

TEST(TextBlock, TwoLinesAreNotSingleLineAndCentreAsPair) {
  Recorder r;
  CDrawCall call = draw_block(r, CRect(0, 0, 100, 40), "abc\nabcde");
  EXPECT_EQ(call.nFormat, 0x05u);
  // 20 x 24 measured: d = (0 - 40 + 24) / 2 = -8.
  EXPECT_EQ(call.rc, CRect(40, 8, 60, 32));
  EXPECT_EQ(call.strText, CString("abc\nabcde"));
}

TEST(TextBlock, BackgroundFillsRectangleShrunkByOne) {
  Recorder r;
  CSingleText block;
  block.SetRect(CRect(0, 0, 100, 20));
  block.SetText("x");
  block.Draw(&r.dc, RGB(1, 2, 3));
  auto fills = r.rec.GetCalls(CDrawCall::fillRect);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].rc, CRect(1, 1, 99, 19));
  EXPECT_EQ(fills[0].cr, RGB(1, 2, 3));

  Recorder none;
  block.Draw(&none.dc, 0xFFFFFFFF);
  EXPECT_TRUE(none.rec.GetCalls(CDrawCall::fillRect).empty());
}

TEST(TextBlock, PrintingDrawsBlackWithoutBackground) {
  Recorder r(TRUE);
  CSingleText block;
  block.SetRect(CRect(0, 0, 100, 20));
  block.SetColor(RGB(255, 0, 0));
  block.SetText("x");
  block.Draw(&r.dc, RGB(1, 2, 3));
  EXPECT_TRUE(r.rec.GetCalls(CDrawCall::fillRect).empty());
  auto colours = r.rec.GetCalls(CDrawCall::setTextColor);
  ASSERT_EQ(colours.size(), 2u);
  EXPECT_EQ(colours[0].cr, 0u);
  EXPECT_EQ(r.drawn().cr, 0u);
}

TEST(TextBlock, LeavesDeviceContextAsFound) {
  Recorder r;
  CFont mine;
  mine.CreatePointFont(100, "DejaVu Sans");
  r.dc.SelectObject(&mine);
  r.dc.SetTextColor(RGB(7, 7, 7));
  r.dc.SetBkMode(OPAQUE);
  CSingleText block;
  block.SetRect(CRect(0, 0, 50, 20));
  block.SetColor(RGB(0, 200, 0));
  block.SetText("hello");
  block.Draw(&r.dc, RGB(9, 9, 9));
  EXPECT_EQ(r.dc.GetCurrentFont(), &mine);
  EXPECT_EQ(r.dc.GetTextColor(), RGB(7, 7, 7));
  EXPECT_EQ(r.dc.GetBkMode(), OPAQUE);
  EXPECT_EQ(r.drawn().cr, RGB(0, 200, 0));
  // The block's own font was selected, then deleted.
  auto selects = r.rec.GetCalls(CDrawCall::selectObject);
  ASSERT_GE(selects.size(), 3u);
  HGDIOBJ hBlockFont = selects[selects.size() - 2].hObject;
  EXPECT_NE(hBlockFont, mine.m_hObject);

  // Empty text: only the background, the context untouched.
  Recorder e;
  CSingleText empty;
  empty.SetRect(CRect(0, 0, 10, 10));
  empty.Draw(&e.dc, RGB(1, 1, 1));
  EXPECT_TRUE(e.rec.GetCalls(CDrawCall::drawText).empty());
  EXPECT_TRUE(e.rec.GetCalls(CDrawCall::selectObject).empty());
  EXPECT_EQ(e.rec.GetCalls(CDrawCall::fillRect).size(), 1u);
  EXPECT_EQ(e.dc.GetBkMode(), OPAQUE);
}

TEST(TextBlock, GetSizeMeasuresOneLineWithLineFeedAsCharacter) {
  Recorder r;
  CSingleText block;
  EXPECT_EQ(block.GetSize(&r.dc), CSize(0, 0));
  EXPECT_TRUE(r.rec.GetCalls().empty());
  block.SetText("ab\ncd");
  EXPECT_EQ(block.GetSize(&r.dc), CSize(20, 12));
  auto ext = r.rec.GetCalls(CDrawCall::getTextExtent);
  ASSERT_EQ(ext.size(), 1u);
  EXPECT_EQ(ext[0].strText.GetLength(), 5);
}

// On a real raster with the real font, the text appears inside its
// rectangle, in its colour, and nowhere else.
TEST(TextBlock, RasterTextAppearsWhereDrawnInItsColour) {
  const COLORREF kBack = RGB(255, 255, 255);
  const COLORREF kInk = RGB(0, 0, 200);
  CRasterSurface s(200, 60, kBack);
  CDC dc(&s);
  CSingleText block;
  block.SetRect(CRect(100, 20, 200, 60));
  block.SetFormat(DT_RIGHT | DT_BOTTOM);
  block.SetColor(kInk);
  block.SetText("\xB1\xA8\xBE\xAF Alarm");  // 报警 in GBK
  block.Draw(&dc, 0xFFFFFFFF);
  CSize size = block.GetSize(&dc);
  ASSERT_GT(size.cx, 20);
  int inked = 0, full = 0;
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 200; ++x) {
      COLORREF c = s.GetPixel(x, y);
      if (c == kBack) continue;
      ++inked;
      // Inside the box the text's extent takes at the bottom-right corner.
      EXPECT_GE(x, 200 - size.cx) << x << "," << y;
      EXPECT_GE(y, 60 - size.cy) << x << "," << y;
      // Every inked pixel is a blend of the ink and the background.
      EXPECT_EQ(GetRValue(c), GetGValue(c));
      EXPECT_GE(GetBValue(c), 200);
      if (c == kInk) ++full;
    }
  }
  EXPECT_GT(inked, 40);
  EXPECT_GT(full, 10);
}

}  // namespace

namespace {

// With the real default font, the extent GetSize reports and the rectangle
// the measuring DrawText returns agree for one line.
TEST(TextBlock, GetSizeAgreesWithMeasuredRectangleInRealFont) {
  const char* texts[] = {"\xB1\xA8\xBE\xAF Alarm 12", "Door 7 open", "\xCB\xCE\xCC\xE5"};
  for (const char* text : texts) {
    CRecordingSurface rec;
    CDC dc(&rec);
    CSingleText block;
    block.SetRect(CRect(0, 0, 400, 100));
    block.SetText(text);
    block.Draw(&dc, 0xFFFFFFFF);
    CSize size = block.GetSize(&dc);
    auto calls = rec.GetCalls(CDrawCall::drawText);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].rcResult.Size(), size) << text;
    EXPECT_GT(size.cx, 0);
    // Centred: the drawing rectangle is the extent, placed in the middle.
    EXPECT_EQ(calls[1].rc.Width(), size.cx);
    EXPECT_EQ(calls[1].rc.Height(), 100 + 2 * ((size.cy - 100) / 2));
    EXPECT_EQ(calls[1].rc.left, -((size.cx - 400) / 2));
  }
}

}  // namespace

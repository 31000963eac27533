// SPDX-License-Identifier: Apache-2.0
#include "ui/three_d_frame.h"

#include <gtest/gtest.h>

namespace {

const COLORREF kBack = RGB(1, 2, 3);
const COLORREF kFill = RGB(200, 200, 0);
const COLORREF kHigh = RGB(255, 255, 255);
const COLORREF kShadow = RGB(128, 128, 128);

// Checks the 1-pixel frame (10,10)-(20,20): first colour on the left column
// and top row, second on the right column and bottom row, as line semantics give.
void expect_frame(const CRasterSurface& s, COLORREF crFirst, COLORREF crSecond) {
  for (int y = 11; y <= 20; ++y) EXPECT_EQ(s.GetPixel(10, y), crFirst) << "left y=" << y;
  for (int x = 10; x <= 19; ++x) EXPECT_EQ(s.GetPixel(x, 10), crFirst) << "top x=" << x;
  for (int y = 10; y <= 19; ++y) EXPECT_EQ(s.GetPixel(20, y), crSecond) << "right y=" << y;
  for (int x = 11; x <= 20; ++x) EXPECT_EQ(s.GetPixel(x, 20), crSecond) << "bottom x=" << x;
  // Nothing outside the outline.
  for (int i = 8; i <= 22; ++i) {
    EXPECT_EQ(s.GetPixel(9, i), kBack);
    EXPECT_EQ(s.GetPixel(21, i), kBack);
    EXPECT_EQ(s.GetPixel(i, 9), kBack);
    EXPECT_EQ(s.GetPixel(i, 21), kBack);
  }
}

// Draws a frame in the test's colours through dc.
void draw_frame(CDC& dc, const CRect& rc, BOOL bFill, BOOL bRaised, int nWidth, int nPrintOffset = 0) {
  C3DWin frame;
  frame.SetWin(rc, bFill, bRaised, nWidth, kFill, kHigh, kShadow);
  frame.Draw(&dc, nPrintOffset);
}

TEST(ThreeDFrame, RaisedHasHighlightTopLeftAndShadowBottomRight) {
  CRasterSurface s(40, 40, kBack);
  CDC dc(&s);
  draw_frame(dc, CRect(10, 10, 20, 20), TRUE, TRUE, 1, 5);  // no effect on screen
  expect_frame(s, kHigh, kShadow);
  // The fill covers the inside and stops short of the right column and bottom
  // row, which the edges then paint.
  EXPECT_EQ(s.GetPixel(11, 11), kFill);
  EXPECT_EQ(s.GetPixel(19, 19), kFill);
}

TEST(ThreeDFrame, SunkenSwapsColoursAndUnfilledLeavesInside) {
  CRasterSurface s(40, 40, kBack);
  CDC dc(&s);
  draw_frame(dc, CRect(10, 10, 20, 20), FALSE, FALSE, 1);
  expect_frame(s, kShadow, kHigh);
  EXPECT_EQ(s.GetPixel(15, 15), kBack);
}

TEST(ThreeDFrame, PrinterDrawsBlackWithoutFillAndWidensByOffset) {
  CPrinterSurface page(40, 40);
  page.Clear(kBack);
  CDC dc(&page);
  draw_frame(dc, CRect(10, 10, 20, 20), TRUE, TRUE, 1, 2);
  const COLORREF black = RGB(0, 0, 0);
  for (int y = 11; y <= 22; ++y) EXPECT_EQ(page.GetPixel(10, y), black) << y;
  for (int x = 10; x <= 21; ++x) EXPECT_EQ(page.GetPixel(x, 10), black) << x;
  for (int y = 10; y <= 21; ++y) EXPECT_EQ(page.GetPixel(22, y), black) << y;
  for (int x = 11; x <= 22; ++x) EXPECT_EQ(page.GetPixel(x, 22), black) << x;
  EXPECT_EQ(page.GetPixel(20, 20), kBack);
  EXPECT_EQ(page.GetPixel(15, 15), kBack);
}

TEST(ThreeDFrame, EmptyOrInvertedRectangleDrawsNothing) {
  const CRect rects[] = {CRect(10, 10, 10, 20), CRect(10, 10, 20, 10), CRect(20, 10, 10, 20), CRect(0, 0, 0, 0)};
  for (const CRect& rc : rects) {
    CRasterSurface s(30, 30, kBack);
    CDC dc(&s);
    draw_frame(dc, rc, TRUE, TRUE, 3);
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 30; ++x) ASSERT_EQ(s.GetPixel(x, y), kBack) << x << "," << y;
    }
  }
  CRasterSurface s(30, 30, kBack);
  CDC dc(&s);
  C3DWin unset;
  unset.Draw(&dc, 0);
  EXPECT_EQ(s.GetPixel(0, 0), kBack);
}

TEST(ThreeDFrame, RestoresPreviousPenAndDeletesItsOwn) {
  CRecordingSurface rec;
  CDC dc(&rec);
  CPen mine(PS_SOLID, 1, RGB(9, 9, 9));
  dc.SelectObject(&mine);
  rec.Clear();
  C3DWin frame;
  frame.SetWin(CRect(10, 10, 20, 20), TRUE, TRUE, 2, kFill, kHigh, kShadow);
  frame.Draw(&dc, 0);
  EXPECT_EQ(dc.GetCurrentPen(), &mine);
  // Pens of the frame's width: highlight, then shadow, then the host's pen back.
  auto selects = rec.GetCalls(CDrawCall::selectObject);
  ASSERT_EQ(selects.size(), 3u);
  EXPECT_EQ(selects[0].cr, kHigh);
  EXPECT_EQ(selects[1].cr, kShadow);
  EXPECT_EQ(selects[2].hObject, mine.m_hObject);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(GetObjectType(selects[i].hObject), 0u) << "pen not deleted";
  auto lines = rec.GetCalls(CDrawCall::lineTo);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].nValue, 2);
  EXPECT_EQ(lines[0].pt, CPoint(10, 10));
  EXPECT_EQ(lines[1].pt, CPoint(20, 10));
  EXPECT_EQ(lines[2].pt, CPoint(20, 20));
  EXPECT_EQ(lines[3].pt, CPoint(10, 20));
  auto fills = rec.GetCalls(CDrawCall::fillRect);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].rc, CRect(10, 10, 20, 20));
  EXPECT_EQ(fills[0].cr, kFill);
}

TEST(ThreeDFrame, WidePenEdgesStayCentredOnOutline) {
  CRasterSurface s(40, 40, kBack);
  CDC dc(&s);
  draw_frame(dc, CRect(10, 10, 30, 30), FALSE, TRUE, 3);
  // The left edge covers x 9..11 in the highlight; the right edge x 29..31 in the shadow.
  for (int x = 9; x <= 11; ++x) EXPECT_EQ(s.GetPixel(x, 20), kHigh) << x;
  for (int x = 29; x <= 31; ++x) EXPECT_EQ(s.GetPixel(x, 20), kShadow) << x;
  EXPECT_EQ(s.GetPixel(8, 20), kBack);
  EXPECT_EQ(s.GetPixel(12, 20), kBack);
  EXPECT_EQ(s.GetPixel(32, 20), kBack);
}

}  // namespace

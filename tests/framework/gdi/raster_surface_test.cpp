// SPDX-License-Identifier: Apache-2.0
#include "framework/gdi/dc.h"
#include "framework/gdi/surface.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <utility>

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRed = RGB(255, 0, 0);
const COLORREF kBlue = RGB(0, 0, 255);

using PixelSet = std::set<std::pair<int, int>>;

PixelSet pixels_of(const CRasterSurface& s, COLORREF cr) {
  PixelSet out;
  for (int y = 0; y < s.GetHeight(); ++y) {
    for (int x = 0; x < s.GetWidth(); ++x) {
      if (s.GetPixel(x, y) == cr) out.insert({x, y});
    }
  }
  return out;
}

// Draws one red 1-pixel line on a fresh white surface and returns its pixels.
PixelSet line_pixels(int x0, int y0, int x1, int y1, int nWidth = 1, int size = 40) {
  CRasterSurface s(size, size, kWhite);
  CDC dc(&s);
  CPen pen(PS_SOLID, nWidth, kRed);
  CPen* pOld = dc.SelectObject(&pen);
  dc.MoveTo(x0, y0);
  dc.LineTo(x1, y1);
  dc.SelectObject(pOld);
  return pixels_of(s, kRed);
}

TEST(Rects, HelpersFollowTheHalfOpenConvention) {
  CRect rc(10, 20, 30, 40);
  EXPECT_EQ(rc.Width(), 20);
  EXPECT_EQ(rc.Height(), 20);
  EXPECT_TRUE(rc.PtInRect(CPoint(10, 20)));
  EXPECT_FALSE(rc.PtInRect(CPoint(30, 39)));
  EXPECT_FALSE(rc.PtInRect(CPoint(29, 40)));
  rc.InflateRect(-1, -1);
  EXPECT_EQ(rc, CRect(11, 21, 29, 39));
  rc.OffsetRect(-11, -21);
  EXPECT_EQ(rc, CRect(0, 0, 18, 18));
  CRect out;
  EXPECT_TRUE(out.IntersectRect(CRect(0, 0, 10, 10), CRect(5, 5, 20, 20)));
  EXPECT_EQ(out, CRect(5, 5, 10, 10));
  EXPECT_FALSE(out.IntersectRect(CRect(0, 0, 5, 5), CRect(5, 5, 20, 20)));
  EXPECT_TRUE(out.IsRectEmpty());
  CRect inverted(9, 8, 1, 2);
  EXPECT_TRUE(inverted.IsRectEmpty());
  inverted.NormalizeRect();
  EXPECT_EQ(inverted, CRect(1, 2, 9, 8));
  EXPECT_FALSE(InflateRect(nullptr, 1, 1));
  EXPECT_EQ(RGB(1, 2, 3), 0x030201u);
  EXPECT_EQ(GetBValue(RGB(1, 2, 3)), 3);
}

TEST(RasterLines, StartDrawnEndExcludedInEveryOctant) {
  const std::pair<int, int> ends[] = {{30, 23}, {27, 30}, {13, 30}, {10, 23}, {10, 17}, {13, 10}, {27, 10}, {30, 17},
                                      {30, 20}, {20, 30}, {10, 20}, {20, 10}, {28, 28}, {12, 12}, {12, 28}, {28, 12}};
  for (auto [x, y] : ends) {
    SCOPED_TRACE(testing::Message() << "to " << x << "," << y);
    PixelSet px = line_pixels(20, 20, x, y);
    int dx = std::abs(x - 20), dy = std::abs(y - 20);
    EXPECT_EQ(px.size(), static_cast<size_t>(std::max(dx, dy)));
    EXPECT_TRUE(px.count({20, 20}));
    EXPECT_FALSE(px.count({x, y}));
    // One pixel per step along the major axis, each within half a pixel of the ideal line.
    for (auto [px_x, px_y] : px) {
      double t = dx >= dy ? double(px_x - 20) / (x - 20) : double(px_y - 20) / (y - 20);
      double ideal = dx >= dy ? 20 + t * (y - 20) : 20 + t * (x - 20);
      double actual = dx >= dy ? px_y : px_x;
      EXPECT_LE(std::abs(ideal - actual), 0.5);
    }
  }
}

TEST(RasterLines, ZeroLengthDrawsNothingAndPositionFollowsEndPoints) {
  EXPECT_TRUE(line_pixels(5, 5, 5, 5).empty());
  CRasterSurface s(10, 10);
  CDC dc(&s);
  EXPECT_EQ(dc.MoveTo(3, 4), CPoint(0, 0));
  dc.LineTo(7, 4);
  EXPECT_EQ(dc.GetCurrentPosition(), CPoint(7, 4));
  EXPECT_EQ(dc.MoveTo(1, 1), CPoint(7, 4));
}

TEST(RasterLines, PathOfSegmentsLeavesOnlyTheFinalEndPoint) {
  CRasterSurface s(20, 20, kWhite);
  CDC dc(&s);
  CPen pen(PS_SOLID, 1, kRed);
  CPen* pOld = dc.SelectObject(&pen);
  dc.MoveTo(2, 2);
  dc.LineTo(10, 2);
  dc.LineTo(10, 10);
  dc.LineTo(2, 10);
  dc.LineTo(2, 2);
  dc.SelectObject(pOld);
  // A closed square: 4 sides of 8 pixels, every corner drawn exactly once.
  PixelSet px = pixels_of(s, kRed);
  EXPECT_EQ(px.size(), 32u);
  EXPECT_TRUE(px.count({2, 2}));
  EXPECT_TRUE(px.count({10, 10}));
}

TEST(RasterLines, WidePenDrawsBandCentredOnPath) {
  PixelSet px = line_pixels(5, 20, 30, 20, 3);
  for (int x = 6; x < 29; ++x) {
    EXPECT_TRUE(px.count({x, 19}) && px.count({x, 20}) && px.count({x, 21})) << x;
    EXPECT_FALSE(px.count({x, 18}) || px.count({x, 22})) << x;
  }
  PixelSet vertical = line_pixels(20, 5, 20, 30, 5);
  for (int y = 7; y < 28; ++y) {
    for (int x = 18; x <= 22; ++x) EXPECT_TRUE(vertical.count({x, y})) << x << "," << y;
    EXPECT_FALSE(vertical.count({17, y}) || vertical.count({23, y}));
  }
  // An even width puts the extra row on the negative side: rows y-1 and y.
  PixelSet even = line_pixels(5, 20, 30, 20, 2);
  EXPECT_TRUE(even.count({15, 19}) && even.count({15, 20}));
  EXPECT_FALSE(even.count({15, 18}) || even.count({15, 21}));
}

TEST(RasterLines, ClippedAtSurfaceEdgesWithoutWrapping) {
  // Far outside on both ends: the visible part matches the unclipped line's.
  PixelSet px = line_pixels(-1000000, -500000, 1000000, 500000, 1, 10);
  EXPECT_EQ(px.size(), 10u);
  for (auto [x, y] : px) EXPECT_EQ(y, (x + 1) / 2) << x;  // halves round up
  // A line along the last row and column stays inside.
  PixelSet edge = line_pixels(0, 9, 10, 9, 1, 10);
  EXPECT_EQ(edge.size(), 10u);
  EXPECT_TRUE(line_pixels(-5, -5, -1, 20, 1, 10).empty());
  // A wide pen next to the edge draws its visible half.
  PixelSet wide = line_pixels(0, 0, 10, 0, 3, 10);
  EXPECT_EQ(wide.size(), 20u);
}

TEST(RasterFill, CoversRectangleWithoutRightColumnAndBottomRow) {
  CRasterSurface s(20, 20, kWhite);
  CDC dc(&s);
  CBrush brush(kBlue);
  CRect rc(3, 4, 9, 12);
  dc.FillRect(&rc, &brush);
  PixelSet px = pixels_of(s, kBlue);
  EXPECT_EQ(px.size(), 6u * 8u);
  EXPECT_TRUE(px.count({3, 4}));
  EXPECT_TRUE(px.count({8, 11}));
  EXPECT_FALSE(px.count({9, 11}));
  EXPECT_FALSE(px.count({8, 12}));
  // Empty and inverted rectangles fill nothing.
  CRasterSurface t(20, 20, kWhite);
  CDC dt(&t);
  CRect empty(5, 5, 5, 9), inverted(9, 9, 5, 5);
  dt.FillRect(&empty, &brush);
  dt.FillRect(&inverted, &brush);
  EXPECT_TRUE(pixels_of(t, kBlue).empty());
}

TEST(RasterFill, ClippedToSurfaceAndToClipRectangle) {
  CRasterSurface s(10, 10, kWhite);
  CDC dc(&s);
  dc.FillSolidRect(CRect(-100, -100, 100, 100), kBlue);
  EXPECT_EQ(pixels_of(s, kBlue).size(), 100u);

  s.Clear(kWhite);
  dc.SaveDC();
  dc.IntersectClipRect(2, 2, 5, 5);
  dc.FillSolidRect(CRect(0, 0, 10, 10), kRed);
  EXPECT_EQ(pixels_of(s, kRed).size(), 9u);
  dc.RestoreDC(-1);
  dc.FillSolidRect(CRect(8, 8, 10, 10), kRed);
  EXPECT_EQ(pixels_of(s, kRed).size(), 13u);
}

TEST(RasterFill, ViewportOriginShiftsDrawing) {
  CRasterSurface s(10, 10, kWhite);
  CDC dc(&s);
  dc.SetViewportOrg(4, 5);
  dc.FillSolidRect(CRect(0, 0, 1, 1), kBlue);
  EXPECT_EQ(s.GetPixel(4, 5), kBlue);
  EXPECT_EQ(dc.GetPixel(0, 0), kBlue);
}

TEST(RasterFill, RectangleOutlinesWithPenAndFillsInside) {
  CRasterSurface s(20, 20, kWhite);
  CDC dc(&s);
  CPen pen(PS_SOLID, 1, kRed);
  CBrush brush(kBlue);
  CPen* pOldPen = dc.SelectObject(&pen);
  CBrush* pOldBrush = dc.SelectObject(&brush);
  dc.Rectangle(2, 2, 8, 7);
  dc.SelectObject(pOldPen);
  dc.SelectObject(pOldBrush);
  EXPECT_EQ(pixels_of(s, kRed).size(), 2u * 6u + 2u * 3u);
  EXPECT_EQ(pixels_of(s, kBlue).size(), 4u * 3u);
  EXPECT_EQ(s.GetPixel(7, 6), kRed);
  EXPECT_EQ(s.GetPixel(8, 7), kWhite);
}

TEST(GdiObjects, SelectReturnsPreviousAndDeleteWhileSelectedIsSafe) {
  CRasterSurface s(10, 10, kWhite);
  CDC dc(&s);
  CPen red(PS_SOLID, 1, kRed);
  CPen blue(PS_SOLID, 1, kBlue);
  CPen* pStock = dc.SelectObject(&red);
  ASSERT_NE(pStock, nullptr);
  EXPECT_EQ(pStock->m_hObject, GetStockObject(BLACK_PEN));
  EXPECT_EQ(dc.SelectObject(&blue), &red);
  EXPECT_EQ(dc.SelectObject(pStock), &blue);

  // Deleting a selected pen keeps it drawable until it is deselected.
  CPen green(PS_SOLID, 1, RGB(0, 255, 0));
  dc.SelectObject(&green);
  HGDIOBJ h = green.m_hObject;
  EXPECT_TRUE(green.DeleteObject());
  EXPECT_EQ(GetObjectType(h), 0u);
  dc.MoveTo(0, 0);
  dc.LineTo(5, 0);
  EXPECT_EQ(s.GetPixel(4, 0), RGB(0, 255, 0));
  // Replacing it frees it, so there is no previous pen to hand back.
  EXPECT_EQ(dc.SelectStockObject(BLACK_PEN), nullptr);
  EXPECT_FALSE(DeleteObject(GetStockObject(BLACK_PEN)));
  EXPECT_FALSE(DeleteObject(h));

  LOGPEN lp{};
  EXPECT_EQ(red.GetObject(sizeof(lp), &lp), static_cast<int>(sizeof(lp)));
  EXPECT_EQ(lp.lopnColor, kRed);
  EXPECT_EQ(lp.lopnWidth.x, 1);
}

TEST(GdiObjects, AttachDetachAndTemporaryWrappers) {
  HPEN h = CreatePen(PS_SOLID, 2, kRed);
  CPen* pTemp = CPen::FromHandle(h);
  ASSERT_NE(pTemp, nullptr);
  EXPECT_EQ(pTemp->m_hObject, h);
  {
    CPen pen;
    EXPECT_TRUE(pen.Attach(h));
    EXPECT_FALSE(pen.Attach(h));
    EXPECT_EQ(CGdiObject::FromHandle(h), &pen);
    EXPECT_EQ(pen.Detach(), h);
  }
  EXPECT_EQ(GetObjectType(h), OBJ_PEN);  // detached, so not deleted
  AfxDeleteTempGdiObjects();
  EXPECT_TRUE(DeleteObject(h));
  EXPECT_FALSE(DeleteObject(h));
}

TEST(Surfaces, PrinterSurfaceMakesPrintingContext) {
  CPrinterSurface page(100, 140, 300);
  CDC dc(&page);
  EXPECT_TRUE(dc.IsPrinting());
  EXPECT_EQ(dc.GetDeviceCaps(LOGPIXELSY), 300);
  EXPECT_EQ(dc.GetDeviceCaps(HORZRES), 100);
  CRasterSurface screen(10, 10);
  CDC sdc(&screen);
  EXPECT_FALSE(sdc.IsPrinting());
}

TEST(Surfaces, SavesPngThatReadsBack) {
  CRasterSurface s(3, 2, kWhite);
  CDC dc(&s);
  dc.SetPixel(1, 0, RGB(10, 20, 30));
  tarvenkel::test::TempDir dir;
  ASSERT_TRUE(s.SavePng(dir.file("a.png").c_str()));
  std::string bytes = tarvenkel::test::ReadFile(dir.file("a.png"));
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  EXPECT_FALSE(s.SavePng((dir.path() + "/missing/a.png").c_str()));
  EXPECT_FALSE(CRasterSurface(0, 0).SavePng(dir.file("b.png").c_str()));
}

TEST(Surfaces, RecordingSurfaceKeepsCallsInOrder) {
  CRecordingSurface rec;
  CDC dc(&rec);
  CBrush brush(kBlue);
  CRect rc(1, 2, 3, 4);
  dc.SetBkMode(TRANSPARENT);
  dc.FillRect(&rc, &brush);
  dc.MoveTo(5, 6);
  dc.LineTo(7, 8);
  const auto& calls = rec.GetCalls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].nKind, CDrawCall::setBkMode);
  EXPECT_EQ(calls[0].nValue, TRANSPARENT);
  EXPECT_EQ(calls[1].rc, rc);
  EXPECT_EQ(calls[1].cr, kBlue);
  EXPECT_EQ(calls[3].pt, CPoint(7, 8));
}

}  // namespace

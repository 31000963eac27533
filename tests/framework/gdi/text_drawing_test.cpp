// SPDX-License-Identifier: Apache-2.0
#include "framework/core/code_page.h"
#include "framework/gdi/dc.h"
#include "framework/gdi/font_engine.h"
#include "framework/gdi/surface.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const char kSimSunGbk[] = "\xCB\xCE\xCC\xE5";

LOGFONTA make_font(const char* face, LONG height, LONG weight = FW_NORMAL, BYTE italic = 0) {
  LOGFONTA lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfItalic = italic;
  lf.lfCharSet = DEFAULT_CHARSET;
  std::strncpy(lf.lfFaceName, face, LF_FACESIZE - 1);
  return lf;
}

// A device context over a white raster with a font selected.
struct TextDC {
  TextDC(const LOGFONTA& lf, int cx = 300, int cy = 80) : surface(cx, cy, kWhite), dc(&surface) {
    font.CreateFontIndirect(&lf);
    pOld = dc.SelectObject(&font);
    dc.SetBkMode(TRANSPARENT);
  }
  ~TextDC() { dc.SelectObject(pOld); }
  CRasterSurface surface;
  CDC dc;
  CFont font;
  CFont* pOld;

  int width(const char* s) { return dc.GetTextExtent(s, static_cast<int>(std::strlen(s))).cx; }
  CRect calc(const char* s, UINT flags, CRect rc = CRect(0, 0, 1000, 0)) {
    dc.DrawText(s, -1, &rc, flags | DT_CALCRECT);
    return rc;
  }
  // Bounding box of all non-white pixels (empty when none).
  CRect ink() const {
    CRect box(10000, 10000, -1, -1);
    for (int y = 0; y < surface.GetHeight(); ++y) {
      for (int x = 0; x < surface.GetWidth(); ++x) {
        if (surface.GetPixel(x, y) != kWhite) {
          box.left = std::min<LONG>(box.left, x);
          box.top = std::min<LONG>(box.top, y);
          box.right = std::max<LONG>(box.right, x + 1);
          box.bottom = std::max<LONG>(box.bottom, y + 1);
        }
      }
    }
    return box.right < 0 ? CRect() : box;
  }
};

TEST(CodePage, DecodesGbkByDefaultAndUtf8WhenSet) {
  ASSERT_EQ(AfxGetAnsiCodePage(), 936u);
  EXPECT_EQ(tarvenkel::DecodeAnsi(kSimSunGbk), U"\u5B8B\u4F53");
  // An invalid lead byte pair becomes one replacement character, and decoding goes on.
  EXPECT_EQ(tarvenkel::DecodeAnsi("a\xFF\x20" "b"), U"a\uFFFD b");
  EXPECT_EQ(tarvenkel::DecodeAnsi("x\xCB"), U"x\uFFFD");
  ASSERT_TRUE(AfxSetAnsiCodePage(CP_UTF8));
  EXPECT_EQ(tarvenkel::DecodeAnsi("\xE5\xAE\x8B\xE4\xBD\x93"), U"\u5B8B\u4F53");
  EXPECT_FALSE(AfxSetAnsiCodePage(123456));
  EXPECT_EQ(AfxGetAnsiCodePage(), CP_UTF8);
  ASSERT_TRUE(AfxSetAnsiCodePage(936));
}

TEST(Fonts, SimSunMapsToUMingInEitherSpellingOrCodePage) {
  auto gbk = tarvenkel::gdi::RealiseFont(make_font(kSimSunGbk, -12));
  EXPECT_NE(gbk->GetFamilyName().find("UMing"), std::string::npos) << gbk->GetFamilyName();
  auto latin = tarvenkel::gdi::RealiseFont(make_font("SimSun", -12));
  EXPECT_EQ(latin->GetFilePath(), gbk->GetFilePath());
  ASSERT_TRUE(AfxSetAnsiCodePage(CP_UTF8));
  auto utf8 = tarvenkel::gdi::RealiseFont(make_font("\xE5\xAE\x8B\xE4\xBD\x93", -12));
  ASSERT_TRUE(AfxSetAnsiCodePage(936));
  EXPECT_EQ(utf8->GetFilePath(), gbk->GetFilePath());
  // The same record gives the same realised font: the cache at work.
  EXPECT_EQ(tarvenkel::gdi::RealiseFont(make_font(kSimSunGbk, -12)), gbk);
}

TEST(Fonts, HeightsFollowSignConvention) {
  TEXTMETRICA tm{};
  tarvenkel::gdi::RealiseFont(make_font("DejaVu Sans", -20))->GetMetrics(&tm);
  EXPECT_EQ(tm.tmHeight - tm.tmInternalLeading, 20);
  EXPECT_EQ(tm.tmAscent + tm.tmDescent, tm.tmHeight);
  tarvenkel::gdi::RealiseFont(make_font("DejaVu Sans", 20))->GetMetrics(&tm);
  EXPECT_EQ(tm.tmHeight, 20);
  EXPECT_GT(tm.tmInternalLeading, 0);
}

TEST(Fonts, ExtremeHeightsStayBounded) {
  for (LONG height : {LONG(INT32_MIN), LONG(-100000), LONG(0), LONG(100000), LONG(INT32_MAX)}) {
    auto font = tarvenkel::gdi::RealiseFont(make_font("DejaVu Sans", height));
    EXPECT_GE(font->GetEmPixels(), 1) << height;
    EXPECT_LE(font->GetEmPixels(), 4096) << height;
    TEXTMETRICA tm{};
    font->GetMetrics(&tm);
    EXPECT_GT(tm.tmHeight, 0) << height;
  }
  EXPECT_EQ(tarvenkel::gdi::RealiseFont(make_font("", 0))->GetEmPixels(), 12);
}

TEST(Fonts, MeasuresWithFreeTypeAdvances) {
  const char* text = "Alarm 42 Wg";
  auto font = tarvenkel::gdi::RealiseFont(make_font("DejaVu Sans", -15));
  FT_Library lib;
  ASSERT_EQ(FT_Init_FreeType(&lib), 0);
  FT_Face face;
  ASSERT_EQ(FT_New_Face(lib, font->GetFilePath().c_str(), 0, &face), 0);
  FT_Set_Pixel_Sizes(face, 0, 15);
  int expected = 0;
  for (const char* p = text; *p; ++p) {
    ASSERT_EQ(FT_Load_Char(face, static_cast<FT_ULong>(*p), FT_LOAD_DEFAULT), 0);
    expected += static_cast<int>((face->glyph->advance.x + 32) >> 6);
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);

  TextDC t(make_font("DejaVu Sans", -15));
  CSize extent = t.dc.GetTextExtent(text, static_cast<int>(std::strlen(text)));
  EXPECT_EQ(extent.cx, expected);
  TEXTMETRIC tm{};
  t.dc.GetTextMetrics(&tm);
  EXPECT_EQ(extent.cy, tm.tmHeight);
  // DT_CALCRECT of one line agrees with the extent.
  EXPECT_EQ(t.calc(text, DT_SINGLELINE), CRect(0, 0, extent.cx, extent.cy));
  EXPECT_EQ(t.calc(text, 0), CRect(0, 0, extent.cx, extent.cy));
}

TEST(Fonts, ChineseInLatinFontFallsBackToCoveringFont) {
  TextDC t(make_font("DejaVu Sans", -16));
  const char* text = "\xB1\xA8\xBE\xAF";  // 报警
  CRect rc(0, 0, 300, 80);
  t.dc.DrawText(text, -1, &rc, DT_SINGLELINE | DT_NOPREFIX);
  CRect ink = t.ink();
  EXPECT_GT(ink.Width(), 20);  // two full-width ideographs
  EXPECT_GT(ink.Height(), 10);
}

TEST(Fonts, BoldAndItalicAreHonoured) {
  auto regular = tarvenkel::gdi::RealiseFont(make_font("DejaVu Sans", -14));
  auto bold = tarvenkel::gdi::RealiseFont(make_font("DejaVu Sans", -14, FW_BOLD));
  EXPECT_NE(regular->GetFilePath(), bold->GetFilePath());  // a real bold face
  EXPECT_FALSE(bold->IsSyntheticBold());
  auto song = tarvenkel::gdi::RealiseFont(make_font(kSimSunGbk, -14, FW_BOLD, 1));
  EXPECT_TRUE(song->IsSyntheticBold());
  EXPECT_TRUE(song->IsSyntheticItalic());

  auto ink_count = [](const LOGFONTA& lf) {
    TextDC t(lf, 120, 40);
    t.dc.TextOut(2, 2, "\xB1\xA8 HH");
    int n = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 120; ++x) n += t.surface.GetPixel(x, y) != kWhite;
    return n;
  };
  EXPECT_GT(ink_count(make_font(kSimSunGbk, -14, FW_BOLD)), ink_count(make_font(kSimSunGbk, -14)));
}

TEST(DrawText, SplitsAtLineFeedAndCrLf) {
  TextDC t(make_font("DejaVu Sans", -12));
  TEXTMETRIC tm{};
  t.dc.GetTextMetrics(&tm);
  CRect rc = t.calc("one\r\ntwo\nthree", 0);
  EXPECT_EQ(rc.Height(), 3 * tm.tmHeight);
  EXPECT_EQ(rc.Width(), t.width("three"));
  // Single-line text keeps line breaks as characters.
  EXPECT_EQ(t.calc("one\ntwo", DT_SINGLELINE).Height(), tm.tmHeight);
}

TEST(DrawText, PrefixMarksMnemonicUnlessNoPrefix) {
  TextDC t(make_font("DejaVu Sans", -16));
  EXPECT_EQ(t.calc("&File", DT_SINGLELINE).Width(), t.width("File"));
  EXPECT_EQ(t.calc("&File", DT_SINGLELINE | DT_NOPREFIX).Width(), t.width("&File"));
  EXPECT_EQ(t.calc("A&&B", DT_SINGLELINE).Width(), t.width("A&B"));

  // The mnemonic is underlined below the baseline; without it no underline.
  TEXTMETRIC tm{};
  t.dc.GetTextMetrics(&tm);
  auto underline_ink = [&](UINT flags) {
    t.surface.Clear(kWhite);
    CRect rc(10, 10, 200, 60);
    t.dc.DrawText("&a", -1, &rc, DT_SINGLELINE | flags);
    int n = 0;
    for (int y = 10 + tm.tmAscent + 1; y < 10 + tm.tmHeight; ++y)
      for (int x = 0; x < 200; ++x) n += t.surface.GetPixel(x, y) != kWhite;
    return n;
  };
  EXPECT_GE(underline_ink(0), t.width("a") - 1);
  t.surface.Clear(kWhite);
  CRect rc(10, 10, 200, 60);
  t.dc.DrawText("a", -1, &rc, DT_SINGLELINE);
  int plain = 0;
  for (int y = 10 + tm.tmAscent + 1; y < 10 + tm.tmHeight; ++y)
    for (int x = 0; x < 200; ++x) plain += t.surface.GetPixel(x, y) != kWhite;
  EXPECT_EQ(plain, 0);
}

TEST(DrawText, WordBreakWrapsAtSpacesAndKeepsLongWordsWhole) {
  TextDC t(make_font("DejaVu Sans", -12));
  TEXTMETRIC tm{};
  t.dc.GetTextMetrics(&tm);
  int w = t.width("alpha beta");
  CRect rc = t.calc("alpha beta gamma", DT_WORDBREAK, CRect(0, 0, w, 0));
  EXPECT_EQ(rc.Height(), 2 * tm.tmHeight);
  EXPECT_EQ(rc.Width(), w);
  CRect one = t.calc("alpha beta gamma", DT_WORDBREAK | DT_SINGLELINE, CRect(0, 0, w, 0));
  EXPECT_EQ(one.Height(), tm.tmHeight);
  CRect longWord = t.calc("incomprehensibilities", DT_WORDBREAK, CRect(0, 0, 20, 0));
  EXPECT_EQ(longWord.Height(), tm.tmHeight);
  EXPECT_EQ(longWord.Width(), t.width("incomprehensibilities"));
  // Chinese breaks between ideographs.
  CRect cjk = t.calc("\xB1\xA8\xBE\xAF\xB1\xA8\xBE\xAF", DT_WORDBREAK, CRect(0, 0, t.width("\xB1\xA8\xBE\xAF"), 0));
  EXPECT_EQ(cjk.Height(), 2 * tm.tmHeight);
}

TEST(DrawText, ExpandTabsToEightAverageCharacters) {
  TextDC t(make_font("DejaVu Sans", -12));
  TEXTMETRIC tm{};
  t.dc.GetTextMetrics(&tm);
  EXPECT_EQ(t.calc("a\tb", DT_SINGLELINE | DT_EXPANDTABS).Width(), 8 * tm.tmAveCharWidth + t.width("b"));
  EXPECT_EQ(t.calc("a\tb", DT_SINGLELINE).Width(), t.width("a\tb"));
}

TEST(DrawText, AlignsSingleLineAndClipsUnlessNoClip) {
  TextDC t(make_font("DejaVu Sans", -14), 200, 60);
  const CRect rc(20, 10, 180, 50);
  const struct {
    UINT flags;
    bool left, right, top, bottom;
  } cases[] = {
      {DT_SINGLELINE | DT_LEFT | DT_TOP, true, false, true, false},
      {DT_SINGLELINE | DT_RIGHT | DT_BOTTOM, false, true, false, true},
  };
  int w = t.width("Mx");
  TEXTMETRIC tm{};
  t.dc.GetTextMetrics(&tm);
  for (const auto& c : cases) {
    t.surface.Clear(kWhite);
    CRect r = rc;
    t.dc.DrawText("Mx", -1, &r, c.flags);
    CRect ink = t.ink();
    ASSERT_FALSE(ink.IsRectEmpty());
    if (c.left) {
      EXPECT_LE(ink.left, rc.left + 2);
    }
    if (c.right) {
      EXPECT_GE(ink.right, rc.right - 2);
    }
    if (c.left) {
      EXPECT_LE(ink.right, rc.left + w + 1);
    }
    if (c.top) {
      EXPECT_LE(ink.bottom, rc.top + tm.tmHeight);
    }
    if (c.bottom) {
      EXPECT_GE(ink.top, rc.bottom - tm.tmHeight);
    }
  }
  t.surface.Clear(kWhite);
  CRect centred = rc;
  t.dc.DrawText("Mx", -1, &centred, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
  CRect ink = t.ink();
  EXPECT_NEAR((ink.left + ink.right) / 2.0, 100.0, 2.0);
  EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 30.0, 4.0);

  // A rectangle too small for the text clips it; DT_NOCLIP does not.
  t.surface.Clear(kWhite);
  CRect tiny(50, 20, 54, 40);
  t.dc.DrawText("WWWW", -1, &tiny, DT_SINGLELINE);
  EXPECT_LE(t.ink().right, 54);
  t.surface.Clear(kWhite);
  tiny = CRect(50, 20, 54, 40);
  t.dc.DrawText("WWWW", -1, &tiny, DT_SINGLELINE | DT_NOCLIP);
  EXPECT_GT(t.ink().right, 60);
}

TEST(DrawText, OpaqueModePaintsBackgroundTransparentDoesNot) {
  TextDC t(make_font("DejaVu Sans", -12), 100, 40);
  t.dc.SetBkMode(OPAQUE);
  t.dc.SetBkColor(RGB(0, 255, 0));
  t.dc.SetTextColor(RGB(255, 0, 0));
  t.dc.TextOut(10, 10, "ab");
  CSize ext = t.dc.GetTextExtent("ab", 2);
  EXPECT_EQ(t.surface.GetPixel(10, 10), RGB(0, 255, 0));
  EXPECT_EQ(t.surface.GetPixel(10 + ext.cx - 1, 10 + ext.cy - 1), RGB(0, 255, 0));
  EXPECT_EQ(t.surface.GetPixel(10 + ext.cx, 10), kWhite);
  EXPECT_EQ(t.surface.GetPixel(9, 10), kWhite);
  t.surface.Clear(kWhite);
  t.dc.SetBkMode(TRANSPARENT);
  t.dc.TextOut(10, 10, "ab");
  EXPECT_EQ(t.surface.GetPixel(10, 10), kWhite);
}

TEST(DrawText, ConcurrentDrawingOnSeparateSurfacesMatches) {
  auto render = [](CRasterSurface* s) {
    CDC dc(s);
    LOGFONTA lf = make_font(kSimSunGbk, -13);
    for (int i = 0; i < 20; ++i) {
      CFont font;
      font.CreateFontIndirect(&lf);
      CFont* pOld = dc.SelectObject(&font);
      CRect rc(0, 0, 200, 30);
      dc.DrawText("Thread \xB1\xA8\xBE\xAF ok", -1, &rc, DT_SINGLELINE | DT_CENTER);
      dc.SelectObject(pOld);
    }
    AfxDeleteTempGdiObjects();
  };
  CRasterSurface a(200, 30), b(200, 30);
  std::thread ta(render, &a), tb(render, &b);
  ta.join();
  tb.join();
  EXPECT_TRUE(std::equal(a.GetBits(), a.GetBits() + 200 * 30, b.GetBits()));
}

}  // namespace

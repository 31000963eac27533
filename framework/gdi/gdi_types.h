// SPDX-License-Identifier: Apache-2.0
// The value types, handles and constants of the drawing API: colours,
// rectangles, points, sizes, the logical font record and the GDI handles.
#pragma once

#include "framework/core/win_types.h"

// Handles are opaque pointers, distinct per kind as on the original platform;
// HGDIOBJ accepts any of the object kinds.
struct HDC__;
struct HPEN__;
struct HBRUSH__;
struct HFONT__;
using HDC = HDC__*;        // a device context
using HPEN = HPEN__*;      // a pen
using HBRUSH = HBRUSH__*;  // a brush
using HFONT = HFONT__*;    // a font
using HGDIOBJ = void*;     // any pen, brush or font

// Colours are 0x00BBGGRR.
using COLORREF = DWORD;
// The colour of red, green and blue components 0..255.
constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr BYTE GetRValue(COLORREF cr) { return static_cast<BYTE>(cr & 0xFF); }          // the red component
constexpr BYTE GetGValue(COLORREF cr) { return static_cast<BYTE>((cr >> 8) & 0xFF); }   // the green component
constexpr BYTE GetBValue(COLORREF cr) { return static_cast<BYTE>((cr >> 16) & 0xFF); }  // the blue component
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;  // no colour: what colour calls return on failure

// A rectangle by its edges; see CRect.
struct RECT {
  LONG left;    // the left edge, inside
  LONG top;     // the top edge, inside
  LONG right;   // the right edge, outside
  LONG bottom;  // the bottom edge, outside
};
using LPRECT = RECT*;         // a pointer to a RECT
using LPCRECT = const RECT*;  // a pointer to a constant RECT

// A point.
struct POINT {
  LONG x;  // horizontal, growing to the right
  LONG y;  // vertical, growing downwards
};
using LPPOINT = POINT*;  // a pointer to a POINT

// A width and a height.
struct SIZE {
  LONG cx;  // the width
  LONG cy;  // the height
};
using LPSIZE = SIZE*;  // a pointer to a SIZE

// A POINT with constructors and helpers.
class AFX_EXT_CLASS CPoint : public POINT {
public:
  CPoint() : POINT{0, 0} {}
  // The point initX, initY.
  CPoint(int initX, int initY) : POINT{initX, initY} {}
  // A copy of pt.
  CPoint(POINT pt) : POINT(pt) {}  // NOLINT: implicit like the framework's

  // Moves the point by dx, dy.
  void Offset(int dx, int dy) { x += dx; y += dy; }
  // TRUE for the same coordinates.
  friend bool operator==(const CPoint& a, const CPoint& b) { return a.x == b.x && a.y == b.y; }
};

// A SIZE with constructors.
class AFX_EXT_CLASS CSize : public SIZE {
public:
  CSize() : SIZE{0, 0} {}
  // The size initCX by initCY.
  CSize(int initCX, int initCY) : SIZE{initCX, initCY} {}
  // A copy of sz.
  CSize(SIZE sz) : SIZE(sz) {}  // NOLINT: implicit like the framework's

  friend bool operator==(const CSize& a, const CSize& b) { return a.cx == b.cx && a.cy == b.cy; }
};

// The API's rectangle helpers; each returns FALSE for a null pointer (but
// IsRectEmpty TRUE), and TRUE otherwise unless said below.
AFX_API_EXPORT BOOL SetRect(RECT* prc, int left, int top, int right, int bottom);
// Sets all four edges to 0.
AFX_API_EXPORT BOOL SetRectEmpty(RECT* prc);
// Moves left and top out by dx, dy and right and bottom by the same (in for negative values).
AFX_API_EXPORT BOOL InflateRect(RECT* prc, int dx, int dy);
// Moves the rectangle by dx, dy.
AFX_API_EXPORT BOOL OffsetRect(RECT* prc, int dx, int dy);
// TRUE when the rectangle has no inside (right <= left or bottom <= top) or is null.
AFX_API_EXPORT BOOL IsRectEmpty(const RECT* prc);
// TRUE when pt lies inside: right column and bottom row excluded.
AFX_API_EXPORT BOOL PtInRect(const RECT* prc, POINT pt);
// The overlap of two rectangles; an empty rectangle (and FALSE) if none.
AFX_API_EXPORT BOOL IntersectRect(RECT* prcDst, const RECT* prc1, const RECT* prc2);
// TRUE when both are given and their edges are equal.
AFX_API_EXPORT BOOL EqualRect(const RECT* prc1, const RECT* prc2);

// A rectangle whose right column and bottom row lie outside it, as in GDI.
class AFX_EXT_CLASS CRect : public RECT {
public:
  CRect() : RECT{0, 0, 0, 0} {}
  // The rectangle with these edges.
  CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
  // A copy of rc.
  CRect(const RECT& rc) : RECT(rc) {}  // NOLINT: implicit like the framework's
  // The rectangle of that corner and size.
  CRect(POINT topLeft, SIZE size) : RECT{topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy} {}

  // right - left.
  int Width() const { return right - left; }
  // bottom - top.
  int Height() const { return bottom - top; }
  // Width and height.
  CSize Size() const { return CSize(Width(), Height()); }
  // The left, top corner.
  CPoint TopLeft() const { return CPoint(left, top); }
  // The right, bottom corner (outside the rectangle).
  CPoint BottomRight() const { return CPoint(right, bottom); }
  // The middle, rounded towards zero.
  CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
  // See ::IsRectEmpty.
  BOOL IsRectEmpty() const { return ::IsRectEmpty(this); }
  // TRUE when all four edges are 0.
  BOOL IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  // See ::PtInRect.
  BOOL PtInRect(POINT pt) const { return ::PtInRect(this, pt); }
  // Sets the four edges.
  void SetRect(int l, int t, int r, int b) { ::SetRect(this, l, t, r, b); }
  // Sets the four edges to 0.
  void SetRectEmpty() { ::SetRectEmpty(this); }
  // Moves the edges out by dx, dy (see ::InflateRect); the second form by
  // l, t, r, b on each side.
  void InflateRect(int dx, int dy) { ::InflateRect(this, dx, dy); }
  void InflateRect(int l, int t, int r, int b) { left -= l; top -= t; right += r; bottom += b; }
  // Moves the edges in by dx, dy.
  void DeflateRect(int dx, int dy) { ::InflateRect(this, -dx, -dy); }
  // Moves the rectangle by dx, dy, or by pt.
  void OffsetRect(int dx, int dy) { ::OffsetRect(this, dx, dy); }
  void OffsetRect(POINT pt) { ::OffsetRect(this, pt.x, pt.y); }
  // Swaps the sides where left > right or top > bottom.
  void NormalizeRect();
  // Becomes the overlap of the two (see ::IntersectRect); FALSE if there is none.
  BOOL IntersectRect(const RECT* prc1, const RECT* prc2) { return ::IntersectRect(this, prc1, prc2); }

  // The rectangle as a pointer, for the API's calls.
  operator LPRECT() { return this; }
  // The same, for a constant rectangle.
  operator LPCRECT() const { return this; }
  friend bool operator==(const CRect& a, const CRect& b) { return ::EqualRect(&a, &b) != 0; }
};

constexpr int LF_FACESIZE = 32;  // bytes of a face name, terminator included

// The logical font record with an 8-bit face name in the ANSI code page.
struct LOGFONTA {
  LONG lfHeight;          // < 0: character height (em) in pixels; > 0: cell height; 0: default
  LONG lfWidth;           // average character width; 0: in proportion to the height
  LONG lfEscapement;      // kept; text is always drawn horizontally
  LONG lfOrientation;     // kept; not used
  LONG lfWeight;          // FW_ weight (FW_NORMAL, FW_BOLD, ...)
  BYTE lfItalic;          // non-zero: italic
  BYTE lfUnderline;       // non-zero: underlined
  BYTE lfStrikeOut;       // non-zero: struck out
  BYTE lfCharSet;         // character set (ANSI_CHARSET, GB2312_CHARSET, ...)
  BYTE lfOutPrecision;    // kept; not used
  BYTE lfClipPrecision;   // kept; not used
  BYTE lfQuality;         // kept; glyphs are always anti-aliased
  BYTE lfPitchAndFamily;  // pitch and family bits, a hint for choosing the face
  CHAR lfFaceName[LF_FACESIZE];  // the face name, zero-terminated, in the ANSI code page
};
using LOGFONT = LOGFONTA;      // the logical font record
using LPLOGFONTA = LOGFONTA*;  // a pointer to a LOGFONTA
using LPLOGFONT = LOGFONT*;    // a pointer to a LOGFONT

// Metrics of the font selected into a device context, in logical units.
struct TEXTMETRICA {
  LONG tmHeight;           // ascent + descent
  LONG tmAscent;           // above the baseline
  LONG tmDescent;          // below the baseline
  LONG tmInternalLeading;  // tmHeight minus the em size
  LONG tmExternalLeading;  // extra space the font suggests between lines
  LONG tmAveCharWidth;     // average character width
  LONG tmMaxCharWidth;     // widest character
  LONG tmWeight;           // FW_ weight
  BYTE tmItalic;           // non-zero: italic
  BYTE tmUnderlined;       // non-zero: underlined
  BYTE tmStruckOut;        // non-zero: struck out
  BYTE tmPitchAndFamily;   // pitch and family bits
  BYTE tmCharSet;          // character set
};
using TEXTMETRIC = TEXTMETRICA;  // the font metrics record

// Pen styles.
constexpr int PS_SOLID = 0;
constexpr int PS_NULL = 5;

// Background modes.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// Object types (GetObjectType).
constexpr DWORD OBJ_PEN = 1;
constexpr DWORD OBJ_BRUSH = 2;
constexpr DWORD OBJ_DC = 3;
constexpr DWORD OBJ_FONT = 6;

// Stock objects (GetStockObject).
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int HOLLOW_BRUSH = NULL_BRUSH;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;

// DrawText formats.
constexpr UINT DT_TOP = 0x00000000;
constexpr UINT DT_LEFT = 0x00000000;
constexpr UINT DT_CENTER = 0x00000001;
constexpr UINT DT_RIGHT = 0x00000002;
constexpr UINT DT_VCENTER = 0x00000004;
constexpr UINT DT_BOTTOM = 0x00000008;
constexpr UINT DT_WORDBREAK = 0x00000010;
constexpr UINT DT_SINGLELINE = 0x00000020;
constexpr UINT DT_EXPANDTABS = 0x00000040;
constexpr UINT DT_TABSTOP = 0x00000080;
constexpr UINT DT_NOCLIP = 0x00000100;
constexpr UINT DT_EXTERNALLEADING = 0x00000200;
constexpr UINT DT_CALCRECT = 0x00000400;
constexpr UINT DT_NOPREFIX = 0x00000800;

// Font weights, character sets, pitch and family.
constexpr LONG FW_DONTCARE = 0;
constexpr LONG FW_THIN = 100;
constexpr LONG FW_LIGHT = 300;
constexpr LONG FW_NORMAL = 400;
constexpr LONG FW_MEDIUM = 500;
constexpr LONG FW_SEMIBOLD = 600;
constexpr LONG FW_BOLD = 700;
constexpr LONG FW_HEAVY = 900;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE GB2312_CHARSET = 134;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_DONTCARE = 0x00;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;

// Device capabilities (GetDeviceCaps).
constexpr int HORZRES = 8;
constexpr int VERTRES = 10;
constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;

// The records keep the platform's layout, byte for byte.
static_assert(sizeof(RECT) == 16 && sizeof(POINT) == 8 && sizeof(SIZE) == 8);
static_assert(sizeof(LOGFONTA) == 60 && offsetof(LOGFONTA, lfFaceName) == 28);

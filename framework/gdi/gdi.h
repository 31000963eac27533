// SPDX-License-Identifier: Apache-2.0
// The drawing API by handle: device contexts over surfaces, pens, brushes and
// fonts, and the calls that draw. The framework's classes (CDC, CPen, CBrush,
// CFont) wrap these.
#pragma once

#include "framework/gdi/gdi_types.h"

class CSurface;

// A pen's description, as GetObjectA copies it.
struct LOGPEN {
  UINT lopnStyle;      // the style it was made with
  POINT lopnWidth;     // the width in x; y is 0
  COLORREF lopnColor;  // the colour
};

// A brush's description, as GetObjectA copies it.
struct LOGBRUSH {
  UINT lbStyle;  // BS_SOLID or BS_NULL
  COLORREF lbColor;   // the colour
  UINT_PTR lbHatch;   // always 0: no hatched brushes
};

constexpr UINT BS_SOLID = 0;  // a brush that fills
constexpr UINT BS_NULL = 1;   // a brush that fills nothing

// A device context that draws on pSurface, with the stock black pen, white
// brush and system font selected, opaque background, black text, origin 0, 0.
// The surface must outlive the device context. Null for a null surface.
AFX_API_EXPORT HDC CreateSurfaceDC(CSurface* pSurface);
// Deletes a device context made by CreateSurfaceDC; FALSE for a handle that
// is not a live device context.
AFX_API_EXPORT BOOL DeleteDC(HDC hdc);
// The surface a device context draws on; null for a handle that is not live.
AFX_API_EXPORT CSurface* GetSurface(HDC hdc);

// A pen of the style (PS_NULL draws nothing, any other style solid), width
// in pixels and colour. Every Create call returns a new object the caller
// deletes with DeleteObject.
AFX_API_EXPORT HPEN CreatePen(int nStyle, int nWidth, COLORREF cr);
// A brush that fills with the colour.
AFX_API_EXPORT HBRUSH CreateSolidBrush(COLORREF cr);
// A font made from the logical font (realised when first used); null for a
// null pointer.
AFX_API_EXPORT HFONT CreateFontIndirectA(const LOGFONTA* plf);
// CreateFontIndirectA.
inline HFONT CreateFontIndirect(const LOGFONT* plf) { return CreateFontIndirectA(plf); }
// A stock pen, brush or font (WHITE_BRUSH .. DEFAULT_GUI_FONT), shared and
// never deleted; null for another index.
AFX_API_EXPORT HGDIOBJ GetStockObject(int nIndex);
// Deletes a pen, brush or font. FALSE for stock objects and handles that are
// not live. An object still selected into a device context stays usable there
// and is freed when it is deselected.
AFX_API_EXPORT BOOL DeleteObject(HGDIOBJ hObject);
// OBJ_PEN, OBJ_BRUSH, OBJ_FONT or OBJ_DC; 0 for a handle that is not live.
AFX_API_EXPORT DWORD GetObjectType(HGDIOBJ hObject);
// Copies the object's LOGPEN, LOGBRUSH or LOGFONTA; returns the bytes copied (0 on failure).
AFX_API_EXPORT int GetObjectA(HGDIOBJ hObject, int cbBuffer, LPVOID pv);
// Selects a pen, brush or font, returning the one it replaces (null on failure).
AFX_API_EXPORT HGDIOBJ SelectObject(HDC hdc, HGDIOBJ hObject);
// The selected pen, brush or font (nType OBJ_PEN, OBJ_BRUSH, OBJ_FONT);
// null for another type or a handle that is not live.
AFX_API_EXPORT HGDIOBJ GetCurrentObject(HDC hdc, UINT nType);

// Sets the background mode (TRANSPARENT or OPAQUE, which fills behind
// text); returns the previous one, 0 for another mode or a bad handle.
AFX_API_EXPORT int SetBkMode(HDC hdc, int nMode);
// The background mode; 0 for a bad handle.
AFX_API_EXPORT int GetBkMode(HDC hdc);
// Sets the background colour; returns the previous one, CLR_INVALID for a bad handle.
AFX_API_EXPORT COLORREF SetBkColor(HDC hdc, COLORREF cr);
// The background colour; CLR_INVALID for a bad handle.
AFX_API_EXPORT COLORREF GetBkColor(HDC hdc);
// Sets the text colour; returns the previous one, CLR_INVALID for a bad handle.
AFX_API_EXPORT COLORREF SetTextColor(HDC hdc, COLORREF cr);
// The text colour; CLR_INVALID for a bad handle.
AFX_API_EXPORT COLORREF GetTextColor(HDC hdc);
// Sets the device point that logical 0, 0 maps to, reporting the previous
// one when pPrevious is given; FALSE for a bad handle.
AFX_API_EXPORT BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT pPrevious);
// Copies the viewport origin; FALSE for a bad handle or a null pointer.
AFX_API_EXPORT BOOL GetViewportOrgEx(HDC hdc, LPPOINT pOrigin);
// Narrows the clipping rectangle (logical coordinates); returns 1 when the result is empty, 2 otherwise, 0 on error.
AFX_API_EXPORT int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);
// Saves the whole state (objects, colours, modes, position, origin, clip); returns its level (0 on error).
AFX_API_EXPORT int SaveDC(HDC hdc);
// Restores a saved level, or the last one for a negative nSavedDC, dropping those above it.
AFX_API_EXPORT BOOL RestoreDC(HDC hdc, int nSavedDC);
// HORZRES, VERTRES (the surface's size in pixels) or LOGPIXELSX/Y (its
// resolution); 0 for another index or a bad handle.
AFX_API_EXPORT int GetDeviceCaps(HDC hdc, int nIndex);

// Sets the current position, reporting the previous one when pPrevious is
// given; FALSE for a bad handle.
AFX_API_EXPORT BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT pPrevious);
// Copies the current position; FALSE for a bad handle or a null pointer.
AFX_API_EXPORT BOOL GetCurrentPositionEx(HDC hdc, LPPOINT pPoint);
// Draws from the current position to x, y with the selected pen, the end point excluded; x, y becomes the current position.
AFX_API_EXPORT BOOL LineTo(HDC hdc, int x, int y);
// Fills the rectangle without its right column and bottom row.
AFX_API_EXPORT int FillRect(HDC hdc, const RECT* prc, HBRUSH hbr);
// Outlines with the pen and fills the inside with the brush; right and bottom excluded.
AFX_API_EXPORT BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
// Sets one pixel; returns the colour set, CLR_INVALID outside the clip
// rectangle or for a bad handle.
AFX_API_EXPORT COLORREF SetPixel(HDC hdc, int x, int y, COLORREF cr);
// The colour of one pixel; CLR_INVALID outside the clip rectangle or for a bad handle.
AFX_API_EXPORT COLORREF GetPixel(HDC hdc, int x, int y);

// Formats text in a rectangle (see the DT_ flags); returns the text's height, 0 on error.
AFX_API_EXPORT int DrawTextA(HDC hdc, LPCSTR pszText, int nCount, LPRECT prc, UINT nFormat);
// Draws one line with its top-left corner at x, y.
AFX_API_EXPORT BOOL TextOutA(HDC hdc, int x, int y, LPCSTR pszText, int nCount);
// Width and height of nCount bytes of text as one line in the selected font.
AFX_API_EXPORT BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR pszText, int nCount, LPSIZE pSize);
// The selected font's metrics; FALSE for a bad handle or a null pointer.
AFX_API_EXPORT BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* ptm);

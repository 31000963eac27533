// SPDX-License-Identifier: Apache-2.0
// CDC, the framework's device context: the drawing state (pen, brush, font,
// colours, background mode, current position) over a surface. m_hDC is where
// output goes and m_hAttribDC what attribute queries read; for the device
// contexts made here both are the same handle.
//
//   CRasterSurface surface(320, 200);
//   CDC dc(&surface);                 // draws on surface; deleted with dc
//   CPen pen(PS_SOLID, 1, RGB(255, 0, 0));
//   CPen* pOldPen = dc.SelectObject(&pen);
//   dc.MoveTo(0, 0);
//   dc.LineTo(100, 50);
//   dc.SelectObject(pOldPen);
//
// A window's paint code can also Attach an HDC from CreateSurfaceDC and Detach
// it when done, if the window keeps the handle.
#pragma once

#include "framework/core/string.h"
#include "framework/gdi/gdi_object.h"
#include "framework/gdi/surface.h"

class AFX_EXT_CLASS CDC : public CObject {
public:
  CDC() = default;
  // A device context over pSurface (see CreateFromSurface).
  explicit CDC(CSurface* pSurface);
  // Deletes the device context it holds.
  ~CDC() override;

  HDC m_hDC = nullptr;        // where output goes; null when empty
  HDC m_hAttribDC = nullptr;  // what attribute queries read
  BOOL m_bPrinting = FALSE;   // the surface is a printer

  // Creates a device context over pSurface, which must outlive it; printing
  // when the surface is a printer.
  // FALSE if the object holds a context already or none can be made.
  BOOL CreateFromSurface(CSurface* pSurface);
  // Takes hDC as both contexts; FALSE for null or if one is held already.
  BOOL Attach(HDC hDC);
  // Lets go of the context without deleting it and returns it.
  HDC Detach();
  // Deletes the context(s) held; FALSE if there is none.
  BOOL DeleteDC();
  // The output context (may be null).
  HDC GetSafeHdc() const { return m_hDC; }
  // The output context (may be null).
  operator HDC() const { return m_hDC; }
  // The surface drawn on; null when empty.
  CSurface* GetSurface() const { return ::GetSurface(m_hDC); }

  // TRUE when drawing on a printer surface.
  BOOL IsPrinting() const { return m_bPrinting; }
  // See ::GetDeviceCaps.
  int GetDeviceCaps(int nIndex) const { return ::GetDeviceCaps(m_hAttribDC, nIndex); }

  // Each selects the object and returns the previous one of its kind (null
  // on failure, or when the previous object has been deleted meanwhile).
  CPen* SelectObject(CPen* pPen);
  CBrush* SelectObject(CBrush* pBrush);
  CFont* SelectObject(CFont* pFont);
  CGdiObject* SelectObject(CGdiObject* pObject);
  // Selects stock object nIndex; the previous object of its kind, or null.
  CGdiObject* SelectStockObject(int nIndex);
  // The selected pen's wrapper (a temporary one if none is attached); null when empty.
  CPen* GetCurrentPen() const;
  // The selected brush's wrapper, as GetCurrentPen.
  CBrush* GetCurrentBrush() const;
  // The selected font's wrapper, as GetCurrentPen.
  CFont* GetCurrentFont() const;

  // Sets the current position; returns the previous one (0, 0 when empty).
  CPoint MoveTo(int x, int y);
  CPoint MoveTo(POINT point) { return MoveTo(point.x, point.y); }
  // Draws a line to the point (see ::LineTo); FALSE when empty.
  BOOL LineTo(int x, int y);
  BOOL LineTo(POINT point) { return LineTo(point.x, point.y); }
  // The current position; 0, 0 when empty.
  CPoint GetCurrentPosition() const;

  // See ::SetBkMode: the previous mode, 0 on failure.
  int SetBkMode(int nBkMode);
  // See ::GetBkMode.
  int GetBkMode() const { return ::GetBkMode(m_hAttribDC); }
  // See ::SetBkColor: the previous colour, CLR_INVALID on failure.
  COLORREF SetBkColor(COLORREF crColor);
  // See ::GetBkColor.
  COLORREF GetBkColor() const { return ::GetBkColor(m_hAttribDC); }
  // See ::SetTextColor: the previous colour, CLR_INVALID on failure.
  COLORREF SetTextColor(COLORREF crColor);
  // See ::GetTextColor.
  COLORREF GetTextColor() const { return ::GetTextColor(m_hAttribDC); }
  // Sets the viewport origin; returns the previous one (0, 0 when empty).
  CPoint SetViewportOrg(int x, int y);
  // The viewport origin; 0, 0 when empty.
  CPoint GetViewportOrg() const;
  // See ::IntersectClipRect.
  int IntersectClipRect(int x1, int y1, int x2, int y2);
  int IntersectClipRect(LPCRECT lpRect) { return IntersectClipRect(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom); }
  // See ::SaveDC: the saved level, 0 on failure.
  int SaveDC();
  // See ::RestoreDC; FALSE on failure.
  BOOL RestoreDC(int nSavedDC);

  // Fills with the brush (see ::FillRect); a null brush draws nothing.
  void FillRect(LPCRECT lpRect, CBrush* pBrush);
  // Fills with a solid colour, right column and bottom row excluded; the
  // second form takes a corner and a size.
  void FillSolidRect(LPCRECT lpRect, COLORREF crColor);
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF crColor);
  // See ::Rectangle; FALSE when empty.
  BOOL Rectangle(int x1, int y1, int x2, int y2);
  BOOL Rectangle(LPCRECT lpRect) { return Rectangle(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom); }
  // See ::SetPixel: the colour set, CLR_INVALID when clipped or empty.
  COLORREF SetPixel(int x, int y, COLORREF crColor);
  // See ::GetPixel: CLR_INVALID when clipped or empty.
  COLORREF GetPixel(int x, int y) const;

  // See ::DrawTextA: the text's height, 0 on error.
  int DrawText(LPCTSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat);
  int DrawText(const CString& str, LPRECT lpRect, UINT nFormat);
  // See ::TextOutA; FALSE on error.
  BOOL TextOut(int x, int y, LPCTSTR lpszString, int nCount);
  BOOL TextOut(int x, int y, const CString& str);
  // The text's width and height as one line in the selected font; 0, 0 on error.
  CSize GetTextExtent(LPCTSTR lpszString, int nCount) const;
  CSize GetTextExtent(const CString& str) const;
  // See ::GetTextMetricsA.
  BOOL GetTextMetrics(TEXTMETRIC* lpMetrics) const { return ::GetTextMetricsA(m_hAttribDC, lpMetrics); }

private:
  HGDIOBJ select_handle(HGDIOBJ hObject);
};

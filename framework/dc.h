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

#include "framework/gdi_object.h"
#include "framework/string.h"
#include "framework/surface.h"

class AFX_EXT_CLASS CDC : public CObject {
public:
  CDC() = default;
  // A device context over pSurface (see CreateFromSurface).
  explicit CDC(CSurface* pSurface);
  // Deletes the device context it holds.
  ~CDC() override;

  HDC m_hDC = nullptr;
  HDC m_hAttribDC = nullptr;
  BOOL m_bPrinting = FALSE;

  // Creates a device context over pSurface, which must outlive it; printing
  // when the surface is a printer.
  BOOL CreateFromSurface(CSurface* pSurface);
  BOOL Attach(HDC hDC);
  HDC Detach();
  BOOL DeleteDC();
  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }
  CSurface* GetSurface() const { return ::GetSurface(m_hDC); }

  BOOL IsPrinting() const { return m_bPrinting; }
  int GetDeviceCaps(int nIndex) const { return ::GetDeviceCaps(m_hAttribDC, nIndex); }

  // Each selects the object and returns the previous one of its kind (null on failure).
  CPen* SelectObject(CPen* pPen);
  CBrush* SelectObject(CBrush* pBrush);
  CFont* SelectObject(CFont* pFont);
  CGdiObject* SelectObject(CGdiObject* pObject);
  CGdiObject* SelectStockObject(int nIndex);
  CPen* GetCurrentPen() const;
  CBrush* GetCurrentBrush() const;
  CFont* GetCurrentFont() const;

  CPoint MoveTo(int x, int y);
  CPoint MoveTo(POINT point) { return MoveTo(point.x, point.y); }
  BOOL LineTo(int x, int y);
  BOOL LineTo(POINT point) { return LineTo(point.x, point.y); }
  CPoint GetCurrentPosition() const;

  int SetBkMode(int nBkMode);
  int GetBkMode() const { return ::GetBkMode(m_hAttribDC); }
  COLORREF SetBkColor(COLORREF crColor);
  COLORREF GetBkColor() const { return ::GetBkColor(m_hAttribDC); }
  COLORREF SetTextColor(COLORREF crColor);
  COLORREF GetTextColor() const { return ::GetTextColor(m_hAttribDC); }
  CPoint SetViewportOrg(int x, int y);
  CPoint GetViewportOrg() const;
  int IntersectClipRect(int x1, int y1, int x2, int y2);
  int IntersectClipRect(LPCRECT lpRect) { return IntersectClipRect(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom); }
  int SaveDC();
  BOOL RestoreDC(int nSavedDC);

  void FillRect(LPCRECT lpRect, CBrush* pBrush);
  void FillSolidRect(LPCRECT lpRect, COLORREF crColor);
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF crColor);
  BOOL Rectangle(int x1, int y1, int x2, int y2);
  BOOL Rectangle(LPCRECT lpRect) { return Rectangle(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom); }
  COLORREF SetPixel(int x, int y, COLORREF crColor);
  COLORREF GetPixel(int x, int y) const;

  int DrawText(LPCTSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat);
  int DrawText(const CString& str, LPRECT lpRect, UINT nFormat);
  BOOL TextOut(int x, int y, LPCTSTR lpszString, int nCount);
  BOOL TextOut(int x, int y, const CString& str);
  CSize GetTextExtent(LPCTSTR lpszString, int nCount) const;
  CSize GetTextExtent(const CString& str) const;
  BOOL GetTextMetrics(TEXTMETRIC* lpMetrics) const { return ::GetTextMetricsA(m_hAttribDC, lpMetrics); }

private:
  HGDIOBJ select_handle(HGDIOBJ hObject);
};

// SPDX-License-Identifier: Apache-2.0
#include "framework/gdi/dc.h"

CDC::CDC(CSurface* pSurface) {
  CreateFromSurface(pSurface);
}

CDC::~CDC() {
  DeleteDC();
}

BOOL CDC::CreateFromSurface(CSurface* pSurface) {
  if (m_hDC != nullptr) return FALSE;
  HDC hdc = ::CreateSurfaceDC(pSurface);
  if (hdc == nullptr) return FALSE;
  Attach(hdc);
  return TRUE;
}

BOOL CDC::Attach(HDC hDC) {
  if (hDC == nullptr || m_hDC != nullptr) return FALSE;
  m_hDC = hDC;
  m_hAttribDC = hDC;
  CSurface* pSurface = ::GetSurface(hDC);
  m_bPrinting = pSurface != nullptr && pSurface->IsPrinting();
  return TRUE;
}

HDC CDC::Detach() {
  HDC hdc = m_hDC;
  m_hDC = nullptr;
  m_hAttribDC = nullptr;
  m_bPrinting = FALSE;
  return hdc;
}

BOOL CDC::DeleteDC() {
  if (m_hDC == nullptr) return FALSE;
  HDC hAttrib = m_hAttribDC;
  HDC hdc = Detach();
  if (hAttrib != nullptr && hAttrib != hdc) ::DeleteDC(hAttrib);
  return ::DeleteDC(hdc);
}

// Selects into the output context and, when it differs, the attribute context;
// the previous object is the attribute context's.
HGDIOBJ CDC::select_handle(HGDIOBJ hObject) {
  HGDIOBJ hOld = nullptr;
  if (m_hDC != m_hAttribDC) hOld = ::SelectObject(m_hDC, hObject);
  if (m_hAttribDC != nullptr) hOld = ::SelectObject(m_hAttribDC, hObject);
  return hOld;
}

namespace {

// The wrapper of a previously selected object, or null when that object is
// gone (it was deleted while selected and freed when it was replaced).
template <typename T>
T* previous_object(HGDIOBJ hOld, DWORD nType) {
  if (hOld == nullptr || ::GetObjectType(hOld) != nType) return nullptr;
  return static_cast<T*>(CGdiObject::FromHandle(hOld));
}

}  // namespace

CPen* CDC::SelectObject(CPen* pPen) {
  if (pPen == nullptr) return nullptr;
  return previous_object<CPen>(select_handle(pPen->m_hObject), OBJ_PEN);
}

CBrush* CDC::SelectObject(CBrush* pBrush) {
  if (pBrush == nullptr) return nullptr;
  return previous_object<CBrush>(select_handle(pBrush->m_hObject), OBJ_BRUSH);
}

CFont* CDC::SelectObject(CFont* pFont) {
  if (pFont == nullptr) return nullptr;
  return previous_object<CFont>(select_handle(pFont->m_hObject), OBJ_FONT);
}

CGdiObject* CDC::SelectObject(CGdiObject* pObject) {
  if (pObject == nullptr) return nullptr;
  HGDIOBJ hOld = select_handle(pObject->m_hObject);
  return ::GetObjectType(hOld) != 0 ? CGdiObject::FromHandle(hOld) : nullptr;
}

CGdiObject* CDC::SelectStockObject(int nIndex) {
  HGDIOBJ hOld = select_handle(::GetStockObject(nIndex));
  return ::GetObjectType(hOld) != 0 ? CGdiObject::FromHandle(hOld) : nullptr;
}

CPen* CDC::GetCurrentPen() const {
  return static_cast<CPen*>(CGdiObject::FromHandle(::GetCurrentObject(m_hAttribDC, OBJ_PEN)));
}

CBrush* CDC::GetCurrentBrush() const {
  return static_cast<CBrush*>(CGdiObject::FromHandle(::GetCurrentObject(m_hAttribDC, OBJ_BRUSH)));
}

CFont* CDC::GetCurrentFont() const {
  return static_cast<CFont*>(CGdiObject::FromHandle(::GetCurrentObject(m_hAttribDC, OBJ_FONT)));
}

CPoint CDC::MoveTo(int x, int y) {
  POINT previous{0, 0};
  if (m_hDC != m_hAttribDC) ::MoveToEx(m_hDC, x, y, &previous);
  if (m_hAttribDC != nullptr) ::MoveToEx(m_hAttribDC, x, y, &previous);
  return CPoint(previous);
}

BOOL CDC::LineTo(int x, int y) {
  if (m_hAttribDC != nullptr && m_hAttribDC != m_hDC) ::MoveToEx(m_hAttribDC, x, y, nullptr);
  return ::LineTo(m_hDC, x, y);
}

CPoint CDC::GetCurrentPosition() const {
  POINT pt{0, 0};
  ::GetCurrentPositionEx(m_hAttribDC, &pt);
  return CPoint(pt);
}

int CDC::SetBkMode(int nBkMode) {
  int nOld = 0;
  if (m_hDC != m_hAttribDC) nOld = ::SetBkMode(m_hDC, nBkMode);
  if (m_hAttribDC != nullptr) nOld = ::SetBkMode(m_hAttribDC, nBkMode);
  return nOld;
}

COLORREF CDC::SetBkColor(COLORREF crColor) {
  COLORREF crOld = CLR_INVALID;
  if (m_hDC != m_hAttribDC) crOld = ::SetBkColor(m_hDC, crColor);
  if (m_hAttribDC != nullptr) crOld = ::SetBkColor(m_hAttribDC, crColor);
  return crOld;
}

COLORREF CDC::SetTextColor(COLORREF crColor) {
  COLORREF crOld = CLR_INVALID;
  if (m_hDC != m_hAttribDC) crOld = ::SetTextColor(m_hDC, crColor);
  if (m_hAttribDC != nullptr) crOld = ::SetTextColor(m_hAttribDC, crColor);
  return crOld;
}

CPoint CDC::SetViewportOrg(int x, int y) {
  POINT previous{0, 0};
  if (m_hDC != m_hAttribDC) ::SetViewportOrgEx(m_hDC, x, y, &previous);
  if (m_hAttribDC != nullptr) ::SetViewportOrgEx(m_hAttribDC, x, y, &previous);
  return CPoint(previous);
}

CPoint CDC::GetViewportOrg() const {
  POINT pt{0, 0};
  ::GetViewportOrgEx(m_hAttribDC, &pt);
  return CPoint(pt);
}

int CDC::IntersectClipRect(int x1, int y1, int x2, int y2) {
  return ::IntersectClipRect(m_hDC, x1, y1, x2, y2);
}

int CDC::SaveDC() {
  int n = 0;
  if (m_hDC != m_hAttribDC) n = ::SaveDC(m_hDC);
  if (m_hAttribDC != nullptr) n = ::SaveDC(m_hAttribDC);
  return n;
}

BOOL CDC::RestoreDC(int nSavedDC) {
  BOOL ok = TRUE;
  if (m_hDC != m_hAttribDC) ok = ::RestoreDC(m_hDC, nSavedDC);
  if (m_hAttribDC != nullptr) ok = ::RestoreDC(m_hAttribDC, nSavedDC) && ok;
  return ok;
}

void CDC::FillRect(LPCRECT lpRect, CBrush* pBrush) {
  if (pBrush != nullptr) ::FillRect(m_hDC, lpRect, static_cast<HBRUSH>(pBrush->m_hObject));
}

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF crColor) {
  HBRUSH hbr = ::CreateSolidBrush(crColor);
  ::FillRect(m_hDC, lpRect, hbr);
  ::DeleteObject(hbr);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF crColor) {
  CRect rc(x, y, x + cx, y + cy);
  FillSolidRect(&rc, crColor);
}

BOOL CDC::Rectangle(int x1, int y1, int x2, int y2) {
  return ::Rectangle(m_hDC, x1, y1, x2, y2);
}

COLORREF CDC::SetPixel(int x, int y, COLORREF crColor) {
  return ::SetPixel(m_hDC, x, y, crColor);
}

COLORREF CDC::GetPixel(int x, int y) const {
  return ::GetPixel(m_hDC, x, y);
}

int CDC::DrawText(LPCTSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat) {
  return ::DrawTextA(m_hDC, lpszString, nCount, lpRect, nFormat);
}

int CDC::DrawText(const CString& str, LPRECT lpRect, UINT nFormat) {
  return ::DrawTextA(m_hDC, str.GetString(), str.GetLength(), lpRect, nFormat);
}

BOOL CDC::TextOut(int x, int y, LPCTSTR lpszString, int nCount) {
  return ::TextOutA(m_hDC, x, y, lpszString, nCount);
}

BOOL CDC::TextOut(int x, int y, const CString& str) {
  return ::TextOutA(m_hDC, x, y, str.GetString(), str.GetLength());
}

CSize CDC::GetTextExtent(LPCTSTR lpszString, int nCount) const {
  SIZE size{0, 0};
  ::GetTextExtentPoint32A(m_hAttribDC, lpszString, nCount, &size);
  return CSize(size);
}

CSize CDC::GetTextExtent(const CString& str) const {
  return GetTextExtent(str.GetString(), str.GetLength());
}

// The framework's wrappers of drawing objects: CGdiObject and its pens,
// brushes and fonts. A wrapper owns the handle it holds (DeleteObject, or its
// destructor, deletes it) unless Detach hands it back.
#pragma once

#include "framework/gdi.h"
#include "framework/object.h"

class AFX_EXT_CLASS CGdiObject : public CObject {
public:
  CGdiObject() = default;
  ~CGdiObject() override;

  HGDIOBJ m_hObject = nullptr;

  operator HGDIOBJ() const { return m_hObject; }
  HGDIOBJ GetSafeHandle() const { return m_hObject; }

  // The wrapper of a handle: the object attached to it, or else a temporary
  // wrapper of the right class that lives on this thread until the next
  // AfxDeleteTempGdiObjects (or thread exit). Null for a null handle.
  static CGdiObject* FromHandle(HGDIOBJ hObject);

  // Wraps a handle; FALSE if this object already holds one or h is null.
  BOOL Attach(HGDIOBJ hObject);
  // Gives up the handle without deleting it.
  HGDIOBJ Detach();
  // Deletes the handle; FALSE if there is none.
  BOOL DeleteObject();
  int GetObject(int nCount, LPVOID pObject) const { return ::GetObjectA(m_hObject, nCount, pObject); }
  BOOL CreateStockObject(int nIndex);
};

class AFX_EXT_CLASS CPen : public CGdiObject {
public:
  CPen() = default;
  // Throws CMemoryException if the pen cannot be made.
  CPen(int nPenStyle, int nWidth, COLORREF crColor);
  BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
  operator HPEN() const { return static_cast<HPEN>(m_hObject); }
  static CPen* FromHandle(HPEN hPen) { return static_cast<CPen*>(CGdiObject::FromHandle(hPen)); }
};

class AFX_EXT_CLASS CBrush : public CGdiObject {
public:
  CBrush() = default;
  explicit CBrush(COLORREF crColor);
  BOOL CreateSolidBrush(COLORREF crColor);
  operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
  static CBrush* FromHandle(HBRUSH hBrush) { return static_cast<CBrush*>(CGdiObject::FromHandle(hBrush)); }
};

class AFX_EXT_CLASS CFont : public CGdiObject {
public:
  CFont() = default;
  BOOL CreateFontIndirect(const LOGFONT* lpLogFont);
  // A font of nPointSize tenths of a point at 96 dots per inch, like the framework's helper.
  BOOL CreatePointFont(int nPointSize, LPCSTR lpszFaceName);
  int GetLogFont(LOGFONT* pLogFont) const { return GetObject(sizeof(LOGFONT), pLogFont); }
  operator HFONT() const { return static_cast<HFONT>(m_hObject); }
  static CFont* FromHandle(HFONT hFont) { return static_cast<CFont*>(CGdiObject::FromHandle(hFont)); }
};

// Frees this thread's temporary wrappers made by FromHandle.
AFX_API_EXPORT void AfxDeleteTempGdiObjects();

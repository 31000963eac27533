// SPDX-License-Identifier: Apache-2.0
// The framework's wrappers of drawing objects: CGdiObject and its pens,
// brushes and fonts. A wrapper owns the handle it holds (DeleteObject, or its
// destructor, deletes it) unless Detach hands it back.
#pragma once

#include "framework/core/object.h"
#include "framework/gdi/gdi.h"

// The base wrapper: holds one pen, brush or font handle.
class AFX_EXT_CLASS CGdiObject : public CObject {
public:
  CGdiObject() = default;
  // Deletes the handle it owns.
  ~CGdiObject() override;

  HGDIOBJ m_hObject = nullptr;  // the handle; null when empty

  // The handle (may be null).
  operator HGDIOBJ() const { return m_hObject; }
  // The handle (may be null).
  HGDIOBJ GetSafeHandle() const { return m_hObject; }

  // The wrapper of a handle: the object attached to it, or else a temporary
  // wrapper of the right class that lives on this thread until the next
  // AfxDeleteTempGdiObjects (or thread exit). Null for a null handle.
  static CGdiObject* FromHandle(HGDIOBJ hObject);

  // Wraps a handle; FALSE if this object already holds one or h is null.
  BOOL Attach(HGDIOBJ hObject);
  // Gives up the handle without deleting it.
  HGDIOBJ Detach();
  // Deletes the handle; FALSE if there is none. A temporary wrapper only
  // lets go of its handle (and returns FALSE).
  BOOL DeleteObject();
  // Copies the object's description (see GetObjectA); the bytes copied, 0 on failure.
  int GetObject(int nCount, LPVOID pObject) const { return ::GetObjectA(m_hObject, nCount, pObject); }
  // Wraps stock object nIndex; FALSE for an unknown index or if a handle is held.
  BOOL CreateStockObject(int nIndex);
};

// A pen wrapper.
class AFX_EXT_CLASS CPen : public CGdiObject {
public:
  CPen() = default;
  // A pen as CreatePen makes it. Throws CMemoryException* if the handle
  // cannot be attached; the handle layer's own allocation failure arrives
  // as std::bad_alloc.
  CPen(int nPenStyle, int nWidth, COLORREF crColor);
  // Makes and wraps a pen (PS_NULL draws nothing, any other style draws
  // solid); FALSE if a handle is held already.
  BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
  // The pen handle (may be null).
  operator HPEN() const { return static_cast<HPEN>(m_hObject); }
  // The wrapper of a pen handle (see CGdiObject::FromHandle).
  static CPen* FromHandle(HPEN hPen) { return static_cast<CPen*>(CGdiObject::FromHandle(hPen)); }
};

// A brush wrapper.
class AFX_EXT_CLASS CBrush : public CGdiObject {
public:
  CBrush() = default;
  // A solid brush, failing like the CPen constructor.
  explicit CBrush(COLORREF crColor);
  // Makes and wraps a solid brush; FALSE if it cannot be made or a handle is
  // held already.
  BOOL CreateSolidBrush(COLORREF crColor);
  // The brush handle (may be null).
  operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
  // The wrapper of a brush handle (see CGdiObject::FromHandle).
  static CBrush* FromHandle(HBRUSH hBrush) { return static_cast<CBrush*>(CGdiObject::FromHandle(hBrush)); }
};

// A font wrapper.
class AFX_EXT_CLASS CFont : public CGdiObject {
public:
  CFont() = default;
  // Makes and wraps a font from the logical font; FALSE if it cannot be made
  // or a handle is held already.
  BOOL CreateFontIndirect(const LOGFONT* lpLogFont);
  // A font of nPointSize tenths of a point at 96 dots per inch, like the framework's helper.
  BOOL CreatePointFont(int nPointSize, LPCSTR lpszFaceName);
  // Copies the font's LOGFONT; the bytes copied, 0 on failure.
  int GetLogFont(LOGFONT* pLogFont) const { return GetObject(sizeof(LOGFONT), pLogFont); }
  // The font handle (may be null).
  operator HFONT() const { return static_cast<HFONT>(m_hObject); }
  // The wrapper of a font handle (see CGdiObject::FromHandle).
  static CFont* FromHandle(HFONT hFont) { return static_cast<CFont*>(CGdiObject::FromHandle(hFont)); }
};

// Frees this thread's temporary wrappers made by FromHandle.
AFX_API_EXPORT void AfxDeleteTempGdiObjects();

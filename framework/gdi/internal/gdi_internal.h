// SPDX-License-Identifier: Apache-2.0
// What the drawing handles point at. Shared by the files that implement the
// handle API; nothing outside the framework's drawing layer includes it.
#pragma once

#include "framework/gdi/font_engine.h"
#include "framework/gdi/gdi.h"
#include "framework/gdi/surface.h"

#include <memory>
#include <mutex>
#include <vector>

namespace tarvenkel::gdi {

struct CObjectData {
  explicit CObjectData(DWORD type) : nType(type) {}
  virtual ~CObjectData() = default;
  DWORD nType;
  bool bStock = false;
  int nSelected = 0;        // device contexts that have it selected
  bool bDeleted = false;    // deleted while selected: freed at the last deselection
};

struct CDcState {
  HPEN hPen = nullptr;
  HBRUSH hBrush = nullptr;
  HFONT hFont = nullptr;
  COLORREF crText = RGB(0, 0, 0);
  COLORREF crBk = RGB(255, 255, 255);
  int nBkMode = OPAQUE;
  POINT ptCurrent{0, 0};
  POINT ptOrigin{0, 0};
  RECT rcClip{0, 0, 0, 0};  // device coordinates, within the surface
};

// The pen, brush or font that hObject is, or null if it is not a live object of that type.
CObjectData* LookupObject(HGDIOBJ hObject);

}  // namespace tarvenkel::gdi

struct HPEN__ : tarvenkel::gdi::CObjectData {
  HPEN__() : CObjectData(OBJ_PEN) {}
  int nStyle = PS_SOLID;
  int nWidth = 1;
  COLORREF cr = 0;
};

struct HBRUSH__ : tarvenkel::gdi::CObjectData {
  HBRUSH__() : CObjectData(OBJ_BRUSH) {}
  bool bNull = false;
  COLORREF cr = 0;
};

struct HFONT__ : tarvenkel::gdi::CObjectData {
  HFONT__() : CObjectData(OBJ_FONT) {}
  LOGFONTA lf{};
  // Realised on first use: a device context's stock font costs nothing until text is drawn.
  tarvenkel::gdi::CFontInstance& Font() {
    std::call_once(once, [this] { font = tarvenkel::gdi::RealiseFont(lf); });
    return *font;
  }

private:
  std::once_flag once;
  std::shared_ptr<tarvenkel::gdi::CFontInstance> font;
};

struct HDC__ : tarvenkel::gdi::CObjectData {
  HDC__() : CObjectData(OBJ_DC) {}
  CSurface* pSurface = nullptr;
  tarvenkel::gdi::CDcState state;
  std::vector<tarvenkel::gdi::CDcState> saved;
};

namespace tarvenkel::gdi {

// The live device context behind hdc, or null.
HDC__* LookupDC(HDC hdc);

// Text drawing and measuring, implemented beside the layout code.
int DrawTextOn(HDC__* dc, const char* pszText, int nCount, RECT* prc, UINT nFormat);
void TextOutOn(HDC__* dc, int x, int y, const char* pszText, int nCount);
SIZE MeasureOn(HDC__* dc, const char* pszText, int nCount);
void MetricsOn(HDC__* dc, TEXTMETRICA* ptm);
// Fills a device rectangle, clipped to the device context's clip rectangle.
void FillDeviceRect(HDC__* dc, RECT rc, COLORREF cr);

}  // namespace tarvenkel::gdi

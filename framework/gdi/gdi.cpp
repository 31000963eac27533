// SPDX-License-Identifier: Apache-2.0
#include "framework/gdi/internal/gdi_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <utility>

namespace tarvenkel::gdi {

namespace {

std::mutex g_objectsMutex;
std::unordered_set<CObjectData*>& live_objects() {
  static auto* objects = new std::unordered_set<CObjectData*>;
  return *objects;
}

// Registers a new object as live and returns its handle.
template <typename T>
T* make_live(T* p) {
  std::lock_guard<std::mutex> lock(g_objectsMutex);
  live_objects().insert(p);
  return p;
}

// Counts one more selection of an object (into a DC's state or a saved state).
void retain(HGDIOBJ h) {
  if (h == nullptr) return;
  std::lock_guard<std::mutex> lock(g_objectsMutex);
  static_cast<CObjectData*>(h)->nSelected++;
}

// Counts one selection less, freeing an object that was deleted while selected.
void release(HGDIOBJ h) {
  if (h == nullptr) return;
  auto* p = static_cast<CObjectData*>(h);
  bool bFree = false;
  {
    std::lock_guard<std::mutex> lock(g_objectsMutex);
    bFree = --p->nSelected == 0 && p->bDeleted;
  }
  if (bFree) delete p;
}

void retain_state(const CDcState& s) {
  retain(s.hPen);
  retain(s.hBrush);
  retain(s.hFont);
}

void release_state(const CDcState& s) {
  release(s.hPen);
  release(s.hBrush);
  release(s.hFont);
}

HGDIOBJ make_stock(int nIndex) {
  switch (nIndex) {
    case WHITE_BRUSH: case LTGRAY_BRUSH: case GRAY_BRUSH: case DKGRAY_BRUSH: case BLACK_BRUSH: case NULL_BRUSH: {
      static const COLORREF colours[] = {RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                                         RGB(64, 64, 64), RGB(0, 0, 0), RGB(0, 0, 0)};
      auto* b = new HBRUSH__;
      b->cr = colours[nIndex];
      b->bNull = nIndex == NULL_BRUSH;
      return b;
    }
    case WHITE_PEN: case BLACK_PEN: case NULL_PEN: {
      auto* p = new HPEN__;
      p->cr = nIndex == WHITE_PEN ? RGB(255, 255, 255) : RGB(0, 0, 0);
      p->nStyle = nIndex == NULL_PEN ? PS_NULL : PS_SOLID;
      return p;
    }
    case SYSTEM_FONT: case DEFAULT_GUI_FONT: {
      auto* f = new HFONT__;
      f->lf.lfHeight = nIndex == SYSTEM_FONT ? 16 : -11;
      f->lf.lfWeight = FW_NORMAL;
      f->lf.lfCharSet = DEFAULT_CHARSET;
      f->lf.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
      std::strcpy(f->lf.lfFaceName, nIndex == SYSTEM_FONT ? "System" : "MS Shell Dlg");
      return f;
    }
    default: return nullptr;
  }
}

// Logical to device coordinates.
POINT to_device(const HDC__* dc, int x, int y) {
  return POINT{x + dc->state.ptOrigin.x, y + dc->state.ptOrigin.y};
}

void record(HDC__* dc, CDrawCall call) {
  dc->pSurface->OnCall(call);
}

CDrawCall make_call(CDrawCall::Kind kind) {
  CDrawCall call{};
  call.nKind = kind;
  return call;
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Plots one point of a line with the pen's width: a single pixel, or a disc
// of the pen's diameter centred on it. Clips to the device context.
void plot(HDC__* dc, std::int64_t x, std::int64_t y, int nWidth, COLORREF cr) {
  const RECT& clip = dc->state.rcClip;
  int lo = -(nWidth / 2);
  int hi = (nWidth - 1) / 2;
  for (int e = lo; e <= hi; ++e) {
    std::int64_t py = y + e;
    if (py < clip.top || py >= clip.bottom) continue;
    // Widest run of the disc's row e: pixels whose centres lie within the pen's radius.
    int twoE = 2 * e - (lo + hi);
    int d0 = hi + 1;
    for (int d = lo; d <= hi; ++d) {
      int twoD = 2 * d - (lo + hi);
      if (twoD * twoD + twoE * twoE <= nWidth * nWidth) { d0 = d; break; }
    }
    if (d0 > hi) continue;
    int d1 = (lo + hi) - d0;  // symmetric about the centre
    std::int64_t x0 = std::max<std::int64_t>(x + d0, clip.left);
    std::int64_t x1 = std::min<std::int64_t>(x + d1 + 1, clip.right);
    if (x0 < x1) dc->pSurface->FillSpan(static_cast<int>(x0), static_cast<int>(x1), static_cast<int>(py), cr);
  }
}

// Draws the pixels of a line from (x0, y0) towards (x1, y1), the end point
// excluded, in device coordinates. Each pixel is the one nearest the ideal
// line on the minor axis (halves round towards +infinity), so a line is the
// same set of pixels however long the stretch of it that lies on the surface.
void draw_line(HDC__* dc, std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, const HPEN__* pen) {
  if (pen == nullptr || pen->nStyle == PS_NULL) return;
  std::int64_t dx = x1 - x0;
  std::int64_t dy = y1 - y0;
  if (dx == 0 && dy == 0) return;
  int nWidth = std::max(1, pen->nWidth);
  int r = nWidth / 2 + 1;
  const RECT& clip = dc->state.rcClip;
  bool xMajor = (dx < 0 ? -dx : dx) >= (dy < 0 ? -dy : dy);
  std::int64_t n = xMajor ? (dx < 0 ? -dx : dx) : (dy < 0 ? -dy : dy);
  std::int64_t major0 = xMajor ? x0 : y0;
  std::int64_t step = (xMajor ? dx : dy) < 0 ? -1 : 1;
  std::int64_t lowBound = (xMajor ? clip.left : clip.top) - r;
  std::int64_t highBound = (xMajor ? clip.right : clip.bottom) + r;
  // Steps i whose major coordinate major0 + step * i lies within [lowBound, highBound).
  std::int64_t iFirst = 0, iLast = n - 1;
  if (step > 0) {
    iFirst = std::max(iFirst, lowBound - major0);
    iLast = std::min(iLast, highBound - 1 - major0);
  } else {
    iFirst = std::max(iFirst, major0 - (highBound - 1));
    iLast = std::min(iLast, major0 - lowBound);
  }
  std::int64_t minorDelta = xMajor ? dy : dx;
  std::int64_t minor0 = xMajor ? y0 : x0;
  for (std::int64_t i = iFirst; i <= iLast; ++i) {
    std::int64_t major = major0 + step * i;
    std::int64_t minor = minor0 + floor_div(2 * i * minorDelta + n, 2 * n);
    if (xMajor) {
      plot(dc, major, minor, nWidth, pen->cr);
    } else {
      plot(dc, minor, major, nWidth, pen->cr);
    }
  }
}

}  // namespace

CObjectData* LookupObject(HGDIOBJ hObject) {
  if (hObject == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_objectsMutex);
  auto* p = static_cast<CObjectData*>(hObject);
  return live_objects().count(p) ? p : nullptr;
}

HDC__* LookupDC(HDC hdc) {
  CObjectData* p = LookupObject(hdc);
  return p != nullptr && p->nType == OBJ_DC ? static_cast<HDC__*>(p) : nullptr;
}

void FillDeviceRect(HDC__* dc, RECT rc, COLORREF cr) {
  RECT r;
  if (!IntersectRect(&r, &rc, &dc->state.rcClip)) return;
  for (LONG y = r.top; y < r.bottom; ++y) dc->pSurface->FillSpan(r.left, r.right, y, cr);
}

}  // namespace tarvenkel::gdi

using namespace tarvenkel::gdi;

BOOL SetRect(RECT* prc, int left, int top, int right, int bottom) {
  if (prc == nullptr) return FALSE;
  *prc = RECT{left, top, right, bottom};
  return TRUE;
}

BOOL SetRectEmpty(RECT* prc) {
  return SetRect(prc, 0, 0, 0, 0);
}

BOOL InflateRect(RECT* prc, int dx, int dy) {
  if (prc == nullptr) return FALSE;
  prc->left -= dx;
  prc->top -= dy;
  prc->right += dx;
  prc->bottom += dy;
  return TRUE;
}

BOOL OffsetRect(RECT* prc, int dx, int dy) {
  if (prc == nullptr) return FALSE;
  prc->left += dx;
  prc->right += dx;
  prc->top += dy;
  prc->bottom += dy;
  return TRUE;
}

BOOL IsRectEmpty(const RECT* prc) {
  return prc == nullptr || prc->left >= prc->right || prc->top >= prc->bottom;
}

BOOL PtInRect(const RECT* prc, POINT pt) {
  return prc != nullptr && pt.x >= prc->left && pt.x < prc->right && pt.y >= prc->top && pt.y < prc->bottom;
}

BOOL IntersectRect(RECT* prcDst, const RECT* prc1, const RECT* prc2) {
  if (prcDst == nullptr || prc1 == nullptr || prc2 == nullptr) return FALSE;
  RECT r{std::max(prc1->left, prc2->left), std::max(prc1->top, prc2->top), std::min(prc1->right, prc2->right),
         std::min(prc1->bottom, prc2->bottom)};
  if (IsRectEmpty(&r)) {
    SetRectEmpty(prcDst);
    return FALSE;
  }
  *prcDst = r;
  return TRUE;
}

BOOL EqualRect(const RECT* a, const RECT* b) {
  return a != nullptr && b != nullptr && a->left == b->left && a->top == b->top && a->right == b->right &&
         a->bottom == b->bottom;
}

void CRect::NormalizeRect() {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
}

HDC CreateSurfaceDC(CSurface* pSurface) {
  if (pSurface == nullptr) return nullptr;
  auto* dc = new HDC__;
  dc->pSurface = pSurface;
  dc->state.hPen = static_cast<HPEN>(GetStockObject(BLACK_PEN));
  dc->state.hBrush = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  dc->state.hFont = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
  dc->state.rcClip = RECT{0, 0, std::max(0, pSurface->GetWidth()), std::max(0, pSurface->GetHeight())};
  retain_state(dc->state);
  return make_live(dc);
}

BOOL DeleteDC(HDC hdc) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return FALSE;
  {
    std::lock_guard<std::mutex> lock(g_objectsMutex);
    live_objects().erase(dc);
  }
  release_state(dc->state);
  for (const CDcState& s : dc->saved) release_state(s);
  delete dc;
  return TRUE;
}

CSurface* GetSurface(HDC hdc) {
  HDC__* dc = LookupDC(hdc);
  return dc != nullptr ? dc->pSurface : nullptr;
}

HPEN CreatePen(int nStyle, int nWidth, COLORREF cr) {
  auto* p = new HPEN__;
  p->nStyle = nStyle;
  p->nWidth = nWidth;
  p->cr = cr & 0x00FFFFFF;
  return make_live(p);
}

HBRUSH CreateSolidBrush(COLORREF cr) {
  auto* b = new HBRUSH__;
  b->cr = cr & 0x00FFFFFF;
  return make_live(b);
}

HFONT CreateFontIndirectA(const LOGFONTA* plf) {
  if (plf == nullptr) return nullptr;
  auto* f = new HFONT__;
  f->lf = *plf;
  f->lf.lfFaceName[LF_FACESIZE - 1] = '\0';
  return make_live(f);
}

HGDIOBJ GetStockObject(int nIndex) {
  static HGDIOBJ stock[DEFAULT_GUI_FONT + 1] = {};
  static std::once_flag once;
  std::call_once(once, [] {
    for (int i = 0; i <= DEFAULT_GUI_FONT; ++i) {
      if (HGDIOBJ h = make_stock(i)) {
        static_cast<CObjectData*>(h)->bStock = true;
        make_live(static_cast<CObjectData*>(h));
        stock[i] = h;
      }
    }
  });
  return nIndex >= 0 && nIndex <= DEFAULT_GUI_FONT ? stock[nIndex] : nullptr;
}

BOOL DeleteObject(HGDIOBJ hObject) {
  if (hObject == nullptr) return FALSE;
  auto* p = static_cast<CObjectData*>(hObject);
  {
    std::lock_guard<std::mutex> lock(g_objectsMutex);
    if (!live_objects().count(p) || p->bStock || p->nType == OBJ_DC) return FALSE;
    live_objects().erase(p);
    if (p->nSelected > 0) {
      p->bDeleted = true;
      return TRUE;
    }
  }
  delete p;
  return TRUE;
}

DWORD GetObjectType(HGDIOBJ hObject) {
  CObjectData* p = LookupObject(hObject);
  return p != nullptr ? p->nType : 0;
}

int GetObjectA(HGDIOBJ hObject, int cbBuffer, LPVOID pv) {
  CObjectData* p = LookupObject(hObject);
  if (p == nullptr || pv == nullptr) return 0;
  auto copy = [&](const auto& value) {
    if (cbBuffer < static_cast<int>(sizeof(value))) return 0;
    std::memcpy(pv, &value, sizeof(value));
    return static_cast<int>(sizeof(value));
  };
  switch (p->nType) {
    case OBJ_PEN: {
      auto* pen = static_cast<HPEN__*>(p);
      return copy(LOGPEN{static_cast<UINT>(pen->nStyle), POINT{pen->nWidth, 0}, pen->cr});
    }
    case OBJ_BRUSH: {
      auto* brush = static_cast<HBRUSH__*>(p);
      return copy(LOGBRUSH{brush->bNull ? BS_NULL : BS_SOLID, brush->cr, 0});
    }
    case OBJ_FONT: return copy(static_cast<HFONT__*>(p)->lf);
    default: return 0;
  }
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ hObject) {
  HDC__* dc = LookupDC(hdc);
  CObjectData* p = LookupObject(hObject);
  if (dc == nullptr || p == nullptr) return nullptr;
  HGDIOBJ* slot = nullptr;
  CDrawCall call = make_call(CDrawCall::selectObject);
  call.hObject = hObject;
  call.nValue = static_cast<int>(p->nType);
  switch (p->nType) {
    case OBJ_PEN:
      slot = reinterpret_cast<HGDIOBJ*>(&dc->state.hPen);
      call.cr = static_cast<HPEN__*>(p)->cr;
      break;
    case OBJ_BRUSH:
      slot = reinterpret_cast<HGDIOBJ*>(&dc->state.hBrush);
      call.cr = static_cast<HBRUSH__*>(p)->cr;
      break;
    case OBJ_FONT: slot = reinterpret_cast<HGDIOBJ*>(&dc->state.hFont); break;
    default: return nullptr;
  }
  record(dc, call);
  HGDIOBJ hOld = *slot;
  if (hOld == hObject) return hOld;
  retain(hObject);
  switch (p->nType) {
    case OBJ_PEN: dc->state.hPen = static_cast<HPEN>(p); break;
    case OBJ_BRUSH: dc->state.hBrush = static_cast<HBRUSH>(p); break;
    default: dc->state.hFont = static_cast<HFONT>(p); break;
  }
  release(hOld);
  // The previous object may have been freed just now if it was deleted while
  // selected; its handle is returned only as a value to compare or reselect.
  return hOld;
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT nType) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return nullptr;
  switch (nType) {
    case OBJ_PEN: return dc->state.hPen;
    case OBJ_BRUSH: return dc->state.hBrush;
    case OBJ_FONT: return dc->state.hFont;
    default: return nullptr;
  }
}

int SetBkMode(HDC hdc, int nMode) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr || (nMode != TRANSPARENT && nMode != OPAQUE)) return 0;
  CDrawCall call = make_call(CDrawCall::setBkMode);
  call.nValue = nMode;
  record(dc, call);
  return std::exchange(dc->state.nBkMode, nMode);
}

int GetBkMode(HDC hdc) {
  HDC__* dc = LookupDC(hdc);
  return dc != nullptr ? dc->state.nBkMode : 0;
}

namespace {

// Records and sets one of the context's colours; returns the one it replaces.
COLORREF set_colour(HDC hdc, CDrawCall::Kind kind, COLORREF CDcState::*member, COLORREF cr) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return CLR_INVALID;
  CDrawCall call = make_call(kind);
  call.cr = cr;
  record(dc, call);
  return std::exchange(dc->state.*member, cr & 0x00FFFFFF);
}

}  // namespace

COLORREF SetBkColor(HDC hdc, COLORREF cr) {
  return set_colour(hdc, CDrawCall::setBkColor, &CDcState::crBk, cr);
}

COLORREF GetBkColor(HDC hdc) {
  HDC__* dc = LookupDC(hdc);
  return dc != nullptr ? dc->state.crBk : CLR_INVALID;
}

COLORREF SetTextColor(HDC hdc, COLORREF cr) {
  return set_colour(hdc, CDrawCall::setTextColor, &CDcState::crText, cr);
}

COLORREF GetTextColor(HDC hdc) {
  HDC__* dc = LookupDC(hdc);
  return dc != nullptr ? dc->state.crText : CLR_INVALID;
}

BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT pPrevious) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return FALSE;
  if (pPrevious != nullptr) *pPrevious = dc->state.ptOrigin;
  dc->state.ptOrigin = POINT{x, y};
  return TRUE;
}

BOOL GetViewportOrgEx(HDC hdc, LPPOINT pOrigin) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr || pOrigin == nullptr) return FALSE;
  *pOrigin = dc->state.ptOrigin;
  return TRUE;
}

int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return 0;
  POINT a = to_device(dc, left, top);
  POINT b = to_device(dc, right, bottom);
  RECT r{a.x, a.y, b.x, b.y};
  RECT clip = dc->state.rcClip;
  return IntersectRect(&dc->state.rcClip, &clip, &r) ? 2 : 1;
}

int SaveDC(HDC hdc) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return 0;
  retain_state(dc->state);
  dc->saved.push_back(dc->state);
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int nSavedDC) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr || dc->saved.empty()) return FALSE;
  int n = static_cast<int>(dc->saved.size());
  int level = nSavedDC < 0 ? n + 1 + nSavedDC : nSavedDC;
  if (level < 1 || level > n) return FALSE;
  while (static_cast<int>(dc->saved.size()) > level) {
    release_state(dc->saved.back());
    dc->saved.pop_back();
  }
  release_state(dc->state);
  dc->state = dc->saved.back();  // the saved state's selections pass to the current one
  dc->saved.pop_back();
  return TRUE;
}

int GetDeviceCaps(HDC hdc, int nIndex) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return 0;
  switch (nIndex) {
    case HORZRES: return dc->pSurface->GetWidth();
    case VERTRES: return dc->pSurface->GetHeight();
    case LOGPIXELSX: case LOGPIXELSY: return dc->pSurface->GetDpi();
    default: return 0;
  }
}

BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT pPrevious) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return FALSE;
  CDrawCall call = make_call(CDrawCall::moveTo);
  call.pt = CPoint(x, y);
  record(dc, call);
  if (pPrevious != nullptr) *pPrevious = dc->state.ptCurrent;
  dc->state.ptCurrent = POINT{x, y};
  return TRUE;
}

BOOL GetCurrentPositionEx(HDC hdc, LPPOINT pPoint) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr || pPoint == nullptr) return FALSE;
  *pPoint = dc->state.ptCurrent;
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return FALSE;
  CDrawCall call = make_call(CDrawCall::lineTo);
  call.pt = CPoint(x, y);
  call.hObject = dc->state.hPen;
  call.cr = dc->state.hPen->cr;
  call.nValue = dc->state.hPen->nWidth;
  record(dc, call);
  POINT a = to_device(dc, dc->state.ptCurrent.x, dc->state.ptCurrent.y);
  POINT b = to_device(dc, x, y);
  draw_line(dc, a.x, a.y, b.x, b.y, dc->state.hPen);
  dc->state.ptCurrent = POINT{x, y};
  return TRUE;
}

int FillRect(HDC hdc, const RECT* prc, HBRUSH hbr) {
  HDC__* dc = LookupDC(hdc);
  CObjectData* p = LookupObject(hbr);
  if (dc == nullptr || prc == nullptr || p == nullptr || p->nType != OBJ_BRUSH) return 0;
  CDrawCall call = make_call(CDrawCall::fillRect);
  call.rc = *prc;
  call.hObject = hbr;
  call.cr = hbr->cr;
  record(dc, call);
  if (hbr->bNull || IsRectEmpty(prc)) return 1;
  POINT a = to_device(dc, prc->left, prc->top);
  POINT b = to_device(dc, prc->right, prc->bottom);
  FillDeviceRect(dc, RECT{a.x, a.y, b.x, b.y}, hbr->cr);
  return 1;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return FALSE;
  CDrawCall call = make_call(CDrawCall::rectangle);
  call.rc = CRect(left, top, right, bottom);
  call.cr = dc->state.hBrush->cr;
  record(dc, call);
  CRect rc(left, top, right, bottom);
  rc.NormalizeRect();
  if (rc.Width() < 1 || rc.Height() < 1) return TRUE;
  const HPEN__* pen = dc->state.hPen;
  bool bPen = pen->nStyle != PS_NULL;
  POINT a = to_device(dc, rc.left, rc.top);
  POINT b = to_device(dc, rc.right - 1, rc.bottom - 1);
  if (!dc->state.hBrush->bNull) {
    RECT inside = bPen ? RECT{a.x + 1, a.y + 1, b.x, b.y} : RECT{a.x, a.y, b.x, b.y};
    FillDeviceRect(dc, inside, dc->state.hBrush->cr);
  }
  if (bPen) {
    draw_line(dc, a.x, a.y, b.x, a.y, pen);
    draw_line(dc, b.x, a.y, b.x, b.y, pen);
    draw_line(dc, b.x, b.y, a.x, b.y, pen);
    draw_line(dc, a.x, b.y, a.x, a.y, pen);
    if (a.x == b.x && a.y == b.y) plot(dc, a.x, a.y, std::max(1, pen->nWidth), pen->cr);
  }
  return TRUE;
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF cr) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return CLR_INVALID;
  CDrawCall call = make_call(CDrawCall::setPixel);
  call.pt = CPoint(x, y);
  call.cr = cr;
  record(dc, call);
  POINT p = to_device(dc, x, y);
  if (!PtInRect(&dc->state.rcClip, p)) return CLR_INVALID;
  dc->pSurface->FillSpan(p.x, p.x + 1, p.y, cr & 0x00FFFFFF);
  return cr & 0x00FFFFFF;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr) return CLR_INVALID;
  POINT p = to_device(dc, x, y);
  if (!PtInRect(&dc->state.rcClip, p)) return CLR_INVALID;
  return dc->pSurface->GetPixel(p.x, p.y);
}

int DrawTextA(HDC hdc, LPCSTR pszText, int nCount, LPRECT prc, UINT nFormat) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr || pszText == nullptr || prc == nullptr) return 0;
  CDrawCall call = make_call(CDrawCall::drawText);
  call.rc = *prc;
  call.nFormat = nFormat;
  call.cr = dc->state.crText;
  call.hObject = dc->state.hFont;
  call.strText = CString(pszText, nCount < 0 ? static_cast<int>(std::strlen(pszText)) : nCount);
  int height = DrawTextOn(dc, pszText, nCount, prc, nFormat);
  call.rcResult = *prc;
  record(dc, call);
  return height;
}

BOOL TextOutA(HDC hdc, int x, int y, LPCSTR pszText, int nCount) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr || pszText == nullptr || nCount < 0) return FALSE;
  CDrawCall call = make_call(CDrawCall::textOut);
  call.rc = CRect(x, y, x, y);
  call.cr = dc->state.crText;
  call.hObject = dc->state.hFont;
  call.strText = CString(pszText, nCount);
  record(dc, call);
  TextOutOn(dc, x, y, pszText, nCount);
  return TRUE;
}

BOOL GetTextExtentPoint32A(HDC hdc, LPCSTR pszText, int nCount, LPSIZE pSize) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr || pszText == nullptr || pSize == nullptr || nCount < 0) return FALSE;
  CDrawCall call = make_call(CDrawCall::getTextExtent);
  call.hObject = dc->state.hFont;
  call.strText = CString(pszText, nCount);
  record(dc, call);
  *pSize = MeasureOn(dc, pszText, nCount);
  return TRUE;
}

BOOL GetTextMetricsA(HDC hdc, TEXTMETRICA* ptm) {
  HDC__* dc = LookupDC(hdc);
  if (dc == nullptr || ptm == nullptr) return FALSE;
  MetricsOn(dc, ptm);
  return TRUE;
}

// SPDX-License-Identifier: Apache-2.0
#include "framework/gdi/gdi_object.h"

#include "framework/core/exception.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

// Wrappers attached to handles, shared by all threads.
std::mutex g_permanentMutex;
std::unordered_map<HGDIOBJ, CGdiObject*>& permanent_map() {
  static auto* map = new std::unordered_map<HGDIOBJ, CGdiObject*>;
  return *map;
}

// Wrappers made for handles that nothing wraps, per thread.
// Temporaries never own their handles, so they are unhooked before they go.
struct TemporaryMap : std::unordered_map<HGDIOBJ, std::unique_ptr<CGdiObject>> {
  ~TemporaryMap() { release(); }
  void release() {
    for (auto& entry : *this) entry.second->m_hObject = nullptr;
    clear();
  }
};
thread_local TemporaryMap t_temporaries;

std::unique_ptr<CGdiObject> make_wrapper(DWORD nType) {
  switch (nType) {
    case OBJ_PEN: return std::make_unique<CPen>();
    case OBJ_BRUSH: return std::make_unique<CBrush>();
    case OBJ_FONT: return std::make_unique<CFont>();
    default: return std::make_unique<CGdiObject>();
  }
}

DWORD wrapper_type(const CGdiObject* p) {
  if (dynamic_cast<const CPen*>(p) != nullptr) return OBJ_PEN;
  if (dynamic_cast<const CBrush*>(p) != nullptr) return OBJ_BRUSH;
  if (dynamic_cast<const CFont*>(p) != nullptr) return OBJ_FONT;
  return 0;
}

}  // namespace

CGdiObject::~CGdiObject() {
  DeleteObject();
}

CGdiObject* CGdiObject::FromHandle(HGDIOBJ hObject) {
  if (hObject == nullptr) return nullptr;
  {
    std::lock_guard<std::mutex> lock(g_permanentMutex);
    auto it = permanent_map().find(hObject);
    if (it != permanent_map().end()) return it->second;
  }
  DWORD nType = ::GetObjectType(hObject);
  auto& temp = t_temporaries[hObject];
  // A handle value can come back for a new object of another kind after the
  // old one was deleted; the wrapper must then change class too.
  if (temp == nullptr || wrapper_type(temp.get()) != nType) {
    if (temp != nullptr) temp->m_hObject = nullptr;
    temp = make_wrapper(nType);
  }
  temp->m_hObject = hObject;
  return temp.get();
}

void AfxDeleteTempGdiObjects() {
  t_temporaries.release();
}

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
  if (hObject == nullptr || m_hObject != nullptr) return FALSE;
  m_hObject = hObject;
  std::lock_guard<std::mutex> lock(g_permanentMutex);
  permanent_map()[hObject] = this;
  return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
  HGDIOBJ h = m_hObject;
  if (h != nullptr) {
    std::lock_guard<std::mutex> lock(g_permanentMutex);
    auto it = permanent_map().find(h);
    if (it != permanent_map().end() && it->second == this) permanent_map().erase(it);
  }
  m_hObject = nullptr;
  return h;
}

BOOL CGdiObject::DeleteObject() {
  if (m_hObject == nullptr) return FALSE;
  // A temporary wrapper does not own its handle; only detach it.
  auto it = t_temporaries.find(m_hObject);
  if (it != t_temporaries.end() && it->second.get() == this) {
    m_hObject = nullptr;
    return FALSE;
  }
  return ::DeleteObject(Detach());
}

BOOL CGdiObject::CreateStockObject(int nIndex) {
  return Attach(::GetStockObject(nIndex));
}

CPen::CPen(int nPenStyle, int nWidth, COLORREF crColor) {
  if (!CreatePen(nPenStyle, nWidth, crColor)) AfxThrowMemoryException();
}

BOOL CPen::CreatePen(int nPenStyle, int nWidth, COLORREF crColor) {
  return Attach(::CreatePen(nPenStyle, nWidth, crColor));
}

CBrush::CBrush(COLORREF crColor) {
  if (!CreateSolidBrush(crColor)) AfxThrowMemoryException();
}

BOOL CBrush::CreateSolidBrush(COLORREF crColor) {
  return Attach(::CreateSolidBrush(crColor));
}

BOOL CFont::CreateFontIndirect(const LOGFONT* lpLogFont) {
  return Attach(::CreateFontIndirectA(lpLogFont));
}

BOOL CFont::CreatePointFont(int nPointSize, LPCSTR lpszFaceName) {
  LOGFONT lf{};
  lf.lfHeight = -static_cast<LONG>(std::lround(nPointSize * 96.0 / 720.0));
  lf.lfWeight = FW_NORMAL;
  lf.lfCharSet = DEFAULT_CHARSET;
  if (lpszFaceName != nullptr) std::strncpy(lf.lfFaceName, lpszFaceName, LF_FACESIZE - 1);
  return CreateFontIndirect(&lf);
}

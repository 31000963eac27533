// SPDX-License-Identifier: Apache-2.0
// The animation control's window procedure and its framework wrapper.
#include "framework/window/animate_ctrl.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "framework/module/resources.h"
#include "framework/window/avi_reader.h"
#include "framework/window/internal/window_internal.h"

namespace {

constexpr UINT_PTR kPlayTimer = 1;

struct AnimateState : CWindowExtra {
  CAviReader clip;
  int nFrame = 0;
  int nFrom = 0;
  int nTo = 0;
  int nRepeat = 0;  // plays left, -1: for ever
  bool bPlaying = false;
};

AnimateState& StateOf(HWND h) {
  if (!h->pExtra) h->pExtra = std::make_unique<AnimateState>();
  return static_cast<AnimateState&>(*h->pExtra);
}

void StopPlay(HWND h, AnimateState& st) {
  if (st.bPlaying) KillTimer(h, kPlayTimer);
  st.bPlaying = false;
}

BOOL StartPlay(HWND h, AnimateState& st, UINT nFrom, UINT nTo, UINT nRep) {
  if (!st.clip.IsOpen()) return FALSE;
  int last = st.clip.GetFrameCount() - 1;
  int to = nTo == 0xFFFF ? last : static_cast<int>(nTo);
  if (static_cast<int>(nFrom) > last || to > last || static_cast<int>(nFrom) > to) return FALSE;
  st.nFrom = static_cast<int>(nFrom);
  st.nTo = to;
  st.nFrame = st.nFrom;
  st.nRepeat = nRep == static_cast<UINT>(-1) ? -1 : static_cast<int>(nRep);
  if (st.nRepeat == 0) return TRUE;
  st.bPlaying = true;
  UINT period = std::max<UINT>(1, st.clip.GetFramePeriod() / 1000);
  SetTimer(h, kPlayTimer, period, nullptr);
  InvalidateRect(h, nullptr, TRUE);
  return TRUE;
}

// Opens a clip from a module's resources (lParam a resource number) or from
// a file (lParam a path); lParam 0 closes the clip.
BOOL OpenClip(HWND h, AnimateState& st, WPARAM wParam, LPARAM lParam) {
  StopPlay(h, st);
  st.clip.Close();
  st.nFrame = 0;
  InvalidateRect(h, nullptr, TRUE);
  if (lParam == 0) return TRUE;
  BOOL opened = FALSE;
  if (static_cast<std::uintptr_t>(lParam) <= 0xFFFF) {
    const BYTE* data = nullptr;
    DWORD size = 0;
    HINSTANCE module = wParam ? reinterpret_cast<HINSTANCE>(wParam) : h->hInstance;
    if (AfxFindResource(RT_AVI_TYPE, static_cast<UINT>(lParam), &data, &size, nullptr, module))
      opened = st.clip.Open(data, size);
  } else {
    std::ifstream in(reinterpret_cast<LPCSTR>(lParam), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.good() || in.eof())
      opened = st.clip.Open(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
  }
  if (!opened) return FALSE;
  if (!(h->dwStyle & ACS_CENTER)) {
    // Without centring the control takes the size of the clip.
    CRect rc = h->rcWindow;
    MoveWindow(h, rc.left, rc.top, st.clip.GetWidth(), st.clip.GetHeight(), TRUE);
  }
  if (h->dwStyle & ACS_AUTOPLAY) StartPlay(h, st, 0, 0xFFFF, static_cast<UINT>(-1));
  return TRUE;
}

void Advance(HWND h, AnimateState& st) {
  if (!st.bPlaying) return;
  if (st.nFrame < st.nTo) {
    ++st.nFrame;
  } else if (st.nRepeat < 0 || --st.nRepeat > 0) {
    st.nFrame = st.nFrom;
  } else {
    StopPlay(h, st);
    return;
  }
  InvalidateRect(h, nullptr, TRUE);
}

void PaintFrame(HWND h, AnimateState& st) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(h, &ps);
  if (!dc || !st.clip.IsOpen()) return;
  RECT rc;
  GetClientRect(h, &rc);
  int w = st.clip.GetWidth(), ht = st.clip.GetHeight();
  int x0 = 0, y0 = 0;
  if (h->dwStyle & ACS_CENTER) {
    // Centred at the clip's own size, never scaled.
    x0 = (rc.right - w) / 2;
    y0 = (rc.bottom - ht) / 2;
  }
  for (int y = 0; y < ht; ++y)
    for (int x = 0; x < w; ++x) {
      DWORD rgb = st.clip.GetPixelRGB(st.nFrame, x, y);
      SetPixel(dc, x0 + x, y0 + y, RGB(BYTE(rgb >> 16), BYTE(rgb >> 8), BYTE(rgb)));
    }
  EndPaint(h, &ps);
}

LRESULT AnimateWndProc(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  AnimateState& st = StateOf(h);
  switch (message) {
    case ACM_OPEN:
      return OpenClip(h, st, wParam, lParam);
    case ACM_PLAY:
      return StartPlay(h, st, LOWORD(static_cast<std::uintptr_t>(lParam)), HIWORD(static_cast<std::uintptr_t>(lParam)),
                       static_cast<UINT>(wParam));
    case ACM_STOP:
      StopPlay(h, st);
      return TRUE;
    case ACM_ISPLAYING:
      return st.bPlaying;
    case WM_TIMER:
      if (wParam == kPlayTimer) Advance(h, st);
      return 0;
    case WM_PAINT:
      PaintFrame(h, st);
      return 0;
    case WM_DESTROY:
      StopPlay(h, st);
      st.clip.Close();
      return 0;
    default:
      return DefWindowProcA(h, message, wParam, lParam);
  }
}

}  // namespace

void AfxRegisterAnimateClass() { AfxRegisterWindowClass(ANIMATE_CLASS, AnimateWndProc); }

int AfxGetAnimateFrame(HWND hWnd) {
  if (!IsWindow(hWnd) || hWnd->strClass != ANIMATE_CLASS || !hWnd->pExtra) return -1;
  AnimateState& st = StateOf(hWnd);
  return st.clip.IsOpen() ? st.nFrame : -1;
}

CAnimateCtrl::~CAnimateCtrl() = default;

BOOL CAnimateCtrl::Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID) {
  return CWnd::Create(ANIMATE_CLASS, nullptr, dwStyle, rect, pParentWnd, nID);
}

BOOL CAnimateCtrl::Open(UINT nID) {
  return static_cast<BOOL>(SendMessage(ACM_OPEN, 0, static_cast<LPARAM>(nID)));
}

BOOL CAnimateCtrl::Play(UINT nFrom, UINT nTo, UINT nRep) {
  return static_cast<BOOL>(SendMessage(ACM_PLAY, nRep, MAKELPARAM(nFrom, nTo)));
}

BOOL CAnimateCtrl::Stop() { return static_cast<BOOL>(SendMessage(ACM_STOP)); }

BOOL CAnimateCtrl::IsPlaying() const { return static_cast<BOOL>(::SendMessageA(m_hWnd, ACM_ISPLAYING, 0, 0)); }

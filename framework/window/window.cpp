// SPDX-License-Identifier: Apache-2.0
// Windows, messages, timers, the framework clock, painting of window trees
// and the message loop.
#include "framework/window/window.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <unordered_set>

#include "framework/net/blocking_wait.h"
#include "framework/window/dialog.h"
#include "framework/window/internal/window_internal.h"

namespace {

struct WindowClass {
  CString strName;
  WNDPROC pfnProc;
  WORD nAtom;
};

struct Timer {
  HWND hWnd;
  UINT_PTR nID;
  UINT nPeriod;
  DWORD nDue;
  TIMERPROC pfnProc;
};

class HeadlessBackend : public CWindowBackendImpl {
public:
  AfxWindowBackend Kind() const override { return AfxWindowBackend::Headless; }
};

// Lets windows paint, animate and take display events while the thread
// blocks in a socket call, and wakes the message loop when there is work.
class WindowWaitSource : public CWaitSource {
public:
  int AddPollFds(struct pollfd* fds, int max) override;
  int NextDeadlineMs() override;
  void Service(const struct pollfd* fds, int n) override;
};

struct WindowState {
  std::vector<WindowClass> classes;
  std::unordered_set<HWND> live;
  std::vector<HWND> topLevels;
  std::map<HWND, CWnd*> temporaries;
  std::vector<Timer> timers;
  std::deque<MSG> posted;
  bool bQuit = false;
  int nQuitCode = 0;
  bool bManualClock = false;
  DWORD nManualNow = 0;
  AfxWindowBackend requested = AfxWindowBackend::Auto;
  std::unique_ptr<CWindowBackendImpl> backend;
  WindowWaitSource waitSource;
  int nWakeFd = -1;
  HWND hFocus = nullptr;
  CWnd* pWndInit = nullptr;  // the object that CWnd::CreateEx is creating a window for
  AFX_CALLWNDPROC_HOOK pfnHook = nullptr;
  AFX_WAIT_CURSOR_HANDLER pfnPreviousCursorHandler = nullptr;
};

WindowState& State() {
  static WindowState* state = new WindowState;  // lives as long as the process: windows may outlive statics
  return *state;
}

DWORD RealNow() {
  using namespace std::chrono;
  return static_cast<DWORD>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Wake() {
  WindowState& s = State();
  if (s.nWakeFd < 0) return;
  std::uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(s.nWakeFd, &one, sizeof one);
}

// The application's wait cursor shows as the busy cursor on every window.
void ShowWaitCursor(int, int nWaitCount) {
  if (State().backend) State().backend->SetBusyCursor(nWaitCount > 0);
}

// The window layer takes part in the thread's blocking waits while it has
// something to service there: windows (a backend) or timers, with or without
// a window. So a timer fires inside a blocking socket call whether or not any
// window exists.
void UpdateWaitSource() {
  WindowState& s = State();
  if (s.backend || !s.timers.empty()) {
    if (s.nWakeFd < 0) s.nWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    AfxAddWaitSource(&s.waitSource);
  } else {
    AfxRemoveWaitSource(&s.waitSource);
  }
}

CWindowBackendImpl& Backend() {
  WindowState& s = State();
  if (!s.backend) {
    if (s.requested != AfxWindowBackend::Headless && std::getenv("DISPLAY") != nullptr)
      s.backend = AfxCreateX11Backend();
    if (!s.backend) s.backend = std::make_unique<HeadlessBackend>();
    s.pfnPreviousCursorHandler = AfxSetWaitCursorHandler(ShowWaitCursor);
    if (AfxGetApp()->GetWaitCursorCount() > 0) s.backend->SetBusyCursor(true);
    UpdateWaitSource();
  }
  return *s.backend;
}

HWND TopLevelOf(HWND h) {
  while (h && h->hParent) h = h->hParent;
  return h;
}

void MarkForPaint(HWND h) {
  HWND top = TopLevelOf(h);
  if (top && !top->bNeedsPaint) {
    top->bNeedsPaint = true;
    Wake();
  }
}

const WindowClass* FindClass(LPCSTR name) {
  for (const WindowClass& c : State().classes)
    if (c.strName.CompareNoCase(name) == 0) return &c;
  return nullptr;
}

LRESULT Dispatch(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowState& s = State();
  if (!s.live.count(h)) return 0;
  if (s.pfnHook) s.pfnHook(h, message, wParam, lParam);
  if (h->pWnd) return AfxCallWndProc(h->pWnd, h, message, wParam, lParam);
  if (h->pfnClassProc) return h->pfnClassProc(h, message, wParam, lParam);
  return DefWindowProcA(h, message, wParam, lParam);
}

bool IsVisibleTree(HWND h) {
  for (; h; h = h->hParent)
    if (!(h->dwStyle & WS_VISIBLE)) return false;
  return true;
}

// Draws the frame and caption bar of a top-level window onto its surface.
void PaintNonClient(HWND h, HDC dc) {
  const CRect nc = h->rcNonClient;
  const int w = h->rcWindow.Width(), ht = h->rcWindow.Height();
  if (nc.left == 0 && nc.top == 0) return;
  auto fill = [&](int l, int t, int r, int b, COLORREF cr) {
    HBRUSH br = CreateSolidBrush(cr);
    RECT rc{l, t, r, b};
    FillRect(dc, &rc, br);
    DeleteObject(br);
  };
  fill(0, 0, w, ht, AFX_CLR_FACE);
  // Raised edge: light outside, highlight inside at top and left; dark outside,
  // shadow inside at bottom and right.
  fill(0, 0, w, 1, AFX_CLR_LIGHT), fill(0, 0, 1, ht, AFX_CLR_LIGHT);
  fill(1, 1, w - 1, 2, AFX_CLR_HIGHLIGHT), fill(1, 1, 2, ht - 1, AFX_CLR_HIGHLIGHT);
  fill(0, ht - 1, w, ht, AFX_CLR_DARKSHADOW), fill(w - 1, 0, w, ht, AFX_CLR_DARKSHADOW);
  fill(1, ht - 2, w - 1, ht - 1, AFX_CLR_SHADOW), fill(w - 2, 1, w - 1, ht - 1, AFX_CLR_SHADOW);
  if (!((h->dwStyle & WS_CAPTION) == WS_CAPTION)) return;
  // Caption bar: a horizontal gradient with the caption in bold white.
  const int left = nc.left, right = w - nc.right, top = AFX_CX_DLGFRAME, bottom = top + AFX_CY_CAPTION - 1;
  const int span = std::max(1, right - left - 1);
  for (int x = left; x < right; ++x) {
    auto mix = [&](BYTE a, BYTE b) { return static_cast<BYTE>(a + (b - a) * (x - left) / span); };
    COLORREF cr = RGB(mix(GetRValue(AFX_CLR_CAPTION), GetRValue(AFX_CLR_CAPTION_END)),
                      mix(GetGValue(AFX_CLR_CAPTION), GetGValue(AFX_CLR_CAPTION_END)),
                      mix(GetBValue(AFX_CLR_CAPTION), GetBValue(AFX_CLR_CAPTION_END)));
    fill(x, top, x + 1, bottom, cr);
  }
  LOGFONTA lf{};
  if (!h->hFont || GetObjectA(h->hFont, sizeof lf, &lf) == 0) {
    lf.lfHeight = -12;
    std::strcpy(lf.lfFaceName, "\xCB\xCE\xCC\xE5");  // 宋体 in the ANSI code page
  }
  lf.lfWeight = 700;
  HFONT font = CreateFontIndirectA(&lf);
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, AFX_CLR_CAPTION_TEXT);
  RECT rcText{left + 4, top, right - 2, bottom};
  DrawTextA(dc, h->strText, h->strText.GetLength(), &rcText, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  DeleteObject(font);
}

// Paints one window and, after it, its visible children. (ox, oy) is the
// window's client origin on the top-level surface; clip is what of the
// surface the window may touch.
void PaintTree(HWND h, HDC dc, int ox, int oy, CRect clip) {
  CRect client = h->ClientRect();
  client.left += ox, client.right += ox, client.top += oy, client.bottom += oy;
  CRect visible;
  if (!IntersectRect(&visible, &clip, &client)) return;
  int saved = SaveDC(dc);
  SetViewportOrgEx(dc, ox, oy, nullptr);
  IntersectClipRect(dc, visible.left - ox, visible.top - oy, visible.right - ox, visible.bottom - oy);
  h->hPaintDC = dc;
  Dispatch(h, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  if (State().live.count(h)) Dispatch(h, WM_PAINT, 0, 0);
  if (State().live.count(h)) h->hPaintDC = nullptr;
  RestoreDC(dc, saved);
  if (!State().live.count(h)) return;
  std::vector<HWND> children = h->children;
  for (HWND c : children) {
    if (!State().live.count(c) || !(c->dwStyle & WS_VISIBLE)) continue;
    PaintTree(c, dc, ox + c->rcWindow.left + c->rcNonClient.left, oy + c->rcWindow.top + c->rcNonClient.top,
              visible);
  }
}

// Repaints a top-level window whole onto its surface and shows it.
void PaintTopLevel(HWND h) {
  h->bNeedsPaint = false;
  const int w = h->rcWindow.Width(), ht = h->rcWindow.Height();
  if (!h->pSurface) h->pSurface = std::make_unique<CRasterSurface>(w, ht, AFX_CLR_FACE);
  if (h->pSurface->GetWidth() != w || h->pSurface->GetHeight() != ht) h->pSurface->Resize(w, ht, AFX_CLR_FACE);
  HDC dc = CreateSurfaceDC(h->pSurface.get());
  PaintNonClient(h, dc);
  if (State().live.count(h)) PaintTree(h, dc, h->rcNonClient.left, h->rcNonClient.top, CRect(0, 0, w, ht));
  DeleteDC(dc);
  if (State().live.count(h) && (h->dwStyle & WS_VISIBLE)) Backend().Present(h);
}

bool PaintPending() {
  bool any = false;
  std::vector<HWND> tops = State().topLevels;
  for (HWND h : tops)
    if (State().live.count(h) && h->bNeedsPaint) {
      PaintTopLevel(h);
      any = true;
    }
  return any;
}

bool DeliverPosted() {
  WindowState& s = State();
  bool any = false;
  // Only what was posted before this round; a handler that posts again is
  // served next round, so a self-posting window cannot starve the others.
  size_t n = s.posted.size();
  for (size_t i = 0; i < n && !s.posted.empty(); ++i) {
    MSG m = s.posted.front();
    s.posted.pop_front();
    any = true;
    if (m.message == WM_QUIT) {
      s.bQuit = true;
      s.nQuitCode = static_cast<int>(m.wParam);
      continue;
    }
    if (m.hwnd) Dispatch(m.hwnd, m.message, m.wParam, m.lParam);
  }
  return any;
}

void FireTimer(const Timer& t) {
  if (t.pfnProc)
    t.pfnProc(t.hWnd, WM_TIMER, t.nID, AfxGetFrameworkTime());
  else
    Dispatch(t.hWnd, WM_TIMER, t.nID, 0);
}

// Fires every timer due at the framework time `now`, once each.
bool FireDueTimers(DWORD now) {
  WindowState& s = State();
  std::vector<Timer> due;
  for (Timer& t : s.timers)
    if (static_cast<std::int32_t>(now - t.nDue) >= 0) {
      due.push_back(t);
      // A late timer is not caught up: it fires once and keeps its period from now.
      t.nDue = s.bManualClock ? t.nDue + t.nPeriod : std::max(t.nDue + t.nPeriod, now + 1);
      if (static_cast<std::int32_t>(now - t.nDue) >= 0) t.nDue = now + t.nPeriod;
    }
  for (const Timer& t : due) {
    // A handler may have killed the timer or destroyed the window meanwhile.
    bool still = std::any_of(s.timers.begin(), s.timers.end(),
                             [&](const Timer& o) { return o.hWnd == t.hWnd && o.nID == t.nID; });
    if (still && (t.hWnd == nullptr || s.live.count(t.hWnd))) FireTimer(t);
  }
  return !due.empty();
}

// One round of everything that is ready now.
bool PumpRound() {
  WindowState& s = State();
  bool any = false;
  if (s.backend) any |= s.backend->ProcessEvents();
  any |= DeliverPosted();
  if (!s.bManualClock) any |= FireDueTimers(RealNow());
  any |= PaintPending();
  return any;
}

void DrainWake() {
  std::uint64_t v;
  while (::read(State().nWakeFd, &v, sizeof v) > 0) {
  }
}

int WindowWaitSource::AddPollFds(struct pollfd* fds, int max) {
  int n = 0;
  WindowState& s = State();
  if (s.backend && s.backend->GetFd() >= 0 && n < max) fds[n++] = pollfd{s.backend->GetFd(), POLLIN, 0};
  return n;
}

int WindowWaitSource::NextDeadlineMs() {
  WindowState& s = State();
  if (!s.posted.empty()) return 0;
  for (HWND h : s.topLevels)
    if (h->bNeedsPaint) return 0;
  if (s.bManualClock || s.timers.empty()) return -1;
  DWORD now = RealNow();
  int best = -1;
  for (const Timer& t : s.timers) {
    int left = std::max(0, static_cast<int>(static_cast<std::int32_t>(t.nDue - now)));
    best = best < 0 ? left : std::min(best, left);
  }
  return best;
}

void WindowWaitSource::Service(const struct pollfd*, int) {
  if (PumpRound()) Wake();  // the message loop, when it resumes, runs its idle work
}

void DestroyTree(HWND h);

void RemoveRecord(HWND h) {
  WindowState& s = State();
  s.timers.erase(std::remove_if(s.timers.begin(), s.timers.end(), [&](const Timer& t) { return t.hWnd == h; }),
                 s.timers.end());
  if (h->hParent) {
    auto& sib = h->hParent->children;
    sib.erase(std::remove(sib.begin(), sib.end(), h), sib.end());
  } else {
    s.topLevels.erase(std::remove(s.topLevels.begin(), s.topLevels.end(), h), s.topLevels.end());
    if (s.backend) s.backend->DestroyTopLevel(h);
  }
  if (s.hFocus == h) s.hFocus = nullptr;
  auto temp = s.temporaries.find(h);
  if (temp != s.temporaries.end()) {
    CWnd* p = temp->second;
    s.temporaries.erase(temp);
    p->Detach();
    delete p;
  }
  if (h->bOwnsFont && h->hFont) DeleteObject(h->hFont);
  s.live.erase(h);
  delete h;
  if (s.topLevels.empty() && s.backend) {
    // Every window is gone: the next one chooses its backend afresh.
    AFX_WAIT_CURSOR_HANDLER current = AfxSetWaitCursorHandler(s.pfnPreviousCursorHandler);
    if (current != ShowWaitCursor) AfxSetWaitCursorHandler(current);  // someone else's since: keep it
    s.backend.reset();
    UpdateWaitSource();
  }
}

// Destroys a window and its descendants: WM_DESTROY goes to the window first
// and then to its children, WM_NCDESTROY to the children first.
void DestroyTree(HWND h) {
  WindowState& s = State();
  if (!s.live.count(h) || h->bDestroying) return;
  h->bDestroying = true;
  if (h->dwStyle & WS_VISIBLE) {
    h->dwStyle &= ~WS_VISIBLE;
    if (!h->hParent && s.backend) s.backend->ShowTopLevel(h, false);
    if (h->hParent) MarkForPaint(h->hParent);
  }
  Dispatch(h, WM_DESTROY, 0, 0);
  std::vector<HWND> children = h->children;
  for (HWND c : children) DestroyTree(c);
  if (!s.live.count(h)) return;
  Dispatch(h, WM_NCDESTROY, 0, 0);
  if (s.live.count(h)) RemoveRecord(h);
}

}  // namespace

namespace {
// The message each window procedure on the stack is handling, for CWnd::Default.
thread_local MSG t_current{};
}  // namespace

// Messages for the attached object go through its WindowProc.
LRESULT AfxCallWndProc(CWnd* pWnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG saved = t_current;
  t_current = MSG{hWnd, message, wParam, lParam, 0};
  LRESULT r = pWnd->WindowProc(message, wParam, lParam);
  t_current = saved;
  if (message == WM_NCDESTROY && State().live.count(hWnd) && hWnd->pWnd == pWnd) {
    pWnd->Detach();
    pWnd->PostNcDestroy();
  }
  return r;
}

void AfxRegisterStandardClasses() {
  static bool done = false;
  if (done) return;
  done = true;
  AfxRegisterDialogClasses();
  AfxRegisterAnimateClass();
  AfxRegisterStatusBarClass();
}

BOOL AfxRegisterWindowClass(LPCSTR lpszClassName, WNDPROC pfnWndProc, WORD nAtom) {
  if (!lpszClassName || !*lpszClassName || !pfnWndProc || FindClass(lpszClassName)) return FALSE;
  State().classes.push_back({lpszClassName, pfnWndProc, nAtom});
  return TRUE;
}

LPCSTR AfxClassNameFromAtom(WORD nAtom) {
  AfxRegisterStandardClasses();
  for (const WindowClass& c : State().classes)
    if (c.nAtom == nAtom && nAtom != 0) return c.strName;
  return nullptr;
}

HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int x, int y,
                     int nWidth, int nHeight, HWND hWndParent, UINT nID, HINSTANCE hInstance, LPVOID lpParam) {
  WindowState& s = State();
  AfxRegisterStandardClasses();
  const WindowClass* cls = lpClassName ? FindClass(lpClassName) : nullptr;
  if (lpClassName && !cls) return nullptr;
  if (hWndParent && !s.live.count(hWndParent)) return nullptr;
  Backend();
  HWND h = new HWND__;
  h->pfnClassProc = cls ? cls->pfnProc : nullptr;
  h->strClass = cls ? cls->strName : CString();
  h->hParent = (dwStyle & WS_CHILD) ? hWndParent : nullptr;
  h->rcWindow = CRect(x, y, x + std::max(0, nWidth), y + std::max(0, nHeight));
  h->dwStyle = dwStyle;
  h->dwExStyle = dwExStyle;
  h->nID = nID;
  h->hInstance = hInstance;
  h->strText = lpWindowName ? lpWindowName : "";
  if (!h->hParent && (dwStyle & (WS_CAPTION | WS_DLGFRAME))) {
    int frame = AFX_CX_DLGFRAME;
    int caption = (dwStyle & WS_CAPTION) == WS_CAPTION ? AFX_CY_CAPTION : 0;
    h->rcNonClient = CRect(frame, frame + caption, frame, frame);
  }
  s.live.insert(h);
  if (h->hParent)
    h->hParent->children.push_back(h);
  else
    s.topLevels.push_back(h);
  if (s.pWndInit) {
    CWnd* p = s.pWndInit;
    s.pWndInit = nullptr;
    p->SubclassWindow(h);
  }
  if (!h->hParent) Backend().CreateTopLevel(h);
  if (!Dispatch(h, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(lpParam)) ||
      (s.live.count(h) && Dispatch(h, WM_CREATE, 0, reinterpret_cast<LPARAM>(lpParam)) == -1)) {
    ::DestroyWindow(h);
    return nullptr;
  }
  if (!s.live.count(h)) return nullptr;
  if (dwStyle & WS_VISIBLE) {
    if (!h->hParent) Backend().ShowTopLevel(h, true);
    MarkForPaint(h);
  }
  return h;
}

BOOL DestroyWindow(HWND hWnd) {
  if (!IsWindow(hWnd)) return FALSE;
  HWND parent = hWnd->hParent;
  DestroyTree(hWnd);
  if (parent && IsWindow(parent)) MarkForPaint(parent);
  return TRUE;
}

BOOL IsWindow(HWND hWnd) { return hWnd && State().live.count(hWnd) && !hWnd->bDestroying ? TRUE : FALSE; }

LRESULT SendMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return Dispatch(hWnd, message, wParam, lParam);
}
LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(hWnd, message, wParam, lParam);
}

BOOL PostMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (hWnd && !IsWindow(hWnd)) return FALSE;
  State().posted.push_back(MSG{hWnd, message, wParam, lParam, AfxGetFrameworkTime()});
  Wake();
  return TRUE;
}
BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  return PostMessageA(hWnd, message, wParam, lParam);
}

void PostQuitMessage(int nExitCode) { PostMessageA(nullptr, WM_QUIT, static_cast<WPARAM>(nExitCode), 0); }

// The default handling of messages that neither a map nor a class procedure took.
LRESULT DefWindowProcA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!State().live.count(hWnd)) return 0;
  switch (message) {
    case WM_NCCREATE:
      return TRUE;
    case WM_SETTEXT:
      hWnd->strText = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
      if (!hWnd->hParent && State().backend) State().backend->SetCaption(hWnd);
      MarkForPaint(hWnd);
      return TRUE;
    case WM_GETTEXT: {
      int n = std::min(static_cast<int>(wParam) - 1, hWnd->strText.GetLength());
      if (n < 0 || !lParam) return 0;
      std::memcpy(reinterpret_cast<char*>(lParam), hWnd->strText.GetString(), n);
      reinterpret_cast<char*>(lParam)[n] = '\0';
      return n;
    }
    case WM_GETTEXTLENGTH:
      return hWnd->strText.GetLength();
    case WM_SETFONT:
      hWnd->hFont = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) MarkForPaint(hWnd);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(hWnd->hFont);
    case WM_ERASEBKGND: {
      HBRUSH br = CreateSolidBrush(AFX_CLR_FACE);
      RECT rc = hWnd->ClientRect();
      FillRect(reinterpret_cast<HDC>(wParam), &rc, br);
      DeleteObject(br);
      return TRUE;
    }
    case WM_CLOSE:
      DestroyWindow(hWnd);
      return 0;
    default:
      return 0;
  }
}

BOOL IsWindowVisible(HWND hWnd) { return IsWindow(hWnd) && IsVisibleTree(hWnd) ? TRUE : FALSE; }

BOOL ShowWindow(HWND hWnd, int nCmdShow) {
  if (!IsWindow(hWnd)) return FALSE;
  BOOL was = (hWnd->dwStyle & WS_VISIBLE) ? TRUE : FALSE;
  bool show = nCmdShow != SW_HIDE;
  if (show == static_cast<bool>(was)) return was;
  if (show)
    hWnd->dwStyle |= WS_VISIBLE;
  else
    hWnd->dwStyle &= ~WS_VISIBLE;
  Dispatch(hWnd, WM_SHOWWINDOW, show, 0);
  if (!hWnd->hParent && State().backend) State().backend->ShowTopLevel(hWnd, show);
  MarkForPaint(hWnd->hParent ? hWnd->hParent : hWnd);
  return was;
}

HWND GetParent(HWND hWnd) { return IsWindow(hWnd) ? hWnd->hParent : nullptr; }

HWND GetDlgItem(HWND hDlg, int nID) {
  if (!IsWindow(hDlg)) return nullptr;
  for (HWND c : hDlg->children)
    if (static_cast<int>(c->nID) == nID && !c->bDestroying) return c;
  return nullptr;
}

int GetDlgCtrlID(HWND hWnd) { return IsWindow(hWnd) ? static_cast<int>(hWnd->nID) : 0; }
LONG GetWindowStyle(HWND hWnd) { return IsWindow(hWnd) ? static_cast<LONG>(hWnd->dwStyle) : 0; }
HINSTANCE GetWindowInstance(HWND hWnd) { return IsWindow(hWnd) ? hWnd->hInstance : nullptr; }

BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString) {
  if (!IsWindow(hWnd)) return FALSE;
  return SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString ? lpString : "")) ? TRUE : FALSE;
}

int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  if (!IsWindow(hWnd)) return 0;
  return static_cast<int>(SendMessageA(hWnd, WM_GETTEXT, static_cast<WPARAM>(std::max(0, nMaxCount)),
                                       reinterpret_cast<LPARAM>(lpString)));
}

int GetWindowTextLengthA(HWND hWnd) {
  return IsWindow(hWnd) ? static_cast<int>(SendMessageA(hWnd, WM_GETTEXTLENGTH, 0, 0)) : 0;
}

BOOL GetClientRect(HWND hWnd, LPRECT lpRect) {
  if (!IsWindow(hWnd) || !lpRect) return FALSE;
  *lpRect = hWnd->ClientRect();
  return TRUE;
}

BOOL GetWindowRect(HWND hWnd, LPRECT lpRect) {
  if (!IsWindow(hWnd) || !lpRect) return FALSE;
  *lpRect = hWnd->rcWindow;
  return TRUE;
}

BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
  if (!IsWindow(hWnd) || !lpPoint) return FALSE;
  for (HWND h = hWnd; h != nullptr; h = h->hParent) {
    lpPoint->x += h->rcWindow.left + h->rcNonClient.left;
    lpPoint->y += h->rcWindow.top + h->rcNonClient.top;
  }
  return TRUE;
}

BOOL MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
  if (!IsWindow(hWnd)) return FALSE;
  hWnd->rcWindow = CRect(x, y, x + std::max(0, nWidth), y + std::max(0, nHeight));
  if (!hWnd->hParent && State().backend) State().backend->MoveTopLevel(hWnd);
  CRect client = hWnd->ClientRect();
  Dispatch(hWnd, WM_SIZE, 0, MAKELPARAM(client.Width(), client.Height()));
  if (bRepaint) MarkForPaint(hWnd->hParent ? hWnd->hParent : hWnd);
  return TRUE;
}

BOOL InvalidateRect(HWND hWnd, const RECT*, BOOL) {
  if (!IsWindow(hWnd)) return FALSE;
  MarkForPaint(hWnd);
  return TRUE;
}

BOOL UpdateWindow(HWND hWnd) {
  HWND top = TopLevelOf(hWnd);
  if (!IsWindow(top)) return FALSE;
  if (top->bNeedsPaint) PaintTopLevel(top);
  return TRUE;
}

HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint) {
  if (!IsWindow(hWnd) || !hWnd->hPaintDC) return nullptr;
  if (lpPaint) *lpPaint = PAINTSTRUCT{hWnd->hPaintDC, FALSE, hWnd->ClientRect()};
  return hWnd->hPaintDC;
}

BOOL EndPaint(HWND, const PAINTSTRUCT*) { return TRUE; }

UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  WindowState& s = State();
  if (hWnd && !IsWindow(hWnd)) return 0;
  uElapse = std::clamp(uElapse, 10u, 0x7FFFFFFFu);
  DWORD due = AfxGetFrameworkTime() + uElapse;
  for (Timer& t : s.timers)
    if (t.hWnd == hWnd && t.nID == nIDEvent) {
      t = Timer{hWnd, nIDEvent, uElapse, due, lpTimerFunc};
      return nIDEvent;
    }
  if (!hWnd && nIDEvent == 0) {
    // Timers without a window get an id of their own.
    static UINT_PTR next = 0x7FFF0000;
    nIDEvent = ++next;
  }
  s.timers.push_back(Timer{hWnd, nIDEvent, uElapse, due, lpTimerFunc});
  UpdateWaitSource();
  Wake();
  return nIDEvent ? nIDEvent : 1;
}

BOOL KillTimer(HWND hWnd, UINT_PTR nIDEvent) {
  auto& timers = State().timers;
  auto it = std::find_if(timers.begin(), timers.end(),
                         [&](const Timer& t) { return t.hWnd == hWnd && t.nID == nIDEvent; });
  if (it == timers.end()) return FALSE;
  timers.erase(it);
  UpdateWaitSource();
  return TRUE;
}

HWND SetFocus(HWND hWnd) {
  HWND old = State().hFocus;
  if (IsWindow(hWnd)) State().hFocus = hWnd;
  return old;
}

HWND GetFocus() { return State().hFocus; }

DWORD AfxGetFrameworkTime() { return State().bManualClock ? State().nManualNow : RealNow(); }

void AfxSetManualClock(BOOL bManual) {
  WindowState& s = State();
  if (static_cast<bool>(bManual) == s.bManualClock) return;
  // Timers keep their remaining time across the switch.
  DWORD before = AfxGetFrameworkTime();
  s.bManualClock = bManual;
  s.nManualNow = bManual ? 0 : s.nManualNow;
  DWORD after = AfxGetFrameworkTime();
  for (Timer& t : s.timers) t.nDue = t.nDue - before + after;
}

void AfxAdvanceFrameworkTime(DWORD nMilliseconds) {
  WindowState& s = State();
  if (!s.bManualClock) return;
  const DWORD target = s.nManualNow + nMilliseconds;
  for (;;) {
    PumpRound();
    // The earliest timer due no later than the target.
    bool found = false;
    DWORD next = target;
    for (const Timer& t : s.timers)
      if (static_cast<std::int32_t>(t.nDue - next) <= 0) next = t.nDue, found = true;
    if (!found) break;
    if (static_cast<std::int32_t>(next - s.nManualNow) > 0) s.nManualNow = next;
    FireDueTimers(s.nManualNow);
  }
  s.nManualNow = target;
  PumpRound();
}

void AfxSetWindowBackend(AfxWindowBackend backend) { State().requested = backend; }

AfxWindowBackend AfxGetWindowBackend() {
  return State().backend ? State().backend->Kind() : AfxWindowBackend::Auto;
}

const CRasterSurface* AfxGetWindowSurface(HWND hWnd) {
  if (!IsWindow(hWnd) || hWnd->hParent) return nullptr;
  if (hWnd->bNeedsPaint || !hWnd->pSurface) PaintTopLevel(hWnd);
  return hWnd->pSurface.get();
}

unsigned long AfxGetX11Window(HWND hWnd) { return IsWindow(hWnd) ? hWnd->nX11Window : 0; }

BOOL AfxPumpPendingMessages() {
  bool any = false;
  // Rounds until nothing is left, bounded so that a window that keeps posting cannot hang the caller.
  for (int round = 0; round < 64 && PumpRound(); ++round) any = true;
  return any;
}

BOOL AfxPumpMessage() {
  WindowState& s = State();
  if (s.bQuit) return FALSE;
  if (!AfxPumpPendingMessages()) {
    Backend();
    if (s.topLevels.empty() && s.timers.empty() && s.posted.empty()) return !s.bQuit;
    AfxBlockingWait(s.nWakeFd, POLLIN, -1, -1);
    DrainWake();
    AfxPumpPendingMessages();
  }
  return s.bQuit ? FALSE : TRUE;
}

int AfxRunMessageLoop() {
  WindowState& s = State();
  LONG idleCount = 0;
  while (!s.bQuit) {
    if (AfxPumpPendingMessages()) {
      idleCount = 0;
      continue;
    }
    if (AfxOnIdle(idleCount++)) continue;
    Backend();
    AfxBlockingWait(s.nWakeFd, POLLIN, -1, -1);
    DrainWake();
    idleCount = 0;
  }
  s.bQuit = false;
  return s.nQuitCode;
}

BOOL AfxOnIdle(LONG lCount) {
  if (lCount > 0) return FALSE;  // one update per idle period is enough
  std::vector<HWND> tops = State().topLevels;
  for (HWND h : tops)
    if (IsWindowVisible(h)) CWnd::FromHandle(h)->SendMessageToDescendants(WM_IDLEUPDATECMDUI, TRUE, 0, TRUE);
  return FALSE;
}

AFX_CALLWNDPROC_HOOK AfxSetCallWndProcHook(AFX_CALLWNDPROC_HOOK pfnHook) {
  std::swap(State().pfnHook, pfnHook);
  return pfnHook;
}

const std::vector<HWND>& AfxTopLevelWindows() { return State().topLevels; }

CWnd::CWnd() = default;

CWnd::~CWnd() {
  if (m_hWnd && State().live.count(m_hWnd) && !m_bTemporary) {
    HWND h = m_hWnd;
    ::DestroyWindow(h);
    if (m_hWnd) Detach();
  }
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  if (!hWnd || !State().live.count(hWnd)) return nullptr;
  auto temp = State().temporaries.find(hWnd);
  if (temp != State().temporaries.end() && temp->second == hWnd->pWnd) return nullptr;
  return hWnd->pWnd;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
  if (!hWnd || !State().live.count(hWnd)) return nullptr;
  if (hWnd->pWnd) return hWnd->pWnd;
  auto temp = State().temporaries.find(hWnd);
  if (temp != State().temporaries.end()) return temp->second;
  // A stand-in that only names the window: it is not attached, so the
  // window's messages still go to its class procedure.
  CWnd* p = new CWnd;
  p->m_hWnd = hWnd;
  p->m_bTemporary = TRUE;
  State().temporaries[hWnd] = p;
  return p;
}

BOOL CWnd::Attach(HWND hWnd) {
  if (!hWnd || !State().live.count(hWnd) || hWnd->pWnd || m_hWnd) return FALSE;
  m_hWnd = hWnd;
  hWnd->pWnd = this;
  return TRUE;
}

HWND CWnd::Detach() {
  HWND h = m_hWnd;
  if (h && State().live.count(h) && h->pWnd == this) h->pWnd = nullptr;
  m_hWnd = nullptr;
  return h;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
  if (!hWnd || !State().live.count(hWnd)) return FALSE;
  // A temporary stand-in gives way to the real object.
  auto temp = State().temporaries.find(hWnd);
  if (temp != State().temporaries.end()) {
    CWnd* p = temp->second;
    State().temporaries.erase(temp);
    p->m_hWnd = nullptr;
    delete p;
  }
  if (!Attach(hWnd)) return FALSE;
  m_pfnSuper = hWnd->pfnClassProc;
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
  return pParent ? SubclassWindow(::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID))) : FALSE;
}

BOOL CWnd::Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID) {
  return CreateEx(0, lpszClassName, lpszWindowName, dwStyle, rect, pParentWnd, nID);
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                    const RECT& rect, CWnd* pParentWnd, UINT nID) {
  if (m_hWnd) return FALSE;
  State().pWndInit = this;
  HWND h = CreateWindowExA(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top,
                           pParentWnd ? pParentWnd->m_hWnd : nullptr, nID, nullptr, nullptr);
  State().pWndInit = nullptr;
  return h != nullptr && m_hWnd == h ? TRUE : FALSE;
}

BOOL CWnd::DestroyWindow() { return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE; }

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

void CWnd::SendMessageToDescendants(UINT message, WPARAM wParam, LPARAM lParam, BOOL bDeep) {
  if (!IsWindow(m_hWnd)) return;
  std::vector<HWND> children = m_hWnd->children;
  for (HWND c : children) {
    if (!IsWindow(c)) continue;
    ::SendMessageA(c, message, wParam, lParam);
    if (bDeep && IsWindow(c)) CWnd::FromHandle(c)->SendMessageToDescendants(message, wParam, lParam, TRUE);
  }
}

BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
CWnd* CWnd::GetParent() const { return CWnd::FromHandle(::GetParent(m_hWnd)); }
CWnd* CWnd::GetDlgItem(int nID) const { return CWnd::FromHandle(::GetDlgItem(m_hWnd, nID)); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
DWORD CWnd::GetStyle() const { return static_cast<DWORD>(::GetWindowStyle(m_hWnd)); }
void CWnd::SetWindowText(LPCSTR lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }

void CWnd::GetWindowText(CString& rString) const {
  int n = ::GetWindowTextLengthA(m_hWnd);
  std::string buf(static_cast<size_t>(n) + 1, '\0');
  n = ::GetWindowTextA(m_hWnd, buf.data(), n + 1);
  rString = CString(buf.data(), n);
}

CString CWnd::GetWindowText() const {
  CString s;
  GetWindowText(s);
  return s;
}

void CWnd::GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
void CWnd::GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
  ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}
void CWnd::MoveWindow(const RECT& rc, BOOL bRepaint) {
  ::MoveWindow(m_hWnd, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, bRepaint);
}
void CWnd::Invalidate(BOOL bErase) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
void CWnd::UpdateWindow() { ::UpdateWindow(m_hWnd); }
void CWnd::SetFont(HFONT hFont, BOOL bRedraw) {
  SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(hFont), bRedraw);
}
HFONT CWnd::GetFont() const { return reinterpret_cast<HFONT>(::SendMessageA(m_hWnd, WM_GETFONT, 0, 0)); }

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
  return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}
BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  if (!IsWindow(m_hWnd)) return FALSE;
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return dx.m_bFailed ? FALSE : TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
  static const AFX_MSGMAP map = {nullptr, entries};
  return &map;
}

BOOL CWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra) {
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr)
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfnThunk; ++e)
      if (e->nMessage == WM_COMMAND && e->nCode == nCode && nID >= e->nID && nID <= e->nLastID) {
        e->pfnThunk(this, nID, reinterpret_cast<LPARAM>(pExtra));
        return TRUE;
      }
  return FALSE;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  if (message == WM_COMMAND) {
    // wParam: notification code in the high word, id in the low word.
    if (OnCmdMsg(LOWORD(wParam), static_cast<short>(HIWORD(wParam)), nullptr)) {
      *pResult = 0;
      return TRUE;
    }
    return FALSE;
  }
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr)
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfnThunk; ++e)
      if (e->nMessage == message && message != WM_COMMAND) {
        *pResult = e->pfnThunk(this, wParam, lParam);
        return TRUE;
      }
  return FALSE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
  return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return m_pfnSuper(m_hWnd, message, wParam, lParam);
  return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() { return DefWindowProc(t_current.message, t_current.wParam, t_current.lParam); }

void CWnd::PostNcDestroy() {}

void CWnd::OnDestroy() { Default(); }
void CWnd::OnPaint() { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnClose() { Default(); }

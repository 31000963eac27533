// Windows: handles, messages, the CWnd object with its message map, timers,
// the framework clock and the message loop. A window is a record behind an
// HWND; a CWnd is the framework object attached to it. Messages go to the
// attached object's WindowProc, which looks them up in its class's message map
// and its bases' maps, and otherwise to the window class's own procedure.
//
// Top-level windows render into a raster surface. The headless backend stops
// there (tests read the pixels); the X11 backend puts each top-level window on
// the screen as a real X window. The choice is made when the first window is
// created: X11 when DISPLAY names a display that can be opened, unless the host
// forced headless with AfxSetWindowBackend.
#pragma once

#include "framework/cmd_target.h"
#include "framework/gdi.h"
#include "framework/gdi_types.h"
#include "framework/string.h"
#include "framework/win_types.h"

struct HWND__;
using HWND = HWND__*;
class CWnd;
class CCmdUI;
class CRasterSurface;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }
constexpr WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }
constexpr LPARAM MAKELPARAM(int lo, int hi) {
  return static_cast<LPARAM>(static_cast<DWORD>(static_cast<WORD>(lo)) | (static_cast<DWORD>(static_cast<WORD>(hi)) << 16));
}
constexpr WPARAM MAKEWPARAM(int lo, int hi) { return static_cast<WPARAM>(MAKELPARAM(lo, hi)); }
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
};

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
};

// Messages.
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_SETFOCUS = 0x0007;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SHOWWINDOW = 0x0018;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_NCCREATE = 0x0081;
constexpr UINT WM_NCDESTROY = 0x0082;
constexpr UINT WM_NCPAINT = 0x0085;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_TIMER = 0x0113;
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_IDLEUPDATECMDUI = 0x0363;

// Virtual keys that windows react to.
constexpr UINT VK_RETURN = 0x0D;
constexpr UINT VK_ESCAPE = 0x1B;

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001;

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// Colours of the window frame and faces.
constexpr COLORREF AFX_CLR_FACE = RGB(192, 192, 192);
constexpr COLORREF AFX_CLR_HIGHLIGHT = RGB(255, 255, 255);
constexpr COLORREF AFX_CLR_LIGHT = RGB(223, 223, 223);
constexpr COLORREF AFX_CLR_SHADOW = RGB(128, 128, 128);
constexpr COLORREF AFX_CLR_DARKSHADOW = RGB(0, 0, 0);
constexpr COLORREF AFX_CLR_CAPTION = RGB(0, 0, 128);
constexpr COLORREF AFX_CLR_CAPTION_END = RGB(16, 132, 208);
constexpr COLORREF AFX_CLR_CAPTION_TEXT = RGB(255, 255, 255);
constexpr COLORREF AFX_CLR_WINDOW_TEXT = RGB(0, 0, 0);

// Sizes of the non-client area drawn by the framework, in pixels.
constexpr int AFX_CX_DLGFRAME = 3;
constexpr int AFX_CX_BORDER = 1;
constexpr int AFX_CY_CAPTION = 18;

// Commands and update requests.
constexpr int CN_COMMAND = 0;
constexpr int CN_UPDATE_COMMAND_UI = -1;

// A message map entry: which message (and, for commands, which notification
// code and id range) and the function that unpacks the message and calls the
// handler on the object.
using AFX_PMSGTHUNK = LRESULT (*)(CWnd* pWnd, WPARAM wParam, LPARAM lParam);
struct AFX_MSGMAP_ENTRY {
  UINT nMessage;
  int nCode;
  UINT nID;
  UINT nLastID;
  AFX_PMSGTHUNK pfnThunk;
};
struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                         \
 protected:                                           \
  static const AFX_MSGMAP* GetThisMessageMap();       \
  const AFX_MSGMAP* GetMessageMap() const override;   \
                                                      \
 private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                 \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                            \
    using ThisClass = theClass;                                                \
    using TheBaseClass = baseClass;                                            \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                      \
  {0, 0, 0, 0, nullptr}                                                        \
  }                                                                            \
  ;                                                                            \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                          \
  }

#define AFX_THIS(p) static_cast<ThisClass*>(p)

#define ON_WM_DESTROY() \
  {WM_DESTROY, 0, 0, 0, [](CWnd* p, WPARAM, LPARAM) -> LRESULT { AFX_THIS(p)->OnDestroy(); return 0; }},
#define ON_WM_PAINT() \
  {WM_PAINT, 0, 0, 0, [](CWnd* p, WPARAM, LPARAM) -> LRESULT { AFX_THIS(p)->OnPaint(); return 0; }},
#define ON_WM_TIMER()                                        \
  {WM_TIMER, 0, 0, 0, [](CWnd* p, WPARAM w, LPARAM) -> LRESULT { \
     AFX_THIS(p)->OnTimer(static_cast<UINT_PTR>(w));         \
     return 0;                                               \
   }},
#define ON_WM_CLOSE() \
  {WM_CLOSE, 0, 0, 0, [](CWnd* p, WPARAM, LPARAM) -> LRESULT { AFX_THIS(p)->OnClose(); return 0; }},
// A handler of the form LRESULT fn(WPARAM, LPARAM).
#define ON_MESSAGE(message, memberFxn) \
  {message, 0, 0, 0, [](CWnd* p, WPARAM w, LPARAM l) -> LRESULT { return AFX_THIS(p)->memberFxn(w, l); }},
// A handler of the form void fn() for command id.
#define ON_COMMAND(id, memberFxn) \
  {WM_COMMAND, CN_COMMAND, id, id, [](CWnd* p, WPARAM, LPARAM) -> LRESULT { AFX_THIS(p)->memberFxn(); return 0; }},
// A handler of the form void fn(CCmdUI*) answering update requests for id.
#define ON_UPDATE_COMMAND_UI(id, memberFxn)                                   \
  {WM_COMMAND, CN_UPDATE_COMMAND_UI, id, id, [](CWnd* p, WPARAM, LPARAM l) -> LRESULT { \
     AFX_THIS(p)->memberFxn(reinterpret_cast<CCmdUI*>(l));                    \
     return 0;                                                                \
   }},

class AFX_EXT_CLASS CWnd : public CCmdTarget {
public:
  CWnd();
  // Destroys a window that is still attached (its own messages then reach
  // only CWnd's handlers, since the derived parts are gone).
  ~CWnd() override;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }
  operator HWND() const { return m_hWnd; }

  // The framework object attached to a window; for a window without one, a
  // temporary object attached to it, valid until the window is destroyed.
  static CWnd* FromHandle(HWND hWnd);
  // The attached object or null.
  static CWnd* FromHandlePermanent(HWND hWnd);
  BOOL Attach(HWND hWnd);
  HWND Detach();
  // Attaches this object to an existing window, so that its messages go
  // through this object's message map before the window's own procedure.
  BOOL SubclassWindow(HWND hWnd);
  BOOL SubclassDlgItem(UINT nID, CWnd* pParent);

  virtual BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                      CWnd* pParentWnd, UINT nID);
  virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                        const RECT& rect, CWnd* pParentWnd, UINT nID);
  virtual BOOL DestroyWindow();

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  void SendMessageToDescendants(UINT message, WPARAM wParam = 0, LPARAM lParam = 0, BOOL bDeep = TRUE);

  BOOL IsWindowVisible() const;
  BOOL ShowWindow(int nCmdShow);
  CWnd* GetParent() const;
  CWnd* GetDlgItem(int nID) const;
  int GetDlgCtrlID() const;
  DWORD GetStyle() const;
  void SetWindowText(LPCSTR lpszString);
  void GetWindowText(CString& rString) const;
  CString GetWindowText() const;
  void GetClientRect(LPRECT lpRect) const;
  void GetWindowRect(LPRECT lpRect) const;
  void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
  void MoveWindow(const RECT& rc, BOOL bRepaint = TRUE);
  void Invalidate(BOOL bErase = TRUE);
  void UpdateWindow();
  void SetFont(HFONT hFont, BOOL bRedraw = TRUE);
  HFONT GetFont() const;

  UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
  BOOL KillTimer(UINT_PTR nIDEvent);

  // Moves data between the members and the controls: FALSE fills the
  // controls (as at start-up), TRUE reads them back.
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // Routes a command or an update request (nCode CN_UPDATE_COMMAND_UI with a
  // CCmdUI) through the message maps; TRUE if a handler took it.
  virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra);

  virtual const AFX_MSGMAP* GetMessageMap() const;

protected:
  static const AFX_MSGMAP* GetThisMessageMap();

  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Looks the message up in the message maps; TRUE and the result if handled.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The default handling of the message being handled now, with its own parameters.
  LRESULT Default();
  // Called after the window is gone (WM_NCDESTROY); the object is detached.
  virtual void PostNcDestroy();
  virtual void DoDataExchange(class CDataExchange* pDX);

  void OnDestroy();
  void OnPaint();
  void OnTimer(UINT_PTR nIDEvent);
  void OnClose();

  friend LRESULT AfxCallWndProc(CWnd* pWnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
  WNDPROC m_pfnSuper = nullptr;  // the window class's procedure, for messages the maps leave
  BOOL m_bTemporary = FALSE;     // made by FromHandle for a window without an object
};

// The dispatch of one message to a window's attached object.
AFX_API_EXPORT LRESULT AfxCallWndProc(CWnd* pWnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Window classes: a name (or a predefined atom) and the procedure of its windows.
AFX_API_EXPORT BOOL AfxRegisterWindowClass(LPCSTR lpszClassName, WNDPROC pfnWndProc, WORD nAtom = 0);
// The name of the predefined class with this atom, or null.
AFX_API_EXPORT LPCSTR AfxClassNameFromAtom(WORD nAtom);

// The window API by handle.
AFX_API_EXPORT HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                                    int x, int y, int nWidth, int nHeight, HWND hWndParent, UINT nID,
                                    HINSTANCE hInstance, LPVOID lpParam);
AFX_API_EXPORT BOOL DestroyWindow(HWND hWnd);
AFX_API_EXPORT BOOL IsWindow(HWND hWnd);
AFX_API_EXPORT LRESULT SendMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
AFX_API_EXPORT LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
AFX_API_EXPORT BOOL PostMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
AFX_API_EXPORT BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
AFX_API_EXPORT void PostQuitMessage(int nExitCode);
AFX_API_EXPORT LRESULT DefWindowProcA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
AFX_API_EXPORT BOOL IsWindowVisible(HWND hWnd);
AFX_API_EXPORT BOOL ShowWindow(HWND hWnd, int nCmdShow);
AFX_API_EXPORT HWND GetParent(HWND hWnd);
AFX_API_EXPORT HWND GetDlgItem(HWND hDlg, int nID);
AFX_API_EXPORT int GetDlgCtrlID(HWND hWnd);
AFX_API_EXPORT LONG GetWindowStyle(HWND hWnd);
AFX_API_EXPORT HINSTANCE GetWindowInstance(HWND hWnd);
AFX_API_EXPORT BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
AFX_API_EXPORT int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
AFX_API_EXPORT int GetWindowTextLengthA(HWND hWnd);
AFX_API_EXPORT BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
// The window's rectangle: for a child in its parent's client coordinates,
// for a top-level window on the screen.
AFX_API_EXPORT BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
AFX_API_EXPORT BOOL MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint);
AFX_API_EXPORT BOOL InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
AFX_API_EXPORT BOOL UpdateWindow(HWND hWnd);
AFX_API_EXPORT HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint);
AFX_API_EXPORT BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);
AFX_API_EXPORT UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
AFX_API_EXPORT BOOL KillTimer(HWND hWnd, UINT_PTR nIDEvent);
AFX_API_EXPORT HWND SetFocus(HWND hWnd);
AFX_API_EXPORT HWND GetFocus();

// The framework clock, in milliseconds, that timers run on. It follows the
// system's monotonic clock unless a test switches it to manual; then it moves
// only through AfxAdvanceFrameworkTime.
AFX_API_EXPORT DWORD AfxGetFrameworkTime();
AFX_API_EXPORT void AfxSetManualClock(BOOL bManual);
// Moves a manual clock forward, firing every timer that falls due on the way
// in the order of its due time, and handling what those timers post.
AFX_API_EXPORT void AfxAdvanceFrameworkTime(DWORD nMilliseconds);

// The window backend. Auto picks X11 when a display can be opened, headless
// otherwise; the choice is fixed at the first window until every window is
// gone.
enum class AfxWindowBackend { Auto, Headless, X11 };
AFX_API_EXPORT void AfxSetWindowBackend(AfxWindowBackend backend);
// The backend in use (Auto while no window exists).
AFX_API_EXPORT AfxWindowBackend AfxGetWindowBackend();
// The pixels of a top-level window, frame and caption included, as last
// painted; null for a child window or no window. Paints what is pending first.
AFX_API_EXPORT const CRasterSurface* AfxGetWindowSurface(HWND hWnd);
// The X window id of a top-level window under the X11 backend, else 0.
AFX_API_EXPORT unsigned long AfxGetX11Window(HWND hWnd);

// The message loop. AfxPumpPendingMessages handles everything that is ready
// (display events, posted messages, due timers, painting) without waiting and
// returns TRUE if it did anything. AfxPumpMessage waits until something is
// ready, handles it and returns FALSE once WM_QUIT was posted.
// AfxRunMessageLoop pumps until WM_QUIT, sending WM_IDLEUPDATECMDUI through
// AfxOnIdle whenever the queue runs empty, and returns the quit code.
AFX_API_EXPORT BOOL AfxPumpPendingMessages();
AFX_API_EXPORT BOOL AfxPumpMessage();
AFX_API_EXPORT int AfxRunMessageLoop();
// Idle work: sends WM_IDLEUPDATECMDUI (wParam TRUE) to every descendant of
// every visible top-level window, so that control bars update their panes.
AFX_API_EXPORT BOOL AfxOnIdle(LONG lCount);

// Observes every message as it is sent to a window procedure, before it
// runs; for diagnostics and tests. Null removes the hook.
using AFX_CALLWNDPROC_HOOK = void (*)(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
AFX_API_EXPORT AFX_CALLWNDPROC_HOOK AfxSetCallWndProcHook(AFX_CALLWNDPROC_HOOK pfnHook);

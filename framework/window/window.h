// SPDX-License-Identifier: Apache-2.0
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

#include "framework/core/cmd_target.h"
#include "framework/core/string.h"
#include "framework/core/win_types.h"
#include "framework/gdi/gdi.h"
#include "framework/gdi/gdi_types.h"

struct HWND__;
using HWND = HWND__*;  // a window
class CWnd;
class CCmdUI;
class CRasterSurface;

// A window class's procedure: handles one message, returns its result.
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr WORD LOWORD(std::uintptr_t v) { return static_cast<WORD>(v & 0xFFFF); }          // the low 16 bits
constexpr WORD HIWORD(std::uintptr_t v) { return static_cast<WORD>((v >> 16) & 0xFFFF); }  // bits 16 to 31
// lo in the low word and hi in the high word of a message parameter.
constexpr LPARAM MAKELPARAM(int lo, int hi) {
  return static_cast<LPARAM>(static_cast<DWORD>(static_cast<WORD>(lo)) | (static_cast<DWORD>(static_cast<WORD>(hi)) << 16));
}
// The same as MAKELPARAM, for a WPARAM.
constexpr WPARAM MAKEWPARAM(int lo, int hi) { return static_cast<WPARAM>(MAKELPARAM(lo, hi)); }
// Called when a timer falls due: the window, WM_TIMER, the timer's id and the framework time.
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// One posted message.
struct MSG {
  HWND hwnd;       // the window; null for a message to the thread (WM_QUIT)
  UINT message;    // the message
  WPARAM wParam;   // its first parameter
  LPARAM lParam;   // its second parameter
  DWORD time;      // the framework time when it was posted
};

// What BeginPaint hands the paint code.
struct PAINTSTRUCT {
  HDC hdc;       // the device context to paint with
  BOOL fErase;   // always FALSE: the framework erases the background itself
  RECT rcPaint;  // the area to paint: the whole client area
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
// One entry of a message map (see above).
struct AFX_MSGMAP_ENTRY {
  UINT nMessage;           // the message
  int nCode;               // for WM_COMMAND: CN_COMMAND or CN_UPDATE_COMMAND_UI
  UINT nID;                // for WM_COMMAND: the first id of the range
  UINT nLastID;            // for WM_COMMAND: the last id of the range
  AFX_PMSGTHUNK pfnThunk;  // calls the handler; null ends the map
};
// A class's message map: its entries and the way to its base class's map.
struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();  // the base class's map; null for CWnd's
  const AFX_MSGMAP_ENTRY* lpEntries;     // the entries, ended by one with a null thunk
};

// Declares a class's message map (in the class body, after the members).
#define DECLARE_MESSAGE_MAP()                         \
 protected:                                           \
  static const AFX_MSGMAP* GetThisMessageMap();       \
  const AFX_MSGMAP* GetMessageMap() const override;   \
                                                      \
 private:

// Starts the definition of theClass's message map (in the .cpp); entries
// (ON_...) follow, then END_MESSAGE_MAP.
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                 \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                            \
    using ThisClass = theClass;                                                \
    using TheBaseClass = baseClass;                                            \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {

// Ends the definition started by BEGIN_MESSAGE_MAP.
#define END_MESSAGE_MAP()                                                      \
  {0, 0, 0, 0, nullptr}                                                        \
  }                                                                            \
  ;                                                                            \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                          \
  }

// Inside a message map: the window object p as the map's class.
#define AFX_THIS(p) static_cast<ThisClass*>(p)

// WM_DESTROY to OnDestroy().
#define ON_WM_DESTROY() \
  {WM_DESTROY, 0, 0, 0, [](CWnd* p, WPARAM, LPARAM) -> LRESULT { AFX_THIS(p)->OnDestroy(); return 0; }},
// WM_PAINT to OnPaint().
#define ON_WM_PAINT() \
  {WM_PAINT, 0, 0, 0, [](CWnd* p, WPARAM, LPARAM) -> LRESULT { AFX_THIS(p)->OnPaint(); return 0; }},
// WM_TIMER to OnTimer(id).
#define ON_WM_TIMER()                                        \
  {WM_TIMER, 0, 0, 0, [](CWnd* p, WPARAM w, LPARAM) -> LRESULT { \
     AFX_THIS(p)->OnTimer(static_cast<UINT_PTR>(w));         \
     return 0;                                               \
   }},
// WM_CLOSE to OnClose().
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

// The framework object of a window. Calls on an object without a live
// window do nothing and return FALSE, 0 or null.
class AFX_EXT_CLASS CWnd : public CCmdTarget {
public:
  CWnd();
  // Destroys a window that is still attached (its own messages then reach
  // only CWnd's handlers, since the derived parts are gone).
  ~CWnd() override;

  HWND m_hWnd = nullptr;  // the attached window; null when none
  // The attached window (may be null).
  HWND GetSafeHwnd() const { return m_hWnd; }
  // The attached window (may be null).
  operator HWND() const { return m_hWnd; }

  // The framework object attached to a window; for a window without one, a
  // temporary object attached to it, valid until the window is destroyed.
  static CWnd* FromHandle(HWND hWnd);
  // The attached object or null.
  static CWnd* FromHandlePermanent(HWND hWnd);
  // Attaches this object to a live window; FALSE if the window has an
  // object already or this object has a window.
  BOOL Attach(HWND hWnd);
  // Lets go of the window without destroying it and returns it.
  HWND Detach();
  // Attaches this object to an existing window, so that its messages go
  // through this object's message map before the window's own procedure.
  // FALSE for a window that is not live or already has an object.
  BOOL SubclassWindow(HWND hWnd);
  // Subclasses the child nID of pParent; FALSE if there is none.
  BOOL SubclassDlgItem(UINT nID, CWnd* pParent);

  // Creates a window of the class, attached to this object, with rect in the
  // parent's client coordinates (on the screen for a top-level window);
  // FALSE if the object has a window already or the class is unknown.
  virtual BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                      CWnd* pParentWnd, UINT nID);
  // Create with an extended style.
  virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                        const RECT& rect, CWnd* pParentWnd, UINT nID);
  // Destroys the window and its children (see ::DestroyWindow); FALSE if there is none.
  virtual BOOL DestroyWindow();

  // Sends the message to the window at once; its result (0 without a window).
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  // Queues the message for the message loop; FALSE if the window is not live.
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
  // Sends the message to every child (and, with bDeep, their children).
  void SendMessageToDescendants(UINT message, WPARAM wParam = 0, LPARAM lParam = 0, BOOL bDeep = TRUE);

  // TRUE when the window and all its parents are visible.
  BOOL IsWindowVisible() const;
  // Shows (any command but SW_HIDE) or hides the window; TRUE if it was visible before.
  BOOL ShowWindow(int nCmdShow);
  // The parent's object (a temporary one if it has none); null for a top-level window.
  CWnd* GetParent() const;
  // The child with id nID (its object, or a temporary one); null if none.
  CWnd* GetDlgItem(int nID) const;
  // The window's id.
  int GetDlgCtrlID() const;
  // The window's WS_ style bits.
  DWORD GetStyle() const;
  // Sets the window's text (WM_SETTEXT).
  void SetWindowText(LPCSTR lpszString);
  // The window's text (WM_GETTEXT); empty without a window.
  void GetWindowText(CString& rString) const;
  CString GetWindowText() const;
  // The client area, with its top-left corner at 0, 0.
  void GetClientRect(LPRECT lpRect) const;
  // See ::GetWindowRect.
  void GetWindowRect(LPRECT lpRect) const;
  // Moves and sizes the window (see ::MoveWindow).
  void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
  void MoveWindow(const RECT& rc, BOOL bRepaint = TRUE);
  // Marks the whole window for painting.
  void Invalidate(BOOL bErase = TRUE);
  // Paints the window's top-level window now if anything in it is marked.
  void UpdateWindow();
  // Sets the window's font (WM_SETFONT); the caller keeps owning it.
  void SetFont(HFONT hFont, BOOL bRedraw = TRUE);
  // The window's font (WM_GETFONT); null for none.
  HFONT GetFont() const;

  // See ::SetTimer, for this window.
  UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
  // See ::KillTimer, for this window.
  BOOL KillTimer(UINT_PTR nIDEvent);

  // Moves data between the members and the controls: FALSE fills the
  // controls (as at start-up), TRUE reads them back. FALSE without a window
  // or when a control was missing.
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // Routes a command or an update request (nCode CN_UPDATE_COMMAND_UI with a
  // CCmdUI) through the message maps; TRUE if a handler took it.
  virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra);

  // The message map of the object's class.
  virtual const AFX_MSGMAP* GetMessageMap() const;

protected:
  // CWnd's own map, which is empty.
  static const AFX_MSGMAP* GetThisMessageMap();

  // Handles one message: the message maps first, then DefWindowProc.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Looks the message up in the message maps; TRUE and the result if handled.
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
  // The window class's procedure for a subclassed window, else ::DefWindowProcA.
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // The default handling of the message being handled now, with its own parameters.
  LRESULT Default();
  // Called after the window is gone (WM_NCDESTROY); the object is detached.
  virtual void PostNcDestroy();
  // Moves data between members and controls (DDX_ calls); CWnd's does nothing.
  virtual void DoDataExchange(class CDataExchange* pDX);

  // The default handling (Default()) of WM_DESTROY, for handlers of derived
  // classes to call; likewise the three below.
  void OnDestroy();
  // The default handling of WM_PAINT.
  void OnPaint();
  // The default handling of WM_TIMER.
  void OnTimer(UINT_PTR nIDEvent);
  // The default handling of WM_CLOSE.
  void OnClose();

  friend LRESULT AfxCallWndProc(CWnd* pWnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

private:
  WNDPROC m_pfnSuper = nullptr;  // the window class's procedure, for messages the maps leave
  BOOL m_bTemporary = FALSE;     // made by FromHandle for a window without an object
};

// The dispatch of one message to a window's attached object.
AFX_API_EXPORT LRESULT AfxCallWndProc(CWnd* pWnd, HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// Window classes: a name (or a predefined atom) and the procedure of its
// windows. FALSE for an empty name, a null procedure or a name already taken.
AFX_API_EXPORT BOOL AfxRegisterWindowClass(LPCSTR lpszClassName, WNDPROC pfnWndProc, WORD nAtom = 0);
// The name of the predefined class with this atom, or null.
AFX_API_EXPORT LPCSTR AfxClassNameFromAtom(WORD nAtom);

// The window API by handle. CreateWindowExA makes a window of a registered
// class (a child of hWndParent with WS_CHILD, else top-level), sends
// WM_NCCREATE and WM_CREATE, and returns it; null for an unknown class, a
// parent that is not live, or when the window refuses WM_NCCREATE (0) or
// WM_CREATE (-1).
AFX_API_EXPORT HWND CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                                    int x, int y, int nWidth, int nHeight, HWND hWndParent, UINT nID,
                                    HINSTANCE hInstance, LPVOID lpParam);
// Destroys the window and its children (WM_DESTROY, WM_NCDESTROY); FALSE
// for a window that is not live.
AFX_API_EXPORT BOOL DestroyWindow(HWND hWnd);
// TRUE for a live window that is not being destroyed.
AFX_API_EXPORT BOOL IsWindow(HWND hWnd);
// Delivers the message at once (to the attached object, else the class's
// procedure); its result, 0 for a window that is not live.
AFX_API_EXPORT LRESULT SendMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// SendMessageA.
AFX_API_EXPORT LRESULT SendMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Queues the message for the message loop (null hWnd: for the loop itself);
// FALSE for a window that is not live.
AFX_API_EXPORT BOOL PostMessageA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// PostMessageA.
AFX_API_EXPORT BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Posts WM_QUIT with the exit code.
AFX_API_EXPORT void PostQuitMessage(int nExitCode);
// The default handling of a message (text, font, painting the background,
// ...); 0 for what needs no handling or a window that is not live.
AFX_API_EXPORT LRESULT DefWindowProcA(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// TRUE when the window and all its parents are visible.
AFX_API_EXPORT BOOL IsWindowVisible(HWND hWnd);
// Shows (any command but SW_HIDE) or hides the window; TRUE if it was
// visible before, FALSE also for a window that is not live.
AFX_API_EXPORT BOOL ShowWindow(HWND hWnd, int nCmdShow);
// The parent; null for a top-level window or one that is not live.
AFX_API_EXPORT HWND GetParent(HWND hWnd);
// The first child with the id; null if none.
AFX_API_EXPORT HWND GetDlgItem(HWND hDlg, int nID);
// The window's id; 0 for a window that is not live.
AFX_API_EXPORT int GetDlgCtrlID(HWND hWnd);
// The window's style bits; 0 for a window that is not live.
AFX_API_EXPORT LONG GetWindowStyle(HWND hWnd);
// The module the window belongs to; null for a window that is not live.
AFX_API_EXPORT HINSTANCE GetWindowInstance(HWND hWnd);
// Sets the window's text (WM_SETTEXT; null: empty); FALSE for a window that
// is not live or that refused it.
AFX_API_EXPORT BOOL SetWindowTextA(HWND hWnd, LPCSTR lpString);
// Copies up to nMaxCount - 1 bytes of the text, zero-terminated; the bytes
// copied, 0 for a window that is not live.
AFX_API_EXPORT int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
// The text's length in bytes; 0 for a window that is not live.
AFX_API_EXPORT int GetWindowTextLengthA(HWND hWnd);
// The client area, with its top-left corner at 0, 0; FALSE for a window
// that is not live or a null pointer.
AFX_API_EXPORT BOOL GetClientRect(HWND hWnd, LPRECT lpRect);
// The window's rectangle: for a child in its parent's client coordinates,
// for a top-level window on the screen.
AFX_API_EXPORT BOOL GetWindowRect(HWND hWnd, LPRECT lpRect);
// Converts a point from the window's client coordinates to the screen's,
// through every parent; FALSE for a window that is not live or a null pointer.
AFX_API_EXPORT BOOL ClientToScreen(HWND hWnd, LPPOINT lpPoint);
// Moves and sizes the window (negative sizes count as 0) and sends WM_SIZE;
// FALSE for a window that is not live.
AFX_API_EXPORT BOOL MoveWindow(HWND hWnd, int x, int y, int nWidth, int nHeight, BOOL bRepaint);
// Marks the window for painting (always all of it); FALSE for a window that is not live.
AFX_API_EXPORT BOOL InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
// Paints the window's top-level window now if anything in it is marked;
// FALSE for a window that is not live.
AFX_API_EXPORT BOOL UpdateWindow(HWND hWnd);
// Inside WM_PAINT: the device context to paint the window with; null
// outside painting or for a window that is not live.
AFX_API_EXPORT HDC BeginPaint(HWND hWnd, PAINTSTRUCT* lpPaint);
// Ends BeginPaint; TRUE.
AFX_API_EXPORT BOOL EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);
// Starts or restarts timer nIDEvent of the window, due every uElapse ms
// (10 at least) of framework time: it calls lpTimerFunc or sends WM_TIMER.
// Returns the id (a fresh one for a timer without window and id), 0 for a
// window that is not live.
AFX_API_EXPORT UINT_PTR SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
// Stops the timer; FALSE if there is no such timer.
AFX_API_EXPORT BOOL KillTimer(HWND hWnd, UINT_PTR nIDEvent);
// Gives the window the focus (a window that is not live changes nothing);
// returns the window that had it.
AFX_API_EXPORT HWND SetFocus(HWND hWnd);
// The window with the focus; null if none.
AFX_API_EXPORT HWND GetFocus();

// The framework clock, in milliseconds, that timers run on. It follows the
// system's monotonic clock unless a test switches it to manual; then it moves
// only through AfxAdvanceFrameworkTime.
AFX_API_EXPORT DWORD AfxGetFrameworkTime();
// Switches the clock to manual (starting at 0) or back; timers keep the
// time they had left.
AFX_API_EXPORT void AfxSetManualClock(BOOL bManual);
// Moves a manual clock forward, firing every timer that falls due on the way
// in the order of its due time, and handling what those timers post.
AFX_API_EXPORT void AfxAdvanceFrameworkTime(DWORD nMilliseconds);

// The window backend. Auto picks X11 when a display can be opened, headless
// otherwise; the choice is fixed at the first window until every window is
// gone.
enum class AfxWindowBackend { Auto, Headless, X11 };
// Asks for a backend; it takes effect when the next first window is made.
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
// Waits until something is ready and handles it; FALSE once WM_QUIT was
// posted. Returns TRUE at once when nothing could ever become ready (no
// windows, timers or posted messages).
AFX_API_EXPORT BOOL AfxPumpMessage();
// Pumps until WM_QUIT, running AfxOnIdle whenever the queue runs empty;
// returns the quit code.
AFX_API_EXPORT int AfxRunMessageLoop();
// Idle work: sends WM_IDLEUPDATECMDUI (wParam TRUE) to every descendant of
// every visible top-level window, so that control bars update their panes.
// Only for lCount 0, the first idle call of a period. Always FALSE: no more
// idle work is wanted.
AFX_API_EXPORT BOOL AfxOnIdle(LONG lCount);

// Observes every message as it is sent to a window procedure, before it
// runs; for diagnostics and tests. Null removes the hook.
using AFX_CALLWNDPROC_HOOK = void (*)(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
// Installs the hook; returns the previous one.
AFX_API_EXPORT AFX_CALLWNDPROC_HOOK AfxSetCallWndProcHook(AFX_CALLWNDPROC_HOOK pfnHook);

// SPDX-License-Identifier: Apache-2.0
// The progress dialog on a real X server (a private Xvfb): it appears as a
// real window with its size and caption, screenshots show the status text and
// a moving animation, and it keeps animating while CSMTP::Connect blocks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "framework/gdi/surface.h"
#include "smtp/smtp.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/smtp_client.h"
#include "tests/support/test_paths.h"
#include "tests/support/time_scale.h"
#include "tests/support/window_fixture.h"
#include "tests/support/xvfb.h"
#include "ui/net_connect.h"

// Xlib's macros (None, Bool, Status) must come after every other header.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using Clock = std::chrono::steady_clock;
using tarvenkel::test::CountPixelsNot;
using tarvenkel::test::Screenshot;
using tarvenkel::test::SurfaceRectOf;
using tarvenkel::test::TakeScreenshot;

// Handles messages on the real clock for a while.
void PumpFor(int ms) {
  auto end = Clock::now() + std::chrono::milliseconds(ms);
  while (Clock::now() < end) {
    AfxPumpPendingMessages();
    ::usleep(2000);
  }
}

class NetConnectX11Test : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    s_server = new tarvenkel::test::XvfbServer;
    if (s_server->Ok()) ::setenv("DISPLAY", s_server->Display().c_str(), 1);
  }
  static void TearDownTestSuite() {
    delete s_server;
    s_server = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(s_server->Ok()) << s_server->Error();
    m_display = XOpenDisplay(s_server->Display().c_str());
    ASSERT_NE(m_display, nullptr);
    AfxSetWindowBackend(AfxWindowBackend::X11);
  }
  void TearDown() override {
    if (m_dlg.m_hWnd) m_dlg.DestroyWindow();
    if (m_display) XCloseDisplay(m_display);
    AfxSetWindowBackend(AfxWindowBackend::Auto);
  }

  // Creates the dialog and waits until the X server shows it.
  void Show(const char* status) {
    m_dlg.Create(nullptr);
    ASSERT_TRUE(::IsWindow(m_dlg.m_hWnd));
    ASSERT_EQ(AfxGetWindowBackend(), AfxWindowBackend::X11);
    m_dlg.SetStatus(status);
    for (int i = 0; i < 200 && !Viewable(); ++i) PumpFor(5);
    ASSERT_TRUE(Viewable());
    PumpFor(50);
  }
  bool Viewable() {
    XWindowAttributes a{};
    return XGetWindowAttributes(m_display, AfxGetX11Window(m_dlg.m_hWnd), &a) && a.map_state == IsViewable;
  }
  Screenshot Shot(const std::string& png = "") {
    Screenshot shot;
    if (!TakeScreenshot(s_server->Display(), shot, png)) {
      ADD_FAILURE() << "no screenshot";
      shot.width = 800, shot.height = 600;
      shot.pixels.assign(800 * 600, 0);
    }
    return shot;
  }
  // The rectangle of a control on the screen.
  CRect OnScreen(int id) {
    CRect rc = SurfaceRectOf(::GetDlgItem(m_dlg.m_hWnd, id)), window;
    m_dlg.GetWindowRect(&window);
    rc.OffsetRect(window.left, window.top);
    return rc;
  }
  static int CountInk(const Screenshot& shot, const CRect& rc) {
    int n = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
      for (int x = rc.left; x < rc.right; ++x) n += shot.At(x, y) != 0xC0C0C0;
    return n;
  }
  static int Differences(const Screenshot& a, const Screenshot& b, const CRect& rc) {
    int n = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
      for (int x = rc.left; x < rc.right; ++x) n += a.At(x, y) != b.At(x, y);
    return n;
  }

  static tarvenkel::test::XvfbServer* s_server;
  Display* m_display = nullptr;
  CNetConnect m_dlg;
};

tarvenkel::test::XvfbServer* NetConnectX11Test::s_server = nullptr;

TEST_F(NetConnectX11Test, AppearsAsARealWindowWithItsSizeAndCaption) {
  Show("");
  Window w = AfxGetX11Window(m_dlg.m_hWnd);
  ASSERT_NE(w, 0u);
  XWindowAttributes a{};
  ASSERT_TRUE(XGetWindowAttributes(m_display, w, &a));
  CRect rc;
  m_dlg.GetWindowRect(&rc);
  EXPECT_EQ(a.width, rc.Width());
  EXPECT_EQ(a.height, rc.Height());
  EXPECT_EQ(a.width, 315 + 2 * AFX_CX_DLGFRAME);
  // The caption, in UTF-8, for window managers and task bars.
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* value = nullptr;
  Atom netWmName = XInternAtom(m_display, "_NET_WM_NAME", False);
  ASSERT_EQ(XGetWindowProperty(m_display, w, netWmName, 0, 64, False, AnyPropertyType, &type, &format, &count,
                               &after, &value),
            Success);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(value), count), "状态显示");
  XFree(value);
}

TEST_F(NetConnectX11Test, ScreenshotShowsTheStatusTextAsPainted) {
  Show("Connecting to 127.0.0.1 ...");
  Screenshot shot = Shot(tarvenkel::test::BinaryPath("net_connect_x11.png"));
  const CRasterSurface& surface = *AfxGetWindowSurface(m_dlg.m_hWnd);
  CRect status = OnScreen(IDC_STATUS), window;
  m_dlg.GetWindowRect(&window);
  int ink = 0, mismatches = 0;
  for (int y = status.top; y < status.bottom; ++y)
    for (int x = status.left; x < status.right; ++x) {
      std::uint32_t px = shot.At(x, y);
      ink += px != 0xC0C0C0;
      COLORREF cr = surface.GetPixel(x - window.left, y - window.top);
      mismatches += px != (DWORD(GetRValue(cr)) << 16 | DWORD(GetGValue(cr)) << 8 | GetBValue(cr));
    }
  EXPECT_GT(ink, 50);
  EXPECT_EQ(mismatches, 0);
  // The caption bar is on the screen too.
  EXPECT_EQ(shot.At(window.left + AFX_CX_DLGFRAME, window.top + AFX_CX_DLGFRAME), 0x000080u);
}

TEST_F(NetConnectX11Test, TwoScreenshots200MsApartDifferInTheAnimation) {
  Show("animating");
  Screenshot first = Shot();
  PumpFor(200);
  Screenshot second = Shot();
  EXPECT_GT(Differences(first, second, OnScreen(IDC_ANIMATE)), 0);
  EXPECT_EQ(Differences(first, second, OnScreen(IDC_STATUS)), 0);
}

TEST_F(NetConnectX11Test, ExposedWindowIsRepaintedFromItsSurface) {
  Show("exposed");
  Window w = AfxGetX11Window(m_dlg.m_hWnd);
  // Clearing the window wipes it to its background and sends an Expose.
  XClearArea(m_display, w, 0, 0, 0, 0, True);
  XSync(m_display, False);
  Screenshot wiped = Shot();
  PumpFor(50);
  Screenshot back = Shot();
  CRect status = OnScreen(IDC_STATUS);
  EXPECT_EQ(CountInk(wiped, status), 0);
  EXPECT_GT(CountInk(back, status), 20);
}

TEST_F(NetConnectX11Test, CloseRequestAndEscapeHideTheDialogWithoutDestroyingIt) {
  Show("closing");
  Window w = AfxGetX11Window(m_dlg.m_hWnd);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
  XSendEvent(m_display, w, False, NoEventMask, &e);
  XFlush(m_display);
  for (int i = 0; i < 200 && m_dlg.IsWindowVisible(); ++i) PumpFor(5);
  EXPECT_FALSE(m_dlg.IsWindowVisible());
  EXPECT_TRUE(::IsWindow(m_dlg.m_hWnd));  // the host still owns it and destroys it
  m_dlg.ShowWindow(SW_SHOW);
  for (int i = 0; i < 200 && !Viewable(); ++i) PumpFor(5);
  XEvent key{};
  key.xkey.type = KeyPress;
  key.xkey.window = w;
  key.xkey.display = m_display;
  key.xkey.keycode = XKeysymToKeycode(m_display, XK_Escape);
  XSendEvent(m_display, w, False, KeyPressMask, &key);
  XFlush(m_display);
  for (int i = 0; i < 200 && m_dlg.IsWindowVisible(); ++i) PumpFor(5);
  EXPECT_FALSE(m_dlg.IsWindowVisible());
}

TEST_F(NetConnectX11Test, WaitCursorGoesToTheWindowLayerWhileWindowsExist) {
  Show("busy");
  AFX_WAIT_CURSOR_HANDLER handler = AfxSetWaitCursorHandler(nullptr);
  AfxSetWaitCursorHandler(handler);
  ASSERT_NE(handler, nullptr);
  m_dlg.BeginWaitCursor();
  PumpFor(20);
  m_dlg.EndWaitCursor();
  EXPECT_EQ(AfxGetApp()->GetWaitCursorCount(), 0);
  m_dlg.DestroyWindow();
  // With the last window gone the handler is withdrawn again.
  EXPECT_EQ(AfxSetWaitCursorHandler(nullptr), nullptr);
}

CSMTP* g_pBlocked = nullptr;
void CancelConnect(HWND, UINT, UINT_PTR nID, DWORD) {
  ::KillTimer(nullptr, nID);
  g_pBlocked->Cancel();
}

TEST_F(NetConnectX11Test, StaysAliveDuringABlockingConnectThatATimerCancels) {
  Show("Connecting ...");
  tarvenkel::test::ScriptedSmtpServer server(tarvenkel::test::SmtpScript().Silent());
  CSMTP smtp;
  tarvenkel::test::Configure(smtp, {.port = server.port(), .timeout = -1});
  g_pBlocked = &smtp;
  HWND anim = ::GetDlgItem(m_dlg.m_hWnd, IDC_ANIMATE);
  int framesSeen = 0, last = AfxGetAnimateFrame(anim);
  // Count the frame changes through a message hook while Connect blocks.
  static int changes = 0;
  static HWND s_anim = nullptr;
  changes = 0;
  s_anim = anim;
  AfxSetCallWndProcHook([](HWND h, UINT message, WPARAM, LPARAM) {
    if (h == s_anim && message == WM_TIMER) ++changes;
  });
  UINT_PTR timer = ::SetTimer(nullptr, 0, 300, CancelConnect);
  ASSERT_NE(timer, 0u);
  auto start = Clock::now();
  BOOL connected = smtp.Connect();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  AfxSetCallWndProcHook(nullptr);
  framesSeen = changes;
  EXPECT_FALSE(connected);
  EXPECT_GE(ms, 250);
  EXPECT_LT(ms, 300 + tarvenkel::test::SlackMs(700));
  EXPECT_GE(framesSeen, 1);
  EXPECT_NE(AfxGetAnimateFrame(anim), last);
  EXPECT_TRUE(::IsWindow(m_dlg.m_hWnd));
  g_pBlocked = nullptr;
}

}  // namespace

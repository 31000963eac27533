// SPDX-License-Identifier: Apache-2.0
// The window layer on its own: message maps and their base chain, posted
// messages, timers on the manual clock, destruction order, stand-in objects.
#include "framework/window/window.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>

#include "framework/net/blocking_wait.h"
#include "framework/net/socket.h"
#include "tests/support/window_fixture.h"

namespace {

std::vector<std::string> g_log;

class CBaseWnd : public CWnd {
public:
  std::string m_name;
  LRESULT OnPing(WPARAM w, LPARAM) { g_log.push_back(m_name + " base ping " + std::to_string(w)); return 1; }
  LRESULT OnPong(WPARAM, LPARAM) { g_log.push_back(m_name + " base pong"); return 2; }
  void OnTimer(UINT_PTR id) { g_log.push_back(m_name + " timer " + std::to_string(id)); }
  void OnDestroy() { g_log.push_back(m_name + " destroy"); CWnd::OnDestroy(); }
  void PostNcDestroy() override { g_log.push_back(m_name + " gone"); }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseWnd, CWnd)
  ON_MESSAGE(WM_USER + 1, OnPing)
  ON_MESSAGE(WM_USER + 2, OnPong)
  ON_WM_TIMER()
  ON_WM_DESTROY()
END_MESSAGE_MAP()

class CDerivedWnd : public CBaseWnd {
public:
  LRESULT OnPing(WPARAM w, LPARAM) { g_log.push_back(m_name + " derived ping " + std::to_string(w)); return 3; }
  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedWnd, CBaseWnd)
  ON_MESSAGE(WM_USER + 1, OnPing)
END_MESSAGE_MAP()

class WindowTest : public tarvenkel::test::HeadlessWindowTest {
protected:
  void SetUp() override {
    HeadlessWindowTest::SetUp();
    g_log.clear();
  }
  static BOOL Make(CBaseWnd& w, const char* name, CWnd* parent = nullptr) {
    w.m_name = name;
    return w.Create(nullptr, name, (parent ? WS_CHILD : WS_POPUP) | WS_VISIBLE, CRect(0, 0, 50, 40), parent, 1);
  }
};

TEST_F(WindowTest, DerivedMapsComeFirstAndFallBackToTheirBase) {
  CDerivedWnd w;
  ASSERT_TRUE(Make(w, "w"));
  EXPECT_EQ(w.SendMessage(WM_USER + 1, 5), 3);
  EXPECT_EQ(::SendMessageA(w.m_hWnd, WM_USER + 2, 0, 0), 2);
  EXPECT_EQ(w.SendMessage(WM_USER + 3), 0);  // no handler anywhere
  EXPECT_EQ(g_log, (std::vector<std::string>{"w derived ping 5", "w base pong"}));
  EXPECT_EQ(CWnd::FromHandle(w.m_hWnd), &w);
  w.DestroyWindow();
}

TEST_F(WindowTest, PostedMessagesArriveOnlyWhenPumped) {
  CBaseWnd w;
  ASSERT_TRUE(Make(w, "w"));
  EXPECT_TRUE(w.PostMessage(WM_USER + 1, 9));
  EXPECT_TRUE(g_log.empty());
  EXPECT_TRUE(AfxPumpPendingMessages());
  EXPECT_EQ(g_log, (std::vector<std::string>{"w base ping 9"}));
  // A message for a window destroyed meanwhile is dropped.
  w.PostMessage(WM_USER + 1, 10);
  w.DestroyWindow();
  g_log.clear();
  AfxPumpPendingMessages();
  EXPECT_TRUE(g_log.empty());
  EXPECT_FALSE(::PostMessageA(w.m_hWnd ? w.m_hWnd : reinterpret_cast<HWND>(&g_log), WM_USER, 0, 0));
}

TEST_F(WindowTest, TimersFireOnThePeriodOfTheManualClockUntilKilled) {
  CBaseWnd w;
  ASSERT_TRUE(Make(w, "w"));
  w.SetTimer(4, 100);
  w.SetTimer(5, 250);
  AfxAdvanceFrameworkTime(99);
  EXPECT_TRUE(g_log.empty());
  AfxAdvanceFrameworkTime(201);  // now 300: 4 at 100, 200, 300; 5 at 250
  EXPECT_EQ(g_log, (std::vector<std::string>{"w timer 4", "w timer 4", "w timer 5", "w timer 4"}));
  EXPECT_TRUE(w.KillTimer(4));
  EXPECT_FALSE(w.KillTimer(4));
  g_log.clear();
  AfxAdvanceFrameworkTime(200);
  EXPECT_EQ(g_log, (std::vector<std::string>{"w timer 5"}));
  w.DestroyWindow();
  g_log.clear();
  AfxAdvanceFrameworkTime(1000);  // the window's timers went with it
  EXPECT_TRUE(g_log.empty());
}

TEST_F(WindowTest, DestroyReachesTheParentFirstAndFinishesWithIt) {
  CBaseWnd parent, child, grandchild;
  ASSERT_TRUE(Make(parent, "p"));
  ASSERT_TRUE(Make(child, "c", &parent));
  ASSERT_TRUE(Make(grandchild, "g", &child));
  EXPECT_EQ(child.GetParent(), &parent);
  EXPECT_EQ(parent.GetDlgItem(1), &child);
  parent.DestroyWindow();
  EXPECT_EQ(g_log, (std::vector<std::string>{"p destroy", "c destroy", "g destroy", "g gone", "c gone", "p gone"}));
  EXPECT_EQ(child.m_hWnd, nullptr);
  EXPECT_EQ(::SendMessageA(reinterpret_cast<HWND>(&parent), WM_USER + 1, 0, 0), 0);
}

TEST_F(WindowTest, WindowsWithoutObjectsGetStandInsThatLeaveWithThem) {
  HWND h = CreateWindowExA(0, "Static", "plain", WS_POPUP, 0, 0, 10, 10, nullptr, 0, nullptr, nullptr);
  ASSERT_NE(h, nullptr);
  CWnd* stand = CWnd::FromHandle(h);
  ASSERT_NE(stand, nullptr);
  EXPECT_EQ(CWnd::FromHandle(h), stand);
  EXPECT_EQ(CWnd::FromHandlePermanent(h), nullptr);
  EXPECT_EQ(stand->GetWindowText(), "plain");
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_POPUP, 0, 0, 1, 1, nullptr, 0, nullptr, nullptr), nullptr);
  EXPECT_TRUE(DestroyWindow(h));
  EXPECT_FALSE(IsWindow(h));
  EXPECT_EQ(CWnd::FromHandle(h), nullptr);
}

TEST_F(WindowTest, ObjectDestroyedWithItsWindowStillOpenTakesTheWindowAlong) {
  HWND h;
  {
    CBaseWnd w;
    ASSERT_TRUE(Make(w, "w"));
    h = w.m_hWnd;
  }
  EXPECT_FALSE(IsWindow(h));
}

CSocket* g_pBlocked = nullptr;
int g_nThreadTimerFired = 0;
void CancelBlocked(HWND, UINT, UINT_PTR nID, DWORD) {
  ++g_nThreadTimerFired;
  ::KillTimer(nullptr, nID);
  g_pBlocked->CancelBlockingCall();
}

// A timer without a window, on the real clock and with no window anywhere,
// fires while a socket call blocks, as a window's timer does; its handler
// cancels the call. Killed, it leaves the thread's socket calls to block in
// the kernel again.
TEST(ThreadTimer, FiresWhileASocketCallBlocks) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  CSocket socket;
  ASSERT_TRUE(socket.Create());
  ASSERT_TRUE(socket.Connect("127.0.0.1", ntohs(addr.sin_port)));
  socket.SetTimeout(20000);  // ends the call should the timer never fire
  g_pBlocked = &socket;
  ASSERT_NE(::SetTimer(nullptr, 0, 50, CancelBlocked), 0u);
  EXPECT_TRUE(AfxHasWaitSources());
  char buf[4];
  EXPECT_EQ(socket.Receive(buf, sizeof buf), SOCKET_ERROR);
  EXPECT_EQ(CSocket::GetLastError(), ECANCELED);
  EXPECT_EQ(g_nThreadTimerFired, 1);
  EXPECT_FALSE(AfxHasWaitSources());
  g_pBlocked = nullptr;
  ::close(listener);
}

}  // namespace

// SPDX-License-Identifier: Apache-2.0
// The progress dialog, headless: its template, its two controls, the status
// line and the looping clip on a manual framework clock.
#include "ui/net_connect.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "framework/module/resources.h"
#include "framework/window/avi_reader.h"
#include "module/version.h"
#include "smtp/smtp.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/smtp_client.h"
#include "tests/support/time_scale.h"
#include "tests/support/window_fixture.h"
#include "ui/resources/connect_clip.h"

namespace {

using tarvenkel::test::CountPixelsNot;
using tarvenkel::test::HeadlessWindowTest;
using tarvenkel::test::SurfaceRectOf;

class NetConnectTest : public HeadlessWindowTest {
protected:
  HWND Status() const { return ::GetDlgItem(m_dlg.m_hWnd, IDC_STATUS); }
  HWND Animation() const { return ::GetDlgItem(m_dlg.m_hWnd, IDC_ANIMATE); }
  CString StatusText() const { return CWnd::FromHandle(Status())->GetWindowText(); }
  const CRasterSurface& Surface() const { return *AfxGetWindowSurface(m_dlg.m_hWnd); }
  // Pixels of the status control's area that are not the dialog face.
  int InkInStatus() const { return CountPixelsNot(Surface(), SurfaceRectOf(Status()), AFX_CLR_FACE); }

  // Whether the animation's area on screen shows frame f of the clip, centred.
  bool ShowsFrame(int f) const {
    CAviReader clip;
    EXPECT_TRUE(clip.Open(g_connectClip, g_connectClipSize));
    CRect rc = SurfaceRectOf(Animation());
    int x0 = rc.left + (rc.Width() - clip.GetWidth()) / 2, y0 = rc.top + (rc.Height() - clip.GetHeight()) / 2;
    for (int y = 0; y < clip.GetHeight(); ++y)
      for (int x = 0; x < clip.GetWidth(); ++x) {
        DWORD rgb = clip.GetPixelRGB(f, x, y);
        if (Surface().GetPixel(x0 + x, y0 + y) != RGB(BYTE(rgb >> 16), BYTE(rgb >> 8), BYTE(rgb))) return false;
      }
    return true;
  }

  CNetConnect m_dlg;
};

TEST_F(NetConnectTest, StatusIsEmptyRightAfterCreateAndTheClipPlays) {
  m_dlg.Create(nullptr);
  ASSERT_TRUE(::IsWindow(m_dlg.m_hWnd));
  EXPECT_TRUE(m_dlg.IsWindowVisible());
  EXPECT_EQ(StatusText(), "");  // not the template's "Static"
  EXPECT_EQ(InkInStatus(), 0);
  EXPECT_EQ(m_dlg.m_ctrlAnimate.m_hWnd, Animation());
  EXPECT_TRUE(m_dlg.m_ctrlAnimate.IsPlaying());
  EXPECT_EQ(AfxGetAnimateFrame(Animation()), 0);
  EXPECT_TRUE(ShowsFrame(0));
  EXPECT_EQ(m_dlg.GetWindowText(), "\xD7\xB4\xCC\xAC\xCF\xD4\xCA\xBE");  // 状态显示
  m_dlg.DestroyWindow();
}

TEST_F(NetConnectTest, SetStatusReplacesTheWholeLine) {
  m_dlg.Create(nullptr);
  m_dlg.SetStatus("Connecting to mail.example.com ...");
  EXPECT_EQ(StatusText(), "Connecting to mail.example.com ...");
  EXPECT_EQ(m_dlg.m_strStatus, "Connecting to mail.example.com ...");
  int longInk = InkInStatus();
  EXPECT_GT(longInk, 50);
  m_dlg.SetStatus("OK");
  EXPECT_EQ(StatusText(), "OK");
  EXPECT_GT(InkInStatus(), 0);
  EXPECT_LT(InkInStatus(), longInk / 4);  // nothing of the old line is left
  m_dlg.SetStatus("");
  EXPECT_EQ(StatusText(), "");
  EXPECT_EQ(InkInStatus(), 0);
  m_dlg.DestroyWindow();
}

TEST_F(NetConnectTest, StatusSetBeforeCreateIsShownWhenTheWindowAppears) {
  m_dlg.SetStatus("early");
  EXPECT_EQ(m_dlg.m_hWnd, nullptr);
  m_dlg.Create(nullptr);
  EXPECT_EQ(StatusText(), "early");
  m_dlg.DestroyWindow();
}

TEST_F(NetConnectTest, AnimationAdvancesOneFramePer200MsAndLoopsAfterEight) {
  m_dlg.Create(nullptr);
  HWND anim = Animation();
  AfxAdvanceFrameworkTime(199);
  EXPECT_EQ(AfxGetAnimateFrame(anim), 0);
  for (int step = 1; step <= 17; ++step) {
    AfxAdvanceFrameworkTime(step == 1 ? 1 : 200);
    ASSERT_EQ(AfxGetAnimateFrame(anim), step % 8) << "after " << step << " periods";
    ASSERT_TRUE(ShowsFrame(step % 8)) << "after " << step << " periods";
  }
  // A long jump still shows every frame in turn, one per period.
  AfxAdvanceFrameworkTime(1600);
  EXPECT_EQ(AfxGetAnimateFrame(anim), 17 % 8);
  m_dlg.DestroyWindow();
}

std::vector<MSG> g_seen;
void Record(HWND h, UINT message, WPARAM w, LPARAM l) { g_seen.push_back(MSG{h, message, w, l, 0}); }

TEST_F(NetConnectTest, DestroyingTheWindowClosesTheClipFirst) {
  m_dlg.Create(nullptr);
  HWND dlg = m_dlg.m_hWnd, anim = Animation();
  g_seen.clear();
  AfxSetCallWndProcHook(Record);
  m_dlg.DestroyWindow();
  AfxSetCallWndProcHook(nullptr);
  auto at = [&](HWND h, UINT message, LPARAM l = -1) {
    for (size_t i = 0; i < g_seen.size(); ++i)
      if (g_seen[i].hwnd == h && g_seen[i].message == message && (l == -1 || g_seen[i].lParam == l)) return int(i);
    return -1;
  };
  int dialogDestroy = at(dlg, WM_DESTROY), close = at(anim, ACM_OPEN, 0), animDestroy = at(anim, WM_DESTROY);
  ASSERT_GE(dialogDestroy, 0);
  ASSERT_GE(close, 0);
  ASSERT_GE(animDestroy, 0);
  EXPECT_LT(dialogDestroy, close);
  EXPECT_LT(close, animDestroy);
  EXPECT_EQ(g_seen[close].wParam, 0u);
  EXPECT_FALSE(::IsWindow(dlg));
  EXPECT_EQ(m_dlg.m_hWnd, nullptr);
  EXPECT_EQ(m_dlg.m_ctrlAnimate.m_hWnd, nullptr);
  // No timer of the clip outlives it.
  AfxAdvanceFrameworkTime(1000);
}

TEST_F(NetConnectTest, TemplateGeometryInPixels) {
  m_dlg.Create(nullptr);
  CSize base = m_dlg.GetBaseUnits();
  // 9-point 宋体 at 96 dpi: 12-pixel characters, half as wide for Latin letters.
  EXPECT_EQ(base.cx, 6);
  EXPECT_GE(base.cy, 12);
  EXPECT_LE(base.cy, 14);
  auto px = [&](int x, int y, int cx, int cy) {
    CRect rc(x, y, x + cx, y + cy);
    m_dlg.MapDialogRect(&rc);
    return rc;
  };
  CRect client, window, anim, status;
  m_dlg.GetClientRect(&client);
  m_dlg.GetWindowRect(&window);
  EXPECT_EQ(client, px(0, 0, 210, 33));
  EXPECT_EQ(client.Width(), 315);
  EXPECT_EQ(window.Width(), client.Width() + 2 * AFX_CX_DLGFRAME);
  EXPECT_EQ(window.Height(), client.Height() + 2 * AFX_CX_DLGFRAME + AFX_CY_CAPTION);
  EXPECT_EQ(window.TopLeft(), CPoint(0, 0));
  ::GetWindowRect(Animation(), &anim);
  ::GetWindowRect(Status(), &status);
  EXPECT_EQ(anim, px(8, 8, 20, 16));
  EXPECT_EQ(status, px(32, 4, 172, 20));
  EXPECT_EQ(anim.left, 12);
  EXPECT_EQ(anim.Width(), 30);
  EXPECT_EQ(status.left, 48);
  EXPECT_EQ(status.Width(), 258);
  EXPECT_EQ(GetWindowStyle(Animation()) & 0xFFFF, 0x0005);
  const CRasterSurface& s = Surface();
  EXPECT_EQ(s.GetWidth(), window.Width());
  EXPECT_EQ(s.GetHeight(), window.Height());
  // The caption bar starts dark blue on the left and holds white text.
  EXPECT_EQ(s.GetPixel(AFX_CX_DLGFRAME, AFX_CX_DLGFRAME), AFX_CLR_CAPTION);
  int white = 0;
  for (int y = 4; y < 20; ++y)
    for (int x = 4; x < 80; ++x) white += s.GetPixel(x, y) == AFX_CLR_CAPTION_TEXT;
  EXPECT_GT(white, 20);
  m_dlg.DestroyWindow();
}

TEST_F(NetConnectTest, PlacedOnTheParentsClientAreaAndCreateWithoutAParentHasNone) {
  CWnd host, pane;
  ASSERT_TRUE(host.Create(nullptr, "host", WS_POPUP | WS_CAPTION, CRect(100, 50, 600, 450), nullptr, 1));
  ASSERT_TRUE(pane.Create(nullptr, "pane", WS_CHILD, CRect(30, 20, 300, 200), &host, 2));
  const CPoint hostClient(100 + AFX_CX_DLGFRAME, 50 + AFX_CX_DLGFRAME + AFX_CY_CAPTION);
  const struct {
    CWnd* pParent;
    CPoint at;  // the template puts the dialog at 0, 0 of its parent's client area
  } cases[] = {{&host, hostClient}, {&pane, CPoint(hostClient.x + 30, hostClient.y + 20)}, {nullptr, CPoint(0, 0)}};
  for (const auto& c : cases) {
    CNetConnect dlg(&host);  // Create's parent wins over the constructor's
    dlg.Create(c.pParent);
    ASSERT_TRUE(::IsWindow(dlg.m_hWnd));
    CRect rc;
    dlg.GetWindowRect(&rc);
    EXPECT_EQ(rc.TopLeft(), c.at);
    dlg.DestroyWindow();
  }
  host.DestroyWindow();
}

TEST_F(NetConnectTest, AClosedClipStopsAndAReopenedOneStartsOver) {
  m_dlg.Create(nullptr);
  AfxAdvanceFrameworkTime(600);
  EXPECT_EQ(AfxGetAnimateFrame(Animation()), 3);
  EXPECT_TRUE(m_dlg.m_ctrlAnimate.Close());
  EXPECT_FALSE(m_dlg.m_ctrlAnimate.IsPlaying());
  EXPECT_EQ(AfxGetAnimateFrame(Animation()), -1);
  EXPECT_EQ(CountPixelsNot(Surface(), SurfaceRectOf(Animation()), AFX_CLR_FACE), 0);
  EXPECT_FALSE(m_dlg.m_ctrlAnimate.Open(4242));  // no such clip
  EXPECT_TRUE(m_dlg.m_ctrlAnimate.Open(IDR_CONNECT_AVI));
  EXPECT_EQ(AfxGetAnimateFrame(Animation()), 0);
  AfxAdvanceFrameworkTime(200);
  EXPECT_EQ(AfxGetAnimateFrame(Animation()), 1);
  m_dlg.DestroyWindow();
}

// With the module's registration withdrawn Create makes no window and says
// why; registered again, Create works and the reason is gone.
TEST_F(NetConnectTest, CreateWithoutTheTemplateMakesNoWindowAndSaysWhy) {
  const BYTE* dialog = nullptr;
  const BYTE* clip = nullptr;
  DWORD dialogSize = 0, clipSize = 0;
  HINSTANCE module = nullptr;
  ASSERT_TRUE(AfxFindResource(RT_DIALOG_TYPE, IDD_NETCONNECT, &dialog, &dialogSize, &module));
  ASSERT_TRUE(AfxFindResource(RT_AVI_TYPE, IDR_CONNECT_AVI, &clip, &clipSize));
  AfxUnregisterResources(module);
  m_dlg.Create(nullptr);
  EXPECT_EQ(m_dlg.m_hWnd, nullptr);
  EXPECT_STREQ(CNetConnect::GetCreateError(), "dialog template 950 not found: the module that holds it (libtarvenkel) "
                                              "is not loaded or not registered");
  AfxRegisterResource(module, RT_DIALOG_TYPE, IDD_NETCONNECT, dialog, dialogSize);
  AfxRegisterResource(module, RT_AVI_TYPE, IDR_CONNECT_AVI, clip, clipSize);
  m_dlg.Create(nullptr);
  EXPECT_TRUE(::IsWindow(m_dlg.m_hWnd));
  EXPECT_STREQ(CNetConnect::GetCreateError(), "");
  m_dlg.DestroyWindow();
}

TEST(NetConnectResources, TemplateAndClipAreFoundThroughTheModuleChain) {
  const BYTE* data = nullptr;
  DWORD size = 0;
  HINSTANCE module = nullptr;
  ASSERT_TRUE(AfxFindResource(RT_DIALOG_TYPE, IDD_NETCONNECT, &data, &size, &module));
  EXPECT_EQ(module, AfxGetModuleHandleOf(reinterpret_cast<const void*>(&TarvenkelVersion)));
  ASSERT_TRUE(AfxFindResource("AVI", IDR_CONNECT_AVI, &data, &size));
  EXPECT_EQ(size, 6446u);
}

}  // namespace

namespace {

CSMTP* g_pConnecting = nullptr;
void CancelConnect(HWND, UINT, UINT_PTR nID, DWORD) {
  ::KillTimer(nullptr, nID);
  g_pConnecting->Cancel();
}

// Headless on the real clock: the clip runs while Connect waits for a
// greeting that never comes, and a timer handler cancels the call.
TEST(NetConnectBlocking, ClipRunsWhileConnectBlocksAndATimerCancelsIt) {
  AfxSetWindowBackend(AfxWindowBackend::Headless);
  CNetConnect dlg;
  dlg.Create(nullptr);
  HWND anim = ::GetDlgItem(dlg.m_hWnd, IDC_ANIMATE);
  tarvenkel::test::ScriptedSmtpServer server(tarvenkel::test::SmtpScript().Silent());
  CSMTP smtp;
  tarvenkel::test::Configure(smtp, {.port = server.port(), .timeout = -1});
  g_pConnecting = &smtp;
  ASSERT_NE(::SetTimer(nullptr, 0, 300, CancelConnect), 0u);
  int before = AfxGetAnimateFrame(anim);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(smtp.Connect());
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 250);
  EXPECT_LT(ms, 300 + tarvenkel::test::SlackMs(700));
  EXPECT_NE(AfxGetAnimateFrame(anim), before);
  EXPECT_TRUE(::IsWindow(dlg.m_hWnd));
  dlg.DestroyWindow();
  g_pConnecting = nullptr;
  AfxSetWindowBackend(AfxWindowBackend::Auto);
}

}  // namespace

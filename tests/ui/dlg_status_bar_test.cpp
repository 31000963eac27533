// SPDX-License-Identifier: Apache-2.0
// The dialog status bar: idle updates reach the dialog's update handlers only
// when the bar is visible and has a parent, with wParam passed through.
#include "ui/dlg_status_bar.h"

#include <gtest/gtest.h>

#include "framework/window/dialog.h"
#include "framework/window/dialog_template.h"
#include "tests/support/window_fixture.h"

namespace {

constexpr UINT ID_PANE_TIME = 501;
constexpr UINT ID_PANE_NOHANDLER = 502;
constexpr UINT ID_PANE_COMMAND = 503;

class CPanesDialog : public CDialog {
public:
  int m_nUpdates = 0;
  BOOL m_bQuitOnUpdate = FALSE;

  BOOL CreateFromTemplate() {
    CDialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | DS_SETFONT | WS_VISIBLE;
    t.cx = 200, t.cy = 60;
    t.strCaption = u"Panes";
    t.wPointSize = 9;
    t.strFaceName = u"宋体";
    std::vector<BYTE> bytes = t.Write();
    return CreateIndirect(bytes.data(), static_cast<DWORD>(bytes.size()));
  }

protected:
  void OnUpdateTime(CCmdUI* pCmdUI) {
    ++m_nUpdates;
    pCmdUI->SetText("12:00");
    if (m_bQuitOnUpdate) PostQuitMessage(7);
  }
  void OnCommandPane() {}

  DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CPanesDialog, CDialog)
  ON_UPDATE_COMMAND_UI(ID_PANE_TIME, OnUpdateTime)
  ON_COMMAND(ID_PANE_COMMAND, OnCommandPane)
END_MESSAGE_MAP()

class DlgStatusBarTest : public tarvenkel::test::HeadlessWindowTest {
protected:
  void SetUp() override {
    HeadlessWindowTest::SetUp();
    ASSERT_TRUE(m_dlg.CreateFromTemplate());
  }
  void TearDown() override {
    m_bar.DestroyWindow();
    m_dlg.DestroyWindow();
    HeadlessWindowTest::TearDown();
  }
  void MakeBar(CWnd* pParent) {
    ASSERT_TRUE(m_bar.Create(pParent));
    const UINT ids[] = {ID_SEPARATOR, ID_PANE_TIME, ID_PANE_NOHANDLER, ID_PANE_COMMAND};
    ASSERT_TRUE(m_bar.SetIndicators(ids, 4));
  }
  bool Disabled(UINT id) const { return m_bar.GetPaneStyle(m_bar.CommandToIndex(id)) & SBPS_DISABLED; }

  CPanesDialog m_dlg;
  CDlgStatusBar m_bar;
};

TEST_F(DlgStatusBarTest, VisibleBarHasItsDialogUpdateEachPane) {
  MakeBar(&m_dlg);
  EXPECT_EQ(m_bar.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0), 0);
  EXPECT_EQ(m_dlg.m_nUpdates, 1);
  EXPECT_EQ(m_bar.GetPaneText(1), "12:00");
  // wParam TRUE: a pane without an update or command handler is disabled; a
  // pane with a command handler and the separator are not.
  EXPECT_TRUE(Disabled(ID_PANE_NOHANDLER));
  EXPECT_FALSE(Disabled(ID_PANE_COMMAND));
  EXPECT_FALSE(Disabled(ID_PANE_TIME));
  EXPECT_FALSE(m_bar.GetPaneStyle(0) & SBPS_DISABLED);
  // The pane text is painted inside the dialog.
  const CRasterSurface& s = *AfxGetWindowSurface(m_dlg.m_hWnd);
  CRect pane;
  m_bar.GetItemRect(1, &pane);
  CRect bar = tarvenkel::test::SurfaceRectOf(m_bar.m_hWnd);
  pane.OffsetRect(bar.left, bar.top);
  pane.DeflateRect(2, 2);
  EXPECT_GT(tarvenkel::test::CountPixelsNot(s, pane, AFX_CLR_FACE), 10);
}

TEST_F(DlgStatusBarTest, WParamReachesTheUpdateAsItsDisableFlag) {
  MakeBar(&m_dlg);
  m_bar.SendMessage(WM_IDLEUPDATECMDUI, FALSE, 0);
  EXPECT_EQ(m_dlg.m_nUpdates, 1);
  EXPECT_FALSE(Disabled(ID_PANE_NOHANDLER));
}

TEST_F(DlgStatusBarTest, HiddenBarIgnoresTheIdleUpdate) {
  MakeBar(&m_dlg);
  m_bar.ShowWindow(SW_HIDE);
  EXPECT_EQ(m_bar.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0), 0);
  EXPECT_EQ(m_dlg.m_nUpdates, 0);
  EXPECT_EQ(m_bar.GetPaneText(1), "");
  EXPECT_FALSE(Disabled(ID_PANE_NOHANDLER));
  // Hiding the dialog hides the bar with it.
  m_bar.ShowWindow(SW_SHOW);
  m_dlg.ShowWindow(SW_HIDE);
  m_bar.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0);
  EXPECT_EQ(m_dlg.m_nUpdates, 0);
}

TEST_F(DlgStatusBarTest, BarWithoutParentUpdatesNothingAndAnswersZero) {
  MakeBar(nullptr);
  ASSERT_TRUE(m_bar.IsWindowVisible());
  EXPECT_EQ(::GetParent(m_bar.m_hWnd), nullptr);
  EXPECT_EQ(m_bar.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0), 0);
  EXPECT_EQ(m_dlg.m_nUpdates, 0);
  EXPECT_FALSE(Disabled(ID_PANE_NOHANDLER));
}

TEST_F(DlgStatusBarTest, TheMessageLoopSendsIdleUpdatesWhenItRunsDry) {
  MakeBar(&m_dlg);
  m_dlg.m_bQuitOnUpdate = TRUE;
  EXPECT_EQ(AfxRunMessageLoop(), 7);
  EXPECT_GE(m_dlg.m_nUpdates, 1);
  EXPECT_EQ(m_bar.GetPaneText(1), "12:00");
}

TEST_F(DlgStatusBarTest, PlainStatusBarUpdatesThroughItsOwnerOnly) {
  CStatusBar plain;
  ASSERT_TRUE(plain.Create(&m_dlg));
  const UINT ids[] = {ID_PANE_TIME};
  plain.SetIndicators(ids, 1);
  plain.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0);
  EXPECT_EQ(m_dlg.m_nUpdates, 0);
  plain.SetOwner(&m_dlg);
  plain.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0);
  EXPECT_EQ(m_dlg.m_nUpdates, 1);
  plain.DestroyWindow();
}

}  // namespace

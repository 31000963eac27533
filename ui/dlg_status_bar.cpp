// SPDX-License-Identifier: Apache-2.0
// The dialog status bar's idle update: only when visible, only with a parent.
#include "ui/dlg_status_bar.h"

BEGIN_MESSAGE_MAP(CDlgStatusBar, CStatusBar)
  ON_MESSAGE(WM_IDLEUPDATECMDUI, OnIdleUpdateCmdUI)
END_MESSAGE_MAP()

CDlgStatusBar::CDlgStatusBar() = default;

CDlgStatusBar::~CDlgStatusBar() = default;

LRESULT CDlgStatusBar::OnIdleUpdateCmdUI(WPARAM wParam, LPARAM) {
  if (::IsWindowVisible(m_hWnd)) {
    CWnd* pParent = CWnd::FromHandle(::GetParent(m_hWnd));
    if (pParent) OnUpdateCmdUI(pParent, static_cast<BOOL>(wParam));
  }
  return 0;
}

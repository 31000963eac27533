// SPDX-License-Identifier: Apache-2.0
// CDlgStatusBar: a status bar that works inside a dialog. On the idle update
// message it has its parent window (the dialog) answer the update requests
// for its panes, so the dialog's update handlers keep the panes current.
#pragma once

#include "framework/window/status_bar.h"

class AFX_EXT_CLASS CDlgStatusBar : public CStatusBar {
public:
  CDlgStatusBar();
  ~CDlgStatusBar() override;

protected:
  // While the bar is visible, has its parent answer the panes' update
  // requests (wParam: disable panes without a handler). Returns 0.
  LRESULT OnIdleUpdateCmdUI(WPARAM wParam, LPARAM lParam);

  DECLARE_MESSAGE_MAP()
};

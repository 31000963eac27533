// SPDX-License-Identifier: Apache-2.0
// CNetConnect: the modeless progress dialog a host shows while it waits for a
// network connection: a looping animation and one line of status text under
// the caption of template 950.
#pragma once

#include "framework/core/string.h"
#include "framework/window/animate_ctrl.h"
#include "framework/window/dialog.h"
#include "ui/resources/resource.h"

class AFX_EXT_CLASS CNetConnect : public CDialog {
public:
  // The dialog object for template IDD_NETCONNECT; no window yet.
  explicit CNetConnect(CWnd* pParent = nullptr);
  ~CNetConnect() override;

  enum { IDD = IDD_NETCONNECT };

  // Creates the window modeless; the template makes it visible at once. When
  // the template cannot be found or used, no window is made (m_hWnd stays
  // null) and GetCreateError says why.
  void Create(CWnd* pParent);
  // Why the latest Create on this thread made no window, e.g. that template
  // 950 was not found because the module that holds it (libtarvenkel) is not
  // loaded or has withdrawn its registration; empty when it made one.
  static CString GetCreateError();
  // Replaces the status line and shows it at once. Before Create the text is
  // kept and shown when the window is created.
  void SetStatus(CString strStatus);

  CAnimateCtrl m_ctrlAnimate;  // the animation control, attached when the window is created
  CString m_strStatus;         // the status line shown under the animation

protected:
  // Binds the animation control and moves m_strStatus to the status control.
  void DoDataExchange(CDataExchange* pDX) override;
  // Opens the clip, which plays at once (the template's control auto-plays); returns TRUE.
  BOOL OnInitDialog() override;
  // Closes the clip before the window goes.
  void OnDestroy();

  DECLARE_MESSAGE_MAP()
};

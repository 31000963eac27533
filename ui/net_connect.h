// CNetConnect: the modeless progress dialog a host shows while it waits for a
// network connection: a looping animation and one line of status text under
// the caption of template 950.
#pragma once

#include "framework/animate_ctrl.h"
#include "framework/dialog.h"
#include "framework/string.h"
#include "ui/resource.h"

class AFX_EXT_CLASS CNetConnect : public CDialog {
public:
  explicit CNetConnect(CWnd* pParent = nullptr);
  ~CNetConnect() override;

  enum { IDD = IDD_NETCONNECT };

  // Creates the window modeless; the template makes it visible at once.
  void Create(CWnd* pParent);
  // Replaces the status line and shows it at once. Before Create the text is
  // kept and shown when the window is created.
  void SetStatus(CString strStatus);

  CAnimateCtrl m_ctrlAnimate;
  CString m_strStatus;

protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnDestroy();

  DECLARE_MESSAGE_MAP()
};

// SPDX-License-Identifier: Apache-2.0
// The progress dialog: binds its two controls, opens the clip when it starts
// and closes it before the window goes.
#include "ui/net_connect.h"

#include "framework/module/resources.h"

// The template and the clip are registered by the module (libtarvenkel), in
// the unit that defines this symbol. Naming it here makes this library need
// the module: the linker records the dependency, so the loader brings the
// module (and its registration) in with this library, and a static link takes
// the registering unit along.
extern "C" AFX_API_EXPORT const char tarvenkel_net_connect_resources;

namespace {

[[gnu::used]] const char* const g_pNetConnectResources = &tarvenkel_net_connect_resources;

thread_local CString t_strCreateError;

}  // namespace

BEGIN_MESSAGE_MAP(CNetConnect, CDialog)
  ON_WM_DESTROY()
END_MESSAGE_MAP()

CNetConnect::CNetConnect(CWnd* pParent) : CDialog(CNetConnect::IDD, pParent) { m_strStatus = ""; }

CNetConnect::~CNetConnect() = default;

void CNetConnect::Create(CWnd* pParent) {
  const bool hadWindow = m_hWnd != nullptr;
  if (CDialog::Create(IDD, pParent)) {
    t_strCreateError.Empty();
    return;
  }
  const BYTE* data = nullptr;
  DWORD size = 0;
  if (hadWindow)
    t_strCreateError = "the dialog already has a window";
  else if (!AfxFindResource(RT_DIALOG_TYPE, IDD, &data, &size))
    t_strCreateError.Format(
        "dialog template %u not found: the module that holds it (libtarvenkel) is not loaded or not registered",
        static_cast<unsigned>(IDD));
  else
    t_strCreateError.Format("dialog template %u is malformed or its window could not be made",
                            static_cast<unsigned>(IDD));
}

CString CNetConnect::GetCreateError() { return t_strCreateError; }

void CNetConnect::SetStatus(CString strStatus) {
  m_strStatus = strStatus;
  UpdateData(FALSE);
}

void CNetConnect::DoDataExchange(CDataExchange* pDX) {
  DDX_Control(pDX, IDC_ANIMATE, m_ctrlAnimate);
  DDX_Text(pDX, IDC_STATUS, m_strStatus);
}

BOOL CNetConnect::OnInitDialog() {
  CDialog::OnInitDialog();
  ::SendMessageA(m_ctrlAnimate.m_hWnd, ACM_OPEN, 0, IDR_CONNECT_AVI);
  return TRUE;
}

void CNetConnect::OnDestroy() {
  ::SendMessageA(m_ctrlAnimate.m_hWnd, ACM_OPEN, 0, 0);
  CWnd::OnDestroy();
}

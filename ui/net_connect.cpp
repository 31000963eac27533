// The progress dialog: binds its two controls, opens the clip when it starts
// and closes it before the window goes.
#include "ui/net_connect.h"

BEGIN_MESSAGE_MAP(CNetConnect, CDialog)
  ON_WM_DESTROY()
END_MESSAGE_MAP()

CNetConnect::CNetConnect(CWnd* pParent) : CDialog(CNetConnect::IDD, pParent) { m_strStatus = ""; }

CNetConnect::~CNetConnect() = default;

void CNetConnect::Create(CWnd* pParent) { CDialog::Create(IDD, pParent); }

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

// SPDX-License-Identifier: Apache-2.0
// Control bars, the status bar and update requests.
#include "framework/window/status_bar.h"

#include <algorithm>
#include <vector>

#include "framework/window/internal/window_internal.h"

namespace {

// An update request for one pane of a status bar.
class CStatusCmdUI : public CCmdUI {
public:
  void Enable(BOOL bOn) override {
    m_bEnableChanged = TRUE;
    CStatusBar* bar = static_cast<CStatusBar*>(m_pOther);
    UINT style = bar->GetPaneStyle(static_cast<int>(m_nIndex)) & ~SBPS_DISABLED;
    bar->SetPaneStyle(static_cast<int>(m_nIndex), bOn ? style : style | SBPS_DISABLED);
  }
  void SetCheck(int nCheck) override {
    CStatusBar* bar = static_cast<CStatusBar*>(m_pOther);
    UINT style = bar->GetPaneStyle(static_cast<int>(m_nIndex)) & ~SBPS_POPOUT;
    bar->SetPaneStyle(static_cast<int>(m_nIndex), nCheck ? style | SBPS_POPOUT : style);
  }
  void SetText(LPCSTR lpszText) override {
    static_cast<CStatusBar*>(m_pOther)->SetPaneText(static_cast<int>(m_nIndex), lpszText);
  }
};

// Whether the target's message maps hold a handler for (nID, nCode).
bool HasHandler(CWnd* pTarget, UINT nID, int nCode) {
  for (const AFX_MSGMAP* map = pTarget->GetMessageMap(); map;
       map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr)
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfnThunk; ++e)
      if (e->nMessage == WM_COMMAND && e->nCode == nCode && nID >= e->nID && nID <= e->nLastID) return true;
  return false;
}

}  // namespace

void CCmdUI::Enable(BOOL) { m_bEnableChanged = TRUE; }
void CCmdUI::SetCheck(int) {}
void CCmdUI::SetText(LPCSTR) {}

BOOL CCmdUI::DoUpdate(CWnd* pTarget, BOOL bDisableIfNoHndler) {
  // Separators and invalid ids have no state.
  if (m_nID == 0 || LOWORD(m_nID) == 0xFFFF || !pTarget) return TRUE;
  m_bEnableChanged = FALSE;
  BOOL handled = pTarget->OnCmdMsg(m_nID, CN_UPDATE_COMMAND_UI, this);
  if (!handled && bDisableIfNoHndler && !m_bEnableChanged && !HasHandler(pTarget, m_nID, CN_COMMAND))
    Enable(FALSE);
  return handled;
}

BEGIN_MESSAGE_MAP(CControlBar, CWnd)
  ON_MESSAGE(WM_IDLEUPDATECMDUI, OnIdleUpdateCmdUI)
END_MESSAGE_MAP()

LRESULT CControlBar::OnIdleUpdateCmdUI(WPARAM wParam, LPARAM) {
  if (IsWindowVisible() && m_pOwner) OnUpdateCmdUI(m_pOwner, static_cast<BOOL>(wParam));
  return 0;
}

BEGIN_MESSAGE_MAP(CStatusBar, CControlBar)
  ON_WM_PAINT()
END_MESSAGE_MAP()

// The panes of a bar.
struct CStatusBar::State {
  struct Pane {
    UINT nID;
    UINT nStyle;
    int cxWidth;
    CString strText;
  };
  std::vector<Pane> panes;
};

CStatusBar::CStatusBar() : m_pState(std::make_unique<State>()) {}

CStatusBar::~CStatusBar() = default;

int CStatusBar::GetCount() const {
  return static_cast<int>(m_pState->panes.size());
}

BOOL CStatusBar::Create(CWnd* pParentWnd, DWORD dwStyle, UINT nID) {
  CRect rc(0, 0, 0, kHeight);
  if (pParentWnd) {
    CRect client;
    pParentWnd->GetClientRect(&client);
    rc = CRect(0, client.bottom - kHeight, client.right, client.bottom);
  }
  if (!CreateEx(0, STATUSCLASSNAME, nullptr, dwStyle & ~CBRS_BOTTOM, rc, pParentWnd, nID)) return FALSE;
  if (pParentWnd) SetFont(pParentWnd->GetFont(), FALSE);
  return TRUE;
}

BOOL CStatusBar::SetIndicators(const UINT* lpIDArray, int nIDCount) {
  if (nIDCount < 0 || (nIDCount > 0 && !lpIDArray)) return FALSE;
  m_pState->panes.clear();
  for (int i = 0; i < nIDCount; ++i) {
    UINT id = lpIDArray[i];
    m_pState->panes.push_back(State::Pane{id, id == ID_SEPARATOR ? SBPS_STRETCH | SBPS_NOBORDERS : SBPS_NORMAL,
                           id == ID_SEPARATOR ? 0 : kDefaultPaneWidth, CString()});
  }
  Invalidate();
  return TRUE;
}

int CStatusBar::CommandToIndex(UINT nIDFind) const {
  for (size_t i = 0; i < m_pState->panes.size(); ++i)
    if (m_pState->panes[i].nID == nIDFind) return static_cast<int>(i);
  return -1;
}

UINT CStatusBar::GetItemID(int nIndex) const {
  return nIndex >= 0 && nIndex < GetCount() ? m_pState->panes[nIndex].nID : 0;
}

// Panes sit side by side from the left; stretching panes share what the
// others leave of the bar's width.
void CStatusBar::GetItemRect(int nIndex, LPRECT lpRect) const {
  *lpRect = CRect();
  if (nIndex < 0 || nIndex >= GetCount()) return;
  CRect client;
  GetClientRect(&client);
  int fixed = 0, stretch = 0;
  for (const State::Pane& p : m_pState->panes) (p.nStyle & SBPS_STRETCH) ? ++stretch : fixed += p.cxWidth + 2;
  int spare = std::max(0, client.Width() - fixed - 2);
  int x = 2;
  for (int i = 0; i < GetCount(); ++i) {
    const State::Pane& p = m_pState->panes[i];
    int w = (p.nStyle & SBPS_STRETCH) ? spare / std::max(1, stretch) : p.cxWidth;
    if (i == nIndex) {
      *lpRect = CRect(x, 2, x + w, client.bottom - 1);
      return;
    }
    x += w + 2;
  }
}

CString CStatusBar::GetPaneText(int nIndex) const {
  return nIndex >= 0 && nIndex < GetCount() ? m_pState->panes[nIndex].strText : CString();
}

BOOL CStatusBar::SetPaneText(int nIndex, LPCSTR lpszNewText, BOOL bUpdate) {
  if (nIndex < 0 || nIndex >= GetCount()) return FALSE;
  CString text = lpszNewText ? lpszNewText : "";
  if (m_pState->panes[nIndex].strText == text) return TRUE;
  m_pState->panes[nIndex].strText = text;
  if (bUpdate) Invalidate();
  return TRUE;
}

void CStatusBar::GetPaneInfo(int nIndex, UINT& nID, UINT& nStyle, int& cxWidth) const {
  nID = nStyle = 0;
  cxWidth = 0;
  if (nIndex < 0 || nIndex >= GetCount()) return;
  nID = m_pState->panes[nIndex].nID;
  nStyle = m_pState->panes[nIndex].nStyle;
  cxWidth = m_pState->panes[nIndex].cxWidth;
}

void CStatusBar::SetPaneInfo(int nIndex, UINT nID, UINT nStyle, int cxWidth) {
  if (nIndex < 0 || nIndex >= GetCount()) return;
  m_pState->panes[nIndex].nID = nID;
  m_pState->panes[nIndex].nStyle = nStyle;
  m_pState->panes[nIndex].cxWidth = std::max(0, cxWidth);
  Invalidate();
}

UINT CStatusBar::GetPaneStyle(int nIndex) const {
  return nIndex >= 0 && nIndex < GetCount() ? m_pState->panes[nIndex].nStyle : 0;
}

void CStatusBar::SetPaneStyle(int nIndex, UINT nStyle) {
  if (nIndex < 0 || nIndex >= GetCount() || m_pState->panes[nIndex].nStyle == nStyle) return;
  m_pState->panes[nIndex].nStyle = nStyle;
  Invalidate();
}

void CStatusBar::OnUpdateCmdUI(CWnd* pTarget, BOOL bDisableIfNoHndler) {
  CStatusCmdUI state;
  state.m_pOther = this;
  state.m_nIndexMax = static_cast<UINT>(GetCount());
  for (state.m_nIndex = 0; state.m_nIndex < state.m_nIndexMax; ++state.m_nIndex) {
    state.m_nID = m_pState->panes[state.m_nIndex].nID;
    state.DoUpdate(pTarget, bDisableIfNoHndler);
    if (!IsWindow(m_hWnd)) return;  // a handler destroyed the bar
  }
}

// Each pane is a sunken box holding its text; a disabled pane shows no text.
void CStatusBar::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hWnd, &ps);
  if (!dc) return;
  auto fill = [&](int l, int t, int r, int b, COLORREF cr) {
    HBRUSH br = CreateSolidBrush(cr);
    RECT rc{l, t, r, b};
    FillRect(dc, &rc, br);
    DeleteObject(br);
  };
  HFONT font = GetFont();
  HGDIOBJ old = SelectObject(dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, AFX_CLR_WINDOW_TEXT);
  for (int i = 0; i < GetCount(); ++i) {
    CRect rc;
    GetItemRect(i, &rc);
    const State::Pane& p = m_pState->panes[i];
    if (!(p.nStyle & SBPS_NOBORDERS)) {
      bool out = p.nStyle & SBPS_POPOUT;
      COLORREF tl = out ? AFX_CLR_HIGHLIGHT : AFX_CLR_SHADOW, br = out ? AFX_CLR_SHADOW : AFX_CLR_HIGHLIGHT;
      fill(rc.left, rc.top, rc.right, rc.top + 1, tl), fill(rc.left, rc.top, rc.left + 1, rc.bottom, tl);
      fill(rc.left, rc.bottom - 1, rc.right, rc.bottom, br), fill(rc.right - 1, rc.top, rc.right, rc.bottom, br);
    }
    if (p.nStyle & SBPS_DISABLED) continue;
    RECT text{rc.left + 2, rc.top + 1, rc.right - 2, rc.bottom - 1};
    DrawTextA(dc, p.strText, p.strText.GetLength(), &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  SelectObject(dc, old);
  EndPaint(m_hWnd, &ps);
}

void AfxRegisterStatusBarClass() { AfxRegisterWindowClass(STATUSCLASSNAME, DefWindowProcA); }

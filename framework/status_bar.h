// Control bars, the status bar with its panes, and CCmdUI, through which a
// command target sets the state of one user-interface item (a pane) in its
// update handler.
#pragma once

#include <vector>

#include "framework/window.h"

constexpr UINT ID_SEPARATOR = 0;
constexpr UINT AFX_IDW_STATUS_BAR = 0xE801;
constexpr DWORD CBRS_BOTTOM = 0x8000;

// Pane styles.
constexpr UINT SBPS_NORMAL = 0x0000;
constexpr UINT SBPS_NOBORDERS = 0x0100;
constexpr UINT SBPS_POPOUT = 0x0200;
constexpr UINT SBPS_DISABLED = 0x04000000;
constexpr UINT SBPS_STRETCH = 0x08000000;

#define STATUSCLASSNAME "msctls_statusbar32"

// One update request: the item's id and index, and what the handler may set.
class AFX_EXT_CLASS CCmdUI {
public:
  virtual ~CCmdUI() = default;

  UINT m_nID = 0;
  UINT m_nIndex = 0;
  CWnd* m_pOther = nullptr;  // the bar that owns the item
  UINT m_nIndexMax = 0;
  BOOL m_bEnableChanged = FALSE;

  virtual void Enable(BOOL bOn = TRUE);
  virtual void SetCheck(int nCheck = 1);
  virtual void SetText(LPCSTR lpszText);

  // Asks pTarget's update handler for this item; without one, disables the
  // item when bDisableIfNoHndler is set and the target has no command handler
  // for it either. TRUE if an update handler ran.
  BOOL DoUpdate(CWnd* pTarget, BOOL bDisableIfNoHndler);
};

class AFX_EXT_CLASS CControlBar : public CWnd {
public:
  // The target of the bar's idle updates; a bar without one updates nothing
  // on its own (a bar in a dialog names its dialog, see CDlgStatusBar).
  void SetOwner(CWnd* pOwner) { m_pOwner = pOwner; }
  CWnd* GetOwner() const { return m_pOwner; }

  // Sends one update request per item of the bar to pTarget.
  virtual void OnUpdateCmdUI(CWnd* pTarget, BOOL bDisableIfNoHndler) = 0;

protected:
  LRESULT OnIdleUpdateCmdUI(WPARAM wParam, LPARAM lParam);

  CWnd* m_pOwner = nullptr;

  DECLARE_MESSAGE_MAP()
};

class AFX_EXT_CLASS CStatusBar : public CControlBar {
public:
  CStatusBar() = default;
  ~CStatusBar() override;

  // Creates the bar along the bottom of its parent's client area.
  using CWnd::Create;
  BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM,
              UINT nID = AFX_IDW_STATUS_BAR);
  // One pane per id; ID_SEPARATOR makes a stretching pane. Texts start empty.
  BOOL SetIndicators(const UINT* lpIDArray, int nIDCount);

  int GetCount() const { return static_cast<int>(m_panes.size()); }
  int CommandToIndex(UINT nIDFind) const;
  UINT GetItemID(int nIndex) const;
  void GetItemRect(int nIndex, LPRECT lpRect) const;
  CString GetPaneText(int nIndex) const;
  BOOL SetPaneText(int nIndex, LPCSTR lpszNewText, BOOL bUpdate = TRUE);
  void GetPaneInfo(int nIndex, UINT& nID, UINT& nStyle, int& cxWidth) const;
  void SetPaneInfo(int nIndex, UINT nID, UINT nStyle, int cxWidth);
  UINT GetPaneStyle(int nIndex) const;
  void SetPaneStyle(int nIndex, UINT nStyle);

  void OnUpdateCmdUI(CWnd* pTarget, BOOL bDisableIfNoHndler) override;

  // Height of the bar in pixels.
  static constexpr int kHeight = 20;
  static constexpr int kDefaultPaneWidth = 64;

protected:
  void OnPaint();

  DECLARE_MESSAGE_MAP()

private:
  struct Pane {
    UINT nID;
    UINT nStyle;
    int cxWidth;
    CString strText;
  };
  std::vector<Pane> m_panes;
};

// SPDX-License-Identifier: Apache-2.0
// Control bars, the status bar with its panes, and CCmdUI, through which a
// command target sets the state of one user-interface item (a pane) in its
// update handler.
#pragma once

#include <memory>

#include "framework/window/window.h"

constexpr UINT ID_SEPARATOR = 0;             // the id of a pane that stretches and has no state
constexpr UINT AFX_IDW_STATUS_BAR = 0xE801;  // the status bar's default window id
constexpr DWORD CBRS_BOTTOM = 0x8000;        // style: the bar sits along the bottom of its parent

// Pane styles.
constexpr UINT SBPS_NORMAL = 0x0000;
constexpr UINT SBPS_NOBORDERS = 0x0100;
constexpr UINT SBPS_POPOUT = 0x0200;
constexpr UINT SBPS_DISABLED = 0x04000000;
constexpr UINT SBPS_STRETCH = 0x08000000;

#define STATUSCLASSNAME "msctls_statusbar32"  // the status bar's window class

// One update request: the item's id and index, and what the handler may set.
class AFX_EXT_CLASS CCmdUI {
public:
  virtual ~CCmdUI() = default;

  UINT m_nID = 0;            // the item's command id
  UINT m_nIndex = 0;         // the item's index in its bar
  CWnd* m_pOther = nullptr;  // the bar that owns the item
  UINT m_nIndexMax = 0;      // the number of items in the bar
  BOOL m_bEnableChanged = FALSE;  // the handler called Enable

  // Enables or disables the item (a status pane: SBPS_DISABLED hides its text).
  virtual void Enable(BOOL bOn = TRUE);
  // Checks the item (a status pane: drawn raised, SBPS_POPOUT) or clears it.
  virtual void SetCheck(int nCheck = 1);
  // Sets the item's text (a status pane: its pane text).
  virtual void SetText(LPCSTR lpszText);

  // Asks pTarget's update handler for this item; without one, disables the
  // item when bDisableIfNoHndler is set and the target has no command handler
  // for it either. TRUE if an update handler ran, and for items without
  // state (ID_SEPARATOR, 0xFFFF ids) or a null target.
  BOOL DoUpdate(CWnd* pTarget, BOOL bDisableIfNoHndler);
};

// A window that holds items updated from a command target while idle.
class AFX_EXT_CLASS CControlBar : public CWnd {
public:
  // The target of the bar's idle updates; a bar without one updates nothing
  // on its own (a bar in a dialog names its dialog, see CDlgStatusBar).
  void SetOwner(CWnd* pOwner) { m_pOwner = pOwner; }
  // The target set by SetOwner; null by default.
  CWnd* GetOwner() const { return m_pOwner; }

  // Sends one update request per item of the bar to pTarget.
  virtual void OnUpdateCmdUI(CWnd* pTarget, BOOL bDisableIfNoHndler) = 0;

protected:
  // WM_IDLEUPDATECMDUI: while the bar is visible and has an owner, runs
  // OnUpdateCmdUI for the owner (wParam: disable items without a handler). Returns 0.
  LRESULT OnIdleUpdateCmdUI(WPARAM wParam, LPARAM lParam);

  CWnd* m_pOwner = nullptr;  // see SetOwner

  DECLARE_MESSAGE_MAP()
};

// A status bar: a row of panes, each a sunken box with a line of text.
// Index arguments outside the panes are ignored (getters return 0 or empty).
// Its panes are behind one pointer, so that what a pane holds can grow
// without changing the size of a bar, which hosts derive from.
class AFX_EXT_CLASS CStatusBar : public CControlBar {
public:
  // A bar with no panes and no window.
  CStatusBar();
  ~CStatusBar() override;

  // Creates the bar along the bottom of its parent's client area, in the
  // parent's font; FALSE if the window cannot be created.
  using CWnd::Create;
  BOOL Create(CWnd* pParentWnd, DWORD dwStyle = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM,
              UINT nID = AFX_IDW_STATUS_BAR);
  // One pane per id; ID_SEPARATOR makes a stretching pane. Texts start empty.
  // FALSE for a negative count or a null array with a positive count.
  BOOL SetIndicators(const UINT* lpIDArray, int nIDCount);

  // The number of panes.
  int GetCount() const;
  // The index of the first pane with the id; -1 if none.
  int CommandToIndex(UINT nIDFind) const;
  // The pane's id.
  UINT GetItemID(int nIndex) const;
  // The pane's rectangle in the bar's client area (empty for a bad index):
  // fixed panes at their width from the left, stretching ones sharing the rest.
  void GetItemRect(int nIndex, LPRECT lpRect) const;
  // The pane's text.
  CString GetPaneText(int nIndex) const;
  // Sets the pane's text (null: empty), repainting when bUpdate; FALSE for a bad index.
  BOOL SetPaneText(int nIndex, LPCSTR lpszNewText, BOOL bUpdate = TRUE);
  // The pane's id, SBPS_ style and width (all 0 for a bad index).
  void GetPaneInfo(int nIndex, UINT& nID, UINT& nStyle, int& cxWidth) const;
  // Sets the pane's id, style and width (negative widths count as 0).
  void SetPaneInfo(int nIndex, UINT nID, UINT nStyle, int cxWidth);
  // The pane's SBPS_ style.
  UINT GetPaneStyle(int nIndex) const;
  // Sets the pane's SBPS_ style.
  void SetPaneStyle(int nIndex, UINT nStyle);

  // Runs one update request per pane against pTarget; stops if a handler
  // destroys the bar.
  void OnUpdateCmdUI(CWnd* pTarget, BOOL bDisableIfNoHndler) override;

  // Height of the bar in pixels.
  static constexpr int kHeight = 20;
  // Width of a new pane that is not a separator, in pixels.
  static constexpr int kDefaultPaneWidth = 64;

protected:
  // Paints each pane's box and, unless disabled, its text.
  void OnPaint();

  DECLARE_MESSAGE_MAP()

private:
  struct State;
  std::unique_ptr<State> m_pState;
};

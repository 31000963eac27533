// SPDX-License-Identifier: Apache-2.0
// CCmdTarget, the base of objects that take part in command handling, and the
// application object. Here they carry the wait cursor: a count kept by the
// application object that a window layer turns into a busy cursor.
#pragma once

#include "framework/core/object.h"
#include "framework/core/win_types.h"

class AFX_EXT_CLASS CCmdTarget : public CObject {
public:
  CCmdTarget() = default;
  ~CCmdTarget() override = default;

  // Shows the busy cursor through the application object until EndWaitCursor.
  void BeginWaitCursor();
  // Ends one BeginWaitCursor; the cursor goes back to normal when none is left open.
  void EndWaitCursor();
  // Shows the busy cursor again after something (a dialog) replaced it.
  void RestoreWaitCursor();
};

// Called with +1 when a wait begins, -1 when it ends and 0 to restore the busy
// cursor; nWaitCount is the number of waits still open after the change.
using AFX_WAIT_CURSOR_HANDLER = void (*)(int nCode, int nWaitCount);

// The application object: the host's, or the framework's default one.
class AFX_EXT_CLASS CWinApp : public CCmdTarget {
public:
  // An application object constructed by the host becomes the current one
  // (AfxGetApp) until it is destroyed.
  explicit CWinApp(LPCTSTR lpszAppName = nullptr);
  ~CWinApp() override;

  // Counts open waits (nCode +1 opens one, -1 closes one, never below 0, 0
  // restores) and tells the installed handler; without a handler it only
  // counts, since there is no cursor to show.
  virtual void DoWaitCursor(int nCode);
  // The number of waits open now.
  int GetWaitCursorCount() const;

  LPCTSTR m_pszAppName;  // the name given to the constructor; not copied, may be null

private:
  struct DefaultTag {};
  explicit CWinApp(DefaultTag);
  friend CWinApp* AfxGetApp();

  int m_nWaitCursorCount = 0;
  CWinApp* m_pPrevious = nullptr;
};

// The current application object: the most recently constructed CWinApp that
// still exists, or a process-wide default one.
AFX_API_EXPORT CWinApp* AfxGetApp();
// Installs the function that shows and hides the busy cursor; returns the
// previous one. Null removes it.
AFX_API_EXPORT AFX_WAIT_CURSOR_HANDLER AfxSetWaitCursorHandler(AFX_WAIT_CURSOR_HANDLER pfnHandler);

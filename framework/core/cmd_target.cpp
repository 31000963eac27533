// SPDX-License-Identifier: Apache-2.0
#include "framework/core/cmd_target.h"

#include <atomic>
#include <mutex>

namespace {

std::atomic<AFX_WAIT_CURSOR_HANDLER> g_waitCursorHandler{nullptr};
std::atomic<CWinApp*> g_currentApp{nullptr};
std::mutex g_waitMutex;

}  // namespace

void CCmdTarget::BeginWaitCursor() { AfxGetApp()->DoWaitCursor(1); }

void CCmdTarget::EndWaitCursor() { AfxGetApp()->DoWaitCursor(-1); }

void CCmdTarget::RestoreWaitCursor() { AfxGetApp()->DoWaitCursor(0); }

CWinApp::CWinApp(LPCTSTR lpszAppName) : m_pszAppName(lpszAppName) {
  m_pPrevious = g_currentApp.exchange(this);
}

CWinApp::CWinApp(DefaultTag) : m_pszAppName(nullptr) {}

CWinApp::~CWinApp() {
  CWinApp* self = this;
  g_currentApp.compare_exchange_strong(self, m_pPrevious);
}

void CWinApp::DoWaitCursor(int nCode) {
  int nCount;
  {
    std::lock_guard<std::mutex> lock(g_waitMutex);
    if (nCode > 0) ++m_nWaitCursorCount;
    else if (nCode < 0 && m_nWaitCursorCount > 0) --m_nWaitCursorCount;
    nCount = m_nWaitCursorCount;
  }
  if (AFX_WAIT_CURSOR_HANDLER handler = g_waitCursorHandler.load()) handler(nCode, nCount);
}

int CWinApp::GetWaitCursorCount() const {
  std::lock_guard<std::mutex> lock(g_waitMutex);
  return m_nWaitCursorCount;
}

CWinApp* AfxGetApp() {
  if (CWinApp* app = g_currentApp.load()) return app;
  // Never destroyed, so that it outlives every static object that might still
  // begin a wait during shutdown.
  static CWinApp* const defaultApp = new CWinApp(CWinApp::DefaultTag{});
  return defaultApp;
}

AFX_WAIT_CURSOR_HANDLER AfxSetWaitCursorHandler(AFX_WAIT_CURSOR_HANDLER pfnHandler) {
  return g_waitCursorHandler.exchange(pfnHandler);
}

// SPDX-License-Identifier: Apache-2.0
// A host that shows only the progress dialog. It names nothing of the module
// (libtarvenkel), whose registration holds the dialog's template, so the
// module is in the process only because the ui library brings it along.
#include <tarvenkel/framework/window/window.h>
#include <tarvenkel/ui/net_connect.h>

#include <cstdio>

int main() {
  AfxSetWindowBackend(AfxWindowBackend::Headless);
  CNetConnect dlg;
  dlg.Create(nullptr);
  if (!::IsWindow(dlg.m_hWnd)) {
    std::printf("dialog: no window: %s\n", CNetConnect::GetCreateError().GetString());
    return 1;
  }
  dlg.SetStatus("Connecting");
  std::printf("dialog: shown, status %s\n", dlg.m_strStatus.GetString());
  dlg.DestroyWindow();
  return 0;
}

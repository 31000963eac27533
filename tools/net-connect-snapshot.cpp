// SPDX-License-Identifier: Apache-2.0
// Shows the progress dialog with a status line and writes a picture of it as
// PNG, rendered headless (no display needed).
//
//   net-connect-snapshot OUT.png [STATUS] [MILLISECONDS]
#include <cstdio>
#include <cstdlib>

#include <tarvenkel/framework/gdi/surface.h>
#include <tarvenkel/framework/window/window.h>
#include <tarvenkel/ui/net_connect.h>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: %s OUT.png [STATUS] [MILLISECONDS]\n", argv[0]);
    return 2;
  }
  AfxSetWindowBackend(AfxWindowBackend::Headless);
  AfxSetManualClock(TRUE);
  CNetConnect dlg;
  dlg.Create(nullptr);
  if (!dlg.m_hWnd) {
    std::fprintf(stderr, "the dialog could not be created\n");
    return 1;
  }
  // "Connecting to the mail server ..." in the ANSI code page (936).
  dlg.SetStatus(argc > 2 ? argv[2] : "\xD5\xFD\xD4\xDA\xC1\xAC\xBD\xD3\xD3\xCA\xBC\xFE\xB7\xFE\xCE\xF1\xC6\xF7 127.0.0.1:25 ...");
  AfxAdvanceFrameworkTime(argc > 3 ? static_cast<DWORD>(std::atoi(argv[3])) : 600);
  const CRasterSurface* surface = AfxGetWindowSurface(dlg.m_hWnd);
  BOOL ok = surface && surface->SavePng(argv[1]);
  dlg.DestroyWindow();
  if (!ok) {
    std::fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}

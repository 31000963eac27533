// SPDX-License-Identifier: Apache-2.0
// Test helpers for windows.
#include "tests/support/window_fixture.h"

namespace tarvenkel::test {

CRect SurfaceRectOf(HWND hChild) {
  CRect rc;
  ::GetWindowRect(hChild, &rc);
  for (HWND h = ::GetParent(hChild); h; h = ::GetParent(h)) {
    CRect outer, client;
    ::GetWindowRect(h, &outer);
    ::GetClientRect(h, &client);
    // The frame and caption sit left and above the client area; a top-level
    // window's surface starts at its own top-left corner.
    int ncLeft = (outer.Width() - client.Width()) / 2;
    int ncTop = outer.Height() - client.Height() - ncLeft;
    int x = ncLeft, y = ncTop;
    if (::GetParent(h)) x += outer.left, y += outer.top;
    rc.left += x, rc.right += x, rc.top += y, rc.bottom += y;
  }
  return rc;
}

int CountPixelsNot(const CRasterSurface& surface, const CRect& rc, COLORREF cr) {
  int n = 0;
  for (int y = rc.top; y < rc.bottom; ++y)
    for (int x = rc.left; x < rc.right; ++x)
      if (surface.GetPixel(x, y) != cr) ++n;
  return n;
}

}  // namespace tarvenkel::test

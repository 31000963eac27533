// SPDX-License-Identifier: Apache-2.0
// Test helpers for windows: a headless fixture with a manual framework
// clock, and pixel queries on a top-level window's surface.
#pragma once

#include <gtest/gtest.h>

#include "framework/gdi/surface.h"
#include "framework/window/window.h"

namespace tarvenkel::test {

// Headless windows on a manual clock; every window is gone afterwards.
class HeadlessWindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    AfxSetWindowBackend(AfxWindowBackend::Headless);
    AfxSetManualClock(TRUE);
  }
  void TearDown() override {
    AfxPumpPendingMessages();
    AfxSetManualClock(FALSE);
    AfxSetWindowBackend(AfxWindowBackend::Auto);
  }
};

// The rectangle of a child window on its top-level window's surface.
CRect SurfaceRectOf(HWND hChild);
// How many pixels of the rectangle on the surface differ from cr.
int CountPixelsNot(const CRasterSurface& surface, const CRect& rc, COLORREF cr);

}  // namespace tarvenkel::test

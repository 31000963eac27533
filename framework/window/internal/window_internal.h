// SPDX-License-Identifier: Apache-2.0
// The window record behind an HWND and the interface of the window backends.
// Private to the framework's window layer.
#pragma once

#include <memory>
#include <vector>

#include "framework/gdi/surface.h"
#include "framework/window/window.h"

// State that a window class keeps per window (the animation's clip, ...).
class CWindowExtra {
public:
  virtual ~CWindowExtra() = default;
};

struct HWND__ {
  CWnd* pWnd = nullptr;
  WNDPROC pfnClassProc = nullptr;
  CString strClass;
  HWND hParent = nullptr;
  std::vector<HWND> children;
  CRect rcWindow;      // child: in the parent's client coordinates; top-level: on the screen
  CRect rcNonClient;   // widths of the frame and caption on each side
  DWORD dwStyle = 0;
  DWORD dwExStyle = 0;
  UINT nID = 0;
  HINSTANCE hInstance = nullptr;
  CString strText;
  HFONT hFont = nullptr;
  bool bOwnsFont = false;  // a dialog's font made from its template, deleted with it
  bool bDestroying = false;
  HDC hPaintDC = nullptr;  // during its WM_PAINT
  std::unique_ptr<CWindowExtra> pExtra;

  // Top-level windows only.
  bool bNeedsPaint = false;
  std::unique_ptr<CRasterSurface> pSurface;
  unsigned long nX11Window = 0;

  CRect ClientRect() const {
    return CRect(0, 0, rcWindow.Width() - rcNonClient.left - rcNonClient.right,
                 rcWindow.Height() - rcNonClient.top - rcNonClient.bottom);
  }
};

// Where the windows of one backend appear.
class CWindowBackendImpl {
public:
  virtual ~CWindowBackendImpl() = default;
  virtual AfxWindowBackend Kind() const = 0;
  virtual void CreateTopLevel(HWND) {}
  virtual void DestroyTopLevel(HWND) {}
  virtual void ShowTopLevel(HWND, bool) {}
  virtual void SetCaption(HWND) {}
  virtual void MoveTopLevel(HWND) {}
  // Puts the freshly painted surface of a top-level window on the screen.
  virtual void Present(HWND) {}
  // The descriptor to poll for display events, or -1.
  virtual int GetFd() const { return -1; }
  // Turns pending display events into messages; TRUE if there were any.
  virtual bool ProcessEvents() { return false; }
  virtual void SetBusyCursor(bool) {}
};

std::unique_ptr<CWindowBackendImpl> AfxCreateX11Backend();
// Registers the predefined window classes (static, animation, dialog) once.
void AfxRegisterStandardClasses();
void AfxRegisterDialogClasses();
void AfxRegisterAnimateClass();
void AfxRegisterStatusBarClass();  // null if no display
// Every live top-level window, oldest first.
const std::vector<HWND>& AfxTopLevelWindows();

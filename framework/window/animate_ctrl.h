// SPDX-License-Identifier: Apache-2.0
// The animation control ("SysAnimate32"): plays an AVI clip of uncompressed
// 8-bit frames, opened from a resource of the module that created the control.
// Playback runs on framework timers on the window's own thread.
#pragma once

#include "framework/module/resources.h"
#include "framework/window/window.h"

constexpr DWORD ACS_CENTER = 0x0001;       // style: frames centred at the clip's size; otherwise the control takes that size
constexpr DWORD ACS_TRANSPARENT = 0x0002;  // style: accepted, no effect here
constexpr DWORD ACS_AUTOPLAY = 0x0004;     // style: a clip plays, looping, as soon as it is opened
constexpr DWORD ACS_TIMER = 0x0008;        // style: accepted; playback always runs on timers

constexpr UINT ACM_OPENA = WM_USER + 100;     // opens a clip: lParam a resource number, a path, or 0 to close; wParam the module or 0
constexpr UINT ACM_OPEN = ACM_OPENA;          // the same
constexpr UINT ACM_PLAY = WM_USER + 101;      // plays: wParam the repeat count, lParam MAKELPARAM(from, to)
constexpr UINT ACM_STOP = WM_USER + 102;      // stops playback
constexpr UINT ACM_ISPLAYING = WM_USER + 104; // TRUE while playing

#define ANIMATE_CLASS "SysAnimate32"  // the control's window class

// The animation control's window object.
class AFX_EXT_CLASS CAnimateCtrl : public CWnd {
public:
  CAnimateCtrl() = default;
  ~CAnimateCtrl() override;

  using CWnd::Create;
  // Creates the control as child nID of pParentWnd; FALSE if the window
  // cannot be created.
  BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
  // Opens clip resource nID of the control's module (ACS_AUTOPLAY starts
  // it); 0 closes the clip. FALSE when the resource is missing or is not a
  // clip the control can play (the control is then empty).
  BOOL Open(UINT nID);
  // Closes the clip; TRUE.
  BOOL Close() { return Open(0U); }
  // Plays frames nFrom..nTo (0xFFFF: the last) nRep times (-1: until
  // stopped). FALSE without a clip or for frames outside it.
  BOOL Play(UINT nFrom, UINT nTo, UINT nRep);
  // Stops playback at the frame on show; TRUE.
  BOOL Stop();
  // TRUE while the clip plays.
  BOOL IsPlaying() const;
};

// The frame of a control's open clip now on show, or -1 when none is open.
AFX_API_EXPORT int AfxGetAnimateFrame(HWND hWnd);

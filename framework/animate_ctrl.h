// The animation control ("SysAnimate32"): plays an AVI clip of uncompressed
// 8-bit frames, opened from a resource of the module that created the control.
// Playback runs on framework timers on the window's own thread.
#pragma once

#include "framework/window.h"

constexpr DWORD ACS_CENTER = 0x0001;
constexpr DWORD ACS_TRANSPARENT = 0x0002;
constexpr DWORD ACS_AUTOPLAY = 0x0004;
constexpr DWORD ACS_TIMER = 0x0008;

constexpr UINT ACM_OPENA = WM_USER + 100;
constexpr UINT ACM_OPEN = ACM_OPENA;
constexpr UINT ACM_PLAY = WM_USER + 101;
constexpr UINT ACM_STOP = WM_USER + 102;
constexpr UINT ACM_ISPLAYING = WM_USER + 104;

#define ANIMATE_CLASS "SysAnimate32"
// The resource type of animation clips.
#define RT_AVI_TYPE "AVI"

class AFX_EXT_CLASS CAnimateCtrl : public CWnd {
public:
  CAnimateCtrl() = default;
  ~CAnimateCtrl() override;

  using CWnd::Create;
  BOOL Create(DWORD dwStyle, const RECT& rect, CWnd* pParentWnd, UINT nID);
  // Opens clip resource nID (ACS_AUTOPLAY starts it); 0 closes the clip.
  BOOL Open(UINT nID);
  BOOL Close() { return Open(0U); }
  // Plays frames nFrom..nTo (0xFFFF: the last) nRep times (-1: until stopped).
  BOOL Play(UINT nFrom, UINT nTo, UINT nRep);
  BOOL Stop();
  BOOL IsPlaying() const;
};

// The frame of a control's open clip now on show, or -1 when none is open.
AFX_API_EXPORT int AfxGetAnimateFrame(HWND hWnd);

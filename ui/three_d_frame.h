// SPDX-License-Identifier: Apache-2.0
// C3DWin: a raised or sunken rectangular frame that the host draws on its own
// device contexts, screen or printer.
#pragma once

#include "framework/core/object.h"
#include "framework/gdi/dc.h"

class AFX_EXT_CLASS C3DWin : public CObject {
public:
  // Leaves the fields zeroed, so that Draw before SetWin draws nothing.
  C3DWin();
  ~C3DWin() override;

  // Stores the frame's settings as given.
  void SetWin(CRect rcWin, BOOL bFill, BOOL bRaised, int nWidth, COLORREF crFill, COLORREF crHighlight,
              COLORREF crShadow);
  // Draws the frame; on a printer in black, without the fill, right and bottom moved out by nPrintOffset.
  void Draw(CDC* pDC, int nPrintOffset);

  CRect m_rcWin;          // the frame's outer rectangle; an empty one draws nothing
  BOOL m_bFill;           // fill the inside with m_crFill (not when printing)
  BOOL m_bRaised;         // raised (light top-left) or sunken (dark top-left)
  int m_nWidth;           // the width of the frame's lines in pixels
  COLORREF m_crFill;      // the inside colour
  COLORREF m_crHighlight; // the light edge colour
  COLORREF m_crShadow;    // the dark edge colour
};

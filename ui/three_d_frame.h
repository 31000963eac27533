// C3DWin: a raised or sunken rectangular frame that the host draws on its own
// device contexts, screen or printer.
#pragma once

#include "framework/dc.h"
#include "framework/object.h"

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

  CRect m_rcWin;
  BOOL m_bFill;
  BOOL m_bRaised;
  int m_nWidth;
  COLORREF m_crFill;
  COLORREF m_crHighlight;
  COLORREF m_crShadow;
};

// SPDX-License-Identifier: Apache-2.0
#include "ui/three_d_frame.h"

C3DWin::C3DWin()
    : m_rcWin(0, 0, 0, 0), m_bFill(FALSE), m_bRaised(FALSE), m_nWidth(0), m_crFill(0), m_crHighlight(0),
      m_crShadow(0) {}

C3DWin::~C3DWin() = default;

void C3DWin::SetWin(CRect rcWin, BOOL bFill, BOOL bRaised, int nWidth, COLORREF crFill, COLORREF crHighlight,
                    COLORREF crShadow) {
  m_rcWin = rcWin;
  m_bFill = bFill;
  m_bRaised = bRaised;
  m_nWidth = nWidth;
  m_crFill = crFill;
  m_crHighlight = crHighlight;
  m_crShadow = crShadow;
}

void C3DWin::Draw(CDC* pDC, int nPrintOffset) {
  if (!(m_rcWin.left < m_rcWin.right && m_rcWin.top < m_rcWin.bottom)) return;

  CPen penShadow(PS_SOLID, m_nWidth, m_crShadow);
  CPen penHighlight(PS_SOLID, m_nWidth, m_crHighlight);
  CPen penBlack(PS_SOLID, m_nWidth, RGB(0, 0, 0));
  CRect rc = m_rcWin;
  BOOL bPrinting = pDC->IsPrinting();

  if (m_bFill && !bPrinting) {
    CBrush brush(m_crFill);
    ::FillRect(pDC->m_hDC, &rc, static_cast<HBRUSH>(brush.m_hObject));
    brush.DeleteObject();
  }
  if (bPrinting) {
    rc.right += nPrintOffset;
    rc.bottom += nPrintOffset;
  }

  CPen* pFirst = &penBlack;
  CPen* pSecond = &penBlack;
  if (!bPrinting) {
    pFirst = m_bRaised ? &penHighlight : &penShadow;
    pSecond = m_bRaised ? &penShadow : &penHighlight;
  }

  // Left and top edges in the first pen, from the bottom-left corner; then
  // right and bottom in the second, continuing from the top-right corner.
  CPen* pOldPen = pDC->SelectObject(pFirst);
  pDC->MoveTo(rc.left, rc.bottom);
  pDC->LineTo(rc.left, rc.top);
  pDC->LineTo(rc.right, rc.top);
  if (!bPrinting) pDC->SelectObject(pSecond);
  pDC->LineTo(rc.right, rc.bottom);
  pDC->LineTo(rc.left, rc.bottom);

  pDC->SelectObject(pOldPen);
  penShadow.DeleteObject();
  penHighlight.DeleteObject();
  penBlack.DeleteObject();
}

// SPDX-License-Identifier: Apache-2.0
#include "ui/text_block.h"

#include <cstring>

CSingleText::CSingleText() : m_rcText(0, 0, 0, 0), m_logFont{}, m_crText(RGB(0, 0, 0)), m_nFormat(DT_CENTER | DT_VCENTER) {
  m_logFont.lfHeight = -12;
  m_logFont.lfWeight = FW_NORMAL;
  m_logFont.lfCharSet = DEFAULT_CHARSET;
  m_logFont.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
  static const char kSimSun[] = "\xCB\xCE\xCC\xE5";  // "宋体" in code page 936
  std::memcpy(m_logFont.lfFaceName, kSimSun, sizeof(kSimSun));
}

CSingleText::~CSingleText() = default;

void CSingleText::SetRect(CRect rcText) {
  m_rcText = rcText;
}

void CSingleText::SetFont(LPCTSTR lpszFaceName, int nSize) {
  // Through a copy: the name may be the block's own face name, which
  // clearing the field first would erase.
  char face[LF_FACESIZE] = {};
  if (lpszFaceName != nullptr) std::strncpy(face, lpszFaceName, LF_FACESIZE - 1);
  std::memcpy(m_logFont.lfFaceName, face, sizeof face);
  m_logFont.lfHeight = -nSize;
}

void CSingleText::SetColor(COLORREF crText) {
  m_crText = crText;
}

void CSingleText::SetFormat(UINT nFormat) {
  m_nFormat = nFormat;
}

void CSingleText::SetText(CString strText) {
  m_strText = strText;
}

void CSingleText::Draw(CDC* pDC, COLORREF crBackground) {
  int nOldBkMode = pDC->SetBkMode(TRANSPARENT);

  if (crBackground != 0xFFFFFFFF && !pDC->IsPrinting()) {
    CRect rcBack = m_rcText;
    ::InflateRect(&rcBack, -1, -1);
    CBrush brush(crBackground);
    ::FillRect(pDC->m_hDC, &rcBack, static_cast<HBRUSH>(brush.m_hObject));
    brush.DeleteObject();
  }

  if (!m_strText.IsEmpty()) {
    CFont font;
    font.Attach(::CreateFontIndirectA(&m_logFont));
    CFont* pOldFont = pDC->SelectObject(&font);
    COLORREF crOldText = pDC->SetTextColor(pDC->IsPrinting() ? RGB(0, 0, 0) : m_crText);

    CRect rcText = m_rcText;
    UINT nFormat = m_nFormat;
    if (m_strText.Find('\n') < 0) nFormat |= DT_SINGLELINE;

    // Measure the text's extent, lines split at line feeds, nothing wrapped.
    CRect rcMeasure = m_rcText;
    pDC->DrawText(m_strText, &rcMeasure, DT_CALCRECT);
    int cx = rcMeasure.Width() < rcText.Width() ? rcMeasure.Width() : rcText.Width();
    int cy = rcMeasure.Height() < rcText.Height() ? rcMeasure.Height() : rcText.Height();

    // Shrink the rectangle to the text's extent where the flags place it, so
    // that centring and bottom alignment also hold for several lines.
    if (nFormat & DT_VCENTER) ::InflateRect(&rcText, 0, (rcText.top - rcText.bottom + cy) / 2);
    if (nFormat & DT_CENTER) ::InflateRect(&rcText, (rcText.left - rcText.right + cx) / 2, 0);
    if (nFormat & DT_BOTTOM) rcText.top = rcText.bottom - cy;
    if (nFormat & DT_RIGHT) rcText.left = rcText.right - cx;

    pDC->DrawText(m_strText, &rcText, nFormat);

    pDC->SetTextColor(crOldText);
    pDC->SelectObject(pOldFont);
    font.DeleteObject();
  }

  pDC->SetBkMode(nOldBkMode);
}

CSize CSingleText::GetSize(CDC* pDC) {
  if (m_strText.IsEmpty()) return CSize(0, 0);
  CFont font;
  font.Attach(::CreateFontIndirectA(&m_logFont));
  CFont* pOldFont = pDC->SelectObject(&font);
  SIZE size{0, 0};
  ::GetTextExtentPoint32A(pDC->m_hAttribDC, m_strText.GetString(), m_strText.GetLength(), &size);
  pDC->SelectObject(pOldFont);
  font.DeleteObject();
  return CSize(size);
}

// SPDX-License-Identifier: Apache-2.0
// CSingleText: one block of text (a line, or lines separated by line feeds)
// drawn aligned inside a rectangle in a given font and colour, with an
// optional background, and measured in its font.
#pragma once

#include "framework/core/object.h"
#include "framework/core/string.h"
#include "framework/gdi/dc.h"

class AFX_EXT_CLASS CSingleText : public CObject {
public:
  // Black text, centred both ways, in 12-pixel SimSun (face name in code page 936).
  CSingleText();
  ~CSingleText() override;

  // The rectangle the text is drawn in.
  void SetRect(CRect rcText);
  // Copies the face name (cut to 31 bytes) and sets the character height to nSize; nothing else changes.
  void SetFont(LPCTSTR lpszFaceName, int nSize);
  // The text colour.
  void SetColor(COLORREF crText);
  // The DT_ alignment flags; DT_SINGLELINE is added when drawing text without a line feed.
  void SetFormat(UINT nFormat);
  // The text; line feeds separate lines.
  void SetText(CString strText);

  // Paints the background (unless crBackground is 0xFFFFFFFF or printing) and the text.
  virtual void Draw(CDC* pDC, COLORREF crBackground);
  // The text's extent as one line in the block's font; (0, 0) for no text.
  CSize GetSize(CDC* pDC);

  CRect m_rcText;      // see SetRect
  LOGFONT m_logFont;   // the font, see SetFont
  COLORREF m_crText;   // see SetColor
  UINT m_nFormat;      // see SetFormat
  CString m_strText;   // see SetText
};

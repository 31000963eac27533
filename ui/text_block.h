// CSingleText: one block of text (a line, or lines separated by line feeds)
// drawn aligned inside a rectangle in a given font and colour, with an
// optional background, and measured in its font.
#pragma once

#include "framework/dc.h"
#include "framework/object.h"
#include "framework/string.h"

class AFX_EXT_CLASS CSingleText : public CObject {
public:
  // Black text, centred both ways, in 12-pixel SimSun (face name in code page 936).
  CSingleText();
  ~CSingleText() override;

  void SetRect(CRect rcText);
  // Copies the face name (cut to 31 bytes) and sets the character height to nSize; nothing else changes.
  void SetFont(LPCTSTR lpszFaceName, int nSize);
  void SetColor(COLORREF crText);
  void SetFormat(UINT nFormat);
  void SetText(CString strText);

  // Paints the background (unless crBackground is 0xFFFFFFFF or printing) and the text.
  virtual void Draw(CDC* pDC, COLORREF crBackground);
  // The text's extent as one line in the block's font; (0, 0) for no text.
  CSize GetSize(CDC* pDC);

  CRect m_rcText;
  LOGFONT m_logFont;
  COLORREF m_crText;
  UINT m_nFormat;
  CString m_strText;
};

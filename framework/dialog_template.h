// The binary dialog template: the window's style, extended style, position and
// size in dialog units, menu, class, caption and font, followed by one item
// template per control, each aligned to four bytes. Texts are UTF-16; a name
// may instead be an ordinal (0xFFFF, number), as for the predefined control
// classes (0x0080 button, 0x0081 edit, 0x0082 static, ...).
#pragma once

#include <string>
#include <vector>

#include "framework/string.h"
#include "framework/win_types.h"

#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L

// A name in a template: either a string or an ordinal.
struct AFX_EXT_CLASS CTemplateName {
  WORD nOrdinal = 0;       // non-zero: the name is this ordinal
  std::u16string strText;  // otherwise this text (empty: no name)

  BOOL IsOrdinal() const { return nOrdinal != 0; }
  bool operator==(const CTemplateName&) const = default;
};

struct AFX_EXT_CLASS CDialogItemTemplate {
  DWORD style = 0;
  DWORD dwExtendedStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  WORD id = 0;
  CTemplateName className;
  CTemplateName title;
  std::vector<BYTE> creationData;
};

class AFX_EXT_CLASS CDialogTemplate {
public:
  DWORD style = 0;
  DWORD dwExtendedStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  CTemplateName menu;
  CTemplateName className;
  std::u16string strCaption;
  WORD wPointSize = 0;        // with DS_SETFONT only
  std::u16string strFaceName; // with DS_SETFONT only
  std::vector<CDialogItemTemplate> items;

  // The template in its binary layout.
  std::vector<BYTE> Write() const;
  // Parses a binary template, bounds-checked. On failure returns FALSE, leaves
  // this object unchanged and puts the reason in strError.
  BOOL Read(const BYTE* pData, DWORD nSize, CString& strError);
};

// UTF-16 text to the framework's 8-bit ANSI code page (936 unless changed).
AFX_API_EXPORT CString AfxTextFromUtf16(const std::u16string& text);

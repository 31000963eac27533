// SPDX-License-Identifier: Apache-2.0
// The binary dialog template: the window's style, extended style, position and
// size in dialog units, menu, class, caption and font, followed by one item
// template per control, each aligned to four bytes. Texts are UTF-16; a name
// may instead be an ordinal (0xFFFF, number), as for the predefined control
// classes (0x0080 button, 0x0081 edit, 0x0082 static, ...).
#pragma once

#include <string>
#include <vector>

#include "framework/core/string.h"
#include "framework/core/win_types.h"

#define DS_SETFONT 0x40L     // style: the template names a font (point size and face)
#define DS_MODALFRAME 0x80L  // style: a dialog frame

// A name in a template: either a string or an ordinal.
struct AFX_EXT_CLASS CTemplateName {
  WORD nOrdinal = 0;       // non-zero: the name is this ordinal
  std::u16string strText;  // otherwise this text (empty: no name)

  // TRUE when the name is an ordinal.
  BOOL IsOrdinal() const { return nOrdinal != 0; }
  bool operator==(const CTemplateName&) const = default;
};

// One control of a template.
struct AFX_EXT_CLASS CDialogItemTemplate {
  DWORD style = 0;                     // the control's window style
  DWORD dwExtendedStyle = 0;           // its extended style
  short x = 0, y = 0, cx = 0, cy = 0;  // position and size, in dialog units
  WORD id = 0;                         // the control's id
  CTemplateName className;             // its window class (a name or a predefined ordinal)
  CTemplateName title;                 // its text, or a resource ordinal
  std::vector<BYTE> creationData;      // bytes handed to the control at creation
};

// A whole template: the dialog's own fields and its controls.
class AFX_EXT_CLASS CDialogTemplate {
public:
  DWORD style = 0;                     // the dialog's window style (DS_SETFONT: a font follows)
  DWORD dwExtendedStyle = 0;           // its extended style
  short x = 0, y = 0, cx = 0, cy = 0;  // position and size, in dialog units
  CTemplateName menu;                  // the menu; empty for none
  CTemplateName className;             // the window class; empty for the dialog class
  std::u16string strCaption;           // the caption
  WORD wPointSize = 0;        // with DS_SETFONT only
  std::u16string strFaceName; // with DS_SETFONT only
  std::vector<CDialogItemTemplate> items;  // the controls, in order

  // The template in its binary layout.
  std::vector<BYTE> Write() const;
  // Parses a binary template, bounds-checked. On failure returns FALSE, leaves
  // this object unchanged and puts the reason in strError.
  BOOL Read(const BYTE* pData, DWORD nSize, CString& strError);
};

// UTF-16 text to the framework's 8-bit ANSI code page (936 unless changed).
AFX_API_EXPORT CString AfxTextFromUtf16(const std::u16string& text);

// SPDX-License-Identifier: Apache-2.0
// CTextPlain: the content agent for "text/plain" parts, which word-wraps the
// text and declares it 7bit, or sends it as base64 with its charset when it
// holds 8-bit bytes or over-long lines.
#pragma once

#include "mail/mime_content_agent.h"

class AFX_EXT_CLASS CTextPlain : public CMIMEContentAgent {
public:
  // An agent for code nContentType that wraps lines at nWrapPos characters.
  CTextPlain(int nContentType, UINT nWrapPos = 72);
  CTextPlain(const CTextPlain&) = default;
  CTextPlain& operator=(const CTextPlain&) = default;
  ~CTextPlain() override = default;

  // Appends the sub-header and the wrapped text, its bare LF and CR made
  // CR LF first; a wrapped text that needs a transfer encoding (8-bit
  // bytes, a line over 998 bytes) goes as base64 lines. Always 1.
  BOOL AppendPart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath,
                  CString& sDestination) override;
  // "text/plain".
  CString GetContentTypeString() override;

protected:
  // Content-Type with szParameters appended, and Content-Transfer-Encoding
  // 7Bit; for a szContent that needs a transfer encoding, base64, and when
  // it is 8-bit the charset of the ANSI code page unless szParameters names one.
  CString build_sub_header(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath) override;
  // Breaks lines longer than the wrap width at the last space seen, in time
  // linear in the length of the text (see text_plain.cpp for the rule).
  CString wrap_text(LPCTSTR szText);

private:
  UINT m_nWrapWidth;
};

// CTextPlain: the content agent for "text/plain" parts, which word-wraps the
// text and declares it 7bit.
#pragma once

#include "mail/mime_content_agent.h"

class AFX_EXT_CLASS CTextPlain : public CMIMEContentAgent {
public:
  // An agent for code nContentType that wraps lines at nWrapPos characters.
  CTextPlain(int nContentType, UINT nWrapPos = 72);
  CTextPlain(const CTextPlain&) = default;
  CTextPlain& operator=(const CTextPlain&) = default;
  ~CTextPlain() override = default;

  // Appends the sub-header and the wrapped text; always 1.
  BOOL AppendPart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath,
                  CString& sDestination) override;
  // "text/plain".
  CString GetContentTypeString() override;

protected:
  // Content-Type with szParameters appended, and Content-Transfer-Encoding 7Bit.
  CString build_sub_header(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath) override;
  // Breaks lines longer than the wrap width at the last space seen, in time
  // linear in the length of the text (see text_plain.cpp for the rule).
  CString wrap_text(LPCTSTR szText);

private:
  UINT m_nWrapWidth;
};

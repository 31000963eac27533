// SPDX-License-Identifier: Apache-2.0
#include "mail/mime_content_agent.h"

BOOL CMIMEContentAgent::WritePart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath, CFile& file) {
  CString part;
  const BOOL whole = AppendPart(szContent, szParameters, nEncoding, bPath, part);
  file.Write(part.GetString(), static_cast<UINT>(part.GetLength()));
  return whole;
}

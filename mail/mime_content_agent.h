// SPDX-License-Identifier: Apache-2.0
// CMIMEContentAgent: writes one queued MIME part of its content type (its
// sub-header and its content) into the body of a message being built, held
// in a string or written to a file. The codes that select an agent and the
// transfer-encoding codes are here too.
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"
#include "framework/io/file.h"

// Content-type code of a MIME part; any other value may be queued.
enum MIME_CONTENT_TYPE : int { TEXT_PLAIN = 0, APPLICATION_OCTETSTREAM = 1 };
// Transfer-encoding code carried by a MIME part to its agent.
enum MIME_ENCODING : int { ENCODING_7BIT = 0, ENCODING_BASE64 = 4 };

class AFX_EXT_CLASS CMIMEContentAgent {
public:
  // An agent for the content-type code nMIMEType.
  explicit CMIMEContentAgent(int nMIMEType) : m_nTypeCode(nMIMEType) {}
  CMIMEContentAgent(const CMIMEContentAgent&) = default;
  CMIMEContentAgent& operator=(const CMIMEContentAgent&) = default;
  virtual ~CMIMEContentAgent() = default;

  // 1 when nContentType is the code this agent handles, else 0.
  BOOL QueryType(int nContentType) const { return nContentType == m_nTypeCode ? TRUE : FALSE; }

  // Appends the part's sub-header and encoded content to sDestination;
  // nonzero when the part was appended.
  virtual BOOL AppendPart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath,
                          CString& sDestination) = 0;
  // Writes the same bytes as AppendPart would append into the file, at its
  // position; nonzero when the part was written whole, with AppendPart's
  // meaning. This default builds the part with AppendPart in a string of
  // its own and writes that, so an agent that only has AppendPart works
  // with WriteMessage as it is; an agent with large content overrides it to
  // write a piece at a time. Throws what the file's Write throws.
  virtual BOOL WritePart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath, CFile& file);
  // The MIME type text, e.g. "text/plain".
  virtual CString GetContentTypeString() = 0;

protected:
  // The part's header lines, ending with the empty line before the content.
  virtual CString build_sub_header(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath) = 0;

private:
  int m_nTypeCode;
};

// SPDX-License-Identifier: Apache-2.0
// CAppOctetStream: the content agent for file attachments,
// "application/octet-stream", written as base64 lines of 72 characters.
#pragma once

#include "mail/mime_content_agent.h"

#include <string>

class CStdioFile;

class AFX_EXT_CLASS CAppOctetStream : public CMIMEContentAgent {
public:
  // An agent for the content-type code nContentType.
  explicit CAppOctetStream(int nContentType);
  CAppOctetStream(const CAppOctetStream&) = default;
  CAppOctetStream& operator=(const CAppOctetStream&) = default;
  ~CAppOctetStream() override = default;

  // Appends the sub-header and the base64 lines of the file named by
  // szContent. 0 when the file cannot be opened (nothing is appended: a
  // directory, FIFO or device, a missing or locked file) and when it cannot
  // be read to the end (the sub-header and the lines read so far stay).
  BOOL AppendPart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath,
                  CString& sDestination) override;
  // Writes the same bytes as AppendPart into the file, without holding the
  // part in memory: the attachment is read and encoded a piece of 54 KiB
  // at a time, by the encoder attach_file uses. Returns what AppendPart
  // would (0 for a file that cannot be opened, with nothing written; 0 for
  // one that cannot be read to its end, with the lines read so far
  // written). Throws what the file's Write throws. A class that changes
  // attach_file and wants its encoding here too overrides this to call
  // CMIMEContentAgent::WritePart, which goes through AppendPart.
  BOOL WritePart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath, CFile& file) override;
  // "application/octet-stream".
  CString GetContentTypeString() override;

protected:
  // Content-Type with "; file=" and the name when bPath is set,
  // Content-Transfer-Encoding and Content-Disposition lines. A name that is
  // not a plain token is written as a quoted string. A name with bytes of
  // 0x80 and above is written as RFC 2231 "filename*=" and as encoded-words
  // in "filename=" and "file=", in the charset that szParameters names
  // ("; charset=GBK") or else the ANSI code page's.
  CString build_sub_header(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL bPath) override;
  // Appends the file as base64, one line per 54 bytes read, then an empty
  // line; at most as many bytes as the file held when it starts. A read error
  // ends the lines with one CR LF and closes the file, which tells AppendPart
  // that the part is incomplete.
  virtual void attach_file(CStdioFile* pFileAtt, int nEncoding, CString& sDestination);

private:
  // The sub-header of build_sub_header for an 8-bit file name.
  CString eight_bit_sub_header(const std::string& sName, LPCTSTR szParameters, BOOL bPath);
};

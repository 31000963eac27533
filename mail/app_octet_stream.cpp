// SPDX-License-Identifier: Apache-2.0
#include "mail/app_octet_stream.h"

#include "framework/core/code_page.h"
#include "framework/core/split_path.h"
#include "framework/io/stdio_file.h"
#include "mail/base64.h"
#include "mail/encoded_word.h"
#include "mail/header_text.h"
#include "mail/mime_output.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

// Bytes per base64 line: 54 bytes give 72 characters.
constexpr int kBytesPerLine = 54;

// The file name as a MIME parameter value. CR and LF become blanks; a name
// with blanks, control characters or tspecials becomes a quoted string with
// a backslash before '"' and '\', so that it reaches the reader whole.
CString parameter_value(const std::string& raw) {
  std::string name = raw;
  bool plain = true;
  for (char& c : name) {
    if (c == '\r' || c == '\n') c = ' ';
    const unsigned char u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || std::strchr("()<>@,;:\\\"/[]?=", c) != nullptr) plain = false;
  }
  if (plain) return CString(std::string_view(name));
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return CString(std::string_view(quoted));
}

// Opens the attachment for reading, so that no writer changes it meanwhile.
bool open_attachment(LPCTSTR szContent, CStdioFile& file) {
  return szContent != nullptr &&
         file.Open(szContent, CStdioFile::modeRead | CStdioFile::shareDenyWrite | CStdioFile::typeBinary);
}

// Closes the attachment; true when it was read to its end (the encoder
// closes it early when a read fails).
bool close_attachment(CStdioFile& file) {
  const bool whole = file.IsOpen();
  file.Close();
  return whole;
}

// Lines per piece: 1024 lines read 54 KiB of the file and make 74 KiB of
// text, as much as a file output gathers before it writes. Small pieces keep
// the memory of writing a message small; each still costs one write.
constexpr std::uint64_t kLinesPerPiece = tarvenkel::detail::FileOutput::kBufferSize / 74;
// Lines per piece of a file that states no length.
constexpr std::uint64_t kLinesUnknownLength = 256;

// The one base64 encoder of attachments, for a string and a file alike:
// reads the file 54 bytes at a time and writes each block as a line of 72
// characters and CR LF, into a piece of the output reserved for up to
// kLinesPerPiece lines, then an empty line. The file is read to the length
// it had when this starts (to its end when it states none); a block shorter
// than 54 bytes is the last one, so a file whose length is a multiple of 54
// ends with an empty line of its own. A read error keeps the lines of the
// blocks read whole, ends with one CR LF instead, and closes the file.
void encode_lines(CStdioFile* pFileAtt, tarvenkel::detail::MimeOutput& out) {
  if (pFileAtt == nullptr) return;
  std::unique_ptr<CBase64> encoder(new (std::nothrow) CBase64);
  if (!encoder) {
    pFileAtt->Abort();
    return;
  }
  // The part holds the file as long as it was when it was opened: bytes that
  // a writer appends meanwhile wait for the next message, so that a log that
  // grows faster than it can be encoded still ends. A file that reports no
  // length (procfs and sysfs files do) is read to its end.
  const std::uint64_t length = pFileAtt->GetLength();
  std::uint64_t left = length;
  char block[kBytesPerLine];
  UINT nRead = kBytesPerLine;
  while (nRead == kBytesPerLine) {
    const std::uint64_t lines =
        length == 0 ? kLinesUnknownLength : std::min(kLinesPerPiece, left / kBytesPerLine + 1);
    char* const piece = out.Reserve(static_cast<std::size_t>(lines) * 74);
    std::size_t used = 0;
    for (std::uint64_t line = 0; line < lines && nRead == kBytesPerLine; ++line) {
      const UINT want = length == 0 ? kBytesPerLine : static_cast<UINT>(std::min<std::uint64_t>(kBytesPerLine, left));
      try {
        nRead = want == 0 ? 0 : pFileAtt->Read(block, want);
      } catch (CFileException* e) {
        e->Delete();
        pFileAtt->Abort();
        out.Commit(used);
        out.Append("\r\n", 2);
        return;
      }
      left -= std::min<std::uint64_t>(left, nRead);
      used += static_cast<std::size_t>(encoder->EncodeInto(block, static_cast<int>(nRead), piece + used));
      piece[used++] = '\r';
      piece[used++] = '\n';
    }
    out.Commit(used);
  }
  out.Append("\r\n", 2);
}

}  // namespace

CAppOctetStream::CAppOctetStream(int nContentType) : CMIMEContentAgent(nContentType) {}

CString CAppOctetStream::GetContentTypeString() { return CString("application/octet-stream"); }

CString CAppOctetStream::build_sub_header(LPCTSTR szContent, LPCTSTR szParameters, int, BOOL bPath) {
  char fname[_MAX_FNAME];
  char ext[_MAX_EXT];
  _splitpath(szContent, nullptr, nullptr, fname, ext);
  const std::string name = std::string(fname) + ext;
  // A name a reader would decode, or one whose run of characters no fold can
  // bring within a line, goes the way of 8-bit names.
  if (tarvenkel::NeedsEncodedWords(name)) return eight_bit_sub_header(name, szParameters, bPath);
  const CString value = parameter_value(name);
  CString typeParameter;
  if (bPath) typeParameter.Format("; file=%s", value.GetString());
  CString header;
  header.Format("Content-Type: %s%s", GetContentTypeString().GetString(), typeParameter.GetString());
  header = CString(std::string_view(tarvenkel::FoldedHeaderLine(header.str())));
  header += "\r\nContent-Transfer-Encoding: base64\r\n";
  const std::string disposition = "Content-Disposition: attachment; filename=" + value.str();
  header += CString(std::string_view(tarvenkel::FoldedHeaderLine(disposition)));
  header += "\r\n";
  header += "\r\n";
  return header;
}

CString CAppOctetStream::eight_bit_sub_header(const std::string& sName, LPCTSTR szParameters, BOOL bPath) {
  std::string charset = tarvenkel::CharsetParameter(szParameters ? szParameters : "");
  if (charset.empty()) charset = tarvenkel::HasEightBit(sName) ? AfxGetCodePageCharset(AfxGetAnsiCodePage()) : "US-ASCII";
  const UINT nCodePage = AfxGetCharsetCodePage(charset.c_str());
  const std::string name = tarvenkel::WithoutLineBreaks(sName);
  CString header = "Content-Type: " + GetContentTypeString();
  if (bPath) {
    tarvenkel::HeaderFolder type(header.str() + ";", tarvenkel::kEncodedLineWidth, true);
    type.AddEncoded(name, charset.c_str(), nCodePage, true, "file=\"", "\"");
    header = CString(std::string_view(type.Text()));
  }
  header += "\r\nContent-Transfer-Encoding: base64\r\n";
  // RFC 2231 for the readers that know it, an encoded-word in quotes for
  // those that know only the older form.
  tarvenkel::HeaderFolder disposition("Content-Disposition: attachment;", tarvenkel::kEncodedLineWidth, true);
  disposition.AddExtendedParameter("filename", name, charset.c_str(), nCodePage, ";");
  disposition.AddEncoded(name, charset.c_str(), nCodePage, true, "filename=\"", "\"");
  header += CString(std::string_view(disposition.Text()));
  header += "\r\n\r\n";
  return header;
}

BOOL CAppOctetStream::AppendPart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL,
                                 CString& sDestination) {
  CStdioFile file;
  if (!open_attachment(szContent, file)) return FALSE;
  const CString header = build_sub_header(szContent, szParameters, nEncoding, TRUE);
  // Room for the header, 74 bytes per full block, the last line and the
  // closing empty line, plus the next boundary line.
  tarvenkel::detail::StringOutput(sDestination).Expect(header.GetLength() + file.GetLength() / kBytesPerLine * 74 +
                                                       8 + 4 + 256);
  sDestination += header;
  attach_file(&file, ENCODING_BASE64, sDestination);
  return close_attachment(file) ? TRUE : FALSE;
}

BOOL CAppOctetStream::WritePart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL, CFile& file) {
  CStdioFile attachment;
  if (!open_attachment(szContent, attachment)) return FALSE;
  tarvenkel::detail::FileOutput out(file);
  out.Append(build_sub_header(szContent, szParameters, nEncoding, TRUE));
  encode_lines(&attachment, out);
  out.Flush();
  return close_attachment(attachment) ? TRUE : FALSE;
}

void CAppOctetStream::attach_file(CStdioFile* pFileAtt, int, CString& sDestination) {
  tarvenkel::detail::StringOutput out(sDestination);
  encode_lines(pFileAtt, out);
}

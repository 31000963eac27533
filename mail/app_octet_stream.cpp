#include "mail/app_octet_stream.h"

#include "framework/split_path.h"
#include "framework/stdio_file.h"
#include "mail/base64.h"

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

// Makes room in sDestination for nMore bytes, growing by at least half its
// capacity so that many attachments in a row do not copy the body each time.
void reserve_more(CString& sDestination, std::uint64_t nMore) {
  const std::string& s = sDestination.str();
  const std::uint64_t needed = s.size() + nMore;
  if (needed <= s.capacity() || needed > 0x7FFFFFFF) return;
  const std::uint64_t grown = s.capacity() + s.capacity() / 2;
  sDestination.Preallocate(static_cast<int>(std::min<std::uint64_t>(std::max(needed, grown), 0x7FFFFFFF)));
}

}  // namespace

CAppOctetStream::CAppOctetStream(int nContentType) : CMIMEContentAgent(nContentType) {}

CString CAppOctetStream::GetContentTypeString() { return CString("application/octet-stream"); }

CString CAppOctetStream::build_sub_header(LPCTSTR szContent, LPCTSTR, int, BOOL bPath) {
  char fname[_MAX_FNAME];
  char ext[_MAX_EXT];
  _splitpath(szContent, nullptr, nullptr, fname, ext);
  const CString value = parameter_value(std::string(fname) + ext);
  CString typeParameter;
  if (bPath) typeParameter.Format("; file=%s", value);
  CString header;
  header.Format("Content-Type: %s%s\r\n", GetContentTypeString(), typeParameter);
  header += "Content-Transfer-Encoding: base64\r\n";
  header.AppendFormat("Content-Disposition: attachment; filename=%s\r\n", value);
  header += "\r\n";
  return header;
}

BOOL CAppOctetStream::AppendPart(LPCTSTR szContent, LPCTSTR szParameters, int nEncoding, BOOL,
                                 CString& sDestination) {
  if (szContent == nullptr) return FALSE;
  CStdioFile file;
  if (!file.Open(szContent, CStdioFile::modeRead | CStdioFile::shareDenyWrite | CStdioFile::typeBinary)) return FALSE;
  const CString header = build_sub_header(szContent, szParameters, nEncoding, TRUE);
  // Room for the header, 74 bytes per full block, the last line and the
  // closing empty line, plus the next boundary line.
  const std::uint64_t size = file.GetLength();
  reserve_more(sDestination, header.GetLength() + size / kBytesPerLine * 74 + 8 + 4 + 256);
  sDestination += header;
  attach_file(&file, ENCODING_BASE64, sDestination);
  // attach_file closes the file when it could not read it to the end.
  const BOOL whole = file.IsOpen();
  file.Close();
  return whole;
}

void CAppOctetStream::attach_file(CStdioFile* pFileAtt, int, CString& sDestination) {
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
  char buffer[kBytesPerLine + 1];
  UINT nRead;
  do {
    const UINT want = length == 0 ? kBytesPerLine : static_cast<UINT>(std::min<std::uint64_t>(kBytesPerLine, left));
    try {
      nRead = want == 0 ? 0 : pFileAtt->Read(buffer, want);
    } catch (CFileException* e) {
      e->Delete();
      pFileAtt->Abort();
      sDestination += "\r\n";
      return;
    }
    left -= std::min<std::uint64_t>(left, nRead);
    buffer[nRead] = '\0';
    encoder->AppendEncoded(buffer, static_cast<int>(nRead), sDestination);
    sDestination += "\r\n";
  } while (nRead == kBytesPerLine);
  sDestination += "\r\n";
}

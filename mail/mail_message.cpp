#include "mail/mail_message.h"

#include "framework/core/code_page.h"
#include "mail/body_text.h"
#include "mail/encoded_word.h"
#include "mail/header_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

CMailMessage::CMailMessage() : m_sMailer("Zolvane"), m_nCharsPerLine(76) {}

CMailMessage::~CMailMessage() = default;

CArray<CMailMessage::CRecipient, const CMailMessage::CRecipient&>* CMailMessage::list_of(RECIPIENTS_TYPE type) {
  switch (type) {
    case TO: return &m_ToRecipients;
    case CC: return &m_CcRecipients;
    case BCC: return &m_BccRecipients;
  }
  return nullptr;
}

int CMailMessage::AddRecipient(LPCTSTR szEmailAddress, LPCTSTR szFriendlyName, RECIPIENTS_TYPE type) {
  auto* list = list_of(type);
  if (list == nullptr) return 1;
  CRecipient r;
  r.m_sAddress = szEmailAddress;
  r.m_sName = szFriendlyName;
  list->Add(r);
  return 1;
}

int CMailMessage::AddMultipleRecipients(LPCTSTR szRecipients, RECIPIENTS_TYPE type) {
  const std::string_view all = szRecipients ? std::string_view(szRecipients) : std::string_view();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(all.find(';', start), all.size());
    const std::string_view piece = all.substr(start, end - start);
    const std::size_t lt = piece.find('<');
    CString address, name;
    if (lt == std::string_view::npos) {
      address = CString(piece);
    } else {
      const std::size_t gt = piece.find('>');
      if (gt == std::string_view::npos || gt < lt) return 0;
      name = CString(piece.substr(0, lt));
      address = CString(piece.substr(lt + 1, gt - lt - 1));
    }
    AddRecipient(address, name, type);
    if (end == all.size()) break;
    start = end + 1;
  }
  return 1;
}

int CMailMessage::GetRecipient(CString& sEmailAddress, CString& sFriendlyName, int nIndex, RECIPIENTS_TYPE type) {
  if (nIndex < 0 || nIndex >= GetNumRecipients(type)) return 0;
  const CRecipient& r = list_of(type)->GetAt(nIndex);
  sEmailAddress = r.m_sAddress;
  sFriendlyName = r.m_sName;
  return 1;
}

int CMailMessage::GetNumRecipients(RECIPIENTS_TYPE type) {
  auto* list = list_of(type);
  return list ? static_cast<int>(list->GetSize()) : 0;
}

void CMailMessage::SetCharsPerLine(UINT nCharsPerLine) { m_nCharsPerLine = nCharsPerLine; }

UINT CMailMessage::GetCharsPerLine() { return m_nCharsPerLine; }

BOOL CMailMessage::SetCharset(LPCTSTR szCharset) {
  const std::string_view name = szCharset ? std::string_view(szCharset) : std::string_view();
  // The characters of a MIME charset name (RFC 2978).
  for (char c : name) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letter && std::string_view("!#$%&'+-^_`{}~").find(c) == std::string_view::npos) return FALSE;
  }
  m_sCharset = CString(name);
  return TRUE;
}

CString CMailMessage::GetCharset() const {
  return m_sCharset.IsEmpty() ? CString(AfxGetCodePageCharset(AfxGetAnsiCodePage())) : m_sCharset;
}

void CMailMessage::FormatMessage() {
  start_header();
  prepare_header();
  end_header();
  prepare_body();
}

BOOL CMailMessage::WriteMessage(CFile& file) {
  start_header();
  prepare_header();
  end_header();
  try {
    file.Write(m_sHeader.GetString(), static_cast<UINT>(m_sHeader.GetLength()));
    write_body(file);
  } catch (CFileException* e) {
    e->Delete();
    return FALSE;
  } catch (CMemoryException* e) {
    e->Delete();
    return FALSE;
  }
  return TRUE;
}

void CMailMessage::write_body(CFile& file) {
  // prepare_body works on m_sBody: it formats the host's text there, and
  // the text goes back before anything is written, so that a failed write
  // leaves it too.
  CString text = m_sBody;
  prepare_body();
  std::swap(text, m_sBody);
  file.Write(text.GetString(), static_cast<UINT>(text.GetLength()));
}

void CMailMessage::start_header() { m_sHeader = ""; }

void CMailMessage::end_header() { m_sHeader += "\r\n"; }

CString CMailMessage::recipient_list_text(RECIPIENTS_TYPE type) {
  CString text;
  CString address, name;
  for (int i = 0; i < GetNumRecipients(type); ++i) {
    GetRecipient(address, name, i, type);
    if (i > 0) text += ",";
    text += name;
    text += "<";
    text += address;
    text += ">";
  }
  return text;
}

CString CMailMessage::format_date(const CTime& t) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm tm {};
  if (!t.GetLocalTm(&tm)) return CString();
  const long offset = tm.tm_gmtoff / 60;
  const long absOffset = std::labs(offset);
  CString text;
  text.Format("%s, %02d %s %02d %02d:%02d:%02d %c%02ld%02ld", kDays[tm.tm_wday % 7], tm.tm_mday,
              kMonths[tm.tm_mon % 12], tm.tm_year % 100, tm.tm_hour, tm.tm_min, tm.tm_sec,
              offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
  return text;
}

CString CMailMessage::recipient_line(LPCTSTR szPrefix, RECIPIENTS_TYPE type) {
  const CString text = recipient_list_text(type);
  bool eightBit = false;
  CString address, name;
  for (int i = 0; i < GetNumRecipients(type); ++i) {
    GetRecipient(address, name, i, type);
    eightBit = eightBit || tarvenkel::HasEightBit(name.str());
  }
  if (!eightBit && std::strlen(szPrefix) + static_cast<std::size_t>(text.GetLength()) <= tarvenkel::kWireLineLimit)
    return CString(szPrefix) + text;
  const CString charset = GetCharset();
  const UINT nCodePage = AfxGetCharsetCodePage(charset);
  tarvenkel::HeaderFolder line(szPrefix, eightBit ? tarvenkel::kEncodedLineWidth : tarvenkel::kAddressLineWidth);
  const int count = GetNumRecipients(type);
  for (int i = 0; i < count; ++i) {
    GetRecipient(address, name, i, type);
    const std::string comma = i + 1 < count ? "," : "";
    const std::string angle = "<" + address.str() + ">" + comma;
    if (!tarvenkel::HasEightBit(name.str())) {
      line.AddWord(name.str() + angle, false);
      continue;
    }
    // The name's surrounding blanks are not part of it for a reader; an
    // encoded-word needs a blank between it and the "<".
    std::string core = tarvenkel::WithoutLineBreaks(name.str());
    core.erase(0, core.find_first_not_of(" \t"));
    core.erase(core.find_last_not_of(" \t") + 1);
    line.AddEncoded(core, charset, nCodePage, i > 0);
    line.AddWord(angle, true);
  }
  return CString(std::string_view(line.Text()));
}

CString CMailMessage::text_line(LPCTSTR szPrefix, const CString& sText) {
  if (!tarvenkel::HasEightBit(sText.str())) return CString(szPrefix) + sText;
  const CString charset = GetCharset();
  tarvenkel::HeaderFolder line(szPrefix, tarvenkel::kEncodedLineWidth);
  line.AddEncoded(tarvenkel::WithoutLineBreaks(sText.str()), charset, AfxGetCharsetCodePage(charset), false);
  return CString(std::string_view(line.Text()));
}

void CMailMessage::add_message_fields() {
  CString line;
  line.Format("From: %s", m_sFrom.GetString());
  add_header_line(line);
  add_header_line(recipient_line("To: ", TO));
  add_header_line(recipient_line("Cc: ", CC));
  m_tDateTime = CTime::GetCurrentTime();
  line.Format("Date: %s", format_date(m_tDateTime).GetString());
  add_header_line(line);
  add_header_line(text_line("Subject: ", m_sSubject));
  add_header_line(text_line("X-Mailer: ", m_sMailer));
}

bool CMailMessage::body_needs_encoding() const { return tarvenkel::NeedsTransferEncoding(m_sBody.str()); }

void CMailMessage::prepare_header() {
  add_message_fields();
  if (!body_needs_encoding()) return;
  add_header_line("MIME-Version: 1.0");
  CString line = "Content-Type: text/plain";
  if (tarvenkel::HasEightBit(m_sBody.str())) line += "; charset=" + GetCharset();
  add_header_line(line);
  add_header_line("Content-Transfer-Encoding: base64");
}

void CMailMessage::add_header_line(LPCTSTR szHeaderLine) {
  m_sHeader += CString(std::string_view(tarvenkel::HeaderText(szHeaderLine ? szHeaderLine : "")));
  m_sHeader += "\r\n";
}

void CMailMessage::prepare_body() {
  if (body_needs_encoding()) {
    const std::string text = tarvenkel::WithCrLf(m_sBody.str());
    m_sBody = "";
    tarvenkel::AppendBase64Lines(text, m_sBody);
    return;
  }
  if (m_sBody.Right(2) != CString("\r\n")) m_sBody += "\r\n";
}

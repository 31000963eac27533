// SPDX-License-Identifier: Apache-2.0
#include "mail/mail_message.h"

#include "framework/core/code_page.h"
#include "mail/body_text.h"
#include "mail/encoded_word.h"
#include "mail/header_text.h"

#include <strings.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <utility>

namespace tarvenkel::detail {
// The members of a CMailMessage that hosts never see.
struct MailMessageState {
  CString m_sCharset;  // see SetCharset; empty: the ANSI code page's
};
}  // namespace tarvenkel::detail

CMailMessage::CMailMessage()
    : m_sMailer("Zolvane"), m_nCharsPerLine(76), m_pState(std::make_unique<tarvenkel::detail::MailMessageState>()) {}

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
  m_pState->m_sCharset = CString(name);
  return TRUE;
}

CString CMailMessage::GetCharset() const {
  if (!m_pState->m_sCharset.IsEmpty()) return m_pState->m_sCharset;
  if (AfxIsAnsiCodePageSet()) return CString(AfxGetCodePageCharset(AfxGetAnsiCodePage()));
  const char* szLocale = AfxGetLocaleCharset();
  return CString(szLocale != nullptr ? szLocale : AfxGetCodePageCharset(936));
}

bool CMailMessage::charset_from_locale() const {
  return m_pState->m_sCharset.IsEmpty() && !AfxIsAnsiCodePageSet();
}

CString CMailMessage::charset_for(std::string_view text) const {
  const CString charset = GetCharset();
  // A UTF-8 label that only the locale chose is not trusted with text that
  // is not UTF-8: such text comes from a host made for GBK.
  if (charset_from_locale() && AfxGetCharsetCodePage(charset) == CP_UTF8 && !tarvenkel::IsValidUtf8(text))
    return CString(AfxGetCodePageCharset(936));
  return charset;
}

BOOL CMailMessage::check_text(LPCTSTR szWhat, std::string_view text, CString& sText, CString& sCharset) const {
  const CString charset = charset_for(text);
  if (tarvenkel::IsValidInCharset(text, charset)) return TRUE;
  sText = szWhat;
  sCharset = charset;
  return FALSE;
}

BOOL CMailMessage::CheckCharset(CString& sText, CString& sCharset) {
  if (!check_text("the subject", m_sSubject.str(), sText, sCharset)) return FALSE;
  if (!check_text("the sender", m_sFrom.str(), sText, sCharset)) return FALSE;
  for (RECIPIENTS_TYPE type : {TO, CC, BCC}) {
    CString address, name;
    for (int i = 0; i < GetNumRecipients(type); ++i) {
      GetRecipient(address, name, i, type);
      if (!check_text("the name of " + address, name.str(), sText, sCharset)) return FALSE;
    }
  }
  if (!check_text("the body", m_sBody.str(), sText, sCharset)) return FALSE;
  return check_text("the mailer name", m_sMailer.str(), sText, sCharset);
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

void CMailMessage::end_header() {
  if (!has_field("Message-ID")) add_header_line("Message-ID: " + new_message_id());
  m_sHeader += "\r\n";
}

bool CMailMessage::has_field(LPCTSTR szName) const {
  const std::string& header = m_sHeader.str();
  const std::size_t length = std::strlen(szName);
  for (std::size_t at = 0; at < header.size();) {
    if (header.size() - at > length && header[at + length] == ':' &&
        strncasecmp(header.c_str() + at, szName, length) == 0)
      return true;
    const std::size_t end = header.find("\r\n", at);
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return false;
}

namespace {

// True when the text may stand on the right of a Message-ID: atoms of
// letters, digits and the other atom characters, joined by dots.
bool is_dot_atom(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.' || text.find("..") != std::string_view::npos)
    return false;
  for (char c : text) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!letter && std::string_view("!#$%&'*+-/=?^_`{|}~.").find(c) == std::string_view::npos) return false;
  }
  return true;
}

}  // namespace

CString CMailMessage::new_message_id() const {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  std::string domain = host;
  if (domain.find('.') == std::string::npos || !is_dot_atom(domain)) {
    // The sender's domain: after the last "@" of the address, which may
    // stand in angle brackets.
    std::string_view from = m_sFrom.str();
    if (const std::size_t lt = from.find('<'); lt != std::string_view::npos) {
      from.remove_prefix(lt + 1);
      from = from.substr(0, from.find('>'));
    }
    const std::size_t at = from.rfind('@');
    const std::string sender = at == std::string_view::npos ? std::string() : tarvenkel::TrimmedName(from.substr(at + 1));
    if (is_dot_atom(sender)) domain = sender;
    else if (!is_dot_atom(domain)) domain = "localhost";
  }
  // The time to the microsecond, the process, a count of the messages of the
  // process and 64 random bits: unique across processes and within one.
  static std::atomic<unsigned long long> s_nCount{0};
  struct timeval now {};
  gettimeofday(&now, nullptr);
  std::random_device random;
  const unsigned long long bits = (static_cast<unsigned long long>(random()) << 32) ^ random();
  CString id;
  id.Format("<%lld.%06ld.%d.%llu.%016llx@%s>", static_cast<long long>(now.tv_sec), static_cast<long>(now.tv_usec),
            static_cast<int>(getpid()), ++s_nCount, bits, domain.c_str());
  return id;
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

CString CMailMessage::display_name(const CString& sName, tarvenkel::NameForm form) {
  // An atom name keeps its own blanks, the one before "<" included.
  if (form != tarvenkel::NameForm::kQuoted) return sName;
  return CString(std::string_view(tarvenkel::QuotedName(tarvenkel::WithoutLineBreaks(sName.str())) + " "));
}

tarvenkel::NameForm CMailMessage::name_form(const CString& sName, const CString& sAddress) {
  using tarvenkel::NameForm;
  const NameForm form = tarvenkel::DisplayNameForm(tarvenkel::WithoutLineBreaks(sName.str()));
  if (form == NameForm::kEncoded) return form;
  // A name folded inside itself keeps the fold for some readers (a line
  // break in the name they show); encoded-words are joined without one.
  const std::size_t entry = static_cast<std::size_t>(display_name(sName, form).GetLength() + sAddress.GetLength()) + 4;
  return entry < tarvenkel::kAddressLineWidth ? form : NameForm::kEncoded;
}

CString CMailMessage::recipient_line(LPCTSTR szPrefix, RECIPIENTS_TYPE type) {
  using tarvenkel::NameForm;
  const int count = GetNumRecipients(type);
  CString address, name;
  bool encoded = false;
  CString plain = szPrefix;
  for (int i = 0; i < count; ++i) {
    GetRecipient(address, name, i, type);
    const NameForm form = name_form(name, address);
    encoded = encoded || form == NameForm::kEncoded;
    if (i > 0) plain += ",";
    plain += display_name(name, form) + "<" + address + ">";
  }
  if (!encoded && static_cast<std::size_t>(plain.GetLength()) <= tarvenkel::kHeaderLineWidth) return plain;
  // Folded after commas; a name too long for a line is folded at its own
  // blanks by add_header_line.
  tarvenkel::HeaderFolder line(szPrefix, encoded ? tarvenkel::kEncodedLineWidth : tarvenkel::kAddressLineWidth);
  for (int i = 0; i < count; ++i) {
    GetRecipient(address, name, i, type);
    const std::string angle = "<" + address.str() + ">" + (i + 1 < count ? "," : "");
    const std::string text = tarvenkel::WithoutLineBreaks(name.str());
    const NameForm form = name_form(name, address);
    if (form != NameForm::kEncoded) {
      line.AddWord(display_name(name, form).str() + angle, false);
      continue;
    }
    // The name's surrounding blanks are not part of it for a reader; an
    // encoded-word needs a blank between it and the "<".
    const std::string core = tarvenkel::TrimmedName(text);
    const CString charset = charset_for(core);
    line.AddEncoded(core, charset, AfxGetCharsetCodePage(charset), i > 0);
    line.AddWord(angle, true);
  }
  return CString(std::string_view(line.Text()));
}

CString CMailMessage::text_line(LPCTSTR szPrefix, const CString& sText) {
  if (!tarvenkel::NeedsEncodedWords(sText.str())) return CString(szPrefix) + sText;
  const CString charset = charset_for(sText.str());
  tarvenkel::HeaderFolder line(szPrefix, tarvenkel::kEncodedLineWidth);
  line.AddEncoded(tarvenkel::WithoutLineBreaks(sText.str()), charset, AfxGetCharsetCodePage(charset), false);
  return CString(std::string_view(line.Text()));
}

CString CMailMessage::from_line() {
  using tarvenkel::NameForm;
  const std::string from = m_sFrom.str();
  const std::size_t lt = from.find('<');
  const std::size_t gt = lt == std::string::npos ? std::string::npos : from.find('>', lt);
  const std::string name = tarvenkel::WithoutLineBreaks(from.substr(0, lt));
  const NameForm form =
      gt == std::string::npos ? NameForm::kPlain : name_form(CString(std::string_view(name)), CString(from.substr(lt)));
  if (form == NameForm::kPlain) return "From: " + m_sFrom;
  if (form == NameForm::kQuoted)
    return CString(std::string_view("From: " + tarvenkel::QuotedName(name) + " " + from.substr(lt)));
  const std::string core = tarvenkel::TrimmedName(name);
  const CString charset = charset_for(core);
  tarvenkel::HeaderFolder line("From: ", tarvenkel::kEncodedLineWidth);
  line.AddEncoded(core, charset, AfxGetCharsetCodePage(charset), false);
  line.AddWord(from.substr(lt), true);
  return CString(std::string_view(line.Text()));
}

void CMailMessage::add_message_fields() {
  CString line;
  add_header_line(from_line());
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
  if (tarvenkel::HasEightBit(m_sBody.str())) line += "; charset=" + charset_for(m_sBody.str());
  add_header_line(line);
  add_header_line("Content-Transfer-Encoding: base64");
}

void CMailMessage::add_header_line(LPCTSTR szHeaderLine) {
  m_sHeader +=
      CString(std::string_view(tarvenkel::FoldedHeaderLine(tarvenkel::HeaderText(szHeaderLine ? szHeaderLine : ""))));
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

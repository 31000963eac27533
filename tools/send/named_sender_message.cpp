#include "tools/send/named_sender_message.h"

#include "framework/core/code_page.h"
#include "mail/base64.h"
#include "tools/send/send_charset.h"

#include <algorithm>

namespace {

// What a name may hold and still be written without quotes: letters, digits,
// blanks and the characters of an atom.
const char kAtomText[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \t!#$%&'*+-/=?^_`{|}~";

}  // namespace

void CNamedSenderMessage::SetSender(const std::string& address, const std::string& name, const std::string& charset) {
  m_sFrom = address.c_str();
  m_sFromLine = name.empty() ? std::string() : FromLine(name, address, charset);
}

std::string CNamedSenderMessage::FromLine(const std::string& name, const std::string& address,
                                          const std::string& charset) {
  if (name.empty()) return address;
  std::string shown;
  if (HasEightBit(name)) {
    // Words of at most 45 bytes (60 encoded) of whole characters.
    const UINT codePage = AfxGetCharsetCodePage(charset.c_str());
    CBase64 base64;
    for (size_t start = 0; start < name.size();) {
      size_t end = start;
      while (end < name.size()) {
        const int length = std::max(1, AfxCharLength(codePage, name.data() + end, name.size() - end));
        if (end > start && end + static_cast<size_t>(length) - start > 45) break;
        end += static_cast<size_t>(length);
      }
      if (!shown.empty()) shown += ' ';
      shown += "=?" + charset + "?B?" +
               base64.Encode(name.data() + start, static_cast<int>(end - start)).str() + "?=";
      start = end;
    }
  } else if (name.find_first_not_of(kAtomText) == std::string::npos) {
    shown = name;
  } else {
    shown.push_back('"');
    for (char c : name) {
      if (c == '"' || c == '\\') shown.push_back('\\');
      shown.push_back(c);
    }
    shown.push_back('"');
  }
  return shown + " <" + address + ">";
}

void CNamedSenderMessage::prepare_header() {
  if (m_sFromLine.empty()) return CMIMEMessage::prepare_header();
  const CString address = m_sFrom;
  m_sFrom = m_sFromLine.c_str();
  CMIMEMessage::prepare_header();
  m_sFrom = address;
}

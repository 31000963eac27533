#include "mail/encoded_word.h"

#include "framework/core/code_page.h"
#include "mail/base64.h"

#include <cstring>

namespace tarvenkel {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// The characters an RFC 2231 value may hold without a %XX escape.
bool is_attribute_char(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c != 0 && std::strchr("!#$&+-.^_`{|}~", c) != nullptr);
}

// The escaped form of one character's bytes.
std::string percent_encoded(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (is_attribute_char(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

bool HasEightBit(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return false;
}

std::string CharsetParameter(std::string_view parameters) {
  for (std::size_t at = 0; (at = parameters.find(';', at)) != std::string_view::npos;) {
    ++at;
    std::size_t i = at;
    while (i < parameters.size() && (parameters[i] == ' ' || parameters[i] == '\t')) ++i;
    static constexpr std::string_view kName = "charset";
    if (parameters.size() - i < kName.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < kName.size(); ++k) same = same && lower(parameters[i + k]) == kName[k];
    i += kName.size();
    while (same && i < parameters.size() && (parameters[i] == ' ' || parameters[i] == '\t')) ++i;
    if (!same || i >= parameters.size() || parameters[i] != '=') continue;
    ++i;
    while (i < parameters.size() && (parameters[i] == ' ' || parameters[i] == '\t')) ++i;
    std::size_t end = i;
    if (i < parameters.size() && parameters[i] == '"') {
      end = parameters.find('"', ++i);
      if (end == std::string_view::npos) end = parameters.size();
    } else {
      while (end < parameters.size() && parameters[end] != ';' && parameters[end] != ' ' &&
             parameters[end] != '\t' && parameters[end] != '\r' && parameters[end] != '\n')
        ++end;
    }
    return std::string(parameters.substr(i, end - i));
  }
  return std::string();
}

std::string WithoutLineBreaks(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c == '\r' || c == '\n') c = ' ';
  return out;
}

HeaderFolder::HeaderFolder(std::string_view prefix, std::size_t nWidth, bool bFoldAfterPrefix)
    : m_sText(prefix), m_nWidth(nWidth), m_bLineEmpty(!bFoldAfterPrefix) {}

bool HeaderFolder::fits(std::size_t n, bool bBlankBefore) const {
  const bool blank = bBlankBefore && !m_sText.empty() && m_sText.back() != ' ';
  return m_sText.size() - m_nLineStart + (blank ? 1 : 0) + n <= m_nWidth;
}

void HeaderFolder::fold() {
  m_sText += "\r\n ";
  m_nLineStart = m_sText.size() - 1;
  m_bLineEmpty = true;
}

void HeaderFolder::AddWord(std::string_view word, bool bBlankBefore) {
  if (!m_bLineEmpty && !fits(word.size(), bBlankBefore)) fold();
  if (bBlankBefore && !m_sText.empty() && m_sText.back() != ' ') m_sText += ' ';
  m_sText += word;
  m_bLineEmpty = false;
}

void HeaderFolder::AddEncoded(std::string_view text, const char* szCharset, UINT nCodePage, bool bBlankBefore,
                              std::string_view lead, std::string_view trail) {
  if (text.empty()) {
    AddWord(std::string(lead) + std::string(trail), bBlankBefore);
    return;
  }
  const std::string open = std::string("=?") + szCharset + "?B?";
  const std::size_t overhead = open.size() + 2;
  CBase64 encoder;
  std::size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    const bool blank = first ? bBlankBefore : true;
    const std::size_t extra = (first ? lead.size() : 0) + trail.size();
    std::size_t take = 0;
    for (;;) {
      const std::size_t used =
          m_sText.size() - m_nLineStart + (blank && m_sText.back() != ' ' ? 1 : 0) + extra + overhead;
      const std::size_t room = used < m_nWidth ? std::min(m_nWidth - used, kEncodedWordWidth - overhead) : 0;
      const std::size_t capacity = room / 4 * 3;
      take = 0;
      while (pos + take < text.size()) {
        const auto n = static_cast<std::size_t>(AfxCharLength(nCodePage, text.data() + pos + take, text.size() - pos - take));
        if (take + n > capacity) break;
        take += n;
      }
      if (take > 0 || m_bLineEmpty) break;
      fold();
    }
    // A line too narrow for a single character still carries one.
    if (take == 0) take = static_cast<std::size_t>(AfxCharLength(nCodePage, text.data() + pos, text.size() - pos));
    std::string word = first ? std::string(lead) : std::string();
    word += open;
    word += encoder.Encode(text.data() + pos, static_cast<int>(take)).str();
    word += "?=";
    pos += take;
    if (pos == text.size()) word += trail;
    if (blank && m_sText.back() != ' ') m_sText += ' ';
    m_sText += word;
    m_bLineEmpty = false;
    first = false;
  }
}

void HeaderFolder::AddExtendedParameter(std::string_view name, std::string_view value, const char* szCharset,
                                        UINT nCodePage, std::string_view trail) {
  const std::string prefix = std::string(szCharset) + "''";
  const std::string whole = std::string(name) + "*=" + prefix + percent_encoded(value) + std::string(trail);
  // A continuation line holds a blank, the section and its ";".
  if (whole.size() + 1 <= m_nWidth) {
    AddWord(whole, true);
    return;
  }
  std::size_t pos = 0;
  for (int section = 0; pos < value.size(); ++section) {
    std::string piece = std::string(name) + "*" + std::to_string(section) + "*=" + (section == 0 ? prefix : "");
    const std::size_t start = piece.size();
    while (pos < value.size()) {
      const auto n = static_cast<std::size_t>(AfxCharLength(nCodePage, value.data() + pos, value.size() - pos));
      const std::string escaped = percent_encoded(value.substr(pos, n));
      if (piece.size() > start && piece.size() + escaped.size() + 2 > m_nWidth) break;
      piece += escaped;
      pos += n;
    }
    piece += pos < value.size() ? std::string_view(";") : trail;
    AddWord(piece, true);
  }
}

}  // namespace tarvenkel

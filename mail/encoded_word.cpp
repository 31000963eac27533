// SPDX-License-Identifier: Apache-2.0
#include "mail/encoded_word.h"

#include "framework/core/code_page.h"
#include "mail/base64.h"

#include <iconv.h>

#include <cerrno>
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

std::string QEncoded(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    const bool literal = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                         (c != 0 && std::strchr("!*+-/", c) != nullptr);
    if (literal) {
      out += ch;
    } else if (c == ' ') {
      out += '_';
    } else {
      out += '=';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  const auto* u = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char c = u[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) length = 2;
    else if (c >= 0xE0 && c <= 0xEF) length = 3, low = c == 0xE0 ? 0xA0 : 0x80, high = c == 0xED ? 0x9F : 0xBF;
    else if (c >= 0xF0 && c <= 0xF4) length = 4, low = c == 0xF0 ? 0x90 : 0x80, high = c == 0xF4 ? 0x8F : 0xBF;
    else return false;
    if (i + length > n || u[i + 1] < low || u[i + 1] > high) return false;
    for (std::size_t k = 2; k < length; ++k)
      if (u[i + k] < 0x80 || u[i + k] > 0xBF) return false;
    i += length;
  }
  return true;
}

bool IsValidInCharset(std::string_view text, const char* szCharset) {
  if (!HasEightBit(text)) return true;
  if (AfxGetCharsetCodePage(szCharset) == CP_UTF8) return IsValidUtf8(text);
  iconv_t cd = iconv_open("UTF-8", szCharset);
  if (cd == reinterpret_cast<iconv_t>(-1)) return true;
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  bool valid = true;
  while (inLeft > 0 && valid) {
    char buffer[1024];
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1)) valid = errno == E2BIG;
  }
  iconv_close(cd);
  return valid;
}

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
  const std::string charset(szCharset);
  const std::size_t overhead = charset.size() + 7;  // "=?", "?B?" and "?="
  CBase64 encoder;
  std::size_t pos = 0;
  bool first = true;
  auto char_length = [&](std::size_t at) {
    return static_cast<std::size_t>(AfxCharLength(nCodePage, text.data() + at, text.size() - at));
  };
  while (pos < text.size()) {
    const bool blank = first ? bBlankBefore : true;
    const std::size_t extra = (first ? lead.size() : 0) + trail.size();
    std::string payload;
    char encoding = 'B';
    std::size_t take = 0;
    // A rest that one word can hold is not split between two lines: some
    // readers show a blank between the words of a display name.
    const std::size_t whole = overhead + extra + (text.size() - pos + 2) / 3 * 4;
    if (!m_bLineEmpty && whole <= kEncodedWordWidth &&
        m_sText.size() - m_nLineStart + (blank && m_sText.back() != ' ' ? 1 : 0) + whole > m_nWidth)
      fold();
    for (;;) {
      const std::size_t used =
          m_sText.size() - m_nLineStart + (blank && m_sText.back() != ' ' ? 1 : 0) + extra + overhead;
      const std::size_t room = used < m_nWidth ? std::min(m_nWidth - used, kEncodedWordWidth - overhead) : 0;
      const std::size_t capacity = room / 4 * 3;
      // The most whole characters that fit, and the most that fit in whole
      // groups of three bytes: a reader that joins the words of one charset
      // before decoding them takes "=" padding inside a run for its end.
      std::size_t fits = 0, aligned = 0;
      while (pos + fits < text.size()) {
        const std::size_t n = char_length(pos + fits);
        if (fits + n > capacity) break;
        fits += n;
        if (fits % 3 == 0) aligned = fits;
      }
      if (fits > 0 && pos + fits == text.size()) {
        take = fits;
        break;
      }
      if (aligned > 0) {
        take = aligned;
        break;
      }
      // No cut of whole characters falls on a group of three bytes (one
      // byte of ASCII among characters of three): one character goes as a
      // Q word, which pads nothing, and the next B word starts after it.
      if (fits > 0) {
        take = char_length(pos);
        payload = QEncoded(text.substr(pos, take));
        if (used + payload.size() <= m_nWidth || m_bLineEmpty) {
          encoding = 'Q';
          break;
        }
        payload.clear();
      } else if (m_bLineEmpty) {
        // A line too narrow for a single character still carries one.
        take = char_length(pos);
        break;
      }
      fold();
    }
    if (encoding == 'B') payload = encoder.Encode(text.data() + pos, static_cast<int>(take)).str();
    std::string word = first ? std::string(lead) : std::string();
    word += "=?" + charset + "?" + encoding + "?" + payload + "?=";
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

// SPDX-License-Identifier: Apache-2.0
// A small reader of the header forms the library writes for 8-bit text, for
// the tests and the fuzz targets: unfolding, B-encoded words, RFC 2231
// parameters. Strict: anything the writer would not produce fails.
#pragma once

#include "mail/base64.h"

#include <iconv.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tarvenkel::test {

// A host's ANSI code page and the charset its 8-bit text is labelled with,
// the parameter of the tests that run for a GBK and a UTF-8 host.
struct HostCharset {
  UINT nCodePage;
  const char* szCharset;
};

// gtest prints the parameter by its charset (not its bytes, padding included).
inline void PrintTo(const HostCharset& host, std::ostream* os) { *os << host.szCharset; }

// One encoded-word and what it decodes to.
struct EncodedWord {
  std::string text;     // "=?GBK?B?...?="
  std::string charset;  // "GBK"
  std::string bytes;    // the decoded bytes
};

// The text with every CR LF that is followed by a blank or a tab removed.
inline std::string Unfold(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 2 < text.size() && text[i + 1] == '\n' && (text[i + 2] == ' ' || text[i + 2] == '\t')) {
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

// Decodes one "=?charset?B?data?=" or "=?charset?Q?data?=" word; false
// when it is not one.
inline bool DecodeWord(std::string_view word, EncodedWord& out) {
  if (word.size() < 8 || word.substr(0, 2) != "=?" || word.substr(word.size() - 2) != "?=") return false;
  const std::size_t q1 = word.find('?', 2);
  if (q1 == std::string_view::npos || q1 + 3 > word.size()) return false;
  const std::string_view kind = word.substr(q1, 3);
  if (kind != "?B?" && kind != "?Q?") return false;
  const std::string data(word.substr(q1 + 3, word.size() - q1 - 5));
  if (data.find_first_of("? ") != std::string::npos) return false;
  out.text = std::string(word);
  out.charset = std::string(word.substr(2, q1 - 2));
  out.bytes.clear();
  if (kind == "?Q?") {
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    for (std::size_t i = 0; i < data.size(); ++i) {
      if (data[i] == '_') {
        out.bytes += ' ';
      } else if (data[i] != '=') {
        out.bytes += data[i];
      } else {
        if (i + 2 >= data.size() || hex(data[i + 1]) < 0 || hex(data[i + 2]) < 0) return false;
        out.bytes += static_cast<char>(hex(data[i + 1]) * 16 + hex(data[i + 2]));
        i += 2;
      }
    }
    return !out.bytes.empty();
  }
  if (data.size() % 4 != 0) return false;
  std::string bytes(data.size() + 1, '\0');
  CBase64 decoder;
  const int n = decoder.Decode(data.c_str(), bytes.data());
  if (n < 0 || (n == 0 && !data.empty())) return false;
  bytes.resize(static_cast<std::size_t>(n));
  out.bytes = bytes;
  return true;
}

// Splits an unfolded value made only of encoded-words separated by single
// blanks into its words; false when anything else stands in it.
inline bool DecodeWords(std::string_view value, std::vector<EncodedWord>& words) {
  words.clear();
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find(' ', start);
    if (end == std::string_view::npos) end = value.size();
    EncodedWord word;
    if (!DecodeWord(value.substr(start, end - start), word)) return false;
    words.push_back(word);
    start = end + 1;
  }
  return !words.empty();
}

// The bytes all the words hold, in order.
inline std::string Joined(const std::vector<EncodedWord>& words) {
  std::string bytes;
  for (const EncodedWord& word : words) bytes += word.bytes;
  return bytes;
}

// The value of the parameter name in an unfolded header line: for
// name*=charset''%XX or the sections name*0*=charset''..., name*1*=...,
// the decoded bytes; for name="..." the text between the quotes. Empty
// charset for the quoted form; false when the parameter is missing or malformed.
inline bool ParameterValue(std::string_view line, std::string_view name, bool bExtended, std::string& value,
                           std::string& charset) {
  value.clear();
  charset.clear();
  auto from_hex = [](char c) -> int {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  // Built by appending: GCC 12 warns falsely on " " + std::string(...).
  auto key_of = [&](std::string_view suffix) {
    std::string key(1, ' ');
    key.append(name);
    key.append(suffix);
    return key;
  };
  if (!bExtended) {
    const std::string key = key_of("=\"");
    const std::size_t at = line.find(key);
    if (at == std::string_view::npos) return false;
    const std::size_t end = line.find('"', at + key.size());
    if (end == std::string_view::npos) return false;
    value = std::string(line.substr(at + key.size(), end - at - key.size()));
    return true;
  }
  std::string escaped;
  const std::string whole = key_of("*=");
  std::size_t at = line.find(whole);
  if (at != std::string_view::npos) {
    const std::size_t end = line.find(';', at);
    escaped = std::string(line.substr(at + whole.size(), (end == std::string_view::npos ? line.size() : end) - at - whole.size()));
  } else {
    for (int section = 0;; ++section) {
      std::string key = key_of("*");
      key += std::to_string(section);
      key += "*=";
      at = line.find(key);
      if (at == std::string_view::npos) break;
      const std::size_t end = line.find(';', at);
      escaped += line.substr(at + key.size(), (end == std::string_view::npos ? line.size() : end) - at - key.size());
    }
  }
  const std::size_t quotes = escaped.find("''");
  if (quotes == std::string::npos) return false;
  charset = escaped.substr(0, quotes);
  for (std::size_t i = quotes + 2; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      value += escaped[i];
      continue;
    }
    if (i + 2 >= escaped.size() || from_hex(escaped[i + 1]) < 0 || from_hex(escaped[i + 2]) < 0) return false;
    value += static_cast<char>(from_hex(escaped[i + 1]) * 16 + from_hex(escaped[i + 2]));
    i += 2;
  }
  return true;
}

// The text converted from one charset to another by iconv; false when it
// holds a sequence that is not valid in from, a character cut short
// included.
inline bool Convert(std::string_view text, const char* from, const char* to, std::string& out) {
  out.clear();
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  bool ok = true;
  while (inLeft > 0 && ok) {
    char buffer[4096];
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    ok = rc != static_cast<std::size_t>(-1) || outLeft < sizeof buffer;
    if (rc == static_cast<std::size_t>(-1) && outLeft >= 8) ok = false;
  }
  iconv_close(cd);
  return ok;
}

}  // namespace tarvenkel::test

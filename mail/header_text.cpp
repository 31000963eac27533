// SPDX-License-Identifier: Apache-2.0
#include "mail/header_text.h"

#include <algorithm>
#include <cstring>

namespace tarvenkel {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The characters of an atom besides letters and digits.
bool is_atom_char(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c != 0 && std::strchr("!#$%&'*+-/=?^_`{|}~", c) != nullptr);
}

// Appends one physical line, folded; minFold is the first position a fold may take.
void fold_physical(std::string_view line, std::size_t minFold, std::string& out) {
  while (line.size() > kHeaderLineWidth) {
    const std::size_t lastText = line.find_last_not_of(" \t");
    auto can_fold = [&](std::size_t i) {
      return is_blank(line[i]) && !is_blank(line[i - 1]) && line[i - 1] != '\\' && i < lastText;
    };
    std::size_t at = std::string_view::npos;
    for (std::size_t i = kHeaderLineWidth; i >= minFold && i > 0; --i)
      if (can_fold(i)) {
        at = i;
        break;
      }
    for (std::size_t i = std::max(minFold, kHeaderLineWidth + 1); at == std::string_view::npos && i < line.size(); ++i)
      if (can_fold(i)) at = i;
    if (at == std::string_view::npos) break;
    out.append(line.substr(0, at));
    out += "\r\n";
    line.remove_prefix(at);
    minFold = line.find_first_not_of(" \t") + 1;
  }
  out.append(line);
}

}  // namespace

std::string HeaderText(std::string_view text) {
  std::string line(text);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\r' && line[i] != '\n') continue;
    bool fold = line[i] == '\r' && i + 2 < line.size() && line[i + 1] == '\n' &&
                (line[i + 2] == ' ' || line[i + 2] == '\t');
    if (fold) {
      std::size_t j = i + 2;
      while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
      fold = j < line.size() && line[j] != '\r' && line[j] != '\n';
    }
    if (fold) {
      ++i;
      continue;
    }
    line[i] = ' ';
  }
  return line;
}

std::string FoldedHeaderLine(std::string_view line) {
  std::string out;
  out.reserve(line.size() + line.size() / 32);
  for (std::size_t start = 0;;) {
    std::size_t end = line.find("\r\n", start);
    if (end == std::string_view::npos) end = line.size();
    const std::string_view physical = line.substr(start, end - start);
    // On the first line the value starts after the field name's colon.
    std::size_t from = 0;
    if (start == 0) {
      const std::size_t colon = physical.find(':');
      from = colon == std::string_view::npos ? 0 : colon + 1;
    }
    const std::size_t value = physical.find_first_not_of(" \t", from);
    if (value == std::string_view::npos) out.append(physical);
    else fold_physical(physical, value + 1, out);
    if (end == line.size()) break;
    out += "\r\n";
    start = end + 2;
  }
  return out;
}

bool HasEncodedWordLookAlike(std::string_view text) {
  for (std::size_t at = 0; (at = text.find("=?", at)) != std::string_view::npos; at += 2) {
    std::size_t end = at + 2;
    while (end < text.size() && !is_separator(text[end])) ++end;
    if (text.substr(at + 2, end - at - 2).find("?=") != std::string_view::npos) return true;
  }
  return false;
}

std::size_t LongestRun(std::string_view text) {
  std::size_t longest = 0, run = 0;
  for (char c : text) {
    run = is_separator(c) ? 0 : run + 1;
    if (run > longest) longest = run;
  }
  return longest;
}

bool NeedsEncodedWords(std::string_view text) {
  for (char c : text)
    if (static_cast<unsigned char>(c) >= 0x80) return true;
  return HasEncodedWordLookAlike(text) || LongestRun(text) > kLongestPlainRun;
}

NameForm DisplayNameForm(std::string_view name) {
  if (NeedsEncodedWords(name)) return NameForm::kEncoded;
  NameForm form = NameForm::kPlain;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) return NameForm::kEncoded;
    if (!is_blank(c) && !is_atom_char(c)) form = NameForm::kQuoted;
  }
  return form;
}

std::string TrimmedName(std::string_view name) {
  const std::size_t first = name.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::string();
  return std::string(name.substr(first, name.find_last_not_of(" \t") - first + 1));
}

std::string QuotedName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : TrimmedName(name)) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace tarvenkel

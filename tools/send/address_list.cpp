// SPDX-License-Identifier: Apache-2.0
#include "tools/send/address_list.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The text in single quotes, as messages show what was written.
std::string in_quotes(const std::string& text) {
  std::string quoted = "'";
  quoted += text;
  quoted += '\'';
  return quoted;
}

std::string trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Reads one entry, the text between two separators, with its comments
// already removed and its quoted strings intact.
bool read_mailbox(const std::string& entry, const std::string& shown, Mailbox& mailbox, std::string& error) {
  const size_t open = entry.find('<');
  // Outside "<>" only a quoted string may hold blanks; unquote the name.
  auto unquote = [](const std::string& text) {
    std::string plain;
    bool quoted = false;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '"') {
        quoted = !quoted;
      } else if (quoted && text[i] == '\\' && i + 1 < text.size()) {
        plain += text[++i];
      } else {
        plain += text[i];
      }
    }
    return trim(plain);
  };
  if (open == std::string::npos) {
    // A bare address; a blank outside quotes means two addresses run together.
    bool quoted = false;
    for (size_t i = 0; i < entry.size(); ++i) {
      if (entry[i] == '\\' && quoted) {
        ++i;
      } else if (entry[i] == '"') {
        quoted = !quoted;
      } else if (!quoted && (is_blank(entry[i]) || entry[i] == '>')) {
        error = in_quotes(shown) + ": not one address (separate addresses with ',' or ';', write a name as "
                "'Name <address>')";
        return false;
      }
    }
    mailbox = {"", entry};
    return true;
  }
  const size_t close = entry.find('>', open);
  if (close == std::string::npos) {
    error = in_quotes(shown) + ": expected 'Name <address>'";
    return false;
  }
  if (!trim(entry.substr(close + 1)).empty()) {
    error = in_quotes(shown) + ": text after '>'";
    return false;
  }
  mailbox = {unquote(entry.substr(0, open)), trim(entry.substr(open + 1, close - open - 1))};
  if (mailbox.address.empty()) {
    error = in_quotes(shown) + ": empty address";
    return false;
  }
  return true;
}

}  // namespace

bool ParseAddressList(const std::string& text, std::vector<Mailbox>& mailboxes, std::string& error) {
  if (text.find_first_of("\r\n") != std::string::npos) {
    error = in_quotes(text) + ": an address list must not contain a line break";
    return false;
  }
  std::string entry;      // the current entry without its comments
  std::string shown;      // the same as written, for messages
  bool quoted = false, angle = false;
  int comment = 0;
  auto finish = [&]() {
    const std::string cleaned = trim(entry);
    Mailbox mailbox;
    if (!cleaned.empty()) {
      if (!read_mailbox(cleaned, trim(shown), mailbox, error)) return false;
      mailboxes.push_back(mailbox);
    }
    entry.clear();
    shown.clear();
    return true;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (comment > 0) {
      shown += c;
      if (c == '\\' && i + 1 < text.size()) {
        shown += text[++i];
      } else if (c == '(') {
        ++comment;
      } else if (c == ')') {
        --comment;
      }
      continue;
    }
    if (quoted) {
      entry += c;
      shown += c;
      if (c == '\\' && i + 1 < text.size()) {
        entry += text[++i];
        shown += text[i];
      } else if (c == '"') {
        quoted = false;
      }
      continue;
    }
    if (c == '(') {
      ++comment;
      shown += c;
      entry += ' ';
      continue;
    }
    if (c == '"') quoted = true;
    if (c == '<') angle = true;
    if (c == '>') angle = false;
    if (!angle && c == ':') {
      // A group's name ends at its colon; its members follow.
      entry.clear();
      shown.clear();
      continue;
    }
    if (!angle && (c == ',' || c == ';')) {
      if (!finish()) return false;
      continue;
    }
    entry += c;
    shown += c;
  }
  if (quoted || comment > 0) {
    error = in_quotes(trim(shown)) + ": unclosed ";
    error += quoted ? "quote" : "'('";
    return false;
  }
  return finish();
}

// SPDX-License-Identifier: Apache-2.0
#include "tools/send/aliases.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <pwd.h>
#include <strings.h>
#include <unistd.h>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && is_blank(text[begin])) ++begin;
  while (end > begin && is_blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The members of an alias: split at commas outside quotes and "<>", each
// without its blanks, a quoted member ("|/usr/bin/x") without its quotes,
// "Name <a@x>" as the address.
std::vector<std::string> split_members(const std::string& text) {
  std::vector<std::string> members;
  std::string member;
  bool quoted = false, angle = false;
  auto finish = [&] {
    std::string m = trim(member);
    if (const size_t open = m.find('<'); open != std::string::npos && m.back() == '>')
      m = trim(m.substr(open + 1, m.size() - open - 2));
    if (m.size() >= 2 && m.front() == '"' && m.back() == '"' && m.find('"', 1) == m.size() - 1)
      m = m.substr(1, m.size() - 2);
    if (!m.empty()) members.push_back(m);
    member.clear();
  };
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && c == '<') angle = true;
    if (!quoted && c == '>') angle = false;
    if (c == ',' && !quoted && !angle) {
      finish();
      continue;
    }
    member += c;
  }
  finish();
  return members;
}

void add_once(std::vector<std::string>& addresses, const std::string& address) {
  for (const std::string& known : addresses)
    if (strcasecmp(known.c_str(), address.c_str()) == 0) return;
  addresses.push_back(address);
}

// The login name of the user running the program, for a sender that names
// no one; empty when the system does not know the user.
std::string login_name() {
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_name != nullptr) return entry->pw_name;
  return "";
}

// One mailbox of an address list as it stands in a field's value: the whole
// entry, the address within it, and the address as a reader takes it
// (comments out, "<>" off).
struct Entry {
  size_t begin = 0, end = 0;
  size_t addressBegin = 0, addressEnd = 0;
  std::string address;
};

// The mailboxes of a field's value, with where each stands. Groups'
// names and ends are no part of an entry; comments are skipped.
std::vector<Entry> entries_of(const std::string& value) {
  std::vector<Entry> entries;
  Entry entry;
  bool quoted = false, angle = false, hasAngle = false;
  int comment = 0;
  size_t first = std::string::npos, last = 0;  // the entry's text outside comments
  std::string plain;                             // the same, comments and blanks out
  auto finish = [&](size_t at) {
    entry.end = at;
    if (hasAngle) {
      entry.address = trim(value.substr(entry.addressBegin, entry.addressEnd - entry.addressBegin));
    } else if (first != std::string::npos) {
      entry.addressBegin = first;
      entry.addressEnd = last + 1;
      entry.address = plain;
    }
    if (!entry.address.empty()) entries.push_back(entry);
    entry = Entry{};
    entry.begin = at + 1;
    hasAngle = angle = false;
    first = std::string::npos;
    plain.clear();
  };
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (comment > 0) {
      if (c == '\\')
        ++i;
      else if (c == '(')
        ++comment;
      else if (c == ')')
        --comment;
      continue;
    }
    if (!quoted && c == '(') {
      comment = 1;
      continue;
    }
    if (!quoted && !angle && (c == ',' || c == ';')) {
      finish(i);
      continue;
    }
    if (!quoted && !angle && c == ':') {
      // A group's name: its members follow.
      entry = Entry{};
      entry.begin = i + 1;
      first = std::string::npos;
      plain.clear();
      continue;
    }
    if (!quoted && c == '<') {
      angle = hasAngle = true;
      entry.addressBegin = i + 1;
      continue;
    }
    if (!quoted && angle && c == '>') {
      angle = false;
      entry.addressEnd = i;
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (quoted && c == '\\' && i + 1 < value.size()) {
      plain += c;
      ++i;
    }
    if (is_blank(c) && !quoted) continue;
    if (first == std::string::npos) first = i;
    last = i;
    plain += value[i];
  }
  finish(value.size());
  return entries;
}

}  // namespace

bool Aliases::Read(const std::string& text, std::string& error) {
  std::istringstream lines(text);
  std::string line, name, members;
  int number = 0, nameLine = 0;
  auto finish = [&]() {
    if (name.empty()) return true;
    const std::vector<std::string> list = split_members(members);
    if (list.empty()) {
      error = "line " + std::to_string(nameLine) + ": alias '" + name + "' has no members";
      return false;
    }
    if (!m_Members.emplace(lower(name), list).second) {
      error = "line " + std::to_string(nameLine) + ": alias '" + name + "' given twice";
      return false;
    }
    name.clear();
    return true;
  };
  m_bActive = true;
  while (std::getline(lines, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (trim(line).empty() || line[0] == '#') continue;
    if (is_blank(line[0])) {
      if (name.empty()) {
        error = "line " + std::to_string(number) + ": a continuation line without an alias before it";
        return false;
      }
      members += " " + line;
      continue;
    }
    if (!finish()) return false;
    const size_t colon = line.find(':');
    name = colon == std::string::npos ? "" : trim(line.substr(0, colon));
    if (name.empty() || name.find_first_of(" \t@,\"") != std::string::npos) {
      error = "line " + std::to_string(number) + ": expected 'name: address, address'";
      return false;
    }
    members = line.substr(colon + 1);
    nameLine = number;
  }
  return finish();
}

bool Aliases::ReadFile(const std::string& path, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!Read(text.str(), error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

bool Aliases::IsQualified(const std::string& address) {
  bool quoted = false;
  size_t at = std::string::npos;
  for (size_t i = 0; i < address.size(); ++i) {
    if (address[i] == '"') quoted = !quoted;
    if (quoted && address[i] == '\\') ++i;
    if (!quoted && address[i] == '@') at = i;
  }
  return at != std::string::npos && at + 1 < address.size();
}

std::string Aliases::qualified(const std::string& name) const {
  return m_sDefaultDomain.empty() ? name : name + "@" + m_sDefaultDomain;
}

void Aliases::expand(const std::string& name, std::vector<std::string>& path, std::vector<std::string>& out,
                     std::vector<std::string>* pWarnings) const {
  const std::string key = lower(name);
  const auto found = m_Members.find(key);
  if (found == m_Members.end()) {
    add_once(out, qualified(name));
    return;
  }
  if (std::find(path.begin(), path.end(), key) != path.end()) {
    std::string chain;
    for (auto it = std::find(path.begin(), path.end(), key); it != path.end(); ++it) chain += *it + " -> ";
    if (pWarnings)
      pWarnings->push_back("alias loop " + chain + key + ": '" + name + "' goes to " + qualified(name) +
                           " and is not followed again");
    add_once(out, qualified(name));
    return;
  }
  path.push_back(key);
  const size_t before = out.size();
  for (const std::string& member : found->second) {
    if (member[0] == '|' || member[0] == '/' || lower(member).rfind(":include:", 0) == 0) {
      if (pWarnings)
        pWarnings->push_back("alias '" + name + "': '" + member +
                             "' is a program, a file or an include, which cannot be sent to; left out");
    } else if (member[0] == '\\') {
      add_once(out, qualified(member.substr(1)));
    } else if (IsQualified(member)) {
      add_once(out, member);
    } else if (lower(member) == key) {
      add_once(out, qualified(member));  // the name's own mailbox
    } else {
      expand(member, path, out, pWarnings);
    }
  }
  if (out.size() == before && pWarnings && path.size() == 1)
    pWarnings->push_back("alias '" + name + "' gives no address that can be sent to");
  path.pop_back();
}

std::vector<std::string> Aliases::Recipient(const std::string& address, std::vector<std::string>* pWarnings) const {
  if (IsQualified(address)) return {address};
  std::vector<std::string> path, out;
  expand(address, path, out, pWarnings);
  return out;
}

std::vector<Mailbox> Aliases::Recipients(const std::vector<Mailbox>& mailboxes,
                                         std::vector<std::string>* pWarnings) const {
  std::vector<Mailbox> resolved;
  for (const Mailbox& mailbox : mailboxes) {
    const std::vector<std::string> addresses = Recipient(mailbox.address, pWarnings);
    for (const std::string& address : addresses)
      resolved.push_back({addresses.size() == 1 ? mailbox.name : "", address});
  }
  return resolved;
}

std::string Aliases::Sender(const std::string& address) const {
  if (!m_bActive || IsQualified(address)) return address;
  if (!m_sConfiguredSender.empty()) return m_sConfiguredSender;
  const std::string name = address.empty() ? login_name() : address;
  if (m_sDefaultDomain.empty() || name.empty()) return address;
  return name + "@" + m_sDefaultDomain;
}

std::string Aliases::QualifyField(const std::string& value, bool sender) const {
  std::string result = value;
  const std::vector<Entry> entries = entries_of(value);
  // From the last entry back, so that the positions of those before hold.
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (IsQualified(it->address)) continue;
    const std::vector<std::string> addresses =
        sender ? std::vector<std::string>{Sender(it->address)} : Recipient(it->address, nullptr);
    if (addresses.size() == 1) {
      result.replace(it->addressBegin, it->addressEnd - it->addressBegin, addresses[0]);
      continue;
    }
    std::string list;
    for (const std::string& address : addresses) list += (list.empty() ? "" : ", ") + address;
    // The entry without the blanks around it, which keep the field's layout and its line end.
    size_t begin = it->begin, end = it->end;
    while (begin < end && is_blank(value[begin])) ++begin;
    while (end > begin && is_blank(value[end - 1])) --end;
    result.replace(begin, end - begin, list);
  }
  return result;
}

#include "tools/send/sendmail_input.h"

#include <cstring>
#include <strings.h>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The line at start without its line end, and where the next line begins.
std::string line_at(const std::string& text, size_t start, size_t& next) {
  size_t end = text.find('\n', start);
  next = end == std::string::npos ? text.size() : end + 1;
  if (end == std::string::npos) end = text.size();
  if (end > start && text[end - 1] == '\r') --end;
  return text.substr(start, end - start);
}

// The length of the field name when the line starts a field, else 0.
size_t field_name_length(const std::string& line) {
  size_t n = 0;
  while (n < line.size() && line[n] > ' ' && line[n] < 127 && line[n] != ':') ++n;
  return n < line.size() && line[n] == ':' ? n : 0;
}

bool named(const std::string& name, const char* wanted) { return strcasecmp(name.c_str(), wanted) == 0; }

// A field's value unfolded: its line ends taken out.
std::string unfolded(const std::string& field, size_t nameLength) {
  std::string value;
  for (size_t i = nameLength + 1; i < field.size(); ++i)
    if (field[i] != '\r' && field[i] != '\n') value += field[i];
  return value;
}

}  // namespace

std::string CutAtLoneDot(const std::string& input) {
  for (size_t start = 0, next; start < input.size(); start = next)
    if (line_at(input, start, next) == "." ) return input.substr(0, start);
  return input;
}

IncomingMessage ReadIncomingMessage(const std::string& text) {
  IncomingMessage message;
  size_t start = 0, next = 0;
  if (text.compare(0, 5, "From ") == 0) line_at(text, 0, start);
  std::string field, name;
  auto finish_field = [&] {
    if (field.empty()) return;
    if (field.back() != '\n') field += "\r\n";
    const std::string value = unfolded(field, name.size());
    if (named(name, "To") || named(name, "Cc") || named(name, "Bcc")) {
      for (std::string& address : AddressesOf(value)) message.recipients.push_back(std::move(address));
    }
    if (named(name, "From")) {
      message.hasFrom = true;
      const std::vector<std::string> addresses = AddressesOf(value);
      if (!addresses.empty()) message.fromAddress = addresses.front();
    }
    if (named(name, "Date")) message.hasDate = true;
    if (named(name, "Message-ID")) message.hasMessageId = true;
    if (!named(name, "Bcc")) message.header += field;
    field.clear();
  };
  for (; start < text.size(); start = next) {
    const std::string line = line_at(text, start, next);
    if (!line.empty() && is_blank(line[0]) && !field.empty()) {
      field += text.substr(start, next - start);
      continue;
    }
    finish_field();
    if (line.empty()) {
      start = next;
      break;
    }
    const size_t nameLength = field_name_length(line);
    if (nameLength == 0) break;
    name = line.substr(0, nameLength);
    field = text.substr(start, next - start);
  }
  finish_field();
  message.body = text.substr(std::min(start, text.size()));
  return message;
}

std::vector<std::string> AddressesOf(const std::string& list) {
  std::vector<std::string> addresses;
  std::string plain, angle;
  bool inAngle = false, hasAngle = false, inQuote = false;
  int commentDepth = 0;
  auto finish = [&] {
    std::string& address = hasAngle ? angle : plain;
    if (!address.empty()) addresses.push_back(address);
    plain.clear();
    angle.clear();
    hasAngle = inAngle = false;
  };
  for (size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    std::string& target = inAngle ? angle : plain;
    if (inQuote || commentDepth > 0) {
      // A quoted local part inside <...> belongs to the address; a quoted
      // display name or a comment does not.
      if (inAngle && commentDepth == 0) target += c;
      if (c == '\\' && i + 1 < list.size()) {
        if (inAngle && commentDepth == 0) target += list[i + 1];
        ++i;
      } else if (inQuote && c == '"') {
        inQuote = false;
      } else if (!inQuote && c == '(') {
        ++commentDepth;
      } else if (!inQuote && c == ')') {
        --commentDepth;
      }
      continue;
    }
    if (c == '"') {
      inQuote = true;
      if (inAngle) target += c;
    } else if (c == '(') {
      commentDepth = 1;
    } else if (c == '<') {
      inAngle = hasAngle = true;
      angle.clear();
    } else if (c == '>') {
      inAngle = false;
    } else if (c == ':' && !inAngle) {
      plain.clear();  // a group's name
    } else if ((c == ',' || c == ';') && !inAngle) {
      finish();
    } else if (!is_blank(c) && c != '\r' && c != '\n') {
      target += c;
    }
  }
  finish();
  return addresses;
}

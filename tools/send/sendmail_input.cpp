// SPDX-License-Identifier: Apache-2.0
#include "tools/send/sendmail_input.h"

#include <cstring>
#include <strings.h>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A header line longer than this that cannot start a field starts the body
// at once, so that a message without a header is never held in memory.
constexpr std::size_t kLongHeaderLine = 64 * 1024;

// The length of the field name when the line starts a field ("Name:" or,
// in the obsolete syntax still produced, "Name :"), else 0.
std::size_t field_name_length(const std::string& line) {
  std::size_t n = 0;
  while (n < line.size() && line[n] > ' ' && line[n] < 127 && line[n] != ':') ++n;
  std::size_t colon = n;
  while (colon < line.size() && is_blank(line[colon])) ++colon;
  return n > 0 && colon < line.size() && line[colon] == ':' ? n : 0;
}

bool named(const std::string& name, const char* wanted) { return strcasecmp(name.c_str(), wanted) == 0; }

// A field's value unfolded: the text after the colon, its line ends taken out.
std::string unfolded(const std::string& field) {
  std::string value;
  for (std::size_t i = field.find(':') + 1; i < field.size(); ++i)
    if (field[i] != '\r' && field[i] != '\n') value += field[i];
  return value;
}

// Keeps the body in a string.
class StringSink : public IncomingMessageReader::BodySink {
public:
  explicit StringSink(std::string& text) : m_text(text) {}
  bool Write(const char* data, std::size_t length) override {
    m_text.append(data, length);
    return true;
  }

private:
  std::string& m_text;
};

}  // namespace

bool IncomingMessageReader::Put(const char* data, std::size_t length) {
  const char* p = data;
  const char* const end = data + length;
  while (p < end && m_stage == Stage::kHeader) header_byte(*p++);
  if (p < end && m_stage == Stage::kBody) body_bytes(p, end);
  return m_stage != Stage::kDone;
}

void IncomingMessageReader::Finish() {
  if (m_stage == Stage::kHeader) {
    if (!m_line.empty()) end_header_line('\0');
    finish_field();
  }
  // A lone dot at the very end ends the message as one with a line end does.
  m_dotHeld = false;
  m_stage = Stage::kDone;
}

void IncomingMessageReader::header_byte(char c) {
  if (m_dropLF) {
    m_dropLF = false;
    if (c == '\n') return;
  }
  if (c == '\0') {
    m_nulLine = m_lineNumber;
    m_stage = Stage::kDone;
    return;
  }
  if (c == '\r' || c == '\n') {
    end_header_line(c);
    return;
  }
  m_line += c;
  if (m_line.size() == kLongHeaderLine && field_name_length(m_line) == 0 &&
      !(is_blank(m_line[0]) && !m_field.empty())) {
    finish_field();
    m_stage = Stage::kBody;
    body_bytes(m_line.data(), m_line.data() + m_line.size());
    m_line.clear();
  }
}

void IncomingMessageReader::end_header_line(char lineEnd) {
  const bool first = m_firstLine;
  m_firstLine = false;
  if (first && m_line.compare(0, 5, "From ") == 0) {
    // The separator line of a mailbox file, not part of the message.
  } else if (!m_line.empty() && is_blank(m_line[0]) && !m_field.empty()) {
    m_field += m_line;
    m_field += "\r\n";
  } else if (m_line.empty()) {
    finish_field();
    m_stage = Stage::kBody;
  } else if (const std::size_t nameLength = field_name_length(m_line)) {
    finish_field();
    m_fieldName = m_line.substr(0, nameLength);
    m_field = m_line + "\r\n";
  } else {
    // Neither a field nor its continuation: the body starts with this line,
    // its line end as it came.
    finish_field();
    m_stage = Stage::kBody;
    body_bytes(m_line.data(), m_line.data() + m_line.size());
    if (lineEnd != '\0' && m_stage == Stage::kBody) body_bytes(&lineEnd, &lineEnd + 1);
    m_line.clear();
    return;
  }
  m_line.clear();
  if (lineEnd != '\0') ++m_lineNumber;
  m_dropLF = lineEnd == '\r';
}

void IncomingMessageReader::finish_field() {
  if (m_field.empty()) return;
  const std::string value = unfolded(m_field);
  const bool bcc = named(m_fieldName, "Bcc");
  if (bcc || named(m_fieldName, "To") || named(m_fieldName, "Cc"))
    for (std::string& address : AddressesOf(value)) m_message.recipients.push_back(std::move(address));
  if (named(m_fieldName, "From")) {
    m_message.hasFrom = true;
    const std::vector<std::string> addresses = AddressesOf(value);
    if (!addresses.empty()) m_message.fromAddress = addresses.front();
  }
  if (named(m_fieldName, "Date")) m_message.hasDate = true;
  if (named(m_fieldName, "Message-ID")) m_message.hasMessageId = true;
  if (!bcc) m_message.header += m_field;
  m_field.clear();
}

void IncomingMessageReader::body_bytes(const char* p, const char* end) {
  if (m_dropLF && p < end) {
    // The LF of the CR LF that ended the header block.
    m_dropLF = false;
    if (*p == '\n') ++p;
  }
  const char* run = p;
  for (; p < end; ++p) {
    const char c = *p;
    if (m_keepLF) {
      m_keepLF = false;
      if (c == '\n') continue;  // the rest of a CR LF line end
    }
    if (m_dotHeld) {
      m_dotHeld = false;
      if (c == '\r' || c == '\n') {
        m_stage = Stage::kDone;
        return;
      }
      if (!emit(".", 1)) return;
    }
    if (c == '\0') {
      m_nulLine = m_lineNumber;
      m_stage = Stage::kDone;
      return;
    }
    if (m_lineStart) {
      m_lineStart = false;
      if (c == '.' && m_loneDotEnds) {
        // Held back until the next byte tells whether the line is a lone dot.
        if (!emit(run, static_cast<std::size_t>(p - run))) return;
        run = p + 1;
        m_dotHeld = true;
        continue;
      }
    }
    if (c == '\r' || c == '\n') {
      ++m_lineNumber;
      m_lineStart = true;
      m_keepLF = c == '\r';
    }
  }
  emit(run, static_cast<std::size_t>(p - run));
}

bool IncomingMessageReader::emit(const char* p, std::size_t length) {
  if (length == 0) return true;
  if (!m_body.Write(p, length)) {
    m_sinkFailed = true;
    m_stage = Stage::kDone;
    return false;
  }
  m_bodyBytes += length;
  return true;
}

IncomingMessage ReadIncomingMessage(const std::string& text, std::string* body, bool loneDotEnds,
                                    unsigned long* nulLine) {
  std::string bodyText;
  StringSink sink(bodyText);
  IncomingMessageReader reader(loneDotEnds, sink);
  reader.Put(text.data(), text.size());
  reader.Finish();
  if (body) *body = bodyText;
  if (nulLine) *nulLine = reader.NulLine();
  return reader.Message();
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
  for (std::size_t i = 0; i < list.size(); ++i) {
    const char c = list[i];
    std::string& target = inAngle ? angle : plain;
    if (commentDepth > 0) {
      if (c == '\\' && i + 1 < list.size())
        ++i;
      else if (c == '(')
        ++commentDepth;
      else if (c == ')')
        --commentDepth;
      continue;
    }
    if (inQuote) {
      // A quoted string is kept as written, quotes and escapes included: as
      // a local part it belongs to the address ("john smith"@x); as a display
      // name it is dropped when the angle brackets come.
      target += c;
      if (c == '\\' && i + 1 < list.size())
        target += list[++i];
      else if (c == '"')
        inQuote = false;
      continue;
    }
    if (c == '"') {
      inQuote = true;
      target += c;
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

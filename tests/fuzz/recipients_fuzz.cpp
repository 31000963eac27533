// SPDX-License-Identifier: Apache-2.0
// CMailMessage::AddMultipleRecipients on arbitrary lists. The first input byte
// chooses the kind (0 to 3, the last selecting no list); the rest, up to its
// first zero byte, is the list. What must hold: one recipient per
// ";"-separated piece up to the first malformed piece (a "<" with no ">"
// after it), taken as "name <address>" or as a bare address, untrimmed; the
// result is 0 exactly when such a piece exists; recipients of other kinds are
// not touched.
#include "mail/mail_message.h"

#include "tests/support/fuzz_input.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Parsed {
  std::vector<std::pair<std::string, std::string>> recipients;  // address, name
  bool ok = true;
};

// Walks the list character by character, as a reader of the format would.
Parsed ReferenceParse(const std::string& list) {
  Parsed parsed;
  std::string piece;
  for (std::size_t i = 0; i <= list.size(); ++i) {
    if (i < list.size() && list[i] != ';') {
      piece += list[i];
      continue;
    }
    const std::size_t lt = piece.find('<');
    if (lt == std::string::npos) {
      parsed.recipients.emplace_back(piece, "");
    } else {
      const std::size_t gt = piece.find('>');
      if (gt == std::string::npos || gt < lt) {
        parsed.ok = false;
        return parsed;
      }
      parsed.recipients.emplace_back(piece.substr(lt + 1, gt - lt - 1), piece.substr(0, lt));
    }
    piece.clear();
  }
  return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto [choice, list] = tarvenkel::test::ReadChoiceAndText(data, size);
  const int kind = choice % 4;

  CMailMessage message;
  // A recipient of another kind that the call must leave alone.
  const auto other = static_cast<CMailMessage::RECIPIENTS_TYPE>((kind + 1) % 3);
  message.AddRecipient("keep@example.com", "Keep", other);

  const auto type = static_cast<CMailMessage::RECIPIENTS_TYPE>(kind);
  const int result = message.AddMultipleRecipients(list.c_str(), type);
  const Parsed expected = ReferenceParse(list);
  Check(result == (expected.ok ? 1 : 0));

  if (kind == 3) {
    Check(message.GetNumRecipients(type) == 0);
  } else {
    Check(message.GetNumRecipients(type) == static_cast<int>(expected.recipients.size()));
    for (std::size_t i = 0; i < expected.recipients.size(); ++i) {
      CString address, name;
      Check(message.GetRecipient(address, name, static_cast<int>(i), type) == 1);
      Check(address.str() == expected.recipients[i].first);
      Check(name.str() == expected.recipients[i].second);
    }
  }
  CString address("unchanged"), name("unchanged");
  Check(message.GetRecipient(address, name, static_cast<int>(expected.recipients.size()), type) == 0);
  Check(address.str() == "unchanged" && name.str() == "unchanged");
  Check(message.GetNumRecipients(other) == 1);
  Check(message.GetRecipient(address, name, 0, other) == 1 && address.str() == "keep@example.com");
  return 0;
}

// SPDX-License-Identifier: Apache-2.0
// The address lists of --to, --cc, --bcc and --from: what each entry gives,
// and the entries that are refused with their reason.
#include "tests/support/text_case.h"
#include "tools/send/address_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvenkel::test {
namespace {

// What the list gives: "[name|address]" for each entry when it is accepted,
// else "refused: " and the reason.
std::string Parsed(const char* list) {
  std::vector<Mailbox> mailboxes;
  std::string error;
  if (!ParseAddressList(list, mailboxes, error)) return "refused: " + error;
  std::string text;
  for (const Mailbox& mailbox : mailboxes) text += "[" + mailbox.name + "|" + mailbox.address + "]";
  return text;
}

TEST(AddressList, EntriesGiveNamesAndAddresses) {
  const TextCase cases[] = {
      {"a@x", "[|a@x]"},
      {" a@x , b@x;c@x ;", "[|a@x][|b@x][|c@x]"},
      {"Ops Desk <ops@x>", "[Ops Desk|ops@x]"},
      {"\"Doe, John\" <j@x>, k@x", "[Doe, John|j@x][|k@x]"},
      {"\"Semi; colon\" <s@x>", "[Semi; colon|s@x]"},
      {"\"say \\\"hi\\\"\" <q@x>", "[say \"hi\"|q@x]"},
      {"\"john smith\"@x.org", "[|\"john smith\"@x.org]"},
      {"a@x (night shift), b@x", "[|a@x][|b@x]"},
      {"Ops (desk, 2nd floor) <ops@x>", "[Ops|ops@x]"},
      {"team: a@x, b@x;, c@x", "[|a@x][|b@x][|c@x]"},
      {"undisclosed-recipients:;", ""},
      {"值班员 <duty@x>", "[值班员|duty@x]"},
      {" ; , ", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Parsed(c.input), c.expected) << c.input;
}

TEST(AddressList, MalformedEntriesAreNamed) {
  const TextCase cases[] = {
      {"a@x, Ops <ops@x", "'Ops <ops@x': expected 'Name <address>'"},
      {"Ops <> ", "'Ops <>': empty address"},
      {"a@x b@x", "'a@x b@x': not one address"},
      {"Ops <ops@x> extra", "'Ops <ops@x> extra': text after '>'"},
      {"\"Doe, John <j@x>", "'\"Doe, John <j@x>': unclosed quote"},
      {"a@x (note", "'a@x (note': unclosed '('"},
      {"a@x\r\nBcc: b@x", "an address list must not contain a line break"},
  };
  for (const auto& c : cases) {
    const std::string parsed = Parsed(c.input);
    EXPECT_EQ(parsed.rfind("refused: ", 0), 0u) << c.input << " gave: " << parsed;
    EXPECT_NE(parsed.find(c.expected), std::string::npos) << c.input << " gave: " << parsed;
  }
}

}  // namespace
}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// The address lists of --to, --cc, --bcc and --from: what each entry gives,
// and the entries that are refused with their reason.
#include "tools/send/address_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvenkel::test {
namespace {

std::string Shown(const std::vector<Mailbox>& mailboxes) {
  std::string text;
  for (const Mailbox& mailbox : mailboxes) text += "[" + mailbox.name + "|" + mailbox.address + "]";
  return text;
}

TEST(AddressList, EntriesGiveNamesAndAddresses) {
  const struct {
    const char* list;
    const char* mailboxes;
  } cases[] = {
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
  for (const auto& c : cases) {
    std::vector<Mailbox> mailboxes;
    std::string error;
    EXPECT_TRUE(ParseAddressList(c.list, mailboxes, error)) << c.list << ": " << error;
    EXPECT_EQ(Shown(mailboxes), c.mailboxes) << c.list;
  }
}

TEST(AddressList, MalformedEntriesAreNamed) {
  const struct {
    const char* list;
    const char* error;
  } cases[] = {
      {"a@x, Ops <ops@x", "'Ops <ops@x': expected 'Name <address>'"},
      {"Ops <> ", "'Ops <>': empty address"},
      {"a@x b@x", "'a@x b@x': not one address"},
      {"Ops <ops@x> extra", "'Ops <ops@x> extra': text after '>'"},
      {"\"Doe, John <j@x>", "'\"Doe, John <j@x>': unclosed quote"},
      {"a@x (note", "'a@x (note': unclosed '('"},
      {"a@x\r\nBcc: b@x", "an address list must not contain a line break"},
  };
  for (const auto& c : cases) {
    std::vector<Mailbox> mailboxes;
    std::string error;
    EXPECT_FALSE(ParseAddressList(c.list, mailboxes, error)) << c.list;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.list << " gave: " << error;
  }
}

}  // namespace
}  // namespace tarvenkel::test

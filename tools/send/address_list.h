// SPDX-License-Identifier: Apache-2.0
// The address lists of tarvenkel-send's --to, --cc, --bcc and --from, as a
// person writes them in a mail header: mailboxes separated by "," or ";",
// each a bare address or "Name <address>", a name quoted when it holds a
// comma ("\"Doe, John\" <j@x>"), comments in parentheses, groups
// ("team: a@x, b@x;"), quoted local parts ("\"john smith\"@x") kept.
#pragma once

#include <string>
#include <vector>

struct Mailbox {
  std::string name;     // the display name, unquoted; empty when there is none
  std::string address;  // the address as MAIL FROM and RCPT TO carry it, without "<>"
};

// Reads the mailboxes of a list; empty entries are skipped. False with the
// reason in error (naming the entry) when an entry is not one mailbox: an
// unclosed quote, "<" or "(", an empty address, text after the ">", blanks
// inside a bare address, a line break.
bool ParseAddressList(const std::string& text, std::vector<Mailbox>& mailboxes, std::string& error);

// SPDX-License-Identifier: Apache-2.0
// The addresses of the local machine: names without a domain, as cron and
// the system's daemons write them ("root"), made addresses a relay takes.
// A recipient without a domain goes through the aliases file (the
// /etc/aliases syntax: "name: a@x, b@y", continuation lines starting with a
// blank, "#" comments), aliases of aliases followed; a name no alias covers
// gets the default domain. A sender without a domain becomes the configured
// sender, or name@default-domain. With neither an aliases file nor a default
// domain every address stays as written.
#pragma once

#include "tools/send/address_list.h"

#include <map>
#include <string>
#include <vector>

class Aliases {
public:
  // Reads the text of an aliases file; false with "line N: reason" in error
  // at the first line that is not "name: members", the continuation of one,
  // a comment or blank, or at a name given twice.
  bool Read(const std::string& text, std::string& error);
  // Reads the file at path; false with an error that starts with the path.
  bool ReadFile(const std::string& path, std::string& error);
  void SetDefaultDomain(const std::string& domain) {
    m_sDefaultDomain = domain;
    m_bActive = true;
  }
  // The bare address of the configuration's sender; empty when there is none.
  void SetConfiguredSender(const std::string& address) { m_sConfiguredSender = address; }

  // The addresses a recipient goes to, each once. One with a domain goes as
  // it is. A name is looked up without regard to case; its members that are
  // names are looked up in turn. A name met again on its own chain is a loop:
  // it is not followed again but qualified as an unknown name is, with a
  // warning that shows the chain ("a -> b -> a"); a name that lists itself
  // ("root: root, ops@x") means the name's own mailbox, without a warning,
  // as does a member written "\name". A member that is a program ("|..."),
  // a file ("/...") or an include (":include:") cannot be sent to from here:
  // it is left out with a warning. An unknown name gets the default domain,
  // or stays as written without one.
  std::vector<std::string> Recipient(const std::string& address, std::vector<std::string>* pWarnings) const;
  // The mailboxes with their recipients resolved; a name is kept where a
  // recipient stays one address.
  std::vector<Mailbox> Recipients(const std::vector<Mailbox>& mailboxes, std::vector<std::string>* pWarnings) const;
  // The sender for an address without a domain, or empty (the running
  // user's login name then stands for it): the configured sender, else
  // name@default-domain; an address with a domain as it is. With neither an
  // aliases file nor a default domain, the address as written.
  std::string Sender(const std::string& address) const;
  // A header field's value with its addresses qualified: those of a sender
  // field (From) as Sender, those of a recipient field (To, Cc) as Recipient.
  // The value is left as written where every address has a domain; an
  // unqualified address that stays one is replaced where it stands (names
  // and comments kept), one that becomes several replaces its whole entry.
  std::string QualifyField(const std::string& value, bool sender) const;

  // Whether an address has a domain: text after its last '@' outside quotes.
  static bool IsQualified(const std::string& address);

private:
  void expand(const std::string& name, std::vector<std::string>& path, std::vector<std::string>& out,
              std::vector<std::string>* pWarnings) const;
  std::string qualified(const std::string& name) const;

  std::map<std::string, std::vector<std::string>> m_Members;  // by the name in lower case
  std::string m_sDefaultDomain;
  std::string m_sConfiguredSender;
  bool m_bActive = false;  // an aliases file was read or a default domain given
};

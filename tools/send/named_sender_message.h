// SPDX-License-Identifier: Apache-2.0
// The message tarvenkel-send builds from its options: a MIME message whose
// From line carries the sender's name, while MAIL FROM carries the bare
// address in m_sFrom.
#pragma once

#include <tarvenkel/mail/mime_message.h>

#include <string>

class CNamedSenderMessage : public CMIMEMessage {
public:
  // Sets the sender: the address for MAIL FROM, and the From line with the
  // name where there is one.
  void SetSender(const std::string& address, const std::string& name);

  // The From line's text for a sender with a name: "Name <address>", which
  // the message writes with the name quoted or encoded as it needs.
  static std::string FromLine(const std::string& name, const std::string& address);

protected:
  void prepare_header() override;

private:
  std::string m_sFromLine;  // the From line's text; empty: the bare address
};

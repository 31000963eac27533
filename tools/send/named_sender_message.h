// The message tarvenkel-send builds from its options: a MIME message whose
// From line carries the sender's name, while MAIL FROM carries the bare
// address in m_sFrom.
#pragma once

#include "mail/mime_message.h"

#include <string>

class CNamedSenderMessage : public CMIMEMessage {
public:
  // Sets the sender: the address for MAIL FROM, and the From line with the
  // name where there is one, written in the charset.
  void SetSender(const std::string& address, const std::string& name, const std::string& charset);

  // The From line's text for a sender with a name: the name as a quoted
  // string where it holds more than letters, digits, blanks and the
  // characters an atom allows, as encoded-words where it holds 8-bit bytes.
  static std::string FromLine(const std::string& name, const std::string& address, const std::string& charset);

protected:
  void prepare_header() override;

private:
  std::string m_sFromLine;  // the From line's text; empty: the bare address
};

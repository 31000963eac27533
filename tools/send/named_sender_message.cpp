// SPDX-License-Identifier: Apache-2.0
#include "tools/send/named_sender_message.h"

void CNamedSenderMessage::SetSender(const std::string& address, const std::string& name) {
  m_sFrom = address.c_str();
  m_sFromLine = name.empty() ? std::string() : FromLine(name, address);
}

std::string CNamedSenderMessage::FromLine(const std::string& name, const std::string& address) {
  return name.empty() ? address : name + " <" + address + ">";
}

void CNamedSenderMessage::prepare_header() {
  if (m_sFromLine.empty()) return CMIMEMessage::prepare_header();
  const CString address = m_sFrom;
  m_sFrom = m_sFromLine.c_str();
  CMIMEMessage::prepare_header();
  m_sFrom = address;
}

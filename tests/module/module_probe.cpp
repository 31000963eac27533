// SPDX-License-Identifier: Apache-2.0
// A small shared library for the module-loading test: it links the module
// the ordinary way and offers C entry points, so that a host which does not
// link the module can still use the module's C++ classes after loading it.
#include "framework/module/resources.h"
#include "mail/base64.h"
#include "mail/mime_message.h"

#include <cstring>

namespace {

// Opens up the class-wide objects that the classes keep to themselves.
class CBase64Probe : public CBase64 {
public:
  static const CString& Alphabet() { return m_sBase64Alphabet; }
};

class CMIMEMessageProbe : public CMIMEMessage {
public:
  static int AgentCount() { return mime_type_manager().GetAgentCount(); }
};

// Copies text into a caller's buffer; the text's length, or -1 if it does not fit.
int copy_out(const CString& text, char* out, int cap) {
  if (text.GetLength() >= cap) return -1;
  std::memcpy(out, text.GetString(), static_cast<std::size_t>(text.GetLength()) + 1);
  return text.GetLength();
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) HINSTANCE probe_module_handle() {
  return AfxGetModuleHandleOf(&CBase64Probe::Alphabet());
}

__attribute__((visibility("default"))) int probe_base64_alphabet(char* out, int cap) {
  return copy_out(CBase64Probe::Alphabet(), out, cap);
}

__attribute__((visibility("default"))) int probe_base64_encode(const char* data, int n, char* out, int cap) {
  CBase64 codec;
  return copy_out(codec.Encode(data, n), out, cap);
}

// Formats a MIME message with one text body; its body goes to out. The
// agent count of the registry after construction goes to *pnAgents.
__attribute__((visibility("default"))) int probe_format_mime(const char* body, char* out, int cap, int* pnAgents) {
  CMIMEMessage msg;
  msg.m_sFrom = "probe@example.org";
  msg.AddRecipient("someone@example.org");
  msg.m_sBody = body;
  msg.FormatMessage();
  *pnAgents = CMIMEMessageProbe::AgentCount();
  return copy_out(msg.m_sBody, out, cap);
}

}  // extern "C"

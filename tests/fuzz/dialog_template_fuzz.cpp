// SPDX-License-Identifier: Apache-2.0
// Feeds arbitrary bytes to the dialog-template reader; what it accepts must
// write back to a template that reads the same.
#include <cstdint>
#include <cstdlib>

#include "framework/window/dialog_template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0xFFFFFFFFu) return 0;
  CDialogTemplate t;
  CString error;
  if (!t.Read(data, static_cast<DWORD>(size), error)) {
    if (error.IsEmpty()) std::abort();
    return 0;
  }
  std::vector<BYTE> again = t.Write();
  CDialogTemplate u;
  if (!u.Read(again.data(), static_cast<DWORD>(again.size()), error) || u.items.size() != t.items.size() ||
      u.strCaption != t.strCaption || u.Write() != again)
    std::abort();
  (void)AfxTextFromUtf16(t.strCaption);
  return 0;
}

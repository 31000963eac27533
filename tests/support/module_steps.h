// SPDX-License-Identifier: Apache-2.0
// The framework's trace of module load and unload steps, as strings.
// Header-only, so that a host which links only the framework can use it.
#pragma once

#include "framework/module/extension_module.h"

#include <string>
#include <vector>

namespace tarvenkel::test {

// What the module traces as it loads, and as it unloads, in this order.
inline const std::vector<std::string> kModuleLoadSteps = {
    "pre-construction hook: lists parked",
    "constructed CBase64::m_sBase64Alphabet",
    "constructed CMIMEMessage::m_MIMETypeManager",
    "AfxInitExtensionModule",
    "CDynLinkLibrary",
};
inline const std::vector<std::string> kModuleUnloadSteps = {
    "AfxTermExtensionModule",
    "destroyed CMIMEMessage::m_MIMETypeManager",
    "destroyed CBase64::m_sBase64Alphabet",
    "pre-construction hook: nothing to do",
};

inline std::vector<std::string> ModuleSteps() {
  CStringArray arr;
  AfxGetModuleSteps(arr);
  std::vector<std::string> out;
  for (INT_PTR i = 0; i < arr.GetSize(); ++i) out.push_back(arr[i].str());
  return out;
}

}  // namespace tarvenkel::test

// The framework's trace of module load and unload steps, as strings.
// Header-only, so that a host which links only the framework can use it.
#pragma once

#include "framework/extension_module.h"

#include <string>
#include <vector>

namespace tarvenkel::test {

inline std::vector<std::string> ModuleSteps() {
  CStringArray arr;
  AfxGetModuleSteps(arr);
  std::vector<std::string> out;
  for (INT_PTR i = 0; i < arr.GetSize(); ++i) out.push_back(arr[i].str());
  return out;
}

}  // namespace tarvenkel::test

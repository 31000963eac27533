// SPDX-License-Identifier: Apache-2.0
// A host program built against the installed package: it uses the framework
// and the module through their installed headers and prints what it saw.
// Of the module it names only the version, so with a static package the
// module's start-up and its resources are in the program only because the
// package's link flags pull them in. It also says which drawing libraries
// the process has mapped: none, when it was built against the mail-only part.
#include <tarvenkel/framework/core/string.h>
#include <tarvenkel/framework/module/extension_module.h>
#include <tarvenkel/framework/module/resources.h>
#include <tarvenkel/module/version.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

// The package's usage requirements (CMake target, pkg-config flags) ask for C++20.
static_assert(__cplusplus >= 202002L, "not compiled as C++20");

int main() {
  CString line;
  line.Format("version %s", TarvenkelVersion());
  std::printf("%s\n", static_cast<LPCTSTR>(line));

  // The module's start-up, traced before main.
  CStringArray steps;
  AfxGetModuleSteps(steps);
  for (INT_PTR i = 0; i < steps.GetSize(); ++i) std::printf("load: %s\n", static_cast<LPCTSTR>(steps[i]));

  // The module's dialog template, found through the module's registration.
  const BYTE* pData = nullptr;
  DWORD nSize = 0;
  HINSTANCE hOwner = nullptr;
  if (AfxFindResource(RT_DIALOG_TYPE, 950, &pData, &nSize, &hOwner))
    std::printf("dialog 950: %u bytes, owner in the chain: %s\n", static_cast<unsigned>(nSize),
                AfxIsModuleLinked(hOwner) ? "yes" : "no");
  else
    std::printf("dialog 950: not found\n");

  // The drawing libraries in the process, from its memory map.
  std::string mapped;
  std::ifstream maps("/proc/self/maps");
  for (std::string entry; std::getline(maps, entry);) {
    for (const char* lib : {"libX11.so", "libfreetype.so", "libfontconfig.so", "libpng16.so"}) {
      if (entry.find(lib) != std::string::npos && mapped.find(lib) == std::string::npos) mapped += std::string(" ") + lib;
    }
  }
  std::printf("drawing libraries mapped:%s\n", mapped.empty() ? " none" : mapped.c_str());

  // The shut-down steps are written as they happen, while the process exits.
  std::fflush(stdout);
  AfxSetModuleStepSink(STDOUT_FILENO);
  return 0;
}

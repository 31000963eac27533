// SPDX-License-Identifier: Apache-2.0
#include "framework/module/module_loader.h"

#include "framework/module/module_state.h"
#include "framework/module/resources.h"

#include <dlfcn.h>
#include <link.h>
#include <string>
#include <vector>

namespace {

struct AttachReport {
  HINSTANCE hModule;
  BOOL bAttached;
};

struct LoadedLibrary {
  HINSTANCE hModule;
  void* pHandle;
  int nRefs;
};

// Never destroyed, like the rest of the module bookkeeping.
std::vector<AttachReport>& attach_reports() {
  static auto* p = new std::vector<AttachReport>;
  return *p;
}

std::vector<LoadedLibrary>& loaded_libraries() {
  static auto* p = new std::vector<LoadedLibrary>;
  return *p;
}

thread_local std::string t_lastError;

// The module handle of a dlopen handle: the load base of the object, found
// through an address inside it (its dynamic section).
HINSTANCE module_of(void* pHandle) {
  link_map* pMap = nullptr;
  if (dlinfo(pHandle, RTLD_DI_LINKMAP, &pMap) != 0 || pMap == nullptr) return nullptr;
  return AfxGetModuleHandleOf(pMap->l_ld);
}

// What the module reported about its attach; TRUE when it reported nothing.
BOOL attach_result(HINSTANCE hModule) {
  BOOL bAttached = TRUE;
  AfxLockGlobals();
  for (const AttachReport& r : attach_reports())
    if (r.hModule == hModule) bAttached = r.bAttached;
  AfxUnlockGlobals();
  return bAttached;
}

void forget_report(HINSTANCE hModule) {
  AfxLockGlobals();
  std::erase_if(attach_reports(), [&](const AttachReport& r) { return r.hModule == hModule; });
  AfxUnlockGlobals();
}

}  // namespace

void AfxReportModuleAttach(HINSTANCE hModule, BOOL bAttached) {
  AfxLockGlobals();
  bool bFound = false;
  for (AttachReport& r : attach_reports()) {
    if (r.hModule == hModule) {
      r.bAttached = bAttached;
      bFound = true;
    }
  }
  if (!bFound) attach_reports().push_back({hModule, bAttached});
  AfxUnlockGlobals();
}

void AfxReportModuleDetach(HINSTANCE hModule) {
  forget_report(hModule);
}

HINSTANCE AfxLoadLibrary(LPCSTR lpszPath) {
  if (lpszPath == nullptr) {
    t_lastError = "no library path given";
    return nullptr;
  }
  void* pHandle = dlopen(lpszPath, RTLD_NOW | RTLD_LOCAL);
  if (pHandle == nullptr) {
    const char* why = dlerror();
    t_lastError = why ? why : "dlopen failed";
    return nullptr;
  }
  HINSTANCE hModule = module_of(pHandle);
  if (hModule == nullptr) {
    dlclose(pHandle);
    t_lastError = std::string(lpszPath) + ": cannot tell where the library was loaded";
    return nullptr;
  }
  if (!attach_result(hModule)) {
    // Its start-up has already undone itself; unloading runs its detach,
    // which finds nothing left to do.
    dlclose(pHandle);
    forget_report(hModule);
    t_lastError = std::string(lpszPath) + ": the module refused to attach";
    return nullptr;
  }
  AfxLockGlobals();
  bool bKnown = false;
  for (LoadedLibrary& lib : loaded_libraries()) {
    if (lib.hModule == hModule) {
      ++lib.nRefs;
      bKnown = true;
    }
  }
  if (!bKnown) loaded_libraries().push_back({hModule, pHandle, 1});
  AfxUnlockGlobals();
  // dlopen counts references itself; one handle per module is enough here.
  if (bKnown) dlclose(pHandle);
  t_lastError.clear();
  return hModule;
}

BOOL AfxFreeLibrary(HINSTANCE hModule) {
  void* pHandle = nullptr;
  AfxLockGlobals();
  auto& libs = loaded_libraries();
  for (auto it = libs.begin(); it != libs.end(); ++it) {
    if (it->hModule == hModule) {
      if (--it->nRefs == 0) {
        pHandle = it->pHandle;
        libs.erase(it);
      } else {
        AfxUnlockGlobals();
        return TRUE;
      }
      break;
    }
  }
  AfxUnlockGlobals();
  if (pHandle == nullptr) return FALSE;
  return dlclose(pHandle) == 0;
}

void* AfxGetProcAddress(HINSTANCE hModule, LPCSTR lpszSymbol) {
  void* pHandle = nullptr;
  AfxLockGlobals();
  for (const LoadedLibrary& lib : loaded_libraries())
    if (lib.hModule == hModule) pHandle = lib.pHandle;
  AfxUnlockGlobals();
  return pHandle != nullptr && lpszSymbol != nullptr ? dlsym(pHandle, lpszSymbol) : nullptr;
}

CString AfxGetLoadLibraryError() {
  return CString(t_lastError.c_str());
}

// SPDX-License-Identifier: Apache-2.0
#include "framework/module/resources.h"

#include "framework/module/extension_module.h"

#include <dlfcn.h>
#include <strings.h>
#include <string>
#include <vector>

namespace {

struct ResourceEntry {
  HINSTANCE hModule;
  std::string type;
  UINT nID;
  const void* pData;
  DWORD nSize;
};

// Never destroyed: modules unregister their resources from their own exit
// code, which may run after the ordinary static objects are gone.
std::vector<ResourceEntry>& resource_table() {
  static auto* pTable = new std::vector<ResourceEntry>;
  return *pTable;
}

// The entry for (module, type, id), or null. Callers hold the globals lock.
const ResourceEntry* find_in_module(HINSTANCE hModule, LPCSTR lpszType, UINT nID) {
  for (const ResourceEntry& e : resource_table())
    if (e.hModule == hModule && e.nID == nID && strcasecmp(e.type.c_str(), lpszType) == 0) return &e;
  return nullptr;
}

}  // namespace

void AfxRegisterResource(HINSTANCE hModule, LPCSTR lpszType, UINT nID, const void* pData, DWORD nSize) {
  if (lpszType == nullptr) return;
  AfxLockGlobals();
  auto& table = resource_table();
  bool bReplaced = false;
  for (ResourceEntry& e : table) {
    if (e.hModule == hModule && e.nID == nID && strcasecmp(e.type.c_str(), lpszType) == 0) {
      e.pData = pData;
      e.nSize = nSize;
      bReplaced = true;
    }
  }
  if (!bReplaced) table.push_back({hModule, lpszType, nID, pData, nSize});
  AfxUnlockGlobals();
}

void AfxUnregisterResources(HINSTANCE hModule) {
  AfxLockGlobals();
  auto& table = resource_table();
  std::erase_if(table, [&](const ResourceEntry& e) { return e.hModule == hModule; });
  AfxUnlockGlobals();
}

HINSTANCE AfxGetModuleHandleOf(const void* address) {
  Dl_info info;
  if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return static_cast<HINSTANCE>(info.dli_fbase);
}

BOOL AfxFindResource(LPCSTR lpszType, UINT nID, const BYTE** ppData, DWORD* pnSize, HINSTANCE* phModule,
                     HINSTANCE hPreferred) {
  if (lpszType == nullptr) return FALSE;
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  const ResourceEntry* pFound = nullptr;
  HINSTANCE hHost = pState->m_hCurrentResourceHandle;
  if (hPreferred != nullptr && (hPreferred == hHost || AfxIsModuleLinked(hPreferred)))
    pFound = find_in_module(hPreferred, lpszType, nID);
  if (pFound == nullptr && hHost != nullptr) pFound = find_in_module(hHost, lpszType, nID);
  // Ordinary modules first, then system modules, each in chain order.
  for (int pass = 0; pass < 2 && pFound == nullptr; ++pass) {
    for (CDynLinkLibrary* pDLL = pState->m_pLibraryList; pFound == nullptr && pDLL != nullptr; pDLL = pDLL->m_pNextDLL)
      if ((pDLL->m_bSystem != FALSE) == (pass == 1)) pFound = find_in_module(pDLL->m_hResource, lpszType, nID);
  }
  if (pFound != nullptr) {
    if (ppData != nullptr) *ppData = static_cast<const BYTE*>(pFound->pData);
    if (pnSize != nullptr) *pnSize = pFound->nSize;
    if (phModule != nullptr) *phModule = pFound->hModule;
  }
  AfxUnlockGlobals();
  return pFound != nullptr;
}

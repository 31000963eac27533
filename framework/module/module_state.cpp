// SPDX-License-Identifier: Apache-2.0
#include "framework/module/module_state.h"

#include "framework/module/extension_module.h"
#include "framework/module/resources.h"

#include <cstring>
#include <pthread.h>
#include <sys/auxv.h>

namespace {

// Plain data with constant initialisation: it stays valid while the modules'
// own exit code runs, after the ordinary static objects are gone.
AFX_MODULE_STATE g_moduleState{};
pthread_mutex_t g_globalsLock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

// The host program's module: the object holding the main program's headers.
HINSTANCE host_module() {
  auto phdr = reinterpret_cast<const void*>(getauxval(AT_PHDR));
  return phdr != nullptr ? AfxGetModuleHandleOf(phdr) : nullptr;
}

// Removes pFactory from the list starting at *ppHead; TRUE if it was there.
BOOL unlink_factory(CObjectFactory** ppHead, CObjectFactory* pFactory) {
  for (CObjectFactory** pp = ppHead; *pp != nullptr; pp = &(*pp)->m_pNextFactory) {
    if (*pp == pFactory) {
      *pp = pFactory->m_pNextFactory;
      return TRUE;
    }
  }
  return FALSE;
}

// The first entry that matches: among the host's own, then in each library
// entry's list along the chain.
template <class T, class Match>
T* find_in_chain(T* AFX_MODULE_STATE::*pHostList, T* CDynLinkLibrary::*pLibraryList, T* T::*pNext, Match match) {
  auto find_in = [&](T* p) -> T* {
    for (; p != nullptr; p = p->*pNext)
      if (match(p)) return p;
    return nullptr;
  };
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  T* pFound = find_in(pState->*pHostList);
  for (CDynLinkLibrary* pDLL = pState->m_pLibraryList; pFound == nullptr && pDLL != nullptr; pDLL = pDLL->m_pNextDLL)
    pFound = find_in(pDLL->*pLibraryList);
  AfxUnlockGlobals();
  return pFound;
}

}  // namespace

AFX_MODULE_STATE* AfxGetModuleState() {
  static const bool bReady = [] {
    g_moduleState.m_hCurrentInstanceHandle = host_module();
    g_moduleState.m_hCurrentResourceHandle = g_moduleState.m_hCurrentInstanceHandle;
    return true;
  }();
  (void)bReady;
  return &g_moduleState;
}

HINSTANCE AfxGetInstanceHandle() {
  return AfxGetModuleState()->m_hCurrentInstanceHandle;
}

HINSTANCE AfxGetResourceHandle() {
  return AfxGetModuleState()->m_hCurrentResourceHandle;
}

void AfxSetResourceHandle(HINSTANCE hResource) {
  AfxGetModuleState()->m_hCurrentResourceHandle = hResource;
}

void AfxLockGlobals() {
  pthread_mutex_lock(&g_globalsLock);
}

void AfxUnlockGlobals() {
  pthread_mutex_unlock(&g_globalsLock);
}

void AfxClassInit(CRuntimeClass* pNewClass) {
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  pNewClass->m_pNextClass = pState->m_pClassList;
  pState->m_pClassList = pNewClass;
  AfxUnlockGlobals();
}

CRuntimeClass* AfxFindRuntimeClass(LPCSTR lpszClassName) {
  if (lpszClassName == nullptr) return nullptr;
  return find_in_chain(&AFX_MODULE_STATE::m_pClassList, &CDynLinkLibrary::m_pClassList, &CRuntimeClass::m_pNextClass,
                       [&](const CRuntimeClass* p) { return std::strcmp(p->m_lpszClassName, lpszClassName) == 0; });
}

CObjectFactory::CObjectFactory(LPCSTR lpszName, CRuntimeClass* pRuntimeClass)
    : m_lpszName(lpszName), m_pRuntimeClass(pRuntimeClass), m_pNextFactory(nullptr) {
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  m_pNextFactory = pState->m_pFactoryList;
  pState->m_pFactoryList = this;
  AfxUnlockGlobals();
}

CObjectFactory::~CObjectFactory() {
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  BOOL bDone = unlink_factory(&pState->m_pFactoryList, this);
  for (CDynLinkLibrary* pDLL = pState->m_pLibraryList; !bDone && pDLL != nullptr; pDLL = pDLL->m_pNextDLL)
    bDone = unlink_factory(&pDLL->m_pFactoryList, this);
  if (!bDone) unlink_factory(&pState->m_pFactoryInit, this);
  AfxUnlockGlobals();
}

CObjectFactory* AfxFindObjectFactory(LPCSTR lpszName) {
  if (lpszName == nullptr) return nullptr;
  return find_in_chain(&AFX_MODULE_STATE::m_pFactoryList, &CDynLinkLibrary::m_pFactoryList,
                       &CObjectFactory::m_pNextFactory, [&](const CObjectFactory* p) {
                         return p->m_lpszName != nullptr && std::strcmp(p->m_lpszName, lpszName) == 0;
                       });
}

// SPDX-License-Identifier: Apache-2.0
#include "framework/module/extension_module.h"

#include "framework/module/resources.h"

#include <atomic>
#include <deque>
#include <string>
#include <unistd.h>

namespace {

std::atomic<bool> g_bRefuseInit{false};

std::atomic<int> g_nStepSink{-1};

constexpr std::size_t kMaxTracedSteps = 1024;

// Never destroyed: modules note their last steps after the ordinary static
// objects of the process are gone.
std::deque<std::string>& traced_steps() {
  static auto* pSteps = new std::deque<std::string>;
  return *pSteps;
}

}  // namespace

void AfxTraceModuleStep(LPCSTR lpszStep) {
  AfxLockGlobals();
  try {
    auto& steps = traced_steps();
    if (steps.size() == kMaxTracedSteps) steps.pop_front();
    steps.emplace_back(lpszStep ? lpszStep : "");
  } catch (...) {
    // The trace is an aid; running out of memory must not break a load.
  }
  AfxUnlockGlobals();
  int nFd = g_nStepSink;
  if (nFd >= 0) {
    std::string line = std::string(lpszStep ? lpszStep : "") + "\n";
    // A sink that fails is simply not written to; the trace in memory stays.
    if (::write(nFd, line.data(), line.size()) < 0) return;
  }
}

void AfxSetModuleStepSink(int nFd) {
  g_nStepSink = nFd;
}

void AfxGetModuleSteps(CStringArray& steps) {
  steps.RemoveAll();
  AfxLockGlobals();
  for (const std::string& step : traced_steps()) steps.Add(CString(step));
  AfxUnlockGlobals();
}

void AfxClearModuleSteps() {
  AfxLockGlobals();
  traced_steps().clear();
  AfxUnlockGlobals();
}

void AfxSetRefuseExtensionInit(BOOL bRefuse) {
  g_bRefuseInit = bRefuse != FALSE;
}

BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule) {
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  if (g_bRefuseInit) {
    AfxTraceModuleStep("AfxInitExtensionModule refused");
    // The host gets its parked lists back; what the refused module entered
    // is dropped, since the module is about to go away.
    AfxLockGlobals();
    if (pState->m_bListsParked) {
      pState->m_pClassList = pState->m_pClassInit;
      pState->m_pFactoryList = pState->m_pFactoryInit;
      pState->m_bListsParked = FALSE;
    }
    AfxUnlockGlobals();
    return FALSE;
  }
  AfxTraceModuleStep("AfxInitExtensionModule");
  if (state.bInitialized) return TRUE;
  AfxLockGlobals();
  state.hModule = hModule;
  state.hResource = hModule;
  state.pFirstSharedClass = nullptr;
  state.pFirstSharedFactory = nullptr;
  if (pState->m_bListsParked) {
    state.pFirstSharedClass = pState->m_pClassList;
    state.pFirstSharedFactory = pState->m_pFactoryList;
    pState->m_pClassList = pState->m_pClassInit;
    pState->m_pFactoryList = pState->m_pFactoryInit;
    pState->m_bListsParked = FALSE;
  }
  state.bInitialized = TRUE;
  AfxUnlockGlobals();
  return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll) {
  AfxTraceModuleStep("AfxTermExtensionModule");
  if (!state.bInitialized) return;
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  for (CDynLinkLibrary* pDLL = pState->m_pLibraryList; pDLL != nullptr;) {
    CDynLinkLibrary* pNext = pDLL->m_pNextDLL;
    if (bAll || pDLL->m_hModule == state.hModule) delete pDLL;
    pDLL = pNext;
  }
  state.bInitialized = FALSE;
  AfxUnlockGlobals();
  // The module's resource bytes live in the module; nothing may point at
  // them once it can be unloaded.
  AfxUnregisterResources(state.hModule);
}

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_pClassList(state.pFirstSharedClass),
      m_pFactoryList(state.pFirstSharedFactory), m_bSystem(bSystem), m_pNextDLL(nullptr) {
  link_into_chain();
}

CDynLinkLibrary::CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource)
    : m_hModule(hModule), m_hResource(hResource), m_pClassList(nullptr), m_pFactoryList(nullptr),
      m_bSystem(FALSE), m_pNextDLL(nullptr) {
  link_into_chain();
}

void CDynLinkLibrary::link_into_chain() {
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  m_pNextDLL = pState->m_pLibraryList;
  pState->m_pLibraryList = this;
  AfxUnlockGlobals();
  AfxTraceModuleStep("CDynLinkLibrary");
}

CDynLinkLibrary::~CDynLinkLibrary() {
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  for (CDynLinkLibrary** pp = &pState->m_pLibraryList; *pp != nullptr; pp = &(*pp)->m_pNextDLL) {
    if (*pp == this) {
      *pp = m_pNextDLL;
      break;
    }
  }
  AfxUnlockGlobals();
}

BOOL AfxIsModuleLinked(HMODULE hModule) {
  BOOL bLinked = FALSE;
  AfxLockGlobals();
  for (CDynLinkLibrary* pDLL = AfxGetModuleState()->m_pLibraryList; pDLL != nullptr; pDLL = pDLL->m_pNextDLL)
    if (pDLL->m_hModule == hModule) bLinked = TRUE;
  AfxUnlockGlobals();
  return bLinked;
}

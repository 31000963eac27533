// SPDX-License-Identifier: Apache-2.0
// Extension modules: shared libraries that join the host's framework. A module
// registers with AfxInitExtensionModule and links itself into the chain of
// extension libraries by creating a CDynLinkLibrary; AfxTermExtensionModule
// takes it out again. Class and resource look-ups walk the chain.
#pragma once

#include "framework/core/string_array.h"
#include "framework/module/module_state.h"

// The framework's record of one extension module; a module keeps one as a
// zero-initialised static object and never reads its fields itself.
struct AFX_EXTENSION_MODULE {
  BOOL bInitialized;                    // registered by AfxInitExtensionModule
  HMODULE hModule;                      // the module's handle
  HMODULE hResource;                    // the module searched for its resources
  CRuntimeClass* pFirstSharedClass;     // the module's own classes
  CObjectFactory* pFirstSharedFactory;  // the module's own factories
};

// Registers the module hModule: takes the classes and factories that its
// static objects entered since the pre-construction hook as the module's own
// and gives the host its parked lists back. Non-zero on success; a module
// already registered succeeds again without change.
AFX_API_EXPORT BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE& state, HMODULE hModule);
// Withdraws the module: deletes its CDynLinkLibrary entries (all entries when
// bAll), drops its registered resources, and marks the record unregistered.
// Does nothing for a module that is not registered.
AFX_API_EXPORT void AfxTermExtensionModule(AFX_EXTENSION_MODULE& state, BOOL bAll = FALSE);

// One entry of the chain of extension libraries. Creating it links it at the
// head of the chain; the framework owns it from then on and deletes it in
// AfxTermExtensionModule.
class AFX_EXT_CLASS CDynLinkLibrary : public CObject {
public:
  // The entry of a registered module, with its classes and factories.
  CDynLinkLibrary(AFX_EXTENSION_MODULE& state, BOOL bSystem = FALSE);
  // An entry for a module's resources only.
  CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource);
  // Unlinks the entry from the chain.
  ~CDynLinkLibrary() override;

  HMODULE m_hModule;               // the module
  HMODULE m_hResource;             // the module searched for its resources
  CRuntimeClass* m_pClassList;     // its classes, searched by AfxFindRuntimeClass
  CObjectFactory* m_pFactoryList;  // its factories, searched by AfxFindObjectFactory
  // A system module's resources are searched after every other module's.
  BOOL m_bSystem;
  CDynLinkLibrary* m_pNextDLL;     // the next entry of the chain

private:
  void link_into_chain();
};

// TRUE while some entry of the chain belongs to hModule.
AFX_API_EXPORT BOOL AfxIsModuleLinked(HMODULE hModule);

// Start-up trace: the framework and the modules note each step of loading
// and unloading here (a bounded log of the most recent steps), so that a host
// or a test can check the order in which they ran.
AFX_API_EXPORT void AfxTraceModuleStep(LPCSTR lpszStep);
// Replaces the content of steps with the traced steps, oldest first.
AFX_API_EXPORT void AfxGetModuleSteps(CStringArray& steps);
// Empties the trace.
AFX_API_EXPORT void AfxClearModuleSteps();
// Also writes each step, as it is traced, as one line to the descriptor nFd
// (-1 stops it), so that steps taken while the process exits can be watched.
AFX_API_EXPORT void AfxSetModuleStepSink(int nFd);

// Fault injection for tests: while set, AfxInitExtensionModule refuses every
// registration (returns 0 and changes nothing).
AFX_API_EXPORT void AfxSetRefuseExtensionInit(BOOL bRefuse);

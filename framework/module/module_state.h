// SPDX-License-Identifier: Apache-2.0
// The framework's module state: the process-wide record of the classes and
// class factories that the host registered, the slots in which a loading
// module parks them while its own static objects are built, and the chain of
// extension libraries that class and resource look-ups walk.
#pragma once

#include "framework/core/object.h"

class CDynLinkLibrary;
class CObjectFactory;

// The module state's fields; see AfxGetModuleState.
struct AFX_EXT_CLASS AFX_MODULE_STATE {
  // Classes entered by AfxClassInit, newest first, linked through m_pNextClass.
  CRuntimeClass* m_pClassList;
  // Factories entered by their constructors, newest first.
  CObjectFactory* m_pFactoryList;
  // The two lists as they were when a module's pre-construction hook parked
  // them; its registration puts them back and keeps what was entered since.
  CRuntimeClass* m_pClassInit;
  CObjectFactory* m_pFactoryInit;  // (see m_pClassInit)
  // Set by the hook that parks the lists, cleared by the registration that
  // takes them back, so a registration without a hook leaves the lists alone.
  BOOL m_bListsParked;
  // The extension libraries, most recently linked first.
  CDynLinkLibrary* m_pLibraryList;
  // The host program's own module, searched for resources before the chain.
  HINSTANCE m_hCurrentInstanceHandle;
  // The module searched for the host's resources (the host's own by default).
  HINSTANCE m_hCurrentResourceHandle;
};

// The framework's module state (one per process: host and modules share it).
AFX_API_EXPORT AFX_MODULE_STATE* AfxGetModuleState();
// The host program's module handle.
AFX_API_EXPORT HINSTANCE AfxGetInstanceHandle();
// The module searched for the host's resources.
AFX_API_EXPORT HINSTANCE AfxGetResourceHandle();
// Makes hResource the module searched for the host's resources.
AFX_API_EXPORT void AfxSetResourceHandle(HINSTANCE hResource);

// Serialises changes to the module state, its lists and the library chain
// (a process-wide lock; not recursive).
AFX_API_EXPORT void AfxLockGlobals();
// Releases AfxLockGlobals.
AFX_API_EXPORT void AfxUnlockGlobals();

// Enters a class into the current module state's class list.
AFX_API_EXPORT void AfxClassInit(CRuntimeClass* pNewClass);
// A static object of this type enters its class into the list when built.
struct AFX_CLASSINIT {
  // Enters pNewClass (AfxClassInit).
  explicit AFX_CLASSINIT(CRuntimeClass* pNewClass) { AfxClassInit(pNewClass); }
};
// The class of that name: first among the host's classes, then module by
// module along the chain of extension libraries; null if none.
AFX_API_EXPORT CRuntimeClass* AfxFindRuntimeClass(LPCSTR lpszClassName);

// A named factory that creates objects of one class on request. Building it
// enters it into the current module state's factory list; a module's
// factories move to its library entry when the module registers.
class AFX_EXT_CLASS CObjectFactory {
public:
  // A factory named lpszName (not copied) for pRuntimeClass, entered at the
  // head of the current factory list.
  CObjectFactory(LPCSTR lpszName, CRuntimeClass* pRuntimeClass);
  // Removes the factory from whichever list holds it.
  ~CObjectFactory();
  CObjectFactory(const CObjectFactory&) = delete;
  CObjectFactory& operator=(const CObjectFactory&) = delete;

  // A new object of the class; null if there is no class or it cannot be
  // created dynamically.
  CObject* CreateObject() const { return m_pRuntimeClass ? m_pRuntimeClass->CreateObject() : nullptr; }

  LPCSTR m_lpszName;               // the name the factory is found by
  CRuntimeClass* m_pRuntimeClass;  // the class it creates
  CObjectFactory* m_pNextFactory;  // next factory of the list that holds it
};

// The factory of that name, searched like AfxFindRuntimeClass; null if none.
AFX_API_EXPORT CObjectFactory* AfxFindObjectFactory(LPCSTR lpszName);

// SPDX-License-Identifier: Apache-2.0
// The module's load and unload sequence. Everything that must happen in a
// fixed order lives in this one unit and is driven by one object with the
// lowest initialisation priority, so it runs before any other static object
// of the module is built, and its destructor, registered first, runs after
// every other one is gone:
//
//   load:   pre-construction hook, the base64 alphabet, the agent registry,
//           registration with the framework (AfxInitExtensionModule, then a
//           CDynLinkLibrary that links the module into the chain);
//   unload: withdrawal (AfxTermExtensionModule), the registry, the alphabet,
//           the hook again, which does nothing.
//
// Linked from the static archive into a program, the module shares the
// program's list of initialisers; the same priority puts the start-up ahead
// of every ordinary static object of the program and of the framework, so
// what it uses from the framework is built before any code runs.
//
// The two static objects live in storage that this unit builds and destroys
// explicitly, each at most once (a guard flag per object), so a refused
// registration can destroy them at once and the later unload destroys
// nothing twice.
#include "framework/module/extension_module.h"
#include "framework/module/module_loader.h"
#include "framework/module/resources.h"
#include "mail/base64.h"
#include "mail/mime_message.h"

#include <new>
#include <utility>

namespace {

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

// Storage for a module-wide object whose construction and destruction the
// start-up sequence drives itself; building and destroying are once-only.
template <class T>
class CModuleStatic {
public:
  constexpr CModuleStatic() noexcept : m_cUnbuilt(0) {}
  // Unloading destroys the object through the exit list, never here. Being
  // constexpr makes the storage a literal type, so that it is initialised
  // before any code runs and the start-up's constructions are not undone
  // by a later dynamic initialisation.
  constexpr ~CModuleStatic() {}
  CModuleStatic(const CModuleStatic&) = delete;
  CModuleStatic& operator=(const CModuleStatic&) = delete;

  template <class... Args>
  void Construct(Args&&... args) {
    if (m_bAlive) return;
    new (&m_object) T(std::forward<Args>(args)...);
    m_bAlive = true;
  }
  // Destroys the object if it is alive; TRUE if this call destroyed it.
  bool Destroy() {
    if (!m_bAlive) return false;
    m_bAlive = false;
    m_object.~T();
    return true;
  }
  bool IsAlive() const { return m_bAlive; }

  union {
    char m_cUnbuilt;  // the active member until the object is built
    T m_object;
  };

private:
  bool m_bAlive = false;
};

constinit CModuleStatic<CString> g_base64Alphabet;
constinit CModuleStatic<CMIMEMessage::CMIMETypeManager> g_mimeTypeManager;

// Records a start-up step, naming the static object it concerns.
void trace_object(LPCSTR lpszWhat, LPCSTR lpszObject) {
  CString step;
  step.Format("%s %s", lpszWhat, lpszObject);
  AfxTraceModuleStep(step);
}

void destroy_base64_alphabet() {
  if (g_base64Alphabet.Destroy()) trace_object("destroyed", "CBase64::m_sBase64Alphabet");
}

// Destroying the registry deletes every content agent it holds.
void destroy_mime_type_manager() {
  if (g_mimeTypeManager.Destroy()) trace_object("destroyed", "CMIMEMessage::m_MIMETypeManager");
}

// The module's record for the framework: zero at load.
constinit AFX_EXTENSION_MODULE g_extensionModule{};

// This module's handle, found through an address inside it.
HINSTANCE this_module() {
  return AfxGetModuleHandleOf(&g_extensionModule);
}

// Runs before the module's static objects are built: parks the framework's
// class and factory lists so that what the module's objects enter while
// they are built can be told apart at registration. Succeeds for every
// reason code and does nothing but attach.
BOOL pre_construction_hook(DWORD dwReason) {
  if (dwReason != DLL_PROCESS_ATTACH) {
    AfxTraceModuleStep("pre-construction hook: nothing to do");
    return TRUE;
  }
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  AfxLockGlobals();
  pState->m_pClassInit = pState->m_pClassList;
  pState->m_pFactoryInit = pState->m_pFactoryList;
  pState->m_pClassList = nullptr;
  pState->m_pFactoryList = nullptr;
  pState->m_bListsParked = TRUE;
  AfxUnlockGlobals();
  AfxTraceModuleStep("pre-construction hook: lists parked");
  return TRUE;
}

// The module's exit actions: destruction routines registered as the static
// objects are built, run newest first. Each routine destroys its object at
// most once, so the list may run any number of times.
class CExitList {
public:
  void Add(void (*pfnAction)()) {
    if (m_nCount < kMaxActions) m_actions[m_nCount++] = pfnAction;
  }
  void Run() const {
    for (int i = m_nCount; i-- > 0;) m_actions[i]();
  }

private:
  static constexpr int kMaxActions = 4;
  void (*m_actions[kMaxActions])() = {};
  int m_nCount = 0;
};

constinit CExitList g_exitList;

// Builds the module's static objects in their fixed order, each registering
// its destruction. FALSE if one could not be built (the exit list then holds
// what was built).
BOOL construct_statics() {
  try {
    g_base64Alphabet.Construct("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
    g_exitList.Add(destroy_base64_alphabet);
    trace_object("constructed", "CBase64::m_sBase64Alphabet");
    g_mimeTypeManager.Construct();
    g_exitList.Add(destroy_mime_type_manager);
    trace_object("constructed", "CMIMEMessage::m_MIMETypeManager");
  } catch (CException* e) {
    e->Delete();
    return FALSE;
  } catch (const std::bad_alloc&) {
    return FALSE;
  }
  return TRUE;
}

// The whole load and unload sequence, driven by one object built first and
// destroyed last among the module's static objects.
class CModuleStartup {
public:
  CModuleStartup() {
    m_hModule = this_module();
    pre_construction_hook(DLL_PROCESS_ATTACH);
    BOOL bBuilt = construct_statics();
    if (bBuilt && AfxInitExtensionModule(g_extensionModule, m_hModule)) {
      try {
        new CDynLinkLibrary(g_extensionModule, FALSE);
        m_bAttached = TRUE;
      } catch (const std::bad_alloc&) {
        AfxTermExtensionModule(g_extensionModule, FALSE);
      }
    }
    if (!m_bAttached) {
      // The load fails: nothing built for it may stay alive.
      g_exitList.Run();
      if (!bBuilt) AfxTraceModuleStep("module static objects could not be built");
    }
    AfxReportModuleAttach(m_hModule, m_bAttached);
  }

  ~CModuleStartup() {
    // A module whose attach did not complete has nothing to withdraw.
    if (m_bAttached) AfxTermExtensionModule(g_extensionModule, FALSE);
    g_exitList.Run();
    pre_construction_hook(DLL_PROCESS_DETACH);
    AfxReportModuleDetach(m_hModule);
  }

private:
  HINSTANCE m_hModule = nullptr;
  BOOL m_bAttached = FALSE;
};

CModuleStartup g_moduleStartup __attribute__((init_priority(101)));

}  // namespace

// The class-wide objects named by the mail classes refer into the storage
// above; the references are bound before any code runs, the objects behind
// them exist from the start-up sequence to the unload.
constinit CString& CBase64::m_sBase64Alphabet = g_base64Alphabet.m_object;
constinit CMIMEMessage::CMIMETypeManager& CMIMEMessage::m_MIMETypeManager = g_mimeTypeManager.m_object;

// A program that uses no mail class names nothing in this unit, so a static
// link would leave it out of the program and the start-up would never run.
// Whoever links the static library names this symbol as undefined (the
// library's link options and pkg-config file do so), which pulls the unit in.
extern "C" AFX_API_EXPORT const char tarvenkel_module_startup = 0;

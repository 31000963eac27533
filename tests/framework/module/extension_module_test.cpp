// SPDX-License-Identifier: Apache-2.0
#include "framework/module/extension_module.h"
#include "framework/module/resources.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

HINSTANCE fake_module(std::uintptr_t n) {
  return reinterpret_cast<HINSTANCE>(n);
}

// Parks the host's lists as a module's pre-construction hook does.
void park_lists() {
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  pState->m_pClassInit = pState->m_pClassList;
  pState->m_pFactoryInit = pState->m_pFactoryList;
  pState->m_pClassList = nullptr;
  pState->m_pFactoryList = nullptr;
  pState->m_bListsParked = TRUE;
}

// Registers a fake module the way a module's start-up does: park the lists,
// let its static objects enter their classes, register, link.
void attach(AFX_EXTENSION_MODULE& state, HINSTANCE hModule, CRuntimeClass* pOwnClass = nullptr, BOOL bSystem = FALSE) {
  park_lists();
  if (pOwnClass != nullptr) AfxClassInit(pOwnClass);
  ASSERT_TRUE(AfxInitExtensionModule(state, hModule));
  new CDynLinkLibrary(state, bSystem);
}

const BYTE kA[] = {'A'};
const BYTE kB[] = {'B'};
const BYTE kS[] = {'S'};
const BYTE kHost[] = {'H'};

char which(LPCSTR type, UINT id, HINSTANCE hPreferred = nullptr) {
  const BYTE* pData = nullptr;
  DWORD nSize = 0;
  if (!AfxFindResource(type, id, &pData, &nSize, nullptr, hPreferred)) return '-';
  EXPECT_EQ(nSize, 1u);
  return static_cast<char>(pData[0]);
}

TEST(ExtensionChain, ResourcesAreFoundPreferredThenHostThenChainThenSystemModules) {
  HINSTANCE hA = fake_module(0x1000), hB = fake_module(0x2000), hS = fake_module(0x3000);
  AFX_EXTENSION_MODULE a{}, b{}, s{};
  AfxRegisterResource(hA, "AVI", 7905, kA, 1);
  AfxRegisterResource(hB, "AVI", 7905, kB, 1);
  AfxRegisterResource(hS, "AVI", 7905, kS, 1);
  AfxRegisterResource(hS, RT_DIALOG_TYPE, 7950, kS, 1);
  EXPECT_EQ(which("AVI", 7905), '-') << "registered but not linked: not searched";

  attach(s, hS, nullptr, TRUE);
  attach(a, hA);
  attach(b, hB);
  EXPECT_EQ(which("AVI", 7905), 'B') << "the most recently linked ordinary module first";
  EXPECT_EQ(which("avi", 7905), 'B') << "type names ignore case";
  EXPECT_EQ(which("AVI", 7905, hA), 'A') << "a preferred module comes first";
  EXPECT_EQ(which("AVI", 7905, hS), 'S');
  EXPECT_EQ(which(RT_DIALOG_TYPE, 7950), 'S') << "system modules are searched last, but searched";
  EXPECT_EQ(which("AVI", 7906), '-');

  AfxRegisterResource(AfxGetInstanceHandle(), "AVI", 7905, kHost, 1);
  EXPECT_EQ(which("AVI", 7905), 'H') << "the host's own resources come before the chain";
  EXPECT_EQ(which("AVI", 7905, hA), 'A');
  AfxUnregisterResources(AfxGetInstanceHandle());

  AfxTermExtensionModule(b);
  EXPECT_FALSE(AfxIsModuleLinked(hB));
  EXPECT_EQ(which("AVI", 7905), 'A');
  EXPECT_EQ(which("AVI", 7905, hB), 'A') << "a withdrawn module is not searched even when preferred";
  AfxTermExtensionModule(a);
  AfxTermExtensionModule(s);
  EXPECT_EQ(which("AVI", 7905), '-');
  EXPECT_EQ(which(RT_DIALOG_TYPE, 7950), '-');
}

TEST(ExtensionChain, ModuleClassesMoveToItsEntryAndTheHostKeepsItsOwn) {
  static CRuntimeClass hostClass = {"CHostClassForChainTest", 8, 0xFFFF, nullptr, nullptr, nullptr};
  static CRuntimeClass moduleClass = {"CModuleClassForChainTest", 8, 0xFFFF, nullptr, nullptr, nullptr};
  AfxClassInit(&hostClass);
  CRuntimeClass* pHostHead = AfxGetModuleState()->m_pClassList;

  AFX_EXTENSION_MODULE state{};
  attach(state, fake_module(0x4000), &moduleClass);
  EXPECT_EQ(AfxGetModuleState()->m_pClassList, pHostHead) << "the host's list is given back";
  EXPECT_EQ(state.pFirstSharedClass, &moduleClass);
  EXPECT_EQ(AfxFindRuntimeClass("CModuleClassForChainTest"), &moduleClass) << "found through the chain";
  EXPECT_EQ(AfxFindRuntimeClass("CHostClassForChainTest"), &hostClass);

  // A second registration of the same record changes nothing.
  EXPECT_TRUE(AfxInitExtensionModule(state, fake_module(0x5000)));
  EXPECT_EQ(state.hModule, fake_module(0x4000));

  AfxTermExtensionModule(state);
  EXPECT_FALSE(state.bInitialized);
  EXPECT_EQ(AfxFindRuntimeClass("CModuleClassForChainTest"), nullptr);
  EXPECT_EQ(AfxFindRuntimeClass("CHostClassForChainTest"), &hostClass);
  AfxTermExtensionModule(state);  // a second withdrawal does nothing
}

TEST(ExtensionChain, RefusedRegistrationGivesTheHostItsListsBack) {
  static CRuntimeClass hostClass = {"CHostClassForRefusal", 8, 0xFFFF, nullptr, nullptr, nullptr};
  static CRuntimeClass moduleClass = {"CModuleClassForRefusal", 8, 0xFFFF, nullptr, nullptr, nullptr};
  AfxClassInit(&hostClass);
  AFX_MODULE_STATE* pState = AfxGetModuleState();
  CRuntimeClass* pHostHead = pState->m_pClassList;
  park_lists();
  AfxClassInit(&moduleClass);

  AfxSetRefuseExtensionInit(TRUE);
  AFX_EXTENSION_MODULE state{};
  EXPECT_FALSE(AfxInitExtensionModule(state, fake_module(0x6000)));
  AfxSetRefuseExtensionInit(FALSE);
  EXPECT_FALSE(state.bInitialized);
  EXPECT_EQ(pState->m_pClassList, pHostHead);
  EXPECT_EQ(AfxFindRuntimeClass("CModuleClassForRefusal"), nullptr);
  AfxTermExtensionModule(state);  // withdrawal of a refused module does nothing
}

TEST(ExtensionChain, FactoriesFollowTheirModuleAndUnlinkThemselves) {
  static CRuntimeClass made = {"CMadeByFactory", 8, 0xFFFF, nullptr, nullptr, nullptr};
  CObjectFactory hostFactory("host.factory", &made);
  EXPECT_EQ(AfxFindObjectFactory("host.factory"), &hostFactory);

  park_lists();
  auto* pModuleFactory = new CObjectFactory("module.factory", &made);
  AFX_EXTENSION_MODULE state{};
  ASSERT_TRUE(AfxInitExtensionModule(state, fake_module(0x7000)));
  new CDynLinkLibrary(state);
  EXPECT_EQ(AfxFindObjectFactory("module.factory"), pModuleFactory);
  EXPECT_EQ(AfxFindObjectFactory("host.factory"), &hostFactory);
  delete pModuleFactory;
  EXPECT_EQ(AfxFindObjectFactory("module.factory"), nullptr);
  AfxTermExtensionModule(state);
}

TEST(ModuleHandles, AddressesMapToTheObjectThatHoldsThem) {
  static int inHost = 0;
  EXPECT_EQ(AfxGetModuleHandleOf(&inHost), AfxGetInstanceHandle());
  HINSTANCE hFramework = AfxGetModuleHandleOf(reinterpret_cast<const void*>(&AfxFindResource));
  EXPECT_NE(hFramework, nullptr);
  if (TARVENKEL_LINKED_STATICALLY)
    EXPECT_EQ(hFramework, AfxGetInstanceHandle()) << "a static framework is part of the program";
  else
    EXPECT_NE(hFramework, AfxGetInstanceHandle()) << "a shared framework is an object of its own";
  EXPECT_EQ(AfxGetModuleHandleOf(nullptr), nullptr);
}

}  // namespace

// SPDX-License-Identifier: Apache-2.0
// A host that links only the framework and loads the module at run time, the
// way an application loads an extension library: the module's load and
// unload sequence must run in its fixed order, the module's classes must work
// while it is loaded, and a refused registration must fail the load and
// leave nothing of the module behind.
#include "framework/module/extension_module.h"
#include "framework/module/module_loader.h"
#include "framework/module/resources.h"
#include "tests/support/module_steps.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>
#include <vector>

#ifndef TARVENKEL_MODULE_PATH
#error "TARVENKEL_MODULE_PATH must name the module to load"
#endif
#ifndef TARVENKEL_PROBE_PATH
#error "TARVENKEL_PROBE_PATH must name the probe library"
#endif

namespace {

using tarvenkel::test::ModuleSteps;

const std::vector<std::string>& kLoadSteps = tarvenkel::test::kModuleLoadSteps;
const std::vector<std::string>& kUnloadSteps = tarvenkel::test::kModuleUnloadSteps;

bool module_mapped() {
  void* h = dlopen(TARVENKEL_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
  if (h == nullptr) return false;
  dlclose(h);
  return true;
}

// The probe's C entry points, resolved after the probe is loaded.
struct Probe {
  void* pHandle = nullptr;
  HINSTANCE (*module_handle)() = nullptr;
  int (*alphabet)(char*, int) = nullptr;
  int (*encode)(const char*, int, char*, int) = nullptr;
  int (*format_mime)(const char*, char*, int, int*) = nullptr;

  bool Load() {
    pHandle = dlopen(TARVENKEL_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
    if (pHandle == nullptr) return false;
    module_handle = reinterpret_cast<HINSTANCE (*)()>(dlsym(pHandle, "probe_module_handle"));
    alphabet = reinterpret_cast<int (*)(char*, int)>(dlsym(pHandle, "probe_base64_alphabet"));
    encode = reinterpret_cast<int (*)(const char*, int, char*, int)>(dlsym(pHandle, "probe_base64_encode"));
    format_mime = reinterpret_cast<int (*)(const char*, char*, int, int*)>(dlsym(pHandle, "probe_format_mime"));
    return module_handle && alphabet && encode && format_mime;
  }
  void Unload() {
    if (pHandle != nullptr) dlclose(pHandle);
    pHandle = nullptr;
  }
};

CRuntimeClass g_hostClass = {"CHostOwnClass", 8, 0xFFFF, nullptr, nullptr, nullptr};

class ModuleLoad : public ::testing::Test {
protected:
  static void SetUpTestSuite() { AfxClassInit(&g_hostClass); }
  void SetUp() override {
    ASSERT_FALSE(module_mapped()) << "the host must not link the module";
    AfxSetRefuseExtensionInit(FALSE);
    AfxClearModuleSteps();
  }
  void TearDown() override { AfxSetRefuseExtensionInit(FALSE); }
};

TEST_F(ModuleLoad, LoadBuildsStaticsThenRegistersAndUnloadUndoesItInReverse) {
  HINSTANCE hModule = AfxLoadLibrary(TARVENKEL_MODULE_PATH);
  ASSERT_NE(hModule, nullptr) << AfxGetLoadLibraryError().GetString();
  EXPECT_EQ(ModuleSteps(), kLoadSteps);
  EXPECT_TRUE(AfxIsModuleLinked(hModule));
  // The host's own classes were parked during the load and are back.
  EXPECT_EQ(AfxFindRuntimeClass("CHostOwnClass"), &g_hostClass);
  EXPECT_NE(AfxGetProcAddress(hModule, "_Z16TarvenkelVersionv"), nullptr) << "the module's exports are reachable";

  Probe probe;
  ASSERT_TRUE(probe.Load()) << dlerror();
  EXPECT_EQ(probe.module_handle(), hModule) << "the probe must use the loaded module, not a second copy";
  char buf[4096];
  ASSERT_EQ(probe.alphabet(buf, sizeof buf), 64);
  EXPECT_STREQ(buf, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/");
  ASSERT_EQ(probe.encode("abc", 3, buf, sizeof buf), 4);
  EXPECT_STREQ(buf, "YWJj");
  ASSERT_EQ(probe.encode("\xFF", 1, buf, sizeof buf), 4);
  EXPECT_STREQ(buf, "/w==");
  int nAgents = 0;
  ASSERT_GT(probe.format_mime("alarm on line 3", buf, sizeof buf, &nAgents), 0);
  EXPECT_GE(nAgents, 2) << "a message registers its text and attachment agents";
  std::string body = buf;
  EXPECT_NE(body.find("alarm on line 3"), std::string::npos) << body;
  EXPECT_NE(body.find("Content-Type: text/plain"), std::string::npos) << "the text agent wrote the part: " << body;
  probe.Unload();
  EXPECT_TRUE(module_mapped()) << "the host still holds the module";

  // A resource registered for the module is found while it is linked.
  static const BYTE kTemplate[] = {1, 2, 3};
  AfxRegisterResource(hModule, RT_DIALOG_TYPE, 950, kTemplate, sizeof kTemplate);
  const BYTE* pData = nullptr;
  DWORD nSize = 0;
  HINSTANCE hOwner = nullptr;
  EXPECT_TRUE(AfxFindResource("dialog", 950, &pData, &nSize, &hOwner));
  EXPECT_EQ(pData, kTemplate);
  EXPECT_EQ(hOwner, hModule);

  AfxClearModuleSteps();
  EXPECT_TRUE(AfxFreeLibrary(hModule));
  EXPECT_EQ(ModuleSteps(), kUnloadSteps);
  EXPECT_FALSE(module_mapped()) << "dlclose must really unload the module";
  EXPECT_FALSE(AfxIsModuleLinked(hModule));
  EXPECT_FALSE(AfxFindResource(RT_DIALOG_TYPE, 950, &pData, &nSize)) << "a withdrawn module is not searched";
  EXPECT_FALSE(AfxFindResource(RT_DIALOG_TYPE, 950, &pData, &nSize, nullptr, hModule));
  EXPECT_EQ(AfxFindRuntimeClass("CHostOwnClass"), &g_hostClass);
  EXPECT_FALSE(AfxFreeLibrary(hModule)) << "the handle is no longer valid";
}

TEST_F(ModuleLoad, PlainDlopenAndDlcloseRunTheSameSequence) {
  void* pHandle = dlopen(TARVENKEL_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(pHandle, nullptr) << dlerror();
  EXPECT_EQ(ModuleSteps(), kLoadSteps);
  AfxClearModuleSteps();
  EXPECT_EQ(dlclose(pHandle), 0);
  EXPECT_EQ(ModuleSteps(), kUnloadSteps);
  EXPECT_FALSE(module_mapped());
}

TEST_F(ModuleLoad, RefusedRegistrationFailsTheLoadAndLeavesNothingAlive) {
  AfxSetRefuseExtensionInit(TRUE);
  EXPECT_EQ(AfxLoadLibrary(TARVENKEL_MODULE_PATH), nullptr);
  EXPECT_NE(std::string(AfxGetLoadLibraryError().GetString()).find("refused"), std::string::npos);
  // Built, refused, destroyed in reverse order at once; the unload that
  // follows withdraws nothing and destroys nothing a second time.
  const std::vector<std::string> expected = {
      "pre-construction hook: lists parked",
      "constructed CBase64::m_sBase64Alphabet",
      "constructed CMIMEMessage::m_MIMETypeManager",
      "AfxInitExtensionModule refused",
      "destroyed CMIMEMessage::m_MIMETypeManager",
      "destroyed CBase64::m_sBase64Alphabet",
      "pre-construction hook: nothing to do",
  };
  EXPECT_EQ(ModuleSteps(), expected);
  EXPECT_FALSE(module_mapped()) << "a refused module must not stay loaded";
  EXPECT_EQ(AfxGetModuleState()->m_pLibraryList, nullptr) << "nothing was linked into the chain";
  EXPECT_EQ(AfxFindRuntimeClass("CHostOwnClass"), &g_hostClass) << "the host's classes come back after a refusal";

  // Once the framework accepts it again, the same module loads normally.
  AfxSetRefuseExtensionInit(FALSE);
  AfxClearModuleSteps();
  HINSTANCE hModule = AfxLoadLibrary(TARVENKEL_MODULE_PATH);
  ASSERT_NE(hModule, nullptr) << AfxGetLoadLibraryError().GetString();
  EXPECT_EQ(ModuleSteps(), kLoadSteps);
  EXPECT_TRUE(AfxFreeLibrary(hModule));
  EXPECT_FALSE(module_mapped());
}

TEST_F(ModuleLoad, TwoLoadsShareOneModuleUntilTheLastIsFreed) {
  HINSTANCE h1 = AfxLoadLibrary(TARVENKEL_MODULE_PATH);
  HINSTANCE h2 = AfxLoadLibrary(TARVENKEL_MODULE_PATH);
  ASSERT_NE(h1, nullptr);
  EXPECT_EQ(h1, h2);
  EXPECT_EQ(ModuleSteps(), kLoadSteps) << "the second load runs nothing";
  AfxClearModuleSteps();
  EXPECT_TRUE(AfxFreeLibrary(h1));
  EXPECT_TRUE(ModuleSteps().empty());
  EXPECT_TRUE(AfxIsModuleLinked(h2));
  EXPECT_TRUE(AfxFreeLibrary(h2));
  EXPECT_EQ(ModuleSteps(), kUnloadSteps);
}

TEST_F(ModuleLoad, MissingLibraryFailsWithTheLoadersReason) {
  EXPECT_EQ(AfxLoadLibrary("/nonexistent/libnothing.so"), nullptr);
  EXPECT_NE(std::string(AfxGetLoadLibraryError().GetString()).find("libnothing"), std::string::npos);
  EXPECT_TRUE(ModuleSteps().empty());
}

}  // namespace

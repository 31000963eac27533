// SPDX-License-Identifier: Apache-2.0
// The module linked into its host the ordinary way, as a shared library or
// as a static archive linked into the program: its start-up has run before
// main, ahead of the program's own static objects, and process exit
// withdraws it and destroys its static objects in reverse order (watched
// through the trace's descriptor sink, which writes each step as it happens).
#include "framework/module/extension_module.h"
#include "framework/module/resources.h"
#include "framework/window/animate_ctrl.h"
#include "record/alarm_msg.h"
#include "tests/support/module_steps.h"
#include "ui/resources/resource.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using tarvenkel::test::kModuleLoadSteps;
using tarvenkel::test::kModuleUnloadSteps;
using tarvenkel::test::ModuleSteps;

// Taken while this program's own static objects are built, before main. A
// static module's start-up shares the program's list of initialisers and
// must still come first.
const std::vector<std::string> g_stepsAtProgramStart = ModuleSteps();

TEST(ModuleStartup, LinkedModuleRanItsLoadSequenceBeforeMain) {
  EXPECT_EQ(g_stepsAtProgramStart, kModuleLoadSteps);
  std::vector<std::string> traced = ModuleSteps();
  ASSERT_GE(traced.size(), kModuleLoadSteps.size());
  EXPECT_EQ(std::vector<std::string>(traced.begin(), traced.begin() + std::ssize(kModuleLoadSteps)), kModuleLoadSteps);

  // The class description may be copied into the program (a copy
  // relocation); the creation function it points to is the module's own.
  HINSTANCE hModule = AfxGetModuleHandleOf(reinterpret_cast<const void*>(RUNTIME_CLASS(CAlarmMsg)->m_pfnCreateObject));
  if (TARVENKEL_LINKED_STATICALLY)
    EXPECT_EQ(hModule, AfxGetInstanceHandle()) << "a static module is part of the program";
  else
    EXPECT_NE(hModule, AfxGetInstanceHandle()) << "a shared module is an object of its own";
  EXPECT_TRUE(AfxIsModuleLinked(hModule));
  EXPECT_EQ(AfxFindRuntimeClass("CAlarmMsg"), nullptr) << "the record's class is not entered into any list";

  // The module's dialog template and clip are registered as its own.
  for (auto [type, id] : {std::pair<LPCSTR, UINT>{RT_DIALOG_TYPE, IDD_NETCONNECT}, {RT_AVI_TYPE, IDR_CONNECT_AVI}}) {
    const BYTE* pData = nullptr;
    DWORD nSize = 0;
    HINSTANCE hOwner = nullptr;
    EXPECT_TRUE(AfxFindResource(type, id, &pData, &nSize, &hOwner)) << type << " " << id;
    EXPECT_GT(nSize, 0u);
    EXPECT_EQ(hOwner, hModule);
  }
}

TEST(ModuleStartup, ProcessExitWithdrawsThenDestroysInReverseOrder) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    close(fds[0]);
    AfxSetModuleStepSink(fds[1]);
    std::exit(0);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  close(fds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the exit, leak check included, must succeed";
  std::string expected;
  for (const std::string& step : kModuleUnloadSteps) expected += step + "\n";
  EXPECT_EQ(out, expected);
}

}  // namespace

// The module linked into its host the ordinary way: its start-up has run
// before main, and process exit withdraws it and destroys its static objects
// in reverse order (watched through the trace's descriptor sink, which
// writes each step as it happens).
#include "framework/extension_module.h"
#include "tests/support/module_steps.h"
#include "framework/resources.h"
#include "record/alarm_msg.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

using tarvenkel::test::ModuleSteps;

TEST(ModuleStartup, LinkedModuleRanItsLoadSequenceBeforeMain) {
  const std::vector<std::string> expected = {
      "pre-construction hook: lists parked",
      "constructed CBase64::m_sBase64Alphabet",
      "constructed CMIMEMessage::m_MIMETypeManager",
      "AfxInitExtensionModule",
      "CDynLinkLibrary",
  };
  std::vector<std::string> traced = ModuleSteps();
  ASSERT_GE(traced.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(traced.begin(), traced.begin() + 5), expected);

  // The class description may be copied into the program (a copy
  // relocation); the creation function it points to is the module's own.
  HINSTANCE hModule = AfxGetModuleHandleOf(reinterpret_cast<const void*>(RUNTIME_CLASS(CAlarmMsg)->m_pfnCreateObject));
  EXPECT_NE(hModule, AfxGetInstanceHandle());
  EXPECT_TRUE(AfxIsModuleLinked(hModule));
  EXPECT_EQ(AfxFindRuntimeClass("CAlarmMsg"), nullptr) << "the record's class is not entered into any list";
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
  EXPECT_EQ(out,
            "AfxTermExtensionModule\n"
            "destroyed CMIMEMessage::m_MIMETypeManager\n"
            "destroyed CBase64::m_sBase64Alphabet\n"
            "pre-construction hook: nothing to do\n");
}

}  // namespace

// SPDX-License-Identifier: Apache-2.0
#include "framework/core/cmd_target.h"
#include "framework/core/critical_section.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

std::vector<std::pair<int, int>> g_calls;
void Record(int nCode, int nCount) { g_calls.emplace_back(nCode, nCount); }

TEST(WaitCursor, CountsWithoutHandlerAndReportsToAnInstalledOne) {
  CCmdTarget target;
  CWinApp* app = AfxGetApp();
  ASSERT_NE(app, nullptr);
  target.BeginWaitCursor();
  EXPECT_EQ(app->GetWaitCursorCount(), 1);
  target.EndWaitCursor();
  target.EndWaitCursor();  // an unbalanced end does not go negative
  EXPECT_EQ(app->GetWaitCursorCount(), 0);

  g_calls.clear();
  EXPECT_EQ(AfxSetWaitCursorHandler(Record), nullptr);
  target.BeginWaitCursor();
  target.RestoreWaitCursor();
  target.EndWaitCursor();
  EXPECT_EQ(AfxSetWaitCursorHandler(nullptr), &Record);
  EXPECT_EQ(g_calls, (std::vector<std::pair<int, int>>{{1, 1}, {0, 1}, {-1, 0}}));
}

TEST(WaitCursor, HostApplicationObjectReplacesTheDefault) {
  CWinApp* const before = AfxGetApp();
  struct HostApp : CWinApp {
    int calls = 0;
    void DoWaitCursor(int nCode) override {
      ++calls;
      CWinApp::DoWaitCursor(nCode);
    }
  };
  {
    HostApp host;
    EXPECT_EQ(AfxGetApp(), &host);
    CCmdTarget().BeginWaitCursor();
    EXPECT_EQ(host.calls, 1);
    EXPECT_EQ(host.GetWaitCursorCount(), 1);
  }
  EXPECT_EQ(AfxGetApp(), before);
}

TEST(CriticalSection, SerialisesThreadsAndIsReentrant) {
  CCriticalSection cs;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        CSingleLock lock(&cs, TRUE);
        CSingleLock again(&cs, TRUE);  // the holder may enter again
        ++counter;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 80000);
  CSingleLock lock(&cs);
  EXPECT_FALSE(lock.IsLocked());
  EXPECT_TRUE(lock.Lock());
  EXPECT_TRUE(lock.IsLocked());
  EXPECT_TRUE(lock.Unlock());
  EXPECT_FALSE(lock.IsLocked());
}

}  // namespace

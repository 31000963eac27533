// SPDX-License-Identifier: Apache-2.0
// The one blocking wait of the framework. Every wait for a socket, a
// connection or a time-out goes through AfxBlockingWait, which polls the
// descriptor in question, a wake-up descriptor for cancellation, and whatever
// the registered wait sources (the window layer: its display connection and
// timers) ask for, and services those sources while it waits. That is what
// keeps windows painting and animating while a socket call blocks, on one
// thread, and what lets a handler running inside the wait cancel the call.
#pragma once

#include "framework/core/win_types.h"

#include <atomic>

struct pollfd;

// Something else the thread must service while it blocks (the window layer).
class AFX_EXT_CLASS CWaitSource {
public:
  virtual ~CWaitSource() = default;
  virtual int AddPollFds(struct pollfd* fds, int max) = 0;   // descriptors to watch; returns how many written
  virtual int NextDeadlineMs() = 0;                           // ms until it needs service anyway, -1 none
  virtual void Service(const struct pollfd* fds, int n) = 0;  // dispatch ready events and due timers
};

// Wait sources belong to the thread that adds them: only waits on that thread
// service them, so a worker thread's socket wait never runs window code.
// A source may be added or removed from inside its own Service.
AFX_API_EXPORT void AfxAddWaitSource(CWaitSource*);
// Removes a source of this thread; a source that is not there is ignored.
AFX_API_EXPORT void AfxRemoveWaitSource(CWaitSource*);

// TRUE when the current thread has wait sources, so that its blocking calls
// must poll in order to service them; FALSE when a call may simply block in
// the kernel.
AFX_API_EXPORT BOOL AfxHasWaitSources();

// How AfxBlockingWait ended: fd ready, time-out, cancellation (wake
// descriptor readable or cancel flag set), or poll failed (or fd is not a
// valid descriptor).
enum class AfxWaitResult { Ready, TimedOut, Cancelled, Error };

// Blocks until fd is ready for events (POLLIN/POLLOUT), timeoutMs runs out (-1: never), or wakeFd becomes
// readable (cancellation). fd may be -1 (wait only for sources/timeout/wake). Services wait sources meanwhile.
// A descriptor that reports an error or hang-up counts as ready, so that the
// caller's next read or write sees the failure. The wake descriptor is not
// drained: its owner decides when a cancellation has been consumed.
// pCancelled, when given, is a flag that a handler run by a wait source may
// set to cancel the wait; it is looked at after every round of service and
// ends the wait as Cancelled (it is not cleared).
AFX_API_EXPORT AfxWaitResult AfxBlockingWait(int fd, short events, int timeoutMs, int wakeFd,
                                             const std::atomic<bool>* pCancelled = nullptr);

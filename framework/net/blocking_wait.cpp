// SPDX-License-Identifier: Apache-2.0
#include "framework/net/blocking_wait.h"

#include "framework/net/deadline.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;

// The sources of this thread, in the order they were added.
thread_local std::vector<CWaitSource*> t_sources;

bool IsRegistered(CWaitSource* source) {
  return std::find(t_sources.begin(), t_sources.end(), source) != t_sources.end();
}

bool IsReadableNow(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

// Where one source's descriptors sit in the poll array, and when it wants
// service regardless of them.
struct SourceSlice {
  CWaitSource* source;
  int first;
  int count;
  int deadlineMs;
};

}  // namespace

void AfxAddWaitSource(CWaitSource* source) {
  if (source != nullptr && !IsRegistered(source)) t_sources.push_back(source);
}

void AfxRemoveWaitSource(CWaitSource* source) {
  t_sources.erase(std::remove(t_sources.begin(), t_sources.end(), source), t_sources.end());
}

BOOL AfxHasWaitSources() {
  return t_sources.empty() ? FALSE : TRUE;
}

AfxWaitResult AfxBlockingWait(int fd, short events, int timeoutMs, int wakeFd, const std::atomic<bool>* pCancelled) {
  constexpr int kMaxFds = 64;
  const CDeadline deadline(timeoutMs);
  std::vector<SourceSlice> slices;

  for (;;) {
    pollfd fds[kMaxFds];
    int n = 0;
    int fdIndex = -1;
    int wakeIndex = -1;
    if (fd >= 0) {
      fds[n] = pollfd{fd, events, 0};
      fdIndex = n++;
    }
    if (wakeFd >= 0) {
      fds[n] = pollfd{wakeFd, POLLIN, 0};
      wakeIndex = n++;
    }

    int waitMs = deadline.RemainingMs();
    // A snapshot: a source's Service may add or remove sources.
    slices.clear();
    for (CWaitSource* source : t_sources) {
      int count = std::clamp(source->AddPollFds(fds + n, kMaxFds - n), 0, kMaxFds - n);
      int due = source->NextDeadlineMs();
      if (due >= 0) waitMs = waitMs < 0 ? due : std::min(waitMs, due);
      slices.push_back(SourceSlice{source, n, count, due});
      n += count;
    }

    const Clock::time_point pollStart = Clock::now();
    int r = ::poll(fds, static_cast<nfds_t>(n), waitMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      return AfxWaitResult::Error;
    }
    if (wakeIndex >= 0 && fds[wakeIndex].revents != 0) return AfxWaitResult::Cancelled;
    if (fdIndex >= 0 && (fds[fdIndex].revents & POLLNVAL) != 0) return AfxWaitResult::Error;
    const bool ready = fdIndex >= 0 && fds[fdIndex].revents != 0;

    // Sources are serviced even when fd is ready, so that a long send over a
    // socket that keeps accepting data does not starve the windows.
    bool serviced = false;
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - pollStart).count();
    for (const SourceSlice& slice : slices) {
      if (!IsRegistered(slice.source)) continue;
      bool active = slice.deadlineMs >= 0 && elapsedMs >= slice.deadlineMs;
      for (int i = slice.first; !active && i < slice.first + slice.count; ++i) active = fds[i].revents != 0;
      if (!active) continue;
      slice.source->Service(fds + slice.first, slice.count);
      serviced = true;
    }
    // A handler run by a source may have cancelled the call we serve.
    if (serviced && ((pCancelled != nullptr && pCancelled->load()) || (wakeFd >= 0 && IsReadableNow(wakeFd))))
      return AfxWaitResult::Cancelled;
    if (ready) return AfxWaitResult::Ready;
    if (deadline.HasPassed()) return AfxWaitResult::TimedOut;
  }
}

// SPDX-License-Identifier: Apache-2.0
#include "framework/net/socket_trace.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace {

// The observer and its context travel together, so that a call never pairs
// one observer with another's context.
struct SocketTrace {
  AFX_SOCKET_TRACE_PROC pfn;
  void* pContext;
};

std::atomic<const SocketTrace*> g_trace{nullptr};

// Every record ever installed stays until the process ends, since a socket
// call on another thread may still be reading one that was replaced. A
// process installs an observer a handful of times.
std::mutex g_recordsMutex;
std::vector<std::unique_ptr<SocketTrace>> g_records;

}  // namespace

void AfxSetSocketTrace(AFX_SOCKET_TRACE_PROC pfn, void* pContext) {
  const SocketTrace* trace = nullptr;
  if (pfn) {
    std::lock_guard<std::mutex> lock(g_recordsMutex);
    g_records.push_back(std::make_unique<SocketTrace>(SocketTrace{pfn, pContext}));
    trace = g_records.back().get();
  }
  g_trace.store(trace, std::memory_order_release);
}

void AfxSocketTrace(BOOL bSent, const void* lpBuf, int nLength) {
  const SocketTrace* trace = g_trace.load(std::memory_order_acquire);
  if (trace && nLength > 0) trace->pfn(bSent, lpBuf, nLength, trace->pContext);
}

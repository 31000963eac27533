// SPDX-License-Identifier: Apache-2.0
// What a socket object holds besides its descriptor, for the socket layer's
// own files. CAsyncSocket keeps it behind one pointer, so that it can grow
// without changing the size of a socket object, which hosts embed.
#pragma once

#include "framework/core/string.h"
#include "framework/net/tls_settings.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace tarvenkel::detail {

struct SocketHandle;

struct SocketState {
  mutable std::mutex mutex;              // guards handle and eventMask
  std::shared_ptr<SocketHandle> handle;  // null while closed
  long eventMask = 0;                    // the lEvent of Create
  bool blockingDescriptor = false;       // the descriptors it makes block (CSocket) or not
  // CSocket's own: the time-out of SetTimeout, the blocking calls in
  // progress, and why the last StartTLS failed.
  std::atomic<int> timeoutMs{0};
  std::atomic<int> blockingCalls{0};
  TLS_FAILURE tlsFailure = TLS_FAILURE_NONE;
  CString tlsFailureReason;
};

}  // namespace tarvenkel::detail

// SPDX-License-Identifier: Apache-2.0
// A process-wide observer of the bytes that blocking sockets send and
// receive, for programs that show a protocol dialogue (a --verbose switch).
// Nothing observes by default; then a socket call pays one atomic load.
#pragma once

#include "framework/core/win_types.h"

// Called with bSent TRUE for bytes a CSocket has sent, FALSE for bytes it has
// received, on the thread of the socket call, once per chunk as the socket
// moves it (a chunk holds no line structure).
typedef void (*AFX_SOCKET_TRACE_PROC)(BOOL bSent, const void* lpBuf, int nLength, void* pContext);

// Installs the observer for the whole process, or removes it when pfn is
// null. Install it before the sockets it should see are used and remove it
// after: calls already under way may still reach the previous observer.
AFX_API_EXPORT void AfxSetSocketTrace(AFX_SOCKET_TRACE_PROC pfn, void* pContext);

// Hands a chunk to the observer, if there is one; the socket layer calls it.
AFX_API_EXPORT void AfxSocketTrace(BOOL bSent, const void* lpBuf, int nLength);

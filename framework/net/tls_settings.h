// What a TLS client connection checks of its server, and the steps at which
// starting TLS can fail.
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"

// The checks of one TLS client connection.
struct CTlsClientSettings {
  // The host name or numeric address the server's certificate must be issued
  // for (an IPv6 address may come in brackets). A name is also sent to the
  // server (SNI), so that a server with several names picks the right one.
  CString sServerName;
  // A PEM file of the certificates to trust; empty: the system's trust store.
  CString sCAFile;
  // FALSE accepts any certificate for any name: for a host that knows what it
  // is doing, never as a default.
  BOOL bVerifyPeer = TRUE;
};

// The step at which starting TLS failed.
enum TLS_FAILURE {
  TLS_FAILURE_NONE = 0,
  TLS_SETUP_FAILED,          // no TLS context (a CA file that cannot be read, a socket not open, OpenSSL not loadable)
  TLS_HANDSHAKE_FAILED,      // the handshake broke off, timed out or was cancelled
  TLS_CERTIFICATE_REJECTED,  // the server's certificate did not pass verification
};

// SPDX-License-Identifier: Apache-2.0
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

// What a TLS client connection may add to CTlsClientSettings (a struct of its
// own, so that the size of CTlsClientSettings stays that of earlier
// releases): the name to check, a pinned certificate, the client's own
// certificate.
struct CTlsClientOptions {
  // The name to check the certificate against, and to send to the server,
  // when CTlsClientSettings::sServerName is the address the socket
  // connected to (a relay reached by its numeric address whose certificate
  // names it). Empty: sServerName. A numeric address here is checked as an
  // address and never sent.
  CString sVerifyName;
  // The SHA-256 fingerprint of the server's certificate, as hex digits in
  // either case, with or without colons between the bytes, as
  // "openssl x509 -noout -fingerprint -sha256" prints it (its
  // "sha256 Fingerprint=" prefix may stay). When set, a certificate with
  // this fingerprint is trusted whoever signed it and whatever name it bears
  // (self-signed included), and any other certificate is rejected, even
  // with bVerifyPeer FALSE; no CA file or store is read. Empty: no pin.
  CString sFingerprint;
  // A PEM file with the client's certificate (and the chain after it) for a
  // server that asks for one; empty: none is offered.
  CString sCertFile;
  // A PEM file with the unencrypted private key of sCertFile; empty: the key
  // is in sCertFile.
  CString sKeyFile;
};

// Reads a SHA-256 fingerprint as CTlsClientOptions::sFingerprint takes it
// into the form openssl prints (upper-case byte pairs separated by colons);
// FALSE, with sNormalized untouched, when it is not 32 bytes in hex.
AFX_API_EXPORT BOOL NormalizeTlsFingerprint(const CString& sFingerprint, CString& sNormalized);

// The step at which starting TLS failed.
enum TLS_FAILURE {
  TLS_FAILURE_NONE = 0,
  TLS_SETUP_FAILED,          // no TLS context (a CA file, client certificate or key that cannot be used, a
                             // fingerprint that is none, a socket not open, OpenSSL not loadable)
  TLS_HANDSHAKE_FAILED,      // the handshake broke off, timed out or was cancelled
  TLS_CERTIFICATE_REJECTED,  // the server's certificate did not pass verification, or not its pinned fingerprint
  TLS_CONNECTION_FAILED,     // after the handshake: the server ended TLS with an alert or the TLS stream broke
};

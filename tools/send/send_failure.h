// SPDX-License-Identifier: Apache-2.0
// What a send that was not accepted left behind, how tarvenkel-send reports
// it, and the exit status it gives, in the codes of <sysexits.h>: 75 (try
// again later) for whatever is temporary, the others for what is not.
#pragma once

#include <tarvenkel/framework/core/string.h>

#include <string>

struct SendSettings;
class CSMTP;

// The failure as it stood right after the failing call: a QUIT failure that
// may follow does not count.
struct SendFailure {
  CString text;         // GetLastError
  CString reply;        // the server's words behind the failure
  CString socketError;  // the system's reason behind it

  explicit SendFailure(const CSMTP& smtp);

  // Whether the connection itself failed: none was made, a wait timed out,
  // the connection broke, or TLS failed. Any reply read before is stale.
  bool LinkFailed() const;
  // The first digit of the reply: '4' for a failure that is temporary, '5'
  // for a refusal; 0 when there was none.
  char ReplyClass() const;
  // Whether TLS failed for a reason that waiting cannot cure: the server's
  // certificate is not the pinned one, the client certificate could not be
  // used, or the server refused it with an alert.
  bool TlsConfigFailed() const;
  // Whether the failing reply answered a step of the login (AUTH and the
  // user name expect 334, the password 235).
  bool AtLogin() const;
  // Says on standard error what failed at the server (the settings' first
  // when empty), after the verdict ("not sent"), with a hint where the
  // settings likely caused it.
  void Print(const SendSettings& settings, const std::string& server = {}, const char* verdict = "not sent") const;
  // Whether the next server of a list may be tried: this one could not be
  // reached, or answered with a 4xx before the login (busy, shutting down).
  bool NextServerMayHelp() const;
  // The exit status of a Connect that failed.
  int ConnectStatus() const;
};

// The recipients the server refused in the latest transaction.
struct SendRefusals {
  int count = 0;
  bool forNow = false;  // one of them was refused with a 4xx

  // Prints each refused recipient with the server's reply: a warning when
  // the message was accepted, an error when it was not.
  static SendRefusals Report(const CSMTP& smtp, bool accepted);
};

// Reports a transaction that was not accepted and gives the exit status.
// Every recipient refused says so, not what DATA met after it; otherwise a
// broken link or a time-out is temporary whatever a reply before it said.
int SendFailureStatus(const SendSettings& settings, const SendFailure& failure, const SendRefusals& refused,
                      int recipients);

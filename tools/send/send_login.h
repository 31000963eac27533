// SPDX-License-Identifier: Apache-2.0
// The connection and login of tarvenkel-send, and its first OAuth2 sign-in.
// With the built-in refresh the access token is taken from the token store
// (refreshed when it is about to expire) just before the connection; a token
// the server refuses that was not refreshed in this run is refreshed once and
// the connection tried again.
#pragma once

#include "tools/send/oauth2_client.h"

class CSMTP;
struct SendSettings;

// Connects a session set up by ConfigureSession, logging in as the settings
// say. 0 when the connection is open; otherwise the exit status, after the
// failure, the server's or the provider's words and the next step were
// reported on standard error.
int ConnectSession(CSMTP& smtp, const SendSettings& settings);

// --authorize: the first sign-in with the provider of the settings, prompts
// on standard output and the pasted address on standard input; writes the
// token store. The exit status: 0, 75, 77 or 78.
int RunAuthorize(const SendSettings& settings);

// The exit status of a provider's outcome: 0, 75 (unreachable), 77
// (refused) or 78 (a bad configuration).
int OAuth2ExitStatus(OAuth2Outcome outcome);

// SPDX-License-Identifier: Apache-2.0
// Refreshes the access token of a token store once, as tarvenkel-send does
// before a login; for the tests that kill it while it saves the store.
// Usage: oauth2_refresh_driver TOKEN-ENDPOINT CA-FILE STORE
#include "tools/send/oauth2_client.h"

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) return 64;
  OAuth2Settings settings;
  settings.provider = "custom";
  settings.clientId = "client-1";
  settings.tokenEndpoint = argv[1];
  settings.caFile = argv[2];
  settings.tokenStore = argv[3];
  std::string error;
  if (!CompleteOAuth2Settings(settings, error)) return 78;
  std::string token;
  const OAuth2Outcome outcome = OAuth2Client(settings).Refresh(token, error);
  std::printf("%s\n", outcome == OAuth2Outcome::kOk ? token.c_str() : error.c_str());
  return outcome == OAuth2Outcome::kOk ? 0 : 1;
}

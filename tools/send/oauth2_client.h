// SPDX-License-Identifier: Apache-2.0
// The OAuth2 side of tarvenkel-send: it keeps a bearer token for the mail
// server's login fresh for a console that runs unattended for months, and
// signs the person in once (--authorize). It speaks HTTPS to the provider
// with libcurl and reads the provider's JSON; the library only takes the
// token it is given.
#pragma once

#include <cstdio>
#include <ctime>
#include <string>

// Where the tokens come from. The provider presets fill what is left empty.
struct OAuth2Settings {
  std::string provider;               // "microsoft", "google" or "custom"
  std::string tenant;                 // Microsoft: the directory; "common" when empty
  std::string clientId;
  std::string clientSecret;           // read from oauth2-client-secret-file; may be empty
  std::string tokenEndpoint;
  std::string deviceEndpoint;         // empty: --authorize uses the code flow
  std::string authorizationEndpoint;  // for the code flow
  std::string scope;
  std::string tokenStore;             // path of the private token store
  std::string caFile;                 // PEM file to trust instead of the system's store
};

// Fills the endpoints and the scope of the provider's preset where they are
// empty and checks that what the flows need is there. False with a reason
// (a bad OAuth2 configuration) otherwise.
bool CompleteOAuth2Settings(OAuth2Settings& settings, std::string& error);

// How a request to the provider ended; each maps to one exit status.
enum class OAuth2Outcome {
  kOk,
  kUnreachable,    // no answer, a time-out, the provider's own failure: try later (75)
  kRefused,        // the refresh token or the sign-in was refused (77)
  kConfiguration,  // the client, the scope or the settings are wrong (78)
};

class OAuth2Client {
public:
  explicit OAuth2Client(OAuth2Settings settings);

  // The access token to log in with: the stored one while it stays valid for
  // a few more minutes, without asking the provider; otherwise a new one from
  // the refresh token. A refresh token the provider rotated is saved before
  // the new access token is handed out. message says what went wrong.
  OAuth2Outcome AccessToken(std::string& token, std::string& message);
  // A new access token whatever the stored one's expiry (after the mail
  // server refused the stored one).
  OAuth2Outcome Refresh(std::string& token, std::string& message);
  // Whether the token last handed out came from the provider in this run.
  bool Refreshed() const { return m_bRefreshed; }

  // The first sign-in, for a console without a browser: the device flow
  // when the provider has a device endpoint, the code flow with PKCE and a
  // loopback redirect otherwise. Prompts go to out; in gives the address the
  // browser ended on when the person pastes it. Writes the token store.
  OAuth2Outcome Authorize(std::FILE* out, std::FILE* in, std::string& message);

private:
  OAuth2Outcome device_flow(std::FILE* out, std::string& message);
  OAuth2Outcome code_flow(std::FILE* out, std::FILE* in, std::string& message);
  // Posts a token request and takes the tokens of its answer.
  OAuth2Outcome token_request(const std::string& form, std::string& token, std::string& message);
  // Takes the tokens of the provider's answer into the store, which is
  // written before the access token is handed out; or says why there are none.
  OAuth2Outcome take_tokens(long status, const std::string& body, std::string& token, std::string& message);

  OAuth2Settings m_settings;
  bool m_bRefreshed = false;
};

// SPDX-License-Identifier: Apache-2.0
// The OAuth2 token store of tarvenkel-send: one private file that holds the
// refresh token, the access token last issued and the moment it expires.
// It is replaced whole (a temporary file beside it, synced, renamed over it,
// the folder synced), so a crash at any moment leaves the old store or the
// new one, never a mixture and never neither.
#pragma once

#include <ctime>
#include <string>

struct TokenStore {
  std::string refreshToken;
  std::string accessToken;
  std::time_t expiresAt = 0;  // when accessToken stops being valid; 0: unknown
};

// Reads the store at path. False with a reason naming the path when it cannot
// be read, is not one of ours, or when others than its owner may read it (a
// token is a password: the mode is named and chmod 600 suggested).
bool ReadTokenStore(const std::string& path, TokenStore& store, std::string& error);

// Replaces the store at path with store, mode 600. False with a reason naming
// the path; the old store is then left as it was.
bool WriteTokenStore(const std::string& path, const TokenStore& store, std::string& error);

// SPDX-License-Identifier: Apache-2.0
// The messages of the two logins with an OAuth2 bearer token: XOAUTH2, as the
// large mail services first offered it, and OAUTHBEARER (RFC 7628), and the
// reading of the error a server sends back as a challenge.
#pragma once

#include <string>

namespace tarvenkel::detail {

// The XOAUTH2 initial response, before base64: "user=" USER ^A
// "auth=Bearer " TOKEN ^A ^A.
std::string XOAuth2Response(const std::string& sUser, const std::string& sToken);

// The OAUTHBEARER initial response, before base64: the GS2 header naming
// the user ("n,a=" USER ","; "," and "=" in the name escaped as "=2C" and
// "=3D"), then ^A "host=" HOST ^A "port=" PORT ^A "auth=Bearer " TOKEN ^A ^A.
std::string OAuthBearerResponse(const std::string& sUser, const std::string& sHost, unsigned nPort,
                                const std::string& sToken);

// What the error challenge of a refused token says: the base64 JSON object's
// "status" and, when present, "scope" ("invalid_token, scope
// https://mail.google.com/"); empty when the challenge holds no status.
std::string BearerChallengeStatus(const std::string& sBase64Challenge);

}  // namespace tarvenkel::detail

// SPDX-License-Identifier: Apache-2.0
#include "smtp/internal/bearer_login.h"

#include "mail/base64.h"

#include <cctype>
#include <string>

namespace tarvenkel::detail {

namespace {

// The string value of one key of a flat JSON object, escapes undone for the
// characters a status or scope holds; empty when the key is missing. Enough
// for the few fields a server's challenge has; the library takes no JSON
// library for it.
std::string json_string(const std::string& json, const std::string& key) {
  const std::string quoted = "\"" + key + "\"";
  for (std::size_t at = json.find(quoted); at != std::string::npos; at = json.find(quoted, at + 1)) {
    std::size_t i = at + quoted.size();
    while (i < json.size() && std::isspace(static_cast<unsigned char>(json[i]))) ++i;
    if (i >= json.size() || json[i] != ':') continue;
    ++i;
    while (i < json.size() && std::isspace(static_cast<unsigned char>(json[i]))) ++i;
    if (i >= json.size() || json[i] != '"') continue;
    std::string value;
    for (++i; i < json.size() && json[i] != '"'; ++i) {
      if (json[i] == '\\' && i + 1 < json.size()) ++i;
      value += json[i];
    }
    return value;
  }
  return "";
}

}  // namespace

std::string XOAuth2Response(const std::string& sUser, const std::string& sToken) {
  return "user=" + sUser + "\x01" + "auth=Bearer " + sToken + "\x01\x01";
}

std::string OAuthBearerResponse(const std::string& sUser, const std::string& sHost, unsigned nPort,
                                const std::string& sToken) {
  std::string name;
  for (char c : sUser) {
    if (c == ',')
      name += "=2C";
    else if (c == '=')
      name += "=3D";
    else
      name += c;
  }
  return "n,a=" + name + ",\x01" + "host=" + sHost + "\x01" + "port=" + std::to_string(nPort) + "\x01" +
         "auth=Bearer " + sToken + "\x01\x01";
}

std::string BearerChallengeStatus(const std::string& sBase64Challenge) {
  std::string json(sBase64Challenge.size() + 1, '\0');
  CBase64 base64;
  const int nLength = base64.Decode(sBase64Challenge.c_str(), json.data());
  json.resize(static_cast<std::size_t>(nLength > 0 ? nLength : 0));
  const std::string status = json_string(json, "status");
  if (status.empty()) return "";
  const std::string scope = json_string(json, "scope");
  return scope.empty() ? status : status + ", scope " + scope;
}

}  // namespace tarvenkel::detail

// SPDX-License-Identifier: Apache-2.0
// The bearer-token login messages, byte for byte, and the reading of a
// server's error challenge.
#include "mail/base64.h"
#include "smtp/internal/bearer_login.h"

#include <gtest/gtest.h>

namespace tarvenkel::detail {
namespace {

TEST(BearerLogin, InitialResponsesCarryUserHostPortAndToken) {
  EXPECT_EQ(XOAuth2Response("alarm@example.com", "ya29.tok"),
            std::string("user=alarm@example.com\x01" "auth=Bearer ya29.tok\x01\x01"));
  EXPECT_EQ(OAuthBearerResponse("alarm@example.com", "smtp.example.com", 587, "tok"),
            std::string("n,a=alarm@example.com,\x01host=smtp.example.com\x01port=587\x01" "auth=Bearer tok\x01\x01"));
  // The GS2 header escapes the two characters that delimit it.
  EXPECT_EQ(OAuthBearerResponse("a,b=c", "h", 25, "t").substr(0, 14), "n,a=a=2Cb=3Dc,");
}

TEST(BearerLogin, ChallengeStatusIsReadFromTheBase64Json) {
  const auto challenge = [](const std::string& json) {
    CBase64 base64;
    return base64.Encode(json.data(), static_cast<int>(json.size())).str();
  };
  struct Case {
    std::string json;
    std::string status;
  } cases[] = {
      {R"({"status":"invalid_token","scope":"https://mail.google.com/","schemes":"Bearer"})",
       "invalid_token, scope https://mail.google.com/"},
      {R"({ "status" : "401", "schemes" : "bearer" })", "401"},
      {R"({"schemes":"bearer"})", ""},
      {"not json", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(BearerChallengeStatus(challenge(c.json)), c.status) << c.json;
  EXPECT_EQ(BearerChallengeStatus("!!!"), "");
}

}  // namespace
}  // namespace tarvenkel::detail

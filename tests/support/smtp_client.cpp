// SPDX-License-Identifier: Apache-2.0
#include "tests/support/smtp_client.h"

#include "tests/support/time_scale.h"

#include <gtest/gtest.h>

namespace tarvenkel::test {

void Configure(CSMTP& smtp, const ClientSettings& settings) {
  smtp.SetParams(settings.host.c_str(), settings.sender.c_str(), settings.port, settings.user.c_str(),
                 settings.password.c_str());
  smtp.SetOAuth2Token(settings.token.c_str());
  smtp.SetAuthMechanism(settings.mechanism);
  smtp.SetSecurity(settings.security);
  if (!settings.caFile.empty()) smtp.SetCAFile(settings.caFile.c_str());
  smtp.SetShortDialogue(settings.shortDialogue ? TRUE : FALSE);
  if (settings.timeout >= 0) smtp.SetTimeout(static_cast<UINT>(settings.timeout));
  if (!settings.charset.empty()) smtp.SetCharset(settings.charset.c_str());
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ExpectConnectTimesOut(CSMTP& smtp, const std::string& error) {
  EXPECT_EQ(smtp.GetTimeout(), 1u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(smtp.Connect());
  const double took = SecondsSince(start);
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, Slack(5.0));
  EXPECT_EQ(smtp.GetLastError().str(), error);
}

}  // namespace tarvenkel::test

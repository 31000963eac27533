// SPDX-License-Identifier: Apache-2.0
// The login with an OAuth2 bearer token against aiosmtpd taking XOAUTH2 and
// OAUTHBEARER: the mechanism chosen, the error challenge of a refused token
// answered, and the texts the host gets, in the full and the short dialogue.
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/smtp_client.h"

#include <gtest/gtest.h>

#include <string>

using namespace tarvenkel::test;

namespace {

const std::string kToken = "ya29.token-for-the-test";

}  // namespace

TEST(SmtpBearerLogin, MechanismsTokensAndUsersInBothDialogues) {
  LocalSmtpServer server("", {"--oauth2", "alarm@example.com:" + kToken});
  struct Case {
    const char* name;
    CSMTP::AUTH_MECHANISM mechanism;
    std::string user;
    std::string token;
    std::string error;  // "OK" when the login succeeds
    std::string logged;
  };
  const std::string refused = "535:SMTP AUTH FAILED (invalid_token, scope https://mail.google.com/)";
  const Case cases[] = {
      {"auto takes OAUTHBEARER", CSMTP::AUTH_AUTO, "alarm@example.com", kToken, "OK", "OAUTHBEARER plain ok"},
      {"XOAUTH2 as asked", CSMTP::AUTH_XOAUTH2, "alarm@example.com", kToken, "OK", "XOAUTH2 plain ok"},
      {"XOAUTH2 stale token", CSMTP::AUTH_XOAUTH2, "alarm@example.com", "expired", refused, "XOAUTH2 plain refused"},
      {"OAUTHBEARER stale token", CSMTP::AUTH_OAUTHBEARER, "alarm@example.com", "expired", refused,
       "OAUTHBEARER plain refused"},
      {"wrong user", CSMTP::AUTH_AUTO, "other@example.com", kToken, "535:SMTP AUTH FAILED (400, scope https://mail.google.com/)",
       "OAUTHBEARER plain refused"},
  };
  for (const bool shortDialogue : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (shortDialogue ? " (short)" : " (full)"));
      const std::string before = server.AuthLog();
      CSMTP smtp;
      Configure(smtp, {.port = server.port(), .user = c.user, .token = c.token, .mechanism = c.mechanism,
                       .shortDialogue = shortDialogue, .timeout = 20});
      EXPECT_EQ(smtp.Connect(), c.error == "OK");
      EXPECT_EQ(smtp.GetLastError().str(), c.error);
      if (c.error == "OK") {
        EXPECT_EQ(smtp.GetLastReply().str(), "");
        EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
      } else {
        // The server's final reply, after the client ended the exchange.
        EXPECT_EQ(smtp.GetLastReply().str(), "535 5.7.8 Username and Password not accepted");
      }
      EXPECT_EQ(server.AuthLog().substr(before.size()), c.logged + "\n");
      EXPECT_EQ(smtp.GetLastError().Find(kToken.c_str()), -1);
    }
  }
}

TEST(SmtpBearerLogin, ATokenLoginNeedsATokenAndHonoursPlaintextRefusal) {
  LocalSmtpServer server("", {"--oauth2", "alarm@example.com:" + kToken});
  {
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .user = "alarm@example.com", .password = "secret",
                     .mechanism = CSMTP::AUTH_XOAUTH2, .timeout = 20});
    EXPECT_FALSE(smtp.Connect());
    EXPECT_EQ(smtp.GetLastError().str(), "Login refused: no OAuth2 token set");
  }
  {
    CSMTP smtp;
    Configure(smtp, {.port = server.port(), .user = "alarm@example.com", .token = kToken, .timeout = 20});
    smtp.SetPlaintextLogin(FALSE);
    EXPECT_FALSE(smtp.Connect());
    EXPECT_EQ(smtp.GetLastError().str(), "Login refused: the connection is not encrypted");
  }
  EXPECT_EQ(server.AuthLog(), "");
}

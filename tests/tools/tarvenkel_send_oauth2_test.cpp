// SPDX-License-Identifier: Apache-2.0
// tarvenkel-send logging in with an OAuth2 token, end to end: aiosmtpd taking
// XOAUTH2 and OAUTHBEARER, the test provider (HTTPS with the test CA) issuing
// tokens; the token sources, the cached token, the refresh, the retry after a
// refused cached token, the exit statuses, the first sign-in, and no token in
// --verbose output.
#include "tests/support/local_smtp_server.h"
#include "tests/support/oauth2_provider_fixture.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_paths.h"
#include "tools/send/token_store.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace tarvenkel::test {
namespace {

const std::string kUser = "alarm@example.com";

class TarvenkelSendOAuth2 : public OAuth2ProviderTest {
protected:
  // A configuration file for the built-in refresh against the provider (or
  // a closed port when none runs), with the extra lines.
  std::string Config(const std::string& extra = "") {
    const std::string path = m_dir.file("send.conf");
    std::ofstream(path) << "oauth2-provider = custom\noauth2-client-id = client-1\n"
                        << "oauth2-token-endpoint = " << Endpoint("/token") << "\n"
                        << "oauth2-device-endpoint = " << Endpoint("/device") << "\n"
                        << "oauth2-scope = mail\noauth2-token-store = " << m_dir.file("tokens.json") << "\n"
                        << "cafile = " << m_certs.CAFile() << "\n"
                        << extra;
    return path;
  }
  // tarvenkel-send with the arguments after the usual ones, --verbose.
  ProcessResult Send(int port, const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
    return RunProcess(Join({BinaryPath("tools/tarvenkel-send"), "--server", "127.0.0.1:" + std::to_string(port),
                            "--user", kUser, "--plaintext-login", "--from", kUser, "--to", "ops@example.com",
                            "--subject", "alarm", "--body", "pump 3 stopped", "--verbose", "--timeout", "20"},
                           args),
                      {.env = Join({"TARVENKEL_PASSWORD", "TARVENKEL_TOKEN", "XDG_CONFIG_HOME=/nonexistent"}, env),
                       .timeoutMs = 60000});
  }
};

TEST_F(TarvenkelSendOAuth2, TheTokenStoreIsUsedRefreshedAndRetriedOnce) {
  struct Case {
    const char* name;
    const char* serverToken;  // the token aiosmtpd takes
    const char* access;       // the stored access token
    long expiresIn;           // of the stored one
    const char* refresh;      // the stored refresh token (the provider knows "r1")
    bool provider;            // the provider runs
    int status;
    int requests;             // token requests the provider saw
    std::vector<std::string> said;  // on standard error
  };
  const Case cases[] = {
      {"cached token used without asking", "cached-77a1", "cached-77a1", 3600, "r1", true, 0, 0, {}},
      {"expiring token refreshed", "access-1", "cached-77a1", 60, "r1", true, 0, 1, {}},
      {"refused cached token refreshed once", "access-1", "revoked-77a1", 3600, "r1", true, 0, 1, {}},
      {"fresh token refused", "other", "cached-77a1", 60, "r1", true, 77, 1,
       {"535 5.7.8 Username and Password not accepted", "invalid_token", "run tarvenkel-send --authorize again"}},
      {"refresh token expired", "access-1", "cached-77a1", 60, "gone", true, 77, 1,
       {"AADSTS700082", "--authorize again"}},
      {"provider unreachable", "access-1", "cached-77a1", 60, "r1", false, 75, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    m_provider.reset();
    std::remove(m_dir.file("provider.log").c_str());
    if (c.provider) StartProvider({"--refresh-token", "r1"});
    Store(c.refresh, c.access, c.expiresIn);
    LocalSmtpServer server("", {"--oauth2", kUser + ":" + c.serverToken});
    const ProcessResult run = Send(server.port(), {"--config", Config()});
    EXPECT_EQ(run.status, c.status) << run.Describe();
    EXPECT_EQ(ProviderRequests(), c.requests);
    for (const std::string& words : c.said) EXPECT_NE(run.err.find(words), std::string::npos) << words << run.err;
    for (const char* token : {c.access, "access-1"}) {
      EXPECT_EQ(run.err.find(token), std::string::npos) << token << run.err;
      EXPECT_EQ(run.out.find(token), std::string::npos) << token;
    }
    // The login is shown, its token masked, when the run got as far.
    if (c.status == 0 || (!c.said.empty() && c.said.front().starts_with("535"))) {
      EXPECT_NE(run.err.find("C: AUTH OAUTHBEARER ******** (token)"), std::string::npos) << run.err;
    }
  }
}

TEST_F(TarvenkelSendOAuth2, TokenSourcesAndMechanisms) {
  LocalSmtpServer server("", {"--oauth2", kUser + ":tok-5e3f"});
  const std::string file = m_dir.file("token");
  std::ofstream(file) << "tok-5e3f\n";
  struct Case {
    const char* name;
    mode_t mode;  // of the token file
    std::vector<std::string> args;
    std::vector<std::string> env;
    int status;
    const char* logged;  // the new line of the server's login log
    const char* said;    // on standard error
  };
  const Case cases[] = {
      {"environment, auto", 0600, {}, {"TARVENKEL_TOKEN=tok-5e3f"}, 0, "OAUTHBEARER plain ok", ""},
      {"file, xoauth2", 0600, {"--token-file", file, "--auth", "xoauth2"}, {}, 0, "XOAUTH2 plain ok", ""},
      {"file others may read", 0644, {"--token-file", file}, {}, 78, nullptr, "every user of this machine may read it"},
      {"command", 0600, {"--token-command", "echo tok-5e3f; echo second line"}, {}, 0, "OAUTHBEARER plain ok", ""},
      {"command failing", 0600, {"--token-command", "exit 3"}, {}, 75, nullptr, "failed (exit status 3)"},
      {"wrong token", 0600, {"--auth", "oauthbearer"}, {"TARVENKEL_TOKEN=tok-0000"}, 77, "OAUTHBEARER plain refused",
       "the token from TARVENKEL_TOKEN was refused"},
      {"token mechanism without a token", 0600, {"--auth", "xoauth2"}, {"TARVENKEL_PASSWORD=pw"}, 64, nullptr,
       "--auth xoauth2 needs a token"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    chmod(file.c_str(), c.mode);
    const std::string before = server.AuthLog();
    const ProcessResult run = Send(server.port(), c.args, c.env);
    EXPECT_EQ(run.status, c.status) << run.Describe();
    EXPECT_EQ(server.AuthLog().substr(before.size()), c.logged ? std::string(c.logged) + "\n" : "");
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("tok-"), std::string::npos) << run.err;
  }
}

TEST_F(TarvenkelSendOAuth2, AuthorizeRunsTheDeviceFlowAndWritesTheStore) {
  StartProvider({"--device-script", "authorization_pending,ok"});
  const ProcessResult run = RunProcess(
      {BinaryPath("tools/tarvenkel-send"), "--authorize", "--config", Config()},
      {.env = {"XDG_CONFIG_HOME=/nonexistent"}, .timeoutMs = 60000});
  ASSERT_EQ(run.status, 0) << run.Describe();
  EXPECT_NE(run.out.find("WDJB-MJHT"), std::string::npos) << run.out;
  TokenStore store;
  std::string error;
  ASSERT_TRUE(ReadTokenStore(m_dir.file("tokens.json"), store, error)) << error;
  EXPECT_EQ(store.accessToken, "access-1");
  EXPECT_FALSE(store.refreshToken.empty());

  // A configuration the presets cannot complete is refused before the provider is asked.
  const ProcessResult bad = RunProcess({BinaryPath("tools/tarvenkel-send"), "--authorize", "--config",
                                        Config("oauth2-tenant = contoso\n")},
                                       {.env = {"XDG_CONFIG_HOME=/nonexistent"}});
  EXPECT_EQ(bad.status, 78) << bad.Describe();
  EXPECT_NE(bad.err.find("oauth2-tenant"), std::string::npos) << bad.err;
}

}  // namespace
}  // namespace tarvenkel::test

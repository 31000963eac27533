// SPDX-License-Identifier: Apache-2.0
// The OAuth2 token keeping of tarvenkel-send against a provider written for
// the tests (HTTPS on 127.0.0.1, the test CA): cached and refreshed access
// tokens, rotated refresh tokens, the provider's refusals, the device flow,
// the code flow with PKCE, and a crash while the store is saved.
#include "tests/support/oauth2_provider_fixture.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"
#include "tools/send/oauth2_client.h"
#include "tools/send/token_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>

#include <sys/stat.h>

namespace tarvenkel::test {
namespace {

class OAuth2Test : public OAuth2ProviderTest {
protected:
  OAuth2Settings Settings() const {
    OAuth2Settings s;
    s.provider = "custom";
    s.clientId = "client-1";
    s.tokenEndpoint = Endpoint("/token");
    s.scope = "mail";
    s.tokenStore = m_dir.file("tokens.json");
    s.caFile = m_certs.CAFile();
    return s;
  }
  TokenStore Stored() const {
    TokenStore store;
    std::string error;
    EXPECT_TRUE(ReadTokenStore(m_dir.file("tokens.json"), store, error)) << error;
    return store;
  }
};

TEST_F(OAuth2Test, AccessTokensComeFromTheStoreOrAreRefreshedAndSavedFirst) {
  struct Case {
    const char* name;
    long expiresIn;        // of the stored access token
    bool rotate;           // the provider rotates refresh tokens
    const char* token;     // handed out
    int requests;          // made to the provider
    const char* refresh;   // in the store afterwards
  } cases[] = {
      {"valid for an hour: no request", 3600, false, "cached", 0, "r0"},
      {"expiring within minutes: refreshed", 60, false, "access-1", 1, "r0"},
      {"expired, rotating provider: the new refresh token saved", -10, true, "access-1", 1, "refresh-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(m_dir.file("provider.log").c_str());
    std::vector<std::string> options = {"--refresh-token", "r0"};
    if (c.rotate) options.push_back("--rotate");
    StartProvider(options);
    Store("r0", "cached", c.expiresIn);
    OAuth2Client client(Settings());
    std::string token, message;
    ASSERT_EQ(client.AccessToken(token, message), OAuth2Outcome::kOk) << message;
    EXPECT_EQ(token, c.token);
    EXPECT_EQ(client.Refreshed(), c.requests > 0);
    EXPECT_EQ(ProviderRequests(), c.requests);
    const TokenStore after = Stored();
    EXPECT_EQ(after.refreshToken, c.refresh);
    EXPECT_EQ(after.accessToken, c.token);
    struct stat info;
    ASSERT_EQ(stat(m_dir.file("tokens.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
  }
}

TEST_F(OAuth2Test, FailuresTellRetryFromRefusalFromConfiguration) {
  StartProvider({"--refresh-token", "r0"});
  struct Case {
    const char* name;
    std::string refresh;
    std::string clientId;
    std::string endpoint;
    OAuth2Outcome outcome;
    const char* says;
  } cases[] = {
      {"refresh token refused", "stale", "client-1", Endpoint("/token"), OAuth2Outcome::kRefused, "--authorize"},
      {"unknown client", "r0", "nobody", Endpoint("/token"), OAuth2Outcome::kConfiguration, "invalid_client"},
      {"provider unreachable", "r0", "client-1", "https://127.0.0.1:1/token", OAuth2Outcome::kUnreachable,
       "cannot reach"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Store(c.refresh, "", -1);
    OAuth2Settings settings = Settings();
    settings.clientId = c.clientId;
    settings.tokenEndpoint = c.endpoint;
    std::string token, message;
    EXPECT_EQ(OAuth2Client(settings).AccessToken(token, message), c.outcome);
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_EQ(Stored().refreshToken, c.refresh);
  }
}

TEST_F(OAuth2Test, AStoreOthersMayReadIsRefused) {
  Store("r0", "cached", 3600);
  chmod(m_dir.file("tokens.json").c_str(), 0644);
  StartProvider({});
  std::string token, message;
  EXPECT_EQ(OAuth2Client(Settings()).AccessToken(token, message), OAuth2Outcome::kConfiguration);
  EXPECT_NE(message.find("mode 0644"), std::string::npos) << message;
  EXPECT_TRUE(token.empty());
}

TEST_F(OAuth2Test, DeviceFlowPollsAsAskedAndStopsWhereTheProviderSays) {
  struct Case {
    const char* script;
    OAuth2Outcome outcome;
    const char* says;
  } cases[] = {
      {"authorization_pending,slow_down,ok", OAuth2Outcome::kOk, "Signed in"},
      {"authorization_pending,expired_token", OAuth2Outcome::kRefused, "expired"},
      {"access_denied", OAuth2Outcome::kRefused, "declined"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    std::remove(m_dir.file("tokens.json").c_str());
    std::remove(m_dir.file("provider.log").c_str());
    StartProvider({"--device-script", c.script});
    OAuth2Settings settings = Settings();
    settings.deviceEndpoint = Endpoint("/device");
    TempDir out;
    std::FILE* prompts = std::fopen(out.file("prompts").c_str(), "w+");
    std::string message;
    const auto start = std::time(nullptr);
    EXPECT_EQ(OAuth2Client(settings).Authorize(prompts, nullptr, message), c.outcome) << message;
    std::fclose(prompts);
    const std::string shown = ReadFile(out.file("prompts"));
    EXPECT_NE(shown.find("enter the code WDJB-MJHT"), std::string::npos) << shown;
    EXPECT_NE((shown + message).find(c.says), std::string::npos) << shown << message;
    const int polls = ProviderRequests() - 1;  // the first request asks for the code
    EXPECT_EQ(polls, static_cast<int>(std::count(c.script, c.script + std::strlen(c.script), ',')) + 1);
    if (std::string(c.script).find("slow_down") != std::string::npos) {
      EXPECT_GE(std::time(nullptr) - start, 7) << "slow_down adds five seconds to the interval";
    }
    if (c.outcome == OAuth2Outcome::kOk) {
      EXPECT_EQ(Stored().refreshToken, "refresh-1");
    }
  }
}

TEST_F(OAuth2Test, CodeFlowTakesTheBrowsersRedirectOrThePastedAddress) {
  for (const bool paste : {false, true}) {
    SCOPED_TRACE(paste ? "pasted" : "redirected");
    std::remove(m_dir.file("tokens.json").c_str());
    StartProvider({});
    OAuth2Settings settings = Settings();
    settings.authorizationEndpoint = Endpoint("/authorize");
    int promptPipe[2], answerPipe[2];
    ASSERT_EQ(pipe(promptPipe), 0);
    ASSERT_EQ(pipe(answerPipe), 0);
    std::FILE* prompts = fdopen(promptPipe[1], "w");
    std::FILE* answers = fdopen(answerPipe[0], "r");
    std::string message;
    auto signIn = std::async(std::launch::async, [&] {
      const OAuth2Outcome outcome = OAuth2Client(settings).Authorize(prompts, answers, message);
      std::fclose(prompts);
      return outcome;
    });
    // The address to open is the line that starts with the endpoint.
    std::FILE* shown = fdopen(promptPipe[0], "r");
    std::string address;
    char line[8192];
    while (address.empty() && std::fgets(line, sizeof line, shown) != nullptr)
      if (std::string(line).rfind(Endpoint("/authorize"), 0) == 0) address = std::string(line, std::strlen(line) - 1);
    ASSERT_FALSE(address.empty());
    std::vector<std::string> args = {address, m_certs.CAFile()};
    if (paste) args.push_back("--paste");
    const std::string browser = RunPythonScript("tests/tools/oauth2_browser.py", args);
    if (paste) {
      const std::string pasted = browser.substr(0, browser.find('\n')) + "\n";
      ASSERT_EQ(write(answerPipe[1], pasted.data(), pasted.size()), static_cast<ssize_t>(pasted.size()));
    } else {
      EXPECT_NE(browser.find("may be closed"), std::string::npos) << browser;
    }
    EXPECT_EQ(signIn.get(), OAuth2Outcome::kOk) << message;
    std::fclose(shown);
    std::fclose(answers);
    close(answerPipe[1]);
    EXPECT_EQ(Stored().refreshToken, "refresh-1");
    EXPECT_EQ(Stored().accessToken, "access-1");
  }
}

TEST_F(OAuth2Test, ACrashWhileSavingLeavesTheOldOrTheNewStoreWhole) {
  const std::string driver = BinaryPath("tests/tools/oauth2_refresh_driver");
  const std::string shim = BinaryPath("tests/tools/libkill_on_rename.so");
  for (const char* when : {"before", "after"}) {
    SCOPED_TRACE(when);
    StartProvider({"--refresh-token", "r0", "--rotate"});
    Store("r0", "", -1);
    // Under AddressSanitizer a preloaded library must not stop the program.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const std::string asanOptions = (asan != nullptr && *asan != '\0' ? std::string(asan) + ":" : "") +
                                    "verify_asan_link_order=0";
    const ProcessResult run =
        RunProcess({driver, Endpoint("/token"), m_certs.CAFile(), m_dir.file("tokens.json")},
                   {.env = {"ASAN_OPTIONS=" + asanOptions, "KILL_ON_RENAME=" + std::string(when), "LD_PRELOAD=" + shim}});
    ASSERT_NE(run.signal, 0) << run.Describe();
    const TokenStore after = Stored();
    EXPECT_EQ(after.refreshToken, std::string(when) == "before" ? "r0" : "refresh-1");
  }
}

}  // namespace
}  // namespace tarvenkel::test

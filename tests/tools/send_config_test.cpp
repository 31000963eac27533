// SPDX-License-Identifier: Apache-2.0
// The sender's configuration file: what each key takes, the line number of
// every mistake, the refusal of a secret that every user may read, and where
// the file is looked for.
#include "tests/support/test_paths.h"
#include "tests/support/text_case.h"
#include "tools/send/send_config.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <sys/stat.h>

namespace tarvenkel::test {
namespace {

TEST(SendConfig, EveryKeyWithCommentsBlanksAndCrLf) {
  SendConfig config;
  std::string error;
  ASSERT_TRUE(ParseSendConfig("\xEF\xBB\xBF# alarms\n\n  server = mail.example.org:2525 \r\nport=587\n"
                              "security = starttls\nca-file = /etc/ca.pem\nuser = ops\n\t# indented comment\n"
                              "password-file = /home/ops/pw=1\nfrom = alarms@example.org\ntimeout = 0\n"
                              "charset = GBK\nshort-dialogue = no\nplaintext-login = yes\npassword = pw",
                              config, error))
      << error;
  EXPECT_EQ(config.server, "mail.example.org:2525");
  EXPECT_EQ(config.port, 587u);
  EXPECT_EQ(config.security, SendConfig::kStartTls);
  EXPECT_EQ(config.caFile, "/etc/ca.pem");
  EXPECT_EQ(config.user, "ops");
  EXPECT_EQ(config.passwordFile, "/home/ops/pw=1");
  EXPECT_EQ(config.from, "alarms@example.org");
  EXPECT_EQ(config.timeout, 0u);
  EXPECT_EQ(config.charset, "GBK");
  EXPECT_EQ(config.shortDialogue, false);
  EXPECT_EQ(config.plaintextLogin, true);
  EXPECT_EQ(config.password, "pw");
  // Each key has its option's name; the old spelling stays an alias.
  for (const char* text : {"\xEF\xBB\xBF" "cafile = /a.pem\n", "ca-file = /a.pem\n"}) {
    SendConfig aliased;
    EXPECT_TRUE(ParseSendConfig(text, aliased, error)) << error;
    EXPECT_EQ(aliased.caFile, "/a.pem");
  }

  SendConfig empty;
  EXPECT_TRUE(ParseSendConfig("# nothing set\n", empty, error));
  EXPECT_FALSE(empty.server || empty.security || empty.shortDialogue);
}

TEST(SendConfig, EachMistakeNamesItsLine) {
  const TextCase cases[] = {
      {"server = a\nservr = b\n", "line 2: unknown key 'servr' (did you mean 'server'?)"},
      {"pasword_file = /pw\n", "line 1: unknown key 'pasword_file' (did you mean 'password-file'?)"},
      {"cafile = /a\nca-file = /b\n", "line 2: given twice"},
      {"\xEF\xBB\xBF\xEF\xBB\xBFserver = a\n", "line 1: unknown key '\xEF\xBB\xBFserver'"},
      {"# c\n\nserver mail\n", "line 3: expected 'key = value'"},
      {"port = 0\n", "line 1: '0' is not a number from 1 to 65535"},
      {"port = 65536\n", "line 1: '65536' is not a number from 1 to 65535"},
      {"timeout = 1.5\n", "line 1: '1.5' is not a number"},
      {"security = ssl\n", "line 1: 'ssl' is not none, starttls or tls"},
      {"short-dialogue = true\n", "line 1: 'true' is not yes or no"},
      {"user = a\nuser = b\n", "line 2: given twice"},
      {"from =\n", "line 1: empty value"},
  };
  for (const auto& c : cases) {
    SendConfig config;
    std::string error;
    EXPECT_FALSE(ParseSendConfig(c.input, config, error)) << c.input;
    EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.input << " gave: " << error;
  }
}

TEST(SendConfig, TheNearestKeyIsSuggestedOnlyWhenItIsNear) {
  const std::vector<std::string> keys = SendConfigKeys();
  EXPECT_EQ(NearestName("sever", keys), "server");
  EXPECT_EQ(NearestName("CAfile", keys), "cafile");
  EXPECT_EQ(NearestName("short_dialog", keys), "short-dialogue");
  EXPECT_EQ(NearestName("colour", keys), "");
  EXPECT_EQ(NearestName("x", keys), "");
}

TEST(SendConfig, OnlyAFileHoldingASecretMustBeKeptFromOtherUsers) {
  TempDir dir;
  const std::string withPassword = dir.file("secret.conf");
  WriteFile(withPassword, "user = ops\npassword = pump-3\n");
  const std::string namingAFile = dir.file("shared.conf");
  WriteFile(namingAFile, "user = ops\npassword-file = /etc/tarvenkel/password\n");
  const std::string passwordFile = dir.file("password");
  WriteFile(passwordFile, "pump-3\nsecond line\n");
  const struct {
    std::string path;
    mode_t mode;
    std::string error;  // empty: accepted
  } cases[] = {
      {withPassword, 0600, ""},
      {withPassword, 0640, ""},  // shared with one group
      {withPassword, 0644,
       withPassword + ": holds a secret but every user of this machine may read it (mode 0644); make it private "
                      "with chmod 600 " + withPassword},
      {withPassword, 0604, "(mode 0604)"},
      {namingAFile, 0644, ""},
      {passwordFile, 0600, ""},
      {passwordFile, 0640, ""},
      {passwordFile, 0644, passwordFile + ": holds a secret but every user of this machine may read it (mode 0644)"},
  };
  for (const auto& c : cases) {
    chmod(c.path.c_str(), c.mode);
    std::string error, password;
    bool exposed = false;
    SendConfig config;
    const bool ok = c.path == passwordFile ? ReadPasswordFile(c.path, password, error, &exposed)
                                           : ReadSendConfig(c.path, config, error);
    EXPECT_EQ(ok, c.error.empty()) << c.path << " " << c.mode << ": " << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
    if (c.path == passwordFile) {
      EXPECT_EQ(exposed, !ok);
      EXPECT_EQ(password, ok ? "pump-3" : "");
    }
  }
  std::string password, error;
  EXPECT_FALSE(ReadPasswordFile(dir.file("none"), password, error));
  EXPECT_EQ(error, dir.file("none") + ": No such file or directory");
}

TEST(SendConfig, TheUsersFileIsFoundThroughXdgConfigHomeOrHome) {
  TempDir dir;
  mkdir(dir.file("xdg").c_str(), 0700);
  mkdir(dir.file("xdg/tarvenkel").c_str(), 0700);
  WriteFile(dir.file("xdg/tarvenkel/send.conf"), "");
  mkdir(dir.file(".config").c_str(), 0700);
  mkdir(dir.file(".config/tarvenkel").c_str(), 0700);
  WriteFile(dir.file(".config/tarvenkel/send.conf"), "");
  const char* savedHome = std::getenv("HOME");
  const std::string home = savedHome ? savedHome : "";
  setenv("HOME", dir.path().c_str(), 1);
  setenv("XDG_CONFIG_HOME", dir.file("xdg").c_str(), 1);
  EXPECT_EQ(DefaultSendConfigPath(), dir.file("xdg/tarvenkel/send.conf"));
  setenv("XDG_CONFIG_HOME", "", 1);
  EXPECT_EQ(DefaultSendConfigPath(), dir.file(".config/tarvenkel/send.conf"));
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(DefaultSendConfigPath(), dir.file(".config/tarvenkel/send.conf"));
  // Without a file of the user's, the system's, where there is one.
  setenv("XDG_CONFIG_HOME", dir.file("none").c_str(), 1);
  struct stat info;
  EXPECT_EQ(DefaultSendConfigPath(),
            stat("/etc/tarvenkel/send.conf", &info) == 0 ? "/etc/tarvenkel/send.conf" : "");
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace tarvenkel::test

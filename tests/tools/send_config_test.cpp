// The sender's configuration file: what each key takes, the line number of
// every mistake, the refusal of a password file named in a file others may
// read, and where the file is looked for.
#include "tests/support/test_paths.h"
#include "tools/send/send_config.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <sys/stat.h>

namespace tarvenkel::test {
namespace {

TEST(SendConfig, EveryKeyWithCommentsBlanksAndCrLf) {
  SendConfig config;
  std::string error;
  ASSERT_TRUE(ParseSendConfig("# alarms\n\n  server = mail.example.org:2525 \r\nport=587\n"
                              "security = starttls\nca-file = /etc/ca.pem\nuser = ops\n\t# indented comment\n"
                              "password-file = /home/ops/pw=1\nfrom = alarms@example.org\ntimeout = 0\n"
                              "charset = GBK\nshort-dialogue = no",
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

  SendConfig empty;
  EXPECT_TRUE(ParseSendConfig("# nothing set\n", empty, error));
  EXPECT_FALSE(empty.server || empty.security || empty.shortDialogue);
}

TEST(SendConfig, EachMistakeNamesItsLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"server = a\nservr = b\n", "line 2: unknown key 'servr'"},
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
    EXPECT_FALSE(ParseSendConfig(c.text, config, error)) << c.text;
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " gave: " << error;
  }
}

TEST(SendConfig, AFileNamingAPasswordMustBePrivate) {
  TempDir dir;
  const std::string withPassword = dir.file("send.conf");
  WriteFile(withPassword, "user = ops\npassword-file = /home/ops/pw\n");
  const std::string withoutPassword = dir.file("open.conf");
  WriteFile(withoutPassword, "server = mail\n");
  const struct {
    std::string path;
    mode_t mode;
    std::string error;  // empty: accepted
  } cases[] = {
      {withPassword, 0600, ""},
      {withPassword, 0400, ""},
      {withPassword, 0644, withPassword + ": names a password file but others than its owner may read it (mode 0644)"},
      {withPassword, 0640, "(mode 0640)"},
      {withPassword, 0604, "(mode 0604)"},
      {withoutPassword, 0644, ""},
  };
  for (const auto& c : cases) {
    chmod(c.path.c_str(), c.mode);
    SendConfig config;
    std::string error;
    EXPECT_EQ(ReadSendConfig(c.path, config, error), c.error.empty()) << c.path << " " << c.mode << ": " << error;
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
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

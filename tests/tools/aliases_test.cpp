// SPDX-License-Identifier: Apache-2.0
// The addresses of the local machine: an aliases file read and followed
// (chains, loops, unknown names, members that cannot be sent to), the
// default domain, the sender, and header fields qualified in place.
#include "tests/support/text_case.h"
#include "tools/send/aliases.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvenkel::test {
namespace {

const char kAliasesFile[] =
    "# /etc/aliases\n"
    "postmaster: root\n"
    "Root: ops@plant.example,\n"
    "\tduty@plant.example, backup\n"
    "backup: \"Night Desk\" <desk@plant.example>, ops@plant.example\n"
    "loop-a: loop-b\n"
    "loop-b: loop-c, c@plant.example\n"
    "loop-c: loop-a\n"
    "keeper: keeper, ops@plant.example\n"
    "local: \\local\n"
    "decode: \"|/usr/bin/uudecode\", /var/spool/archive, :include:/etc/more\n";

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : " | ") + item;
  return text;
}

TEST(Aliases, RecipientsFollowChainsStopAtLoopsAndGetTheDefaultDomain) {
  Aliases aliases;
  std::string error;
  ASSERT_TRUE(aliases.Read(kAliasesFile, error)) << error;
  aliases.SetDefaultDomain("host.plant.example");
  const struct {
    const char* recipient;
    const char* addresses;
    const char* warnings;
  } cases[] = {
      {"ops@elsewhere.example", "ops@elsewhere.example", ""},
      {"root", "ops@plant.example | duty@plant.example | desk@plant.example", ""},
      {"POSTMASTER", "ops@plant.example | duty@plant.example | desk@plant.example", ""},
      {"nobody", "nobody@host.plant.example", ""},
      {"loop-a", "loop-a@host.plant.example | c@plant.example",
       "alias loop loop-a -> loop-b -> loop-c -> loop-a: 'loop-a' goes to loop-a@host.plant.example and is not "
       "followed again"},
      {"keeper", "keeper@host.plant.example | ops@plant.example", ""},
      {"local", "local@host.plant.example", ""},
      {"decode", "",
       "alias 'decode': '|/usr/bin/uudecode' is a program, a file or an include, which cannot be sent to; left out | "
       "alias 'decode': '/var/spool/archive' is a program, a file or an include, which cannot be sent to; left out | "
       "alias 'decode': ':include:/etc/more' is a program, a file or an include, which cannot be sent to; left out | "
       "alias 'decode' gives no address that can be sent to"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> warnings;
    EXPECT_EQ(Joined(aliases.Recipient(c.recipient, &warnings)), c.addresses) << c.recipient;
    EXPECT_EQ(Joined(warnings), c.warnings) << c.recipient;
  }

  // Without a default domain an unknown name stays as written: the relay decides.
  Aliases plain;
  ASSERT_TRUE(plain.Read("root: ops@plant.example\n", error)) << error;
  EXPECT_EQ(Joined(plain.Recipient("nobody", nullptr)), "nobody");
  const std::vector<Mailbox> named = aliases.Recipients({{"Admin", "nobody"}, {"Team", "root"}}, nullptr);
  ASSERT_EQ(named.size(), 4u);
  EXPECT_EQ(named[0].name + " <" + named[0].address + ">", "Admin <nobody@host.plant.example>");
  EXPECT_EQ(named[1].name, "") << "a name is dropped where a recipient becomes several addresses";
}

TEST(Aliases, ABadFileIsRefusedWithItsLine) {
  const TextCase cases[] = {
      {"root ops@x\n", "line 1: expected 'name: address, address'"},
      {"# c\n  ops@x\n", "line 2: a continuation line without an alias before it"},
      {"root: a@x\nRoot: b@x\n", "line 2: alias 'Root' given twice"},
      {"root:\n\nops: a@x\n", "line 1: alias 'root' has no members"},
      {"a@x: b@x\n", "line 1: expected 'name: address, address'"},
  };
  for (const auto& c : cases) {
    Aliases aliases;
    std::string error;
    EXPECT_FALSE(aliases.Read(c.input, error)) << c.input;
    EXPECT_EQ(error, c.expected) << c.input;
  }
  Aliases aliases;
  std::string error;
  EXPECT_FALSE(aliases.ReadFile("/nonexistent/aliases", error));
  EXPECT_EQ(error, "/nonexistent/aliases: No such file or directory");
}

TEST(Aliases, ASenderWithoutADomainBecomesTheConfiguredOneOrGetsTheDefaultDomain) {
  Aliases none, domain, configured, unset;
  unset.SetConfiguredSender("alarms@plant.example");  // no aliases, no default domain: nothing changes
  domain.SetDefaultDomain("plant.example");
  configured.SetDefaultDomain("plant.example");
  configured.SetConfiguredSender("alarms@plant.example");
  const struct {
    const Aliases* aliases;
    const char* sender;
    const char* expected;
  } cases[] = {
      {&none, "root", "root"},
      {&none, "", ""},
      {&unset, "root", "root"},
      {&domain, "root", "root@plant.example"},
      {&domain, "cron@other.example", "cron@other.example"},
      {&configured, "root", "alarms@plant.example"},
      {&configured, "", "alarms@plant.example"},
      {&configured, "\"a@b\"", "alarms@plant.example"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.aliases->Sender(c.sender), c.expected) << c.sender;
  // No sender at all: the running user's login name at the default domain.
  EXPECT_TRUE(domain.Sender("").ends_with("@plant.example")) << domain.Sender("");
}

TEST(Aliases, HeaderFieldsAreQualifiedWhereTheyStand) {
  Aliases aliases;
  std::string error;
  ASSERT_TRUE(aliases.Read("root: ops@plant.example, duty@plant.example\nbackup: desk@plant.example\n", error));
  aliases.SetDefaultDomain("host.example");
  aliases.SetConfiguredSender("alarms@plant.example");
  const struct {
    const char* value;
    bool sender;
    const char* expected;
  } cases[] = {
      {" root (Cron Daemon)\r\n", true, " alarms@plant.example (Cron Daemon)\r\n"},
      {" Cron <root>\r\n", true, " Cron <alarms@plant.example>\r\n"},
      {" root\r\n", false, " ops@plant.example, duty@plant.example\r\n"},
      {" a@x.example,\r\n  Backup <backup>, \"Doe, J\" <j@x.example>\r\n", false,
       " a@x.example,\r\n  Backup <desk@plant.example>, \"Doe, J\" <j@x.example>\r\n"},
      {" team: nobody, root;\r\n", false, " team: nobody@host.example, ops@plant.example, duty@plant.example;\r\n"},
      {" \"Ops (day)\" <ops@plant.example>\r\n", false, " \"Ops (day)\" <ops@plant.example>\r\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(aliases.QualifyField(c.value, c.sender), c.expected) << c.value;
}

}  // namespace
}  // namespace tarvenkel::test

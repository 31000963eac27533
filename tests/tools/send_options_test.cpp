// SPDX-License-Identifier: Apache-2.0
// The sender's command line, parsed through its option table: old
// spellings, values after "=", flags, the sendmail entry's letter clusters
// and the letters that stand for long options, which share their "given
// twice" with them.
#include "tools/send/send_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvenkel::test {
namespace {

// Parses the arguments as the program would, called as name.
bool Parse(const char* name, std::vector<std::string> args, SendOptions& options, std::string& error) {
  args.insert(args.begin(), name);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  options.sendmail = IsSendmailCall(static_cast<int>(argv.size()), argv.data());
  return ParseSendArguments(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(SendOptions, ValuesReachTheirSettings) {
  SendOptions options;
  std::string error;
  ASSERT_TRUE(Parse("tarvenkel-send",
                    {"--ca-file=/ca.pem", "--starttls", "--starttls", "--no-short-dialogue", "--plaintext-login",
                     "--to", "a@x", "--to=b@x", "--timeout", "0", "--subject="},
                    options, error))
      << error;
  EXPECT_EQ(options.caFile, "/ca.pem");
  EXPECT_EQ(options.security, SendConfig::kStartTls);
  EXPECT_EQ(options.shortDialogue, false);
  EXPECT_EQ(options.plaintextLogin, true);
  EXPECT_EQ(options.to, (std::vector<std::string>{"a@x", "b@x"}));
  EXPECT_EQ(options.timeout, 0u);
  EXPECT_EQ(options.subject, "");
  EXPECT_FALSE(options.sendmail || options.from || options.server);
}

TEST(SendOptions, SendmailLettersClusterAndStandForLongOptions) {
  SendOptions options;
  std::string error;
  ASSERT_TRUE(Parse("/usr/sbin/sendmail", {"-tif", "a@x", "-oi", "-FNight Desk", "-v", "-Ba", "--", "-b@x", "c@x"},
                    options, error))
      << error;
  EXPECT_TRUE(options.headerRecipients && options.ignoreDots && options.verbose);
  EXPECT_EQ(options.from, "a@x");
  EXPECT_EQ(options.fullName, "Night Desk");
  EXPECT_EQ(options.arguments, (std::vector<std::string>{"-b@x", "c@x"}));
  // sendmail's queue commands: -bp lists, -q flushes.
  SendOptions queue;
  ASSERT_TRUE(Parse("/usr/sbin/sendmail", {"-bp", "-q"}, queue, error)) << error;
  EXPECT_TRUE(queue.listQueue && queue.flush);

  const struct {
    std::vector<std::string> args;
    const char* error;
  } mistakes[] = {
      {{"-t", "-C", "a.conf", "--config", "b.conf"}, "option '--config' given twice"},
      {{"-t", "-fa@x", "--from=b@x"}, "option '--from' given twice"},
      {{"-t", "-bs"}, "'-bs': the modes are sending a message (-bm) and listing the queue (-bp)"},
      {{"-t", "-f"}, "option '-f' needs a value"},
      {{"-t", "-iQ"}, "unknown option '-Q'"},
      {{"-t", "--subject", "x"}, "'--subject' does not go with the sendmail entry"},
  };
  for (const auto& c : mistakes) {
    SendOptions parsed;
    EXPECT_FALSE(Parse("tarvenkel-send", c.args, parsed, error)) << c.args[1];
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
  }
}

}  // namespace
}  // namespace tarvenkel::test

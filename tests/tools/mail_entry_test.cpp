// SPDX-License-Identifier: Apache-2.0
// tarvenkel-send as the machine's mail agent: through a link named mail with
// mailx's options, and through sendmail with cron's message, the addresses
// of the local machine ("root") made addresses through the aliases file and
// the default domain. Against aiosmtpd, the mail read with Python's email
// package.
#include "tests/support/local_smtp_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace tarvenkel::test {
namespace {

class MailAgent : public ::testing::Test {
protected:
  // Writes the configuration file the program reads in this test.
  void Configure(const std::string& text) {
    mkdir(m_dir.file("tarvenkel").c_str(), 0700);
    WriteFile(m_dir.file("tarvenkel/send.conf"), text);
  }
  // Runs the program through a link of the name, standard input given.
  ProcessResult Run(const std::string& name, const std::vector<std::string>& args, const std::string& input) {
    const std::string link = m_dir.file(name);
    symlink(BinaryPath("tools/tarvenkel-send").c_str(), link.c_str());
    ProcessOptions options;
    options.input = input;
    options.env = {"XDG_CONFIG_HOME=" + m_dir.path(), "TARVENKEL_PASSWORD"};
    return RunProcess(Join({link}, args), options);
  }
  // Python's reading of a message, see describe_mail.py.
  static std::string Describe(const std::string& message, const std::vector<std::string>& attachments) {
    const ProcessResult described =
        RunProcess(Join({SystemPython(), SourcePath("tests/tools/describe_mail.py"), message}, attachments));
    EXPECT_EQ(described.status, 0) << described.Describe();
    return described.out;
  }

  TempDir m_dir;
};

TEST_F(MailAgent, TheMailEntryTakesMailxOptionsAndTheBodyOnStandardInput) {
  LocalSmtpServer server;
  WriteFile(m_dir.file("aliases"), "root: ops@plant.example\n");
  Configure("server = 127.0.0.1:" + std::to_string(server.port()) + "\naliases = " + m_dir.file("aliases") + "\n");
  WriteFile(m_dir.file("smart.log"), "sdb: 8 pending sectors\n");
  WriteFile(m_dir.file("trace.bin"), std::string("\x00\x01\xff", 3));
  const ProcessResult sent =
      Run("mail",
          {"-s", "SMART error on sdb", "-c", "desk@plant.example, Night <night@plant.example>", "-b",
           "audit@plant.example", "-r", "Disk watch <smartd@plant.example>", "-a", m_dir.file("smart.log"), "root",
           "-a", m_dir.file("trace.bin")},
          "Device: /dev/sdb\nCurrently unreadable sectors: 8\n");
  ASSERT_EQ(sent.status, 0) << sent.Describe();
  const std::vector<std::string> messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(EnvelopeHas(messages[0], "\"mail_from\": \"smartd@plant.example\", \"rcpt_tos\": [\"ops@plant.example\", "
                                       "\"desk@plant.example\", \"night@plant.example\", \"audit@plant.example\"]"));
  EXPECT_EQ(Describe(messages[0], {m_dir.file("smart.log"), m_dir.file("trace.bin")}),
            "From: Disk watch <smartd@plant.example>\n"
            "To: <ops@plant.example>\n"
            "Cc: <desk@plant.example>,Night <night@plant.example>\n"
            "Bcc: -\n"
            "Subject: SMART error on sdb\n"
            "multipart/mixed defects=0\n"
            "part text/plain filename=- text=\"Device: /dev/sdb\\nCurrently unreadable sectors: 8\"\n"
            "part application/octet-stream filename=smart.log same\n"
            "part application/octet-stream filename=trace.bin same\n");

  // Any other option is refused with the usage line, before anything is sent.
  const struct {
    std::vector<std::string> args;
    const char* error;
  } refused[] = {
      {{"-v", "ops@plant.example"}, "unknown option '-v'"},
      {{"-s"}, "option '-s' needs a value"},
      {{"--to", "ops@plant.example"}, "'--to' does not go with the mail entry"},
      {{"-r", "a@plant.example", "-s", "x"}, "no recipients: give at least one ADDRESS"},
  };
  for (const auto& c : refused) {
    const ProcessResult outcome = Run("mailx", c.args, "x\n");
    EXPECT_EQ(outcome.status, EX_USAGE) << outcome.Describe();
    EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
  }
  EXPECT_NE(Run("mail", {"-x"}, "").err.find("\nusage: mail [-s SUBJECT] [-c LIST] [-b LIST] [-r ADDRESS]"),
            std::string::npos);
  EXPECT_EQ(server.Messages(2, 500).size(), 1u);
}

TEST_F(MailAgent, CronsMailToRootIsQualifiedThroughAliasesAndTheDefaultDomain) {
  LocalSmtpServer server;
  WriteFile(m_dir.file("aliases"),
            "# who root is\npostmaster: root\nroot: ops@plant.example,\n  backup\nbackup: desk@plant.example\n");
  Configure("server = 127.0.0.1:" + std::to_string(server.port()) + "\naliases = " + m_dir.file("aliases") +
            "\ndefault-domain = host7.plant.example\n");
  // As cron writes and calls it.
  const std::string input =
      "From: root (Cron Daemon)\nTo: root\nSubject: Cron <root@host7> /usr/local/bin/nightly-backup\n"
      "Content-Type: text/plain; charset=UTF-8\n\nbackup done\n";
  ProcessResult sent = Run("sendmail", {"-FCronDaemon", "-i", "-B8BITMIME", "-oem", "root"}, input);
  ASSERT_EQ(sent.status, 0) << sent.Describe();
  // mdadm's way: the recipients from the message, one of them unknown here.
  sent = Run("sendmail", {"-t"}, "From: mdadm monitoring <root>\nTo: postmaster, nobody\nSubject: Fail event\n\nx\n");
  ASSERT_EQ(sent.status, 0) << sent.Describe();
  const std::vector<std::string> messages = server.Messages(2);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(EnvelopeHas(messages[0], "\"mail_from\": \"root@host7.plant.example\", \"rcpt_tos\": "
                                       "[\"ops@plant.example\", \"desk@plant.example\"]"));
  const std::string wire = ReadFile(messages[0]);
  EXPECT_EQ(wire.rfind("From: root@host7.plant.example (Cron Daemon)\r\nTo: ops@plant.example, desk@plant.example\r\n"
                       "Subject: Cron <root@host7> /usr/local/bin/nightly-backup\r\n",
                       0),
            0u)
      << wire;
  EXPECT_TRUE(EnvelopeHas(messages[1], "\"rcpt_tos\": [\"ops@plant.example\", \"desk@plant.example\", "
                                       "\"nobody@host7.plant.example\"]"));
  EXPECT_NE(ReadFile(messages[1]).find("From: mdadm monitoring <root@host7.plant.example>\r\n"
                                       "To: ops@plant.example, desk@plant.example, nobody@host7.plant.example\r\n"),
            std::string::npos)
      << ReadFile(messages[1]);

  // The normal entry qualifies its options the same way; a configured
  // sender stands in for one without a domain.
  Configure("aliases = " + m_dir.file("aliases") + "\ndefault-domain = host7.plant.example\n" +
            "from = Station 7 <alarms@plant.example>\n");
  const ProcessResult dry =
      Run("tarvenkel-send", {"--dry-run", "--from", "root", "--to", "Admin <root>", "--body", "x"}, "");
  ASSERT_EQ(dry.status, 0) << dry.Describe();
  EXPECT_EQ(dry.out.rfind("From: alarms@plant.example\r\nTo: <ops@plant.example>,<desk@plant.example>\r\n", 0), 0u)
      << dry.out;
}

}  // namespace
}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// tarvenkel-send run as a script would run it: its exit status and messages
// for every kind of bad usage, --dry-run output read by Python's email
// package, and real sends to aiosmtpd and to scripted servers, with one
// table of exit codes for both ways of calling it.
#include "mail/base64.h"
#include "module/version.h"
#include "tests/support/local_smtp_server.h"
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace tarvenkel::test {
namespace {

// What a run of a program left: its exit status (-1 when it did not exit
// normally) and what it wrote.
using Outcome = ProcessResult;

// Runs a program with the arguments, feeding it input on standard input. The
// child gets this process's environment without TARVENKEL_PASSWORD, plus the
// NAME=VALUE entries of env.
Outcome RunProgram(const std::vector<std::string>& args, const std::string& input = "",
                   const std::vector<std::string>& env = {}) {
  return RunProcess(args, {.input = input, .env = Join({"TARVENKEL_PASSWORD"}, env)});
}

std::string Tool() { return BinaryPath("tools/tarvenkel-send"); }

// tarvenkel-send with the arguments, without the user's configuration file
// unless env names a folder for it in XDG_CONFIG_HOME.
Outcome Send(std::vector<std::string> args, const std::string& input = "", std::vector<std::string> env = {}) {
  args.insert(args.begin(), Tool());
  env.insert(env.begin(), "XDG_CONFIG_HOME=/nonexistent/tarvenkel-test");
  return RunProgram(args, input, env);
}

// The same through a link named sendmail in dir.
Outcome Sendmail(const TempDir& dir, std::vector<std::string> args, const std::string& input,
                 std::vector<std::string> env = {}) {
  const std::string link = dir.file("sendmail");
  symlink(Tool().c_str(), link.c_str());
  args.insert(args.begin(), link);
  env.insert(env.begin(), "XDG_CONFIG_HOME=/nonexistent/tarvenkel-test");
  return RunProgram(args, input, env);
}

// Writes send.conf into dir/tarvenkel with the mode; the XDG_CONFIG_HOME
// entry that makes the program read it.
std::string WriteConfig(const TempDir& dir, const std::string& text, mode_t mode = 0600) {
  mkdir(dir.file("tarvenkel").c_str(), 0700);
  WriteFile(dir.file("tarvenkel/send.conf"), text);
  chmod(dir.file("tarvenkel/send.conf").c_str(), mode);
  return "XDG_CONFIG_HOME=" + dir.path();
}

// Python's reading of a message file, see describe_mail.py.
std::string Describe(const std::string& message, const std::vector<std::string>& attachments = {}) {
  std::vector<std::string> args = {SystemPython(), SourcePath("tests/tools/describe_mail.py"), message};
  args.insert(args.end(), attachments.begin(), attachments.end());
  Outcome described = RunProgram(args);
  EXPECT_EQ(described.status, 0) << described.err;
  return described.out;
}

// A TCP port on 127.0.0.1 that nothing listens on.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

std::string Base64(const std::string& bytes) {
  CBase64 encoder;
  return encoder.Encode(bytes.data(), static_cast<int>(bytes.size())).str();
}

std::string Server(int port) { return "127.0.0.1:" + std::to_string(port); }

class TarvenkelSendUsage : public ::testing::Test {
protected:
  TempDir m_dir;
};

TEST_F(TarvenkelSendUsage, EveryMistakeExitsWithItsCodeAndSaysWhatIsWrong) {
  WriteFile(m_dir.file("log.txt"), "pump 3\n");
  mkdir(m_dir.file("folder").c_str(), 0755);
  WriteFile(m_dir.file("open-password"), "pump-3\n");
  chmod(m_dir.file("open-password").c_str(), 0644);
  const std::vector<std::string> good = {"--server", "127.0.0.1", "--from", "a@example.org", "--to",
                                         "b@example.org", "--body", "x"};
  auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = good;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  struct Case {
    std::vector<std::string> args;
    std::string message;
    int status = EX_USAGE;
  };
  const std::vector<Case> cases = {
      {with({"--frobnicate"}), "unknown option '--frobnicate'"},
      {with({"--plaintext-logn"}), "unknown option '--plaintext-logn' (did you mean '--plaintext-login'?)"},
      {with({"--starttls", "--tls"}), "give either --starttls or --tls, not both"},
      {with({"--cafile", "/etc/hostname"}), "--cafile needs --starttls, --tls or a login (--user)"},
      {with({"--tls", "--cafile", "/nonexistent/ca.pem"}), "--cafile '/nonexistent/ca.pem': No such file"},
      {with({"--tls", "--ca-file", "/nonexistent/ca.pem"}), "--cafile '/nonexistent/ca.pem': No such file"},
      {with({"--tls", "--tls-fingerprint", "AB:CD"}), "--tls-fingerprint 'AB:CD': not a SHA-256 fingerprint"},
      {with({"--tls-server-name", "relay.plant.example"}), "--tls-server-name needs --starttls, --tls or a login"},
      {with({"--tls", "--tls-key-file", m_dir.file("log.txt")}), "--tls-key-file needs tls-cert-file"},
      {with({"--tls", "--tls-cert-file", "/nonexistent/c.pem"}), "--tls-cert-file '/nonexistent/c.pem': No such file"},
      // The key is a secret like the password.
      {with({"--tls", "--tls-cert-file", m_dir.file("log.txt"), "--tls-key-file", m_dir.file("open-password")}),
       "--tls-key-file " + m_dir.file("open-password") + ": holds a secret but every user", EX_CONFIG},
      {with({"stray"}), "unexpected argument 'stray'"},
      {with({"--subject"}), "option '--subject' needs a value"},
      {with({"--verbose=yes"}), "option '--verbose' takes no value"},
      {with({"--from", "c@example.org"}), "option '--from' given twice"},
      {{"--from", "a@example.org", "--to", "b@example.org", "--body", "x"}, "missing --server"},
      {{"--server", "127.0.0.1", "--to", "b@example.org", "--body", "x"}, "missing --from"},
      {{"--server", "127.0.0.1", "--from", "a@example.org", "--body", "x"}, "missing --to"},
      {{"--server", "127.0.0.1", "--from", "a@x, b@x", "--to", "b@x"}, "--from 'a@x, b@x': expected one address"},
      {{"--server", "127.0.0.1", "--from", "a@example.org", "--to", " ; ,", "--body", "x"}, "missing --to"},
      {{"--server", "127.0.0.1", "--from", "a@example.org", "--cc", "c@example.org", "--body", "x"}, "missing --to"},
      {with({"--to", "Ops <ops@example.org"}), "--to 'Ops <ops@example.org': expected 'Name <address>'"},
      {with({"--cc", "Ops <>"}), "--cc 'Ops <>': empty address"},
      {with({"--to", "a@x b@x"}), "--to 'a@x b@x': not one address"},
      {with({"--bcc", "\"Doe, John <j@x>"}), "--bcc '\"Doe, John <j@x>': unclosed quote"},
      {with({"--charset", "klingon"}), "--charset 'klingon': not a charset this system knows"},
      {with({"--charset", "GB K"}), "--charset 'GB K': not a charset this system knows"},
      {with({"--server", "x"}), "option '--server' given twice"},
      {{"--server", "mail:0", "--from", "a@x", "--to", "b@x"}, "bad port '0'"},
      {{"--server", "mail:65536", "--from", "a@x", "--to", "b@x"}, "bad port '65536'"},
      {{"--server", "mail:smtp", "--from", "a@x", "--to", "b@x"}, "bad port 'smtp'"},
      {{"--server", "mail:", "--from", "a@x", "--to", "b@x"}, "empty port"},
      {{"--server", "[::1]:x", "--from", "a@x", "--to", "b@x"}, "bad port 'x'"},
      {{"--server", "[::1", "--from", "a@x", "--to", "b@x"}, "missing ']'"},
      {{"--server", ":25", "--from", "a@x", "--to", "b@x"}, "no host name"},
      {with({"--timeout", "-1"}), "--timeout '-1': expected a whole number of seconds"},
      {with({"--timeout", "1.5"}), "--timeout '1.5'"},
      {with({"--timeout", "99999999999"}), "--timeout '99999999999'"},
      {with({"--user", "ops", "--password-file", m_dir.file("nope")}),
       "--password-file " + m_dir.file("nope") + ": No such file or directory"},
      {with({"--user", "ops", "--password-file", m_dir.file("folder")}),
       "--password-file " + m_dir.file("folder") + ": not a regular file"},
      {with({"--password-file", m_dir.file("log.txt")}), "--password-file needs --user"},
      {with({"--user", "ops"}), "--user needs a password: set TARVENKEL_PASSWORD or give --password-file"},
      // A secret that every user may read is a bad configuration, named with its mode.
      {with({"--user", "ops", "--password-file", m_dir.file("open-password")}),
       m_dir.file("open-password") + ": holds a secret but every user of this machine may read it (mode 0644)",
       EX_CONFIG},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    Outcome outcome = Send(c.args);
    EXPECT_EQ(outcome.status, c.status) << shown;
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << shown << "\n" << outcome.err;
    EXPECT_EQ(outcome.out, "") << shown;
  }
}

TEST_F(TarvenkelSendUsage, PasswordOnTheCommandLineIsRefusedWithTheReason) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--password", "s3cret"},
                                        std::vector<std::string>{"--password=s3cret"}}) {
    args.insert(args.end(), {"--server", "127.0.0.1", "--from", "a@x", "--to", "b@x", "--user", "ops"});
    Outcome outcome = Send(args, "", {"TARVENKEL_PASSWORD=s3cret"});
    EXPECT_EQ(outcome.status, EX_USAGE);
    EXPECT_NE(outcome.err.find("refusing '--password'"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("ps"), std::string::npos);
    EXPECT_NE(outcome.err.find("TARVENKEL_PASSWORD"), std::string::npos);
    EXPECT_EQ(outcome.err.find("s3cret"), std::string::npos) << "the refusal must not repeat the password";
  }
}

TEST_F(TarvenkelSendUsage, UsageErrorsSendNothing) {
  LocalSmtpServer server;
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--cc", "Ops <c@x",
                          "--body", "x"});
  EXPECT_EQ(outcome.status, EX_USAGE);
  EXPECT_TRUE(server.Messages(1, 300).empty());
}

TEST_F(TarvenkelSendUsage, HelpAndVersion) {
  Outcome help = Send({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--server", "--from", "--to", "--cc", "--bcc", "--subject", "--body", "--attach",
                             "--user", "--password-file", "TARVENKEL_PASSWORD", "--timeout", "--dry-run",
                             "--no-short-dialogue", "--verbose", "--version", "Exit status"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(Send({"-h"}).out, help.out);

  Outcome version = Send({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("tarvenkel-send ") + TarvenkelVersion() + "\n");
}

class TarvenkelSendDryRun : public ::testing::Test {
protected:
  // Runs a dry run and stores its output as a message file.
  std::string DryRun(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), "--dry-run");
    Outcome outcome = Send(args, input);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    std::string path = m_dir.file("dry.eml");
    WriteFile(path, outcome.out);
    return path;
  }
  TempDir m_dir;
};

TEST_F(TarvenkelSendDryRun, PrintsAMessageThatPythonReadsBack) {
  std::string small = m_dir.file("pump log.txt");
  WriteFile(small, "abc");
  std::string binary = m_dir.file("trend.bin");
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 7919) % 256);
  WriteFile(binary, bytes);

  std::string message = DryRun({"--from", "alarms@plant.example", "--to", " Ops Desk <ops@plant.example> ;",
                                "--to", "oncall@plant.example", "--cc", "chief@plant.example", "--bcc",
                                "audit@plant.example", "--subject", "Pump 3 pressure", "--attach", small,
                                "--attach", binary},
                               "Pump 3 pressure above limit\n.5 bar over\n.\nend\n");
  EXPECT_EQ(Describe(message, {small, binary}),
            "From: alarms@plant.example\n"
            "To: Ops Desk <ops@plant.example>,<oncall@plant.example>\n"
            "Cc: <chief@plant.example>\n"
            "Bcc: -\n"
            "Subject: Pump 3 pressure\n"
            "multipart/mixed defects=0\n"
            "part text/plain filename=- text=\"Pump 3 pressure above limit\\n.5 bar over\\n.\\nend\"\n"
            "part application/octet-stream filename=pump log.txt same\n"
            "part application/octet-stream filename=trend.bin same\n");
  // Every line of the printed message ends in CR LF, as on the wire.
  std::string text = ReadFile(message);
  for (size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1))
    ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at byte " << i;
}

TEST_F(TarvenkelSendDryRun, EmptySubjectAndBodyGetTheDefaultsOfTheOneCallSend) {
  std::string message = DryRun({"--from", "a@x", "--to", "b@x", "--body", ""});
  std::string described = Describe(message);
  EXPECT_NE(described.find("Subject: Hello!\n"), std::string::npos) << described;
  EXPECT_NE(described.find("text=\"Hello!\""), std::string::npos) << described;
}

TEST_F(TarvenkelSendDryRun, OutputThatCannotBeWrittenFails) {
  std::string log = m_dir.file("log.bin");
  WriteFile(log, std::string(300000, 'x'));
  // The message is written to the descriptor as it is formatted: a full
  // device fails the run with a message, not silently.
  Outcome outcome = RunProgram({"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", Tool(), "--dry-run", "--from", "a@x",
                                "--to", "b@x", "--body", "x", "--attach", log});
  EXPECT_EQ(outcome.status, EX_IOERR) << outcome.err;
  EXPECT_EQ(outcome.err, "tarvenkel-send: cannot write the message to standard output\n");
}

class TarvenkelSendToServer : public ::testing::Test {
protected:
  TempDir m_dir;
};

TEST_F(TarvenkelSendToServer, ToCcBccAndAttachmentsArrive) {
  LocalSmtpServer server;
  std::string log = m_dir.file("log.txt");
  WriteFile(log, "line one\nline two\n");
  std::string empty = m_dir.file("empty.dat");
  WriteFile(empty, "");
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "alarms@plant.example", "--to",
                          "ops@plant.example;Chief <chief@plant.example>", "--cc", "desk@plant.example", "--bcc",
                          "audit@plant.example", "--subject", "Level alarm", "--attach", log, "--attach", empty},
                         "Tank 2 level high\n");
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, "");
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  std::string described = Describe(messages[0], {log, empty});
  EXPECT_NE(described.find("To: <ops@plant.example>,Chief <chief@plant.example>\n"), std::string::npos) << described;
  EXPECT_NE(described.find("Cc: <desk@plant.example>\nBcc: -\nSubject: Level alarm\nmultipart/mixed defects=0\n"),
            std::string::npos)
      << described;
  EXPECT_NE(described.find("text=\"Tank 2 level high\""), std::string::npos) << described;
  EXPECT_NE(described.find("filename=log.txt same\n"), std::string::npos) << described;
  EXPECT_NE(described.find("filename=empty.dat same\n"), std::string::npos) << described;
  std::string envelope = ReadFile(messages[0].substr(0, messages[0].size() - 4) + ".json");
  EXPECT_NE(envelope.find("\"rcpt_tos\": [\"ops@plant.example\", \"chief@plant.example\", \"desk@plant.example\", "
                          "\"audit@plant.example\"]"),
            std::string::npos)
      << envelope;
}

TEST_F(TarvenkelSendToServer, ChineseTypedInAUtf8OrCLocaleArrivesReadable) {
  LocalSmtpServer server;
  const std::string log = m_dir.file("报警日志.txt");
  WriteFile(log, "pressure 5.4 bar\n");
  // The C locale names only ASCII, so the texts are taken as UTF-8.
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "alarms@plant.example", "--to",
                          "值班员 <duty@plant.example>", "--subject", "报警：三号厅压力过高", "--attach", log},
                         "三号厅压力过高\n请检查。\n", {"LC_ALL=C"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  const std::string read = RunPythonScript("tests/mail/read_mail.py", {messages[0], m_dir.path()});
  for (const char* expected : {"\ndefects 0\n", "\nsubject \"报警：三号厅压力过高\"\n", "\nto \"值班员\" \"duty@plant.example\"\n",
                               "\npart text/plain utf-8 null \"三号厅压力过高\\n请检查。\"\n",
                               "\npart application/octet-stream - \"报警日志.txt\" -\n"})
    EXPECT_NE(read.find(expected), std::string::npos) << expected << "\n" << read;
  EXPECT_TRUE(ReadFile(m_dir.file("1.bin")) == "pressure 5.4 bar\n");

  // --charset names the charset of text in another one; a bad name is refused.
  outcome = Send({"--dry-run", "--charset", "GBK", "--from", "a@plant.example", "--to", "b@plant.example",
                  "--subject", "\xB1\xA8\xBE\xAF", "--body", "\xD1\xB9\xC1\xA6"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_NE(outcome.out.find("Subject: =?GBK?B?sai+rw==?=\r\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("Content-Type: text/plain; charset=GBK\r\n"), std::string::npos) << outcome.out;
}

TEST_F(TarvenkelSendDryRun, TextsAreCheckedAgainstTheirCharset) {
  const std::string gbk = "\xB1\xA8\xBE\xAF";  // "报警" in GBK, not valid UTF-8
  const struct {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string label;  // the charset= of the text part
    std::string note;   // on standard error; empty: nothing
  } cases[] = {
      // Under the C locale text that is not UTF-8 is taken for the library's GBK, and the user is told.
      {"GBK in the C locale", {"--subject", gbk, "--body", gbk}, {"LC_ALL=C"}, "GBK",
       "note: the texts are not valid UTF-8 and the locale names no charset: labelled GBK"},
      {"UTF-8 in the C locale", {"--subject", "报警", "--body", "报警"}, {"LC_ALL=C"}, "UTF-8", ""},
      // --charset always wins, and a text not valid in it is named.
      {"GBK named UTF-8", {"--charset", "UTF-8", "--subject", gbk, "--body", "ok \xE6\x8A"}, {"LC_ALL=C"}, "UTF-8",
       "warning: the subject is not valid UTF-8 text; it is sent as it is, labelled UTF-8\n"
       "tarvenkel-send: warning: the body is not valid UTF-8 text"},
      {"a name", {"--charset", "UTF-8", "--to", gbk + " <c@x>", "--body", "\xE6\x8A\xA5"}, {}, "UTF-8",
       "warning: the name of <c@x> is not valid UTF-8 text"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"--dry-run", "--from", "a@x", "--to", "b@x"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome outcome = Send(args, "", c.env);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("charset=" + c.label + "\r\n"), std::string::npos) << outcome.out;
    if (c.note.empty())
      EXPECT_EQ(outcome.err, "");
    else
      EXPECT_NE(outcome.err.find(c.note), std::string::npos) << outcome.err;
  }
}

TEST_F(TarvenkelSendToServer, OnlyToRecipientsGoThroughTheOneCallSend) {
  LocalSmtpServer server;
  std::string data = m_dir.file("data.bin");
  std::string bytes(100000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 + i / 255);
  WriteFile(data, bytes);
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "alarms@plant.example", "--to",
                          "ops@plant.example", "--to", "desk@plant.example", "--subject", "Trend", "--body",
                          "attached", "--attach", data, "--timeout", "20"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  std::string described = Describe(messages[0], {data});
  EXPECT_NE(described.find("To: <ops@plant.example>,<desk@plant.example>\nCc: \n"), std::string::npos) << described;
  EXPECT_NE(described.find("filename=data.bin same\n"), std::string::npos) << described;
}

TEST_F(TarvenkelSendToServer, LogsInWithThePasswordFromTheEnvironmentOrAFile) {
  LocalSmtpServer server("ops:pump-3-secret");
  std::vector<std::string> args = {"--server", Server(server.port()), "--from", "a@plant.example", "--to",
                                   "b@plant.example", "--body", "x", "--user", "ops", "--plaintext-login"};
  Outcome fromEnvironment = Send(args, "", {"TARVENKEL_PASSWORD=pump-3-secret"});
  EXPECT_EQ(fromEnvironment.status, 0) << fromEnvironment.err;

  WriteFile(m_dir.file("password"), "pump-3-secret\n");
  chmod(m_dir.file("password").c_str(), 0640);
  args.insert(args.end(), {"--password-file", m_dir.file("password")});
  Outcome fromFile = Send(args, "", {"TARVENKEL_PASSWORD=wrong"});
  EXPECT_EQ(fromFile.status, 0) << fromFile.err;

  auto messages = server.Messages(2);
  ASSERT_EQ(messages.size(), 2u);
  for (const std::string& m : messages)
    EXPECT_NE(ReadFile(m.substr(0, m.size() - 4) + ".json").find("\"authenticated\": true"), std::string::npos);
}

TEST_F(TarvenkelSendToServer, WrongPasswordExitsWith77AndTheServersRefusal) {
  LocalSmtpServer server("ops:pump-3-secret");
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--body", "x",
                          "--user", "ops", "--plaintext-login"},
                         "", {"TARVENKEL_PASSWORD=guess"});
  EXPECT_EQ(outcome.status, EX_NOPERM);
  EXPECT_NE(outcome.err.find("535"), std::string::npos) << outcome.err;
  EXPECT_EQ(outcome.out, "");
  EXPECT_TRUE(server.Messages(1, 300).empty());
}

TEST_F(TarvenkelSendToServer, VerboseShowsTheDialogueWithThePasswordMasked) {
  LocalSmtpServer server("ops:pump-3-secret");
  std::string body;
  for (int i = 0; i < 100; ++i) body += "reading " + std::to_string(i) + "\n";
  // By default the server's PLAIN is used, one line; the full dialogue,
  // asked for by the flag or by the configuration file, logs in with LOGIN.
  TempDir configDir;
  const std::string fullByFile = WriteConfig(configDir, "short-dialogue = no\n");
  for (int mode : {0, 1, 2}) {
    const bool full = mode != 0;
    SCOPED_TRACE(mode == 0 ? "default" : mode == 1 ? "--no-short-dialogue" : "short-dialogue = no");
    std::vector<std::string> args = {"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--cc", "c@x",
                                     "--user", "ops", "--verbose", "--plaintext-login"};
    if (mode == 1) args.push_back("--no-short-dialogue");
    std::vector<std::string> env = {"TARVENKEL_PASSWORD=pump-3-secret"};
    if (mode == 2) env.push_back(fullByFile);
    Outcome outcome = Send(args, body, env);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::string& trace = outcome.err;
    EXPECT_NE(trace.find("S: 220 "), std::string::npos) << trace;
    EXPECT_NE(trace.find("C: EHLO "), std::string::npos) << trace;
    if (full) {
      EXPECT_NE(trace.find("C: AUTH LOGIN\n"), std::string::npos) << trace;
      EXPECT_NE(trace.find("C: " + Base64("ops") + "\n"), std::string::npos) << trace;
      EXPECT_NE(trace.find("C: ******** (password)\nS: 235"), std::string::npos) << trace;
    } else {
      EXPECT_NE(trace.find("C: AUTH PLAIN ********\nS: 235"), std::string::npos) << trace;
    }
    EXPECT_EQ(trace.find(Base64("pump-3-secret")), std::string::npos) << trace;
    EXPECT_EQ(trace.find("pump-3-secret"), std::string::npos) << trace;
    EXPECT_NE(trace.find("C: MAIL From: <a@x>\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("C: RCPT TO: <c@x>\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("C: Subject: Hello!\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("more lines"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("reading 99"), std::string::npos) << "long message data is cut short";
    EXPECT_NE(trace.find("C: .\nS: 250 "), std::string::npos) << trace;
    EXPECT_NE(trace.find("C: QUIT\nS: 221"), std::string::npos) << trace;
  }
}

TEST_F(TarvenkelSendToServer, VerboseFollowsCommandsSentTogether) {
  // MAIL, RCPT and DATA go out before their replies; with CHUNKING the
  // message is in BDAT chunks: either way the trace shows the first lines
  // of the data only, and the commands around it as commands.
  std::string body;
  for (int i = 0; i < 100; ++i) body += "reading " + std::to_string(i) + "\n";
  struct Case {
    const char* name;
    SmtpScript script;
    const char* end;  // how the trace ends
  } cases[] = {
      {"PIPELINING",
       SmtpScript()
           .Send("220 scripted\r\n")
           .Reply("250-hello\r\n250 PIPELINING\r\n")
           .ReadLine()
           .ReadLine()
           .ReadLine()
           .Send("250 ok\r\n250 ok\r\n354 go on\r\n")
           .ReadData()
           .ReadLine()
           .Send("250 queued\r\n221 bye\r\n"),
       "not shown]\nC: .\nC: QUIT\nS: 250 queued\nS: 221 bye\n"},
      {"PIPELINING and CHUNKING",
       SmtpScript()
           .Send("220 scripted\r\n")
           .Reply("250-hello\r\n250-PIPELINING\r\n250 CHUNKING\r\n")
           .ReadLine()
           .ReadLine()
           .ReadChunk()
           .ReadLine()
           .Send("250 ok\r\n250 ok\r\n250 queued\r\n221 bye\r\n"),
       "not shown]\nC: QUIT\nS: 250 ok\nS: 250 ok\nS: 250 queued\nS: 221 bye\n"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedSmtpServer server(std::move(c.script));
    Outcome outcome = Send({"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--timeout", "5",
                            "--verbose"},
                           body);
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    const std::string& trace = outcome.err;
    EXPECT_NE(trace.find("C: MAIL From: <a@x>\nC: RCPT TO: <b@x>\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("C: Subject: Hello!\n"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("reading 99"), std::string::npos) << "long message data is cut short";
    EXPECT_TRUE(trace.ends_with(c.end)) << trace;
  }
}

TEST_F(TarvenkelSendToServer, ServerThatCannotBeReachedIsNamed) {
  const std::string server = Server(ClosedPort());
  Outcome outcome = Send({"--server", server, "--from", "a@x", "--to", "b@x", "--body", "x"});
  EXPECT_EQ(outcome.status, EX_TEMPFAIL);
  EXPECT_EQ(outcome.err, "tarvenkel-send: not sent: cannot connect to " + server + ": Connection refused\n");
}

TEST_F(TarvenkelSendToServer, RejectedRecipientIsAWarningWhenTheMessageIsAccepted) {
  ScriptedSmtpServer server(SmtpScript()
                                .Send("220 scripted\r\n")
                                .Reply("250 hello\r\n")
                                .Reply("250 sender ok\r\n")
                                .Reply("250 ok\r\n")
                                .Reply("550 no such user\r\n")
                                .Reply("354 go on\r\n")
                                .ReadData()
                                .Send("250 queued\r\n")
                                .Reply("221 bye\r\n")
                                .Close());
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--cc", "gone@x",
                          "--body", "x"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err,
            "tarvenkel-send: warning: recipient refused: gone@x\ntarvenkel-send: server said: 550 no such user\n");
  EXPECT_NE(server.Received().find("RCPT TO: <gone@x>\r\n"), std::string::npos);
}

TEST_F(TarvenkelSendToServer, RefusedMessageSaysWhatTheServerSaid) {
  ScriptedSmtpServer server(SmtpScript()
                                .Send("220 scripted\r\n")
                                .Reply("250 hello\r\n")
                                .Reply("250 sender ok\r\n")
                                .Reply("250 ok\r\n")
                                .Reply("354 go on\r\n")
                                .ReadData()
                                .Send("554 content rejected\r\n")
                                .Reply("221 bye\r\n")
                                .Close());
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--body", "x"});
  EXPECT_EQ(outcome.status, EX_DATAERR);
  EXPECT_NE(outcome.err.find("not sent: 554:SMTP server error (" + Server(server.port()) + ")\n"), std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("server said: 554 content rejected\n"), std::string::npos) << outcome.err;
}

TEST_F(TarvenkelSendToServer, SilentServerEndsAtTheTimeout) {
  ScriptedSmtpServer server(SmtpScript().Silent());
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--body", "x",
                          "--timeout", "1"});
  EXPECT_EQ(outcome.status, EX_TEMPFAIL);
  EXPECT_NE(outcome.err.find("Server didn't respond."), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("reason: Connection timed out\n"), std::string::npos) << outcome.err;
}


TEST_F(TarvenkelSendToServer, StartTlsAndImplicitTlsLogInOverAVerifiedConnection) {
  TestCertificates certs;
  for (const char* mode : {"--starttls", "--tls"}) {
    std::vector<std::string> serverArgs = {"--tls-cert", certs.ServerCert(), "--tls-key", certs.ServerKey()};
    if (std::string(mode) == "--tls") serverArgs.push_back("--implicit-tls");
    LocalSmtpServer server("ops:pump-3-secret", serverArgs);
    std::vector<std::string> args = {"--server", Server(server.port()), "--from", "a@plant.example", "--to",
                                     "b@plant.example", "--body", "over TLS", "--user", "ops", mode};
    Outcome untrusted = Send(args, "", {"TARVENKEL_PASSWORD=pump-3-secret"});
    EXPECT_EQ(untrusted.status, EX_TEMPFAIL) << mode;
    EXPECT_NE(untrusted.err.find("Server certificate rejected"), std::string::npos) << mode << untrusted.err;

    args.insert(args.end(), {"--cafile", certs.CAFile()});
    Outcome trusted = Send(args, "", {"TARVENKEL_PASSWORD=pump-3-secret"});
    EXPECT_EQ(trusted.status, 0) << mode << trusted.err;
    auto messages = server.Messages(1);
    ASSERT_EQ(messages.size(), 1u) << mode;
    EXPECT_NE(ReadFile(messages[0]).find("over TLS"), std::string::npos);
  }
}

TEST_F(TarvenkelSendToServer, ARelayByAddressWithItsOwnCertificate) {
  TestCertificates certs;
  TempDir dir;
  const std::vector<std::string> message = {"--from", "a@plant.example", "--to", "b@plant.example", "--body", "relay"};
  auto send = [&](const LocalSmtpServer& server, std::vector<std::string> args) {
    args.insert(args.begin(), {"--server", Server(server.port())});
    args.insert(args.end(), message.begin(), message.end());
    return Send(args);
  };
  {
    // A self-signed relay, pinned by what openssl prints for its certificate.
    LocalSmtpServer relay("", {"--tls-cert", certs.SelfSignedCert(), "--tls-key", certs.SelfSignedKey(),
                               "--implicit-tls"});
    const std::string pin = TestCertificates::Fingerprint(certs.SelfSignedCert());
    const std::string other = TestCertificates::Fingerprint(certs.ServerCert());
    Outcome pinned = send(relay, {"--tls", "--tls-fingerprint", pin.substr(pin.find('=') + 1)});
    EXPECT_EQ(pinned.status, 0) << pinned.err;
    EXPECT_EQ(relay.Messages(1).size(), 1u);
    // Another certificate than the pinned one is no passing failure.
    Outcome mismatch = send(relay, {"--tls", "--tls-fingerprint", other});
    EXPECT_EQ(mismatch.status, EX_CONFIG);
    EXPECT_NE(mismatch.err.find("fingerprint is " + pin.substr(pin.find('=') + 1) + ", expected " +
                                other.substr(other.find('=') + 1)),
              std::string::npos)
        << mismatch.err;
    EXPECT_NE(mismatch.err.find("hint: the server's certificate is not the one --tls-fingerprint"), std::string::npos);
    EXPECT_EQ(relay.Messages(1, 500).size(), 1u);
  }
  {
    // Reached by address, checked as the name its certificate bears; from
    // the configuration file.
    LocalSmtpServer relay("", {"--tls-cert", certs.OtherNameCert(), "--tls-key", certs.OtherNameKey()});
    Outcome named = Send(Join({"--server", Server(relay.port())}, message), "",
                         {WriteConfig(dir, "security = starttls\ncafile = " + certs.CAFile() +
                                               "\ntls-server-name = mail.example.com\n")});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(relay.Messages(1).size(), 1u);
  }
  {
    // A relay that requires a client certificate of the other CA.
    LocalSmtpServer relay("", {"--tls-cert", certs.ServerCert(), "--tls-key", certs.ServerKey(), "--tls-client-ca",
                               certs.OtherCAFile()});
    const std::vector<std::string> tls = {"--starttls", "--cafile", certs.CAFile()};
    Outcome without = send(relay, tls);
    EXPECT_NE(without.status, 0);
    chmod(certs.ClientKey().c_str(), 0600);
    Outcome with = send(relay, Join(tls, {"--tls-cert-file", certs.ClientCert(), "--tls-key-file", certs.ClientKey()}));
    EXPECT_EQ(with.status, 0) << with.err;
    EXPECT_EQ(relay.Messages(1).size(), 1u);
    // A key that is not the certificate's is a configuration to fix.
    chmod(certs.ServerKey().c_str(), 0600);
    Outcome wrongKey =
        send(relay, Join(tls, {"--tls-cert-file", certs.ClientCert(), "--tls-key-file", certs.ServerKey()}));
    EXPECT_EQ(wrongKey.status, EX_CONFIG);
    EXPECT_NE(wrongKey.err.find("does not belong to the certificate"), std::string::npos) << wrongKey.err;
  }
}

class TarvenkelSendConfig : public ::testing::Test {
protected:
  TempDir m_dir;
};

TEST_F(TarvenkelSendConfig, TheFileGivesDefaultsAndTheFlagsWin) {
  LocalSmtpServer server;
  const std::string xdg = WriteConfig(m_dir, "# alarms\nserver = 127.0.0.1:" + std::to_string(ClosedPort()) +
                                                 "\nfrom = file@plant.example\ntimeout = 20\n");
  const std::vector<std::string> message = {"--to", "ops@plant.example", "--body", "x"};
  Outcome fromFile = Send(message, "", {xdg});
  EXPECT_EQ(fromFile.status, EX_TEMPFAIL);
  EXPECT_NE(fromFile.err.find("cannot connect to 127.0.0.1:"), std::string::npos) << fromFile.err;

  std::vector<std::string> args = message;
  args.insert(args.end(), {"--server", Server(server.port())});
  Outcome serverFlag = Send(args, "", {xdg});
  EXPECT_EQ(serverFlag.status, 0) << serverFlag.err;
  args.insert(args.end(), {"--from", "flag@plant.example"});
  Outcome bothFlags = Send(args, "", {xdg});
  EXPECT_EQ(bothFlags.status, 0) << bothFlags.err;
  auto messages = server.Messages(2);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(EnvelopeHas(messages[0], "\"mail_from\": \"file@plant.example\""));
  EXPECT_TRUE(EnvelopeHas(messages[1], "\"mail_from\": \"flag@plant.example\""));
}

TEST_F(TarvenkelSendConfig, ABadFileIsRefusedBeforeAnythingIsSentWith78) {
  const std::string conf = m_dir.file("tarvenkel/send.conf");
  const struct {
    std::string text;
    mode_t mode;
    std::string message;
  } cases[] = {
      {"user = ops\npassword = pump-3\n", 0644,
       conf + ": holds a secret but every user of this machine may read it (mode 0644)"},
      {"server = mail\nsever = mail\n", 0600, conf + ": line 2: unknown key 'sever' (did you mean 'server'?)"},
      {"server = mail:x\n", 0600, "server in " + conf + " 'mail:x': bad port 'x'"},
      {"server = mail\nsecurity = starttls\ncafile = /nonexistent/ca.pem\n", 0644,
       "cafile in " + conf + " '/nonexistent/ca.pem': No such file or directory"},
      {"server = mail\ncharset = klingon\n", 0644, "charset in " + conf + ": 'klingon' is not a charset"},
      {"server = mail\nuser = ops\npassword-file = /nonexistent/pw\n", 0644,
       "password-file in " + conf + ": /nonexistent/pw: No such file or directory"},
  };
  for (const auto& c : cases) {
    const std::string xdg = WriteConfig(m_dir, c.text, c.mode);
    Outcome normal = Send({"--to", "b@x", "--from", "a@x", "--body", "x"}, "", {xdg});
    EXPECT_EQ(normal.status, EX_CONFIG) << c.text;
    EXPECT_NE(normal.err.find(c.message), std::string::npos) << normal.err;
    Outcome sendmail = Sendmail(m_dir, {"-t"}, "To: b@x\n\nx\n", {xdg});
    EXPECT_EQ(sendmail.status, EX_CONFIG) << c.text << sendmail.err;
    EXPECT_NE(sendmail.err.find(c.message), std::string::npos) << sendmail.err;
  }
  Outcome missing = Send({"--config", m_dir.file("none.conf"), "--to", "b@x", "--from", "a@x", "--body", "x"});
  EXPECT_EQ(missing.status, EX_CONFIG);
  EXPECT_NE(missing.err.find(m_dir.file("none.conf") + ": No such file or directory"), std::string::npos);
}

TEST_F(TarvenkelSendConfig, AFileReadableByAllThatNamesAPrivatePasswordFileServesEveryUser) {
  // The layout of a machine whose every cron job sends through one login:
  // the configuration readable by all, the password in a file of its own.
  LocalSmtpServer server("ops:pump-3-secret");
  WriteFile(m_dir.file("password"), "pump-3-secret\n");
  chmod(m_dir.file("password").c_str(), 0640);
  const std::string xdg =
      WriteConfig(m_dir,
                  "\xEF\xBB\xBFserver = 127.0.0.1:" + std::to_string(server.port()) +
                      "\nfrom = Station 7 <cron@plant.example>\nuser = ops\npassword-file = " + m_dir.file("password") +
                      "\nplaintext-login = yes\n",
                  0644);
  Outcome normal = Send({"--to", "ops@plant.example", "--body", "x"}, "", {xdg});
  EXPECT_EQ(normal.status, 0) << normal.err;
  Outcome sendmail = Sendmail(m_dir, {"-t"}, "To: ops@plant.example\nSubject: s\n\nx\n", {xdg});
  EXPECT_EQ(sendmail.status, 0) << sendmail.err;
  auto messages = server.Messages(2);
  ASSERT_EQ(messages.size(), 2u);
  for (const std::string& m : messages) {
    EXPECT_TRUE(EnvelopeHas(m, "\"mail_from\": \"cron@plant.example\""));
    EXPECT_TRUE(EnvelopeHas(m, "\"authenticated\": true"));
    const std::string wire = ReadFile(m);
    const size_t from = wire.find("\r\nFrom: ") == std::string::npos ? wire.find("From: ") : wire.find("\r\nFrom: ") + 2;
    EXPECT_NE(wire.substr(from, wire.find('\n', from) - from).find("Station 7"), std::string::npos) << wire;
  }
}

class TarvenkelSendAsSendmail : public ::testing::Test {
protected:
  TempDir m_dir;
};

TEST_F(TarvenkelSendAsSendmail, ACronMessageGoesToItsHeaderRecipientsWithoutItsBccLine) {
  LocalSmtpServer server;
  const std::string xdg = WriteConfig(m_dir, "server = 127.0.0.1:" + std::to_string(server.port()) +
                                                 "\nfrom = cron@plant.example\n");
  const std::string subject = "Cron <root@plant> 备份完成";
  const std::string input = "From: root (Cron Daemon)\nTo: ops@plant.example\nBcc: audit@plant.example,\n"
                            " Archive <archive@plant.example>\nSubject: " + subject +
                            "\nContent-Type: text/plain; charset=UTF-8\n\nbackup done\n.hidden\n";
  // As cron calls it, with -t added and the recipient repeated as an argument.
  Outcome outcome = Sendmail(m_dir, {"-FCronDaemon", "-i", "-B8BITMIME", "-oem", "-t", "ops@plant.example"}, input,
                             {xdg});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(EnvelopeHas(messages[0], "\"mail_from\": \"cron@plant.example\", \"rcpt_tos\": [\"ops@plant.example\", "
                                       "\"audit@plant.example\", \"archive@plant.example\"]"));
  const std::string wire = ReadFile(messages[0]);
  EXPECT_EQ(wire.find("Bcc"), std::string::npos) << wire;
  EXPECT_EQ(wire.find("archive@"), std::string::npos) << wire;
  EXPECT_EQ(wire.rfind("From: root (Cron Daemon)\r\nTo: ops@plant.example\r\nSubject: " + subject +
                           "\r\nContent-Type: text/plain; charset=UTF-8\r\nDate: ",
                       0),
            0u)
      << wire;
  EXPECT_NE(wire.find("\r\nMessage-ID: <"), std::string::npos) << wire;
  EXPECT_NE(wire.find("\r\n\r\nbackup done\r\n.hidden\r\n"), std::string::npos) << wire;
  for (size_t i = wire.find('\n'); i != std::string::npos; i = wire.find('\n', i + 1))
    ASSERT_TRUE(i > 0 && wire[i - 1] == '\r') << "bare LF at byte " << i;

  // Without -t only the arguments are recipients; -f names the sender and -F
  // the name of the From line the message lacks.
  outcome = Sendmail(m_dir, {"-f", "jobs@plant.example", "-F", "Nightly \"jobs\"", "desk@plant.example"},
                     "To: ops@plant.example\nSubject: x\n\nx\n", {xdg});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  messages = server.Messages(2);
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(EnvelopeHas(messages[1],
                          "\"mail_from\": \"jobs@plant.example\", \"rcpt_tos\": [\"desk@plant.example\"]"));
  EXPECT_NE(ReadFile(messages[1]).find("\r\nFrom: \"Nightly \\\"jobs\\\"\" <jobs@plant.example>\r\n"),
            std::string::npos)
      << ReadFile(messages[1]);
}

// A message many times the size of the reading and spooling buffers, with
// every line end there is and a Bcc line hidden behind a bare CR, arrives
// whole; a NUL byte stops the message before any connection is made.
TEST_F(TarvenkelSendAsSendmail, ALargeMessageArrivesWholeAndANulSendsNothing) {
  LocalSmtpServer server;
  std::string body, expected;
  for (int i = 0; body.size() < 5 * 1024 * 1024; ++i) {
    const std::string line = (i % 7 == 0 ? ".line " : "line ") + std::to_string(i) + std::string(i % 150, 'x');
    const char* end = i % 3 == 0 ? "\n" : i % 3 == 1 ? "\r\n" : "\r";
    body += line + end;
    expected += line + "\r\n";
  }
  const std::string input = "To: \"john smith\"@plant.example\nSubject: nightly\rbcc : audit@plant.example\n"
                            "Date: Thu, 10 Dec 2026 10:00:00 +0000\nMessage-ID: <1@plant.example>\n\n" + body;
  Outcome outcome = Sendmail(m_dir, {"--server", Server(server.port()), "-f", "a@plant.example", "-t"}, input);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  auto messages = server.Messages(1, 20000);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(EnvelopeHas(messages[0], "\"rcpt_tos\": [\"\\\"john smith\\\"@plant.example\", "
                                       "\"audit@plant.example\"]"));
  const std::string wire = ReadFile(messages[0]);
  const std::string header = "To: \"john smith\"@plant.example\r\nSubject: nightly\r\n"
                             "Date: Thu, 10 Dec 2026 10:00:00 +0000\r\nMessage-ID: <1@plant.example>\r\n"
                             "From: a@plant.example\r\n\r\n";
  EXPECT_EQ(wire.substr(0, header.size()), header);
  EXPECT_EQ(wire.size(), header.size() + expected.size());
  EXPECT_TRUE(wire.compare(header.size(), std::string::npos, expected) == 0) << "the body differs";

  Outcome refused = Sendmail(m_dir, {"--server", Server(ClosedPort()), "-f", "a@x", "-t"},
                             std::string("To: b@x\nBcc: c@x\n\nline\0 4\n", 26));
  EXPECT_EQ(refused.status, EX_DATAERR) << refused.err;
  EXPECT_NE(refused.err.find("line 4 of the message holds a NUL byte"), std::string::npos) << refused.err;
}

TEST_F(TarvenkelSendAsSendmail, ExitCodesSayWhatTheServerDid) {
  auto opened = [] { return SmtpScript().Send("220 scripted\r\n").Reply("250 hello\r\n").Reply("250 sender ok\r\n"); };
  auto ended = [](SmtpScript script) { return script.Reply("250 reset\r\n").Reply("221 bye\r\n").Close(); };
  const struct {
    const char* what;
    SmtpScript script;
    int status;
  } cases[] = {
      {"451 after the data", ended(opened().Reply("250 ok\r\n").Reply("354 go\r\n").ReadData().Send("451 4.3.0 later\r\n")),
       EX_TEMPFAIL},
      {"554 after the data", ended(opened().Reply("250 ok\r\n").Reply("354 go\r\n").ReadData().Send("554 5.7.1 spam\r\n")),
       EX_DATAERR},
      {"the recipient refused", ended(opened().Reply("550 5.1.1 no such user\r\n").Reply("554 no recipients\r\n")),
       EX_NOUSER},
      {"the recipient refused for now", ended(opened().Reply("450 4.2.1 busy\r\n").Reply("554 no recipients\r\n")),
       EX_TEMPFAIL},
      {"the sender refused",
       SmtpScript().Send("220 scripted\r\n").Reply("250 hello\r\n").Reply("553 5.1.8 no\r\n").Reply("221 bye\r\n"),
       EX_DATAERR},
      {"a 554 greeting", SmtpScript().Send("554 no service\r\n").Close(), EX_UNAVAILABLE},
  };
  for (const auto& c : cases) {
    ScriptedSmtpServer server(c.script);
    Outcome outcome = Sendmail(m_dir, {"--server", Server(server.port()), "-f", "a@x", "b@x"}, "Subject: s\n\nx\n");
    EXPECT_EQ(outcome.status, c.status) << c.what << "\n" << outcome.err;
  }
  Outcome unreachable = Sendmail(m_dir, {"--server", Server(ClosedPort()), "-f", "a@x", "b@x"}, "Subject: s\n\nx\n");
  EXPECT_EQ(unreachable.status, EX_TEMPFAIL) << unreachable.err;
  for (std::vector<std::string> usage : {std::vector<std::string>{"-f", "a@x"}, {"-t", "-f", "a@x"},
                                         {"-q", "b@x"}, {"-bp"}, {"b@x"}, {"--subject", "s", "b@x"}}) {
    usage.insert(usage.end(), {"--server", "127.0.0.1"});
    Outcome outcome = Sendmail(m_dir, usage, "Subject: s\n\nx\n");
    EXPECT_EQ(outcome.status, EX_USAGE) << usage[0] << "\n" << outcome.err;
  }
}

// One table of exit codes for both ways of calling, in the full dialogue
// and in the short one, where the commands of a message go out together
// (PIPELINING) and the replies come back in order.
class TarvenkelSendExitCodes : public ::testing::Test {
protected:
  // The dialogue up to MAIL FROM: greeting, the hello (with PIPELINING and
  // the login mechanisms offered in the short dialogue), and a login's
  // replies where one is asked for.
  static SmtpScript Opened(bool shortDialogue, const std::vector<std::string>& login = {}) {
    SmtpScript script;
    script.Send("220 scripted\r\n").Reply(shortDialogue ? "250-hello\r\n250-AUTH LOGIN PLAIN\r\n250 PIPELINING\r\n"
                                                        : "250-hello\r\n250 AUTH LOGIN PLAIN\r\n");
    for (const std::string& reply : login) script.Reply(reply);
    return script;
  }
  // A server that answers the login with the reply: at once in the short
  // dialogue (AUTH PLAIN with its initial response), after the two LOGIN
  // prompts in the long one.
  static SmtpScript RefusedLogin(bool shortDialogue, const std::string& reply) {
    return Opened(shortDialogue, shortDialogue ? std::vector<std::string>{reply}
                                               : std::vector<std::string>{"334 VXNlcm5hbWU6\r\n",
                                                                          "334 UGFzc3dvcmQ6\r\n", reply})
        .Close();
  }
  // The replies to MAIL FROM, the two RCPT TOs and DATA, one command each.
  static SmtpScript& Envelope(SmtpScript& script, const char* rcpt1, const char* rcpt2, const char* data) {
    return script.Reply("250 sender ok\r\n").Reply(rcpt1).Reply(rcpt2).Reply(data);
  }
  // What ends a failed transaction: RSET or QUIT, each answered 221, which
  // leaves the client nothing more to say.
  static SmtpScript& Ended(SmtpScript& script) { return script.Reply("221 bye\r\n").Close(); }

  TempDir m_dir;
};

TEST_F(TarvenkelSendExitCodes, BothWaysAndBothDialoguesTellRetryFromGiveUp) {
  struct Row {
    const char* what;
    std::function<SmtpScript(bool shortDialogue)> script;
    int status;
    const char* said;  // on standard error; may be empty
    bool login = false;
    const char* unsaid = nullptr;  // what standard error must not hold
  };
  const Row rows[] = {
      {"sent", [](bool s) { auto o = Opened(s); return Ended(Envelope(o, "250 ok\r\n", "250 ok\r\n", "354 go\r\n").ReadData().Send("250 queued\r\n")); },
       EX_OK, ""},
      {"451 after the data",
       [](bool s) { auto o = Opened(s); return Ended(Envelope(o, "250 ok\r\n", "250 ok\r\n", "354 go\r\n").ReadData().Send("451 4.3.0 later\r\n")); },
       EX_TEMPFAIL, "server said: 451 4.3.0 later"},
      {"554 after the data",
       [](bool s) { auto o = Opened(s); return Ended(Envelope(o, "250 ok\r\n", "250 ok\r\n", "354 go\r\n").ReadData().Send("554 5.7.1 spam\r\n")); },
       EX_DATAERR, "server said: 554 5.7.1 spam"},
      {"every recipient refused",
       [](bool s) { auto o = Opened(s); return Ended(Envelope(o, "550 5.1.1 no such user\r\n", "550 5.1.1 no such user\r\n", "554 no recipients\r\n")); },
       EX_NOUSER, "server said: 550 5.1.1 no such user\ntarvenkel-send: error: recipient refused: b@x\n"
                  "tarvenkel-send: server said: 550 5.1.1 no such user\ntarvenkel-send: not sent: every recipient was refused\n",
       false, "554 no recipients"},
      {"every recipient refused, one for now",
       [](bool s) { auto o = Opened(s); return Ended(Envelope(o, "450 4.2.1 busy\r\n", "550 5.1.1 no such user\r\n", "554 no recipients\r\n")); },
       EX_TEMPFAIL, "not sent: every recipient was refused"},
      {"the sender refused",
       [](bool s) {
         auto o = Opened(s);
         o.Reply("553 5.1.8 no\r\n");
         if (s) o.Reply("503 no sender\r\n").Reply("503 no sender\r\n").Reply("503 no sender\r\n");
         return Ended(o);
       },
       EX_DATAERR, "server said: 553 5.1.8 no"},
      {"a time-out after a refused recipient",
       [](bool s) { auto o = Opened(s); return o.Reply("250 sender ok\r\n").Reply("550 5.1.1 no such user\r\n").Reply("250 ok\r\n").Silent(); },
       EX_TEMPFAIL, "not sent: Timed out"},
      {"the connection lost after a refused recipient",
       [](bool s) { auto o = Opened(s); return o.Reply("250 sender ok\r\n").Reply("550 5.1.1 no such user\r\n").Reply("250 ok\r\n").ReadLine().Close(); },
       EX_TEMPFAIL, "reason: "},
      {"a 554 greeting", [](bool) { return SmtpScript().Send("554 no service\r\n").Close(); }, EX_UNAVAILABLE,
       "server said: 554 no service"},
      {"a 421 greeting", [](bool) { return SmtpScript().Send("421 too busy\r\n").Close(); }, EX_TEMPFAIL,
       "server said: 421 too busy"},
      {"the login refused", [](bool s) { return RefusedLogin(s, "535 5.7.8 bad credentials\r\n"); }, EX_NOPERM,
       "server said: 535 5.7.8 bad credentials", true},
      {"the login refused for now", [](bool s) { return RefusedLogin(s, "454 4.7.0 try later\r\n"); }, EX_TEMPFAIL,
       "server said: 454 4.7.0 try later", true},
  };
  for (const Row& row : rows) {
    for (bool shortDialogue : {false, true}) {
      for (bool sendmail : {false, true}) {
        SCOPED_TRACE(std::string(row.what) + (shortDialogue ? ", short dialogue" : ", full dialogue") +
                     (sendmail ? ", sendmail entry" : ", normal"));
        ScriptedSmtpServer server(row.script(shortDialogue));
        std::vector<std::string> args = {"--server", Server(server.port()), "--timeout", "1"};
        if (!shortDialogue) args.push_back("--no-short-dialogue");
        if (row.login) args.insert(args.end(), {"--user", "ops", "--plaintext-login"});
        const std::vector<std::string> env = {"TARVENKEL_PASSWORD=pump-3"};
        Outcome outcome;
        if (sendmail) {
          args.insert(args.end(), {"-f", "a@x", "gone@x", "b@x"});
          outcome = Sendmail(m_dir, args, "Subject: s\n\nx\n", env);
        } else {
          // The full dialogue goes through the one-call send, the short one with a whole message.
          args.insert(args.end(), {"--from", "a@x", "--to", "gone@x", shortDialogue ? "--cc" : "--to", "b@x", "--body", "x"});
          outcome = Send(args, "", env);
        }
        EXPECT_EQ(outcome.status, row.status) << outcome.err;
        EXPECT_NE(outcome.err.find(row.said), std::string::npos) << outcome.err;
        if (row.unsaid) {
          EXPECT_EQ(outcome.err.find(row.unsaid), std::string::npos) << outcome.err;
        }
      }
    }
  }
}

class TarvenkelSendMessages : public ::testing::Test {
protected:
  TempDir m_dir;
};

TEST_F(TarvenkelSendMessages, AddressListsAndASendersName) {
  LocalSmtpServer server;
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "Station 7 <alarm@plant.example>", "--to",
                          "\"Doe, John\" <john@plant.example>, desk@plant.example; \"night shift\"@plant.example",
                          "--bcc", "audit: a1@plant.example, a2@plant.example;", "--body", "x"});
  ASSERT_EQ(outcome.status, 0) << outcome.err;
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(EnvelopeHas(messages[0], "\"mail_from\": \"alarm@plant.example\", \"rcpt_tos\": [\"john@plant.example\", "
                                       "\"desk@plant.example\", \"\\\"night shift\\\"@plant.example\", "
                                       "\"a1@plant.example\", \"a2@plant.example\"]"));
  EXPECT_NE(ReadFile(messages[0]).find("From: Station 7 <alarm@plant.example>\r\n"), std::string::npos)
      << ReadFile(messages[0]);
}

TEST_F(TarvenkelSendMessages, AMissingAttachmentIsLeftOutAndTheAlarmStillGoes) {
  LocalSmtpServer server;
  const std::string log = m_dir.file("log.txt");
  WriteFile(log, "pump 3\n");
  const std::string missing = m_dir.file("gone.log");
  Outcome outcome = Send({"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--subject", "Pump 3",
                          "--attach", missing, "--attach", log, "--attach", "/dev/null"},
                         "pressure high\n");
  EXPECT_EQ(outcome.status, EX_NOINPUT) << outcome.err;
  EXPECT_EQ(outcome.err, "tarvenkel-send: warning: --attach '" + missing +
                             "': No such file or directory; the message goes without it\n"
                             "tarvenkel-send: warning: --attach '/dev/null': not a regular file; the message goes "
                             "without it\n");
  auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  const std::string described = Describe(messages[0], {log});
  EXPECT_NE(described.find("text=\"pressure high\"\npart application/octet-stream filename=log.txt same\n"),
            std::string::npos)
      << described;
  EXPECT_EQ(described.find("gone.log"), std::string::npos) << described;
}

TEST_F(TarvenkelSendMessages, ALoginUpgradesWhereItCanAndGoesInClearOnlyWhenAllowed) {
  TestCertificates certs;
  LocalSmtpServer startTlsOnly("ops:pump-3-secret", {"--tls-cert", certs.ServerCert(), "--tls-key", certs.ServerKey()});
  LocalSmtpServer plain("ops:pump-3-secret");
  const std::vector<std::string> env = {"TARVENKEL_PASSWORD=pump-3-secret"};
  auto args = [&](const LocalSmtpServer& server, std::vector<std::string> extra) {
    std::vector<std::string> all = {"--server", Server(server.port()), "--from", "a@x", "--to", "b@x", "--body", "x",
                                    "--user", "ops", "--cafile", certs.CAFile()};
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  // A server that takes a login only after STARTTLS gets it over TLS, with
  // or without leave to log in unencrypted.
  for (std::vector<std::string> extra : {std::vector<std::string>{}, {"--plaintext-login"}}) {
    Outcome outcome = Send(args(startTlsOnly, extra), "", env);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
  }
  EXPECT_EQ(startTlsOnly.AuthLog(), "PLAIN tls ok\nPLAIN tls ok\n");
  // The upgrade checks the certificate as --starttls does, and says what to give.
  std::vector<std::string> untrusted = args(startTlsOnly, {});
  untrusted.resize(untrusted.size() - 2);
  Outcome rejected = Send(untrusted, "", env);
  EXPECT_EQ(rejected.status, EX_TEMPFAIL);
  EXPECT_NE(rejected.err.find("Server certificate rejected"), std::string::npos) << rejected.err;
  EXPECT_NE(rejected.err.find("hint: a login upgrades with STARTTLS where the server offers it: give --cafile"),
            std::string::npos)
      << rejected.err;
  EXPECT_EQ(startTlsOnly.AuthLog(), "PLAIN tls ok\nPLAIN tls ok\n");
  // A server without STARTTLS gets the password only with leave.
  Outcome refused = Send(args(plain, {}), "", env);
  EXPECT_EQ(refused.status, EX_CONFIG);
  EXPECT_NE(refused.err.find("Login refused: the connection is not encrypted"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("add --plaintext-login (plaintext-login = yes)"), std::string::npos) << refused.err;
  EXPECT_EQ(plain.AuthLog(), "");
  Outcome allowed = Send(args(plain, {"--plaintext-login"}), "", env);
  EXPECT_EQ(allowed.status, 0) << allowed.err;
  EXPECT_EQ(plain.AuthLog(), "PLAIN plain ok\n");
  // TLS from the first byte against a plain port says what fits instead.
  Outcome wrongPort = Send({"--server", Server(plain.port()), "--from", "a@x", "--to", "b@x", "--body", "x", "--tls"});
  EXPECT_EQ(wrongPort.status, EX_TEMPFAIL);
  EXPECT_NE(wrongPort.err.find("hint: the port does not speak TLS from the first byte: use --starttls"),
            std::string::npos)
      << wrongPort.err;
}

}  // namespace
}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// The one-call send of an alarm in Chinese, from a GBK host, a UTF-8 host,
// and a host in code page 936 that holds UTF-8 text and says so with
// SetCharset, through aiosmtpd: what the server stored reads back, in
// Python's email package, as the texts the host meant.
#include "framework/core/code_page.h"
#include "framework/core/string_array.h"
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"
#include "tests/support/mime_words.h"
#include "tests/support/smtp_client.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace tarvenkel::test;

class ChineseNotification : public ::testing::TestWithParam<HostCharset> {};

TEST_P(ChineseNotification, ArrivesReadableAndWhole) {
  const HostCharset host = GetParam();
  const UINT saved = AfxGetAnsiCodePage();
  AfxSetAnsiCodePage(host.nCodePage);
  auto text = [&](const std::string& utf8) {
    std::string converted;
    EXPECT_TRUE(Convert(utf8, "UTF-8", host.szCharset, converted));
    return CString(std::string_view(converted));
  };
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>(i * 37 % 256);
  const CString path = CString(std::string_view(dir.path())) + "/" + text("淺报警日志.txt");
  WriteFile(path.str(), bytes);

  LocalSmtpServer server;
  CSMTP smtp;
  Configure(smtp, {.port = server.port(), .timeout = 20, .sender = "alarm@plant.example"});
  if (std::string(AfxGetCodePageCharset(host.nCodePage)) != host.szCharset) {
    EXPECT_TRUE(smtp.SetCharset(host.szCharset));
  }
  EXPECT_FALSE(smtp.SetCharset("no such?"));
  CStringArray attachments;
  attachments.Add(path);
  const BOOL sent = smtp.SendMessage(text("值班员 <duty@example.test>"), text("三号厅压力过高。\n请检查阀门 B。"),
                                     text("报警：三号厅压力过高"), &attachments);
  AfxSetAnsiCodePage(saved);
  ASSERT_TRUE(sent) << smtp.GetLastError().str();
  const auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  const std::string read = RunPythonScript("tests/mail/read_mail.py", {messages[0], dir.path()});
  const std::string charset = std::string(host.szCharset) == "GBK" ? "gbk" : "utf-8";
  for (const std::string& expected :
       {std::string("\ndefects 0\n"), std::string("\nsubject \"报警：三号厅压力过高\"\n"),
        std::string("\nto \"值班员\" \"duty@example.test\"\n"),
        "\npart text/plain " + charset + " null \"三号厅压力过高。\\n请检查阀门 B。\"\n",
        std::string("\npart application/octet-stream - \"淺报警日志.txt\" -\n")})
    EXPECT_NE(read.find(expected), std::string::npos) << expected << "\n" << read;
  EXPECT_LT(std::stoi(read.substr(8)), 1000) << read;
  EXPECT_TRUE(ReadFile(dir.file("1.bin")) == bytes);
}

INSTANTIATE_TEST_SUITE_P(Hosts, ChineseNotification,
                         ::testing::Values(HostCharset{936, "GBK"}, HostCharset{CP_UTF8, "UTF-8"},
                                           HostCharset{936, "UTF-8"}),
                         [](const auto& info) { return std::to_string(info.index); });

}  // namespace

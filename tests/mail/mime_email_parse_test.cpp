// SPDX-License-Identifier: Apache-2.0
#include "mail/mime_message.h"

#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tarvenkel::test;

// Parses a message file with Python's email package and writes, for every
// leaf part in order, its decoded payload to <out>/<n>.bin and a line
// "<n>\t<content type>\t<file name>" to stdout.
const char* kParser = R"(
import sys, email, email.policy
msg = email.message_from_binary_file(open(sys.argv[1], 'rb'), policy=email.policy.compat32)
print('ROOT\t' + msg.get_content_type() + '\t' + str(msg.get_param('boundary')) + '\t' + str(msg.defects))
n = 0
for part in msg.walk():
    if part.is_multipart():
        continue
    open('%s/%d.bin' % (sys.argv[2], n), 'wb').write(part.get_payload(decode=True))
    print('%d\t%s\t%s\t%s' % (n, part.get_content_type(), part.get_filename(), part.defects))
    n += 1
)";

TEST(MimeWithPythonEmail, TextPartAndEveryAttachmentDecodeIdentically) {
  TempDir dir;
  std::mt19937 rng(99);
  auto random_bytes = [&](std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
  };
  const std::vector<std::pair<std::string, std::string>> files = {
      {"empty.bin", ""},
      {"one.bin", "\x7f"},
      {"block.bin", random_bytes(54)},
      {"block1.bin", random_bytes(55)},
      {"big.dat", random_bytes(1 << 20)},
      {"alarm log.txt", "pressure 5 bar\r\n"},
      {"a;b \"q\".txt", "odd name"},
  };
  CMIMEMessage m;
  m.m_sFrom = "alarm@plant.example";
  m.m_sSubject = "Pump 3";
  m.AddRecipient("ops@plant.example", "Ops ", CMailMessage::TO);
  m.m_sBody = "Pump 3 pressure above limit for more than ten minutes; operator please check the valve and the log.";
  for (const auto& [name, bytes] : files) {
    WriteFile(dir.file(name), bytes);
    m.AddMIMEPart(dir.file(name).c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  }
  m.FormatMessage();
  WriteFile(dir.file("message.eml"), m.m_sHeader.str() + m.m_sBody.str());
  WriteFile(dir.file("parse.py"), kParser);
  const ProcessResult run = RunProcess({SystemPython(), dir.file("parse.py"), dir.file("message.eml"), dir.path()});
  EXPECT_EQ(run.status, 0) << run.Describe();
  const std::string& out = run.out;

  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "ROOT\tmultipart/mixed\tZOLVANE_PaRt_BoUnDaRy_05151998\t[]");
  std::getline(lines, line);
  EXPECT_EQ(line, "0\ttext/plain\tNone\t[]");
  // The parser hands text lines back with its own line ends.
  std::string text = ReadFile(dir.file("0.bin"));
  for (std::size_t pos; (pos = text.find("\r\n")) != std::string::npos;) text.erase(pos, 1);
  EXPECT_EQ(text,
            "Pump 3 pressure above limit for more than ten minutes; operator please check\n"
            "the valve and the log.");
  for (std::size_t i = 0; i < files.size(); ++i) {
    ASSERT_TRUE(std::getline(lines, line)) << "missing part " << i + 1;
    EXPECT_EQ(line, std::to_string(i + 1) + "\tapplication/octet-stream\t" + files[i].first + "\t[]");
    EXPECT_TRUE(ReadFile(dir.file(std::to_string(i + 1) + ".bin")) == files[i].second) << files[i].first;
  }
  EXPECT_FALSE(std::getline(lines, line)) << line;
}

}  // namespace

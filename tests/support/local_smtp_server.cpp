// SPDX-License-Identifier: Apache-2.0
#include "tests/support/local_smtp_server.h"
#include "tests/support/time_scale.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace tarvenkel::test {

LocalSmtpServer::LocalSmtpServer(const std::string& auth, const std::vector<std::string>& extraArgs) {
  std::vector<std::string> args = {SystemPython(), SourcePath("tools/local_smtp_server.py"), "--spool",
                                   m_spool.file("spool"), "--stdin-lifetime"};
  if (!auth.empty()) {
    args.push_back("--auth");
    args.push_back(auth);
  }
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  m_server = std::make_unique<PortService>(args, m_spool.file("server.err"));
}

LocalSmtpServer::~LocalSmtpServer() = default;

int LocalSmtpServer::port() const {
  return m_server->port();
}

std::vector<std::string> LocalSmtpServer::Messages(std::size_t count, int timeoutMs) const {
  namespace fs = std::filesystem;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SlackMs(timeoutMs));
  std::vector<std::string> found;
  for (;;) {
    found.clear();
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(m_spool.file("spool"), ec))
      if (entry.path().extension() == ".eml") found.push_back(entry.path().string());
    // Arrival order: the numbers have four digits at least, so from
    // 10000 on a shorter name comes first.
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    if (found.size() >= count || std::chrono::steady_clock::now() >= deadline) return found;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string LocalSmtpServer::AuthLog() const {
  std::error_code ec;
  std::string path = m_spool.file("spool/auth.log");
  return std::filesystem::exists(path, ec) ? ReadFile(path) : std::string();
}

std::string ParsedMessage::Header(const std::string& name) const {
  const std::string prefix = name + ": ";
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  return "<absent>";
}

ParsedMessage ParseMessage(const std::string& emlPath) {
  TempDir out;
  const std::string text = RunPythonScript("tests/smtp/parse_message.py", {emlPath, out.path()});
  ParsedMessage parsed;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    parsed.lines.push_back(text.substr(start, nl - start));
  for (const std::string& line : parsed.lines)
    if (line.rfind("part ", 0) == 0) parsed.parts.push_back(ReadFile(out.file("part-" + std::to_string(parsed.parts.size()) + ".bin")));
  return parsed;
}

std::string Envelope(const std::string& emlPath) {
  return ReadFile(emlPath.substr(0, emlPath.size() - 4) + ".json");
}

::testing::AssertionResult EnvelopeHas(const std::string& emlPath, const std::string& text) {
  const std::string envelope = Envelope(emlPath);
  if (envelope.find(text) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the envelope " << envelope << " does not hold " << text;
}

}  // namespace tarvenkel::test

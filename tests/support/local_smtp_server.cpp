#include "tests/support/local_smtp_server.h"
#include "tests/support/time_scale.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvenkel::test {

namespace {

constexpr int kStartTimeoutMs = 20000;

}  // namespace

LocalSmtpServer::LocalSmtpServer(const std::string& auth, const std::vector<std::string>& extraArgs) {
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::string script = SourcePath("tools/local_smtp_server.py");
  std::string spoolDir = m_spool.file("spool");
  std::string errors = m_spool.file("server.err");
  std::vector<std::string> args = {SystemPython(), script, "--spool", spoolDir, "--stdin-lifetime"};
  if (!auth.empty()) {
    args.push_back("--auth");
    args.push_back(auth);
  }
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  m_stdin = in[1];
  if (rc != 0) {
    ::close(out[0]);
    m_pid = -1;
    throw std::runtime_error("cannot start " + script);
  }

  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SlackMs(kStartTimeoutMs));
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    char buf[256];
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  if (line.rfind("PORT ", 0) != 0) {
    Stop();
    throw std::runtime_error("the local SMTP server did not start: " + line);
  }
  m_port = std::stoi(line.substr(5));
}

LocalSmtpServer::~LocalSmtpServer() {
  Stop();
}

void LocalSmtpServer::Stop() {
  if (m_stdin >= 0) ::close(m_stdin);
  m_stdin = -1;
  if (m_pid <= 0) return;
  ::kill(m_pid, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
      m_pid = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(m_pid, SIGKILL);
  ::waitpid(m_pid, nullptr, 0);
  m_pid = -1;
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

}  // namespace tarvenkel::test

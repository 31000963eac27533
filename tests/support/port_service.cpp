// SPDX-License-Identifier: Apache-2.0
#include "tests/support/port_service.h"

#include "tests/support/time_scale.h"

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvenkel::test {

PortService::PortService(const std::vector<std::string>& args, const std::string& errorsPath) {
  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    throw std::runtime_error("pipe failed");
  }
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errorsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  m_stdin = in[1];
  if (rc != 0) {
    ::close(out[0]);
    m_pid = -1;
    Stop();
    throw std::runtime_error("cannot start " + args.front());
  }
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SlackMs(20000));
  while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out[0], POLLIN, 0};
    if (::poll(&p, 1, 200) <= 0) continue;
    char buf[256];
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    line.append(buf, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  if (line.rfind("PORT ", 0) != 0) {
    Stop();
    throw std::runtime_error(args.front() + " did not start: " + line);
  }
  m_port = std::stoi(line.substr(5));
}

PortService::~PortService() {
  Stop();
}

void PortService::Stop() {
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

}  // namespace tarvenkel::test

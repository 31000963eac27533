// SPDX-License-Identifier: Apache-2.0
#include "tests/support/postfix_server.h"
#include "tests/support/time_scale.h"

#include "tests/support/process_runner.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvenkel::test {

namespace {

constexpr int kStartTimeoutMs = 20000;

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
    port = ntohs(addr.sin_port);
  if (fd >= 0) ::close(fd);
  return port;
}

bool Accepts(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

}  // namespace

PostfixServer::PostfixServer() {
  m_port = FreePort();
  const std::string& top = m_dir.path();
  // The daemons run as the postfix user, which must reach the folders.
  ::chmod(top.c_str(), 0755);
  std::filesystem::create_directories(m_dir.file("conf"));
  std::filesystem::create_directories(m_dir.file("queue"));
  std::filesystem::create_directories(m_dir.file("data"));
  if (RunProcess({"chown", "postfix", m_dir.file("data")}).status != 0)
    throw std::runtime_error("no postfix user: is the postfix package installed?");
  WriteFile(m_dir.file("conf/main.cf"),
            "compatibility_level = 3.6\n"
            "queue_directory = " + m_dir.file("queue") + "\n"
            "data_directory = " + m_dir.file("data") + "\n"
            "command_directory = /usr/sbin\n"
            "daemon_directory = /usr/lib/postfix/sbin\n"
            "meta_directory = /etc/postfix\n"
            "shlib_directory = /usr/lib/postfix\n"
            "mail_owner = postfix\n"
            "setgid_group = postdrop\n"
            "inet_interfaces = 127.0.0.1\n"
            "inet_protocols = ipv4\n"
            "myhostname = postfix-test.localdomain\n"
            "mydestination =\n"
            "mynetworks = 127.0.0.0/8\n"
            "smtpd_relay_restrictions = permit_mynetworks, reject\n"
            "smtpd_recipient_restrictions = check_recipient_access inline:{ { " + std::string(kRefused) +
                " = 550 5.1.1 recipient refused } }, permit_mynetworks, reject\n"
            // No queue manager takes the mail away, so the default flow
            // control would hold every message after the first for 1 s.
            "in_flow_delay = 0\n"
            "maillog_file_prefixes = " + top + "\n"
            "maillog_file = " + m_dir.file("maillog") + "\n");
  // Only what receiving needs: no queue manager, so accepted mail stays queued.
  WriteFile(m_dir.file("conf/master.cf"),
            "127.0.0.1:" + std::to_string(m_port) + " inet n - n - - smtpd\n"
            "cleanup unix n - n - 0 cleanup\n"
            "rewrite unix - - n - - trivial-rewrite\n"
            "proxymap unix - - n - - proxymap\n"
            "anvil unix - - n - 1 anvil\n"
            "bounce unix - - n - 0 bounce\n"
            "defer unix - - n - 0 bounce\n"
            "trace unix - - n - 0 bounce\n"
            "postlog unix-dgram n - n - 1 postlogd\n");
  if (postfix("start") != 0) throw std::runtime_error("postfix did not start; see " + m_dir.file("maillog"));
  m_started = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(SlackMs(kStartTimeoutMs));
  while (!Accepts(m_port)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      Stop();
      throw std::runtime_error("postfix does not listen on port " + std::to_string(m_port));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

PostfixServer::~PostfixServer() {
  Stop();
}

int PostfixServer::postfix(const std::string& command) const {
  // What it says is kept in postfix.out beside the maillog.
  const ProcessResult run = RunProcess({"/usr/sbin/postfix", "-c", m_dir.file("conf"), command});
  std::ofstream(m_dir.file("postfix.out"), std::ios::app) << run.out << run.err;
  return run.status;
}

void PostfixServer::Stop() {
  if (!m_started) return;
  m_started = false;
  // The master process must be gone before the folder is removed.
  pid_t master = -1;
  try {
    master = static_cast<pid_t>(std::stol(ReadFile(m_dir.file("queue/pid/master.pid"))));
  } catch (const std::exception&) {
  }
  postfix("stop");
  for (int i = 0; master > 0 && i < 100 && ::kill(master, 0) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  if (master > 0 && ::kill(master, 0) == 0) ::kill(master, SIGKILL);
}

std::vector<std::string> PostfixServer::Messages() const {
  std::vector<std::string> messages;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(m_dir.file("queue/incoming"), ec)) {
    const ProcessResult run =
        RunProcess({"/usr/sbin/postcat", "-c", m_dir.file("conf"), "-bh", entry.path().string()});
    if (run.status != 0) throw std::runtime_error("postcat failed on " + entry.path().string() + ": " + run.Describe());
    messages.push_back(run.out);
  }
  return messages;
}

std::vector<std::string> PostfixServer::Subjects() const {
  std::vector<std::string> subjects;
  for (const std::string& message : Messages()) {
    const std::size_t at = message.find("\nSubject: ");
    if (at == std::string::npos) {
      subjects.push_back("<absent>");
      continue;
    }
    const std::size_t start = at + 10;
    subjects.push_back(message.substr(start, message.find('\n', start) - start));
  }
  return subjects;
}

std::string PostfixServer::SaveMessage(std::size_t index) const {
  const std::string path = m_dir.file("message-" + std::to_string(index) + ".eml");
  WriteFile(path, Messages().at(index));
  return path;
}

}  // namespace tarvenkel::test

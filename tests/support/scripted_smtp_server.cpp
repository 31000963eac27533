// SPDX-License-Identifier: Apache-2.0
#include "tests/support/scripted_smtp_server.h"
#include "tests/support/time_scale.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvenkel::test {

namespace {

// No test waits this long; it only keeps a broken test from hanging.
constexpr int kSafetyTimeoutMs = 20000;
constexpr int kSegmentPauseMs = 5;

bool SendAll(int fd, const char* p, std::size_t n) {
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

}  // namespace

SmtpScript& SmtpScript::Add(Step step) {
  m_steps.push_back(std::move(step));
  return *this;
}

SmtpScript& SmtpScript::Send(std::string bytes, std::vector<std::size_t> segments) {
  return Add(Step{Step::kSend, std::move(bytes), std::move(segments)});
}

SmtpScript& SmtpScript::SendInPieces(std::string bytes, std::size_t piece) {
  std::vector<std::size_t> segments(bytes.size() / piece, piece);
  return Send(std::move(bytes), std::move(segments));
}

SmtpScript& SmtpScript::ReadLine() { return Add(Step{Step::kReadLine, {}, {}}); }
SmtpScript& SmtpScript::ReadData() { return Add(Step{Step::kReadData, {}, {}}); }

SmtpScript& SmtpScript::ReadChunk() {
  // No chunk is answered: the one read is the last the step waits for.
  return Add(Step{Step::kReadChunks, {}, {0}});
}

SmtpScript& SmtpScript::AnswerChunks(std::string reply) {
  return Add(Step{Step::kReadChunks, std::move(reply), {}});
}

SmtpScript& SmtpScript::Pause(int milliseconds) {
  return Add(Step{Step::kPause, {}, {static_cast<std::size_t>(milliseconds)}});
}
SmtpScript& SmtpScript::Close() { return Add(Step{Step::kClose, {}, {}}); }
SmtpScript& SmtpScript::Reset() { return Add(Step{Step::kReset, {}, {}}); }
SmtpScript& SmtpScript::Silent() { return Add(Step{Step::kSilent, {}, {}}); }
SmtpScript& SmtpScript::Stall() { return Add(Step{Step::kStall, {}, {}}); }

ScriptedSmtpServer::ScriptedSmtpServer(std::vector<SmtpScript> sessions) : m_scripts(std::move(sessions)) {
  m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  m_stopFd = ::eventfd(0, EFD_CLOEXEC);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (m_listenFd < 0 || m_stopFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(m_listenFd, 8) != 0 || ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("scripted server: cannot listen");
  m_port = ntohs(addr.sin_port);
  m_sessions.resize(m_scripts.size());
  m_thread = std::thread([this] { run(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
  std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(m_stopFd, &one, sizeof one);
  m_thread.join();
  ::close(m_listenFd);
  ::close(m_stopFd);
}

std::string ScriptedSmtpServer::Received(std::size_t session, int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait_for(lock, std::chrono::milliseconds(SlackMs(timeoutMs)), [&] { return m_sessions.at(session).ended; });
  return m_sessions.at(session).received;
}

std::size_t ScriptedSmtpServer::Accepted() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<std::size_t>(std::count_if(m_sessions.begin(), m_sessions.end(), [](const Session& s) {
    return s.ended || !s.received.empty();
  }));
}

bool ScriptedSmtpServer::WaitUntilSilent(std::size_t session, int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_for(lock, std::chrono::milliseconds(SlackMs(timeoutMs)), [&] { return m_sessions.at(session).silent; });
}

void ScriptedSmtpServer::run() {
  for (std::size_t index = 0; index < m_scripts.size(); ++index) {
    pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    if (::poll(fds, 2, kSafetyTimeoutMs) <= 0 || fds[1].revents != 0) return;
    int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    play(fd, index);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_sessions[index].ended = true;
    }
    m_changed.notify_all();
  }
}

bool ScriptedSmtpServer::read_more(int fd, std::size_t index) {
  pollfd fds[2] = {{fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
  if (::poll(fds, 2, kSafetyTimeoutMs) <= 0 || fds[1].revents != 0) return false;
  char buf[65536];
  ssize_t n = ::recv(fd, buf, sizeof buf, 0);
  if (n <= 0) return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  m_sessions[index].received.append(buf, static_cast<std::size_t>(n));
  return true;
}

void ScriptedSmtpServer::play(int fd, std::size_t index) {
  std::size_t consumed = 0;  // bytes of the record the script has read
  auto received = [&] {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessions[index].received;
  };
  // The size alone, without copying megabytes of chunk data per read.
  auto received_size = [&] {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessions[index].received.size();
  };
  // Reads until the record holds the terminator after the consumed bytes.
  auto read_through = [&](const std::string& terminator) {
    for (;;) {
      std::string all = received();
      std::size_t at = all.find(terminator, consumed);
      if (at != std::string::npos) {
        consumed = at + terminator.size();
        return true;
      }
      if (!read_more(fd, index)) return false;
    }
  };

  for (const SmtpScript::Step& step : m_scripts[index].steps()) {
    switch (step.kind) {
      case SmtpScript::Step::kSend: {
        std::size_t at = 0;
        for (std::size_t size : step.segments) {
          size = std::min(size, step.bytes.size() - at);
          if (!SendAll(fd, step.bytes.data() + at, size)) break;
          at += size;
          std::this_thread::sleep_for(std::chrono::milliseconds(kSegmentPauseMs));
        }
        if (at < step.bytes.size()) SendAll(fd, step.bytes.data() + at, step.bytes.size() - at);
        break;
      }
      case SmtpScript::Step::kReadLine:
        if (!read_through("\n")) {
          ::close(fd);
          return;
        }
        break;
      case SmtpScript::Step::kReadData:
        if (!read_through("\r\n.\r\n")) {
          ::close(fd);
          return;
        }
        break;
      case SmtpScript::Step::kReadChunks: {
        // ReadChunk takes one chunk whatever it is marked; AnswerChunks
        // goes on up to the one marked LAST.
        for (bool last = false; !last;) {
          const std::size_t start = consumed;
          if (!read_through("\n")) {
            ::close(fd);
            return;
          }
          const std::string line = received().substr(start, consumed - start);
          std::size_t size = 0;
          if (std::sscanf(line.c_str(), "BDAT %zu", &size) != 1) {
            ::close(fd);
            return;
          }
          last = !step.segments.empty() || line.find(" LAST") != std::string::npos;
          while (received_size() < consumed + size)
            if (!read_more(fd, index)) {
              ::close(fd);
              return;
            }
          consumed += size;
          if (!last) SendAll(fd, step.bytes.data(), step.bytes.size());
        }
        break;
      }
      case SmtpScript::Step::kPause:
        std::this_thread::sleep_for(std::chrono::milliseconds(step.segments.front()));
        break;
      case SmtpScript::Step::kClose:
        ::shutdown(fd, SHUT_WR);
        // Keep what the client still sends before it notices.
        while (read_more(fd, index)) {
        }
        ::close(fd);
        return;
      case SmtpScript::Step::kReset: {
        linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        ::close(fd);
        return;
      }
      case SmtpScript::Step::kStall: {
        mark_silent(index);
        pollfd stop{m_stopFd, POLLIN, 0};
        ::poll(&stop, 1, kSafetyTimeoutMs);
        ::close(fd);
        return;
      }
      case SmtpScript::Step::kSilent:
        mark_silent(index);
        while (read_more(fd, index)) {
        }
        ::close(fd);
        return;
    }
  }
  mark_silent(index);
  while (read_more(fd, index)) {
  }
  ::close(fd);
}

void ScriptedSmtpServer::mark_silent(std::size_t index) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions[index].silent = true;
  }
  m_changed.notify_all();
}

}  // namespace tarvenkel::test

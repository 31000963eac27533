// SPDX-License-Identifier: Apache-2.0
#include "tests/support/process_runner.h"

#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvenkel::test {

namespace {

// The inherited environment with the changes of ProcessOptions::env.
std::vector<std::string> Environment(const std::vector<std::string>& changes) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) env.emplace_back(*entry);
  for (const std::string& change : changes) {
    const std::string name = change.substr(0, change.find('='));
    std::erase_if(env, [&](const std::string& e) { return e.compare(0, name.size() + 1, name + "=") == 0; });
    if (change.find('=') != std::string::npos) env.push_back(change);
  }
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string ProcessResult::Describe() const {
  std::string how = timedOut         ? "timed out"
                    : signal != 0    ? "signal " + std::to_string(signal)
                    : status >= 0    ? "exit " + std::to_string(status)
                                     : "not started";
  return err.empty() ? how : how + "\n" + err;
}

ProcessResult RunProcess(const std::vector<std::string>& args, const ProcessOptions& options) {
  ProcessResult result;
  if (args.empty()) return result;
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    for (int* fd : {&in[0], &in[1], &out[0], &out[1], &err[0], &err[1]}) CloseFd(*fd);
    return result;
  }
  std::vector<std::string> argStrings = args;
  std::vector<std::string> envStrings = Environment(options.env);
  std::vector<char*> argv = Pointers(argStrings);
  std::vector<char*> envp = Pointers(envStrings);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  if (!options.directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  int inFd = in[1], fds[2] = {out[0], err[0]};
  if (rc != 0) {
    result.err = std::string("cannot start ") + args[0] + ": " + std::strerror(rc);
    CloseFd(inFd);
    CloseFd(fds[0]);
    CloseFd(fds[1]);
    return result;
  }

  // A program that stops reading its input must not end this process.
  struct sigaction ignore {}, saved{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &saved);
  // Written a piece at a time as the pipe takes it, so that a program that
  // answers before it has read all its input is read from meanwhile.
  ::fcntl(inFd, F_SETFL, O_NONBLOCK);
  std::size_t written = 0;
  if (options.input.empty()) CloseFd(inFd);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
  // Once the program has ended, what is left in the pipes is read without
  // waiting: a daemon it started may hold them open for ever.
  int status = 0;
  bool ended = false;
  while (fds[0] >= 0 || fds[1] >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 && !ended) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    if (!ended && ::waitpid(pid, &status, WNOHANG) == pid) ended = true;
    pollfd polled[3] = {{fds[0], POLLIN, 0}, {fds[1], POLLIN, 0}, {inFd, POLLOUT, 0}};
    const int n = ::poll(polled, 3, ended ? 0 : static_cast<int>(std::min<long long>(left.count(), 100)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n == 0 && ended)) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i] < 0 || (polled[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[65536];
      const ssize_t got = ::read(fds[i], buffer, sizeof buffer);
      if (got > 0)
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
      else if (got == 0 || errno != EINTR)
        CloseFd(fds[i]);
    }
    if (inFd >= 0 && (polled[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t put = ::write(inFd, options.input.data() + written, options.input.size() - written);
      if (put > 0) written += static_cast<std::size_t>(put);
      if ((put < 0 && errno != EINTR && errno != EAGAIN) || written == options.input.size()) CloseFd(inFd);
    }
  }
  CloseFd(inFd);
  CloseFd(fds[0]);
  CloseFd(fds[1]);
  ::sigaction(SIGPIPE, &saved, nullptr);
  while (!ended && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && !result.timedOut) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status) && !result.timedOut) result.signal = WTERMSIG(status);
  return result;
}

std::string GeneratedFile(const std::string& generator) {
  TempDir dir;
  const ProcessResult run = RunProcess({BinaryPath(generator), dir.file("generated")});
  EXPECT_EQ(run.status, 0) << generator << ": " << run.Describe();
  return run.status == 0 ? ReadFile(dir.file("generated")) : std::string();
}

}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// Runs a program to its end for a test: arguments, environment, standard
// input, a working folder, and a time-out; captures what it wrote to standard
// output and standard error and how it ended.
#pragma once

#include <string>
#include <vector>

namespace tarvenkel::test {

struct ProcessOptions {
  // Written to the program's standard input, which is then closed.
  std::string input{};
  // "NAME=VALUE" sets a variable of the inherited environment, "NAME" alone
  // removes it.
  std::vector<std::string> env{};
  // The folder the program runs in; empty for this process's.
  std::string directory{};
  // The program is killed (SIGKILL) when it has not ended by then.
  int timeoutMs = 120000;
};

struct ProcessResult {
  // The exit status; -1 when the program could not be started, was killed by
  // a signal or ran out of time.
  int status = -1;
  int signal = 0;  // the signal that ended it, 0 when it exited
  bool timedOut = false;
  std::string out;
  std::string err;
  // "exit N", "signal N", "timed out" or "not started", with standard
  // error: for the message of a failed check.
  std::string Describe() const;
};

// The arguments of a followed by those of b.
std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b);

// Runs args[0] (searched on PATH when it holds no '/') with args[1...].
ProcessResult RunProcess(const std::vector<std::string>& args, const ProcessOptions& options = {});

// Runs a generator program of the build tree (a path relative to its top)
// with the path of a scratch file, and returns what it wrote there. A
// generator that fails fails the test.
std::string GeneratedFile(const std::string& generator);

}  // namespace tarvenkel::test

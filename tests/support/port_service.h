// SPDX-License-Identifier: Apache-2.0
// A server program a test starts for itself: it prints "PORT <n>" on
// standard output once it listens on 127.0.0.1, and ends when its standard
// input closes. The object stops it when it goes.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace tarvenkel::test {

class PortService {
public:
  // argv[0] is the program's path; what it writes to standard error goes to
  // errorsPath. Throws std::runtime_error when it does not print its port
  // within 20 s.
  PortService(const std::vector<std::string>& argv, const std::string& errorsPath);
  ~PortService();
  PortService(const PortService&) = delete;
  PortService& operator=(const PortService&) = delete;

  int port() const { return m_port; }

private:
  // Closes its input, then SIGTERM, then SIGKILL after 5 s.
  void Stop();

  pid_t m_pid = -1;
  int m_stdin = -1;
  int m_port = 0;
};

}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// A private Postfix instance on a free port of 127.0.0.1 for a test: its own
// configuration and queue in a scratch folder, started with "postfix -c" and
// stopped again when the object goes. It refuses one recipient with 550 and
// accepts every other; accepted messages stay in its incoming queue, where
// the test reads them back. Needs Debian's postfix package and root.
#pragma once

#include "tests/support/test_paths.h"

#include <string>
#include <vector>

namespace tarvenkel::test {

class PostfixServer {
public:
  // The recipient the server refuses.
  static constexpr const char* kRefused = "refused@example.com";

  // Throws std::runtime_error when the instance does not come up within 20 s.
  PostfixServer();
  ~PostfixServer();
  PostfixServer(const PostfixServer&) = delete;
  PostfixServer& operator=(const PostfixServer&) = delete;

  int port() const { return m_port; }
  // Each queued message as header and body (postcat), in no set order.
  std::vector<std::string> Messages() const;
  // The Subject of each queued message ("<absent>" when none), in no set order.
  std::vector<std::string> Subjects() const;
  // Writes queued message number index (of Messages) to a file for the parser.
  std::string SaveMessage(std::size_t index) const;

private:
  // Runs "postfix -c <conf> <command>"; the exit status.
  int postfix(const std::string& command) const;
  void Stop();

  TempDir m_dir;
  int m_port = 0;
  bool m_started = false;
};

}  // namespace tarvenkel::test

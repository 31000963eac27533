// SPDX-License-Identifier: Apache-2.0
#include "tests/support/outbox_fixture.h"

#include <fstream>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvenkel::test {

std::unique_ptr<CMailMessage> Alarm(const std::string& subject, const std::vector<std::string>& to) {
  auto msg = std::make_unique<CMailMessage>();
  msg->m_sFrom = "alarm@x";
  msg->m_sSubject = subject.c_str();
  msg->m_sBody = "Pump 3 pressure low.\r\n";
  for (const std::string& address : to) msg->AddRecipient(address.c_str());
  return msg;
}

std::unique_ptr<CSMTP> ClientOf(int port, bool bShortDialogue) {
  auto smtp = std::make_unique<CSMTP>();
  smtp->SetParams("127.0.0.1", "alarm@x", port, "", "");
  smtp->SetTimeout(5);
  smtp->SetShortDialogue(bShortDialogue);
  return smtp;
}

int ClosedPort() {
  // A port just bound and released: nothing listens on it.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::vector<std::string> Subjects(const std::vector<std::string>& emlPaths) {
  // The subjects are short ASCII lines: read straight from the stored text,
  // which is much quicker than a parser per message when there are hundreds.
  std::vector<std::string> subjects;
  for (const std::string& path : emlPaths) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    std::string subject = "<absent>";
    while (std::getline(file, line) && !line.empty() && line != "\r") {
      if (line.rfind("Subject: ", 0) == 0) {
        subject = line.substr(9);
        if (!subject.empty() && subject.back() == '\r') subject.pop_back();
        break;
      }
    }
    subjects.push_back(subject);
  }
  return subjects;
}

}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
// The lower limit for sending a message in bench/compare: the same bytes copied
// once over a TCP connection on 127.0.0.1 with no protocol at all.
//   loopback_copy FILE
// A child process accepts and drains the connection; the parent reads FILE in
// large blocks, writes them to the socket and waits until the child has read
// everything and closed its end.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace {

constexpr size_t kBlock = 1 << 20;

int fail(const char* what) {
  std::perror(what);
  return 1;
}

// Reads and discards everything from the socket until the peer shuts down.
int drain(int listener) {
  int conn = accept(listener, nullptr, nullptr);
  if (conn < 0) return fail("accept");
  std::vector<char> buffer(kBlock);
  for (;;) {
    ssize_t n = recv(conn, buffer.data(), buffer.size(), 0);
    if (n == 0) break;
    if (n < 0 && errno != EINTR) return fail("recv");
  }
  close(conn);
  return 0;
}

// Writes the whole block, resuming after short writes.
bool send_all(int sock, const char* data, size_t length) {
  while (length > 0) {
    ssize_t n = send(sock, data, length, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: loopback_copy FILE\n");
    return 2;
  }
  int file = open(argv[1], O_RDONLY);
  if (file < 0) return fail(argv[1]);

  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return fail("listen");

  pid_t child = fork();
  if (child < 0) return fail("fork");
  if (child == 0) _exit(drain(listener));
  close(listener);

  int sock = socket(AF_INET, SOCK_STREAM, 0);
  if (sock < 0 || connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return fail("connect");
  std::vector<char> buffer(kBlock);
  for (;;) {
    ssize_t n = read(file, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("read");
    if (n == 0) break;
    if (!send_all(sock, buffer.data(), static_cast<size_t>(n))) return fail("send");
  }
  shutdown(sock, SHUT_WR);
  char byte;
  while (recv(sock, &byte, 1, 0) > 0) {
  }
  close(sock);
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// SPDX-License-Identifier: Apache-2.0
// The socket trace observer sees exactly the bytes a CSocket sends and
// receives, in order and with their direction, and nothing once removed.
#include "framework/net/socket.h"
#include "framework/net/socket_trace.h"

#include <gtest/gtest.h>

#include <string>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

struct Observed {
  std::string sent, received;
  int calls = 0;
};

void Observe(BOOL bSent, const void* lpBuf, int nLength, void* pContext) {
  auto* observed = static_cast<Observed*>(pContext);
  (bSent ? observed->sent : observed->received).append(static_cast<const char*>(lpBuf), static_cast<size_t>(nLength));
  ++observed->calls;
}

TEST(SocketTrace, SeesBothDirectionsUntilRemoved) {
  int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);

  CSocket socket;
  ASSERT_TRUE(socket.Create());
  ASSERT_TRUE(socket.Connect("127.0.0.1", ntohs(addr.sin_port)));
  int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);

  Observed observed;
  AfxSetSocketTrace(&Observe, &observed);
  EXPECT_EQ(socket.Send("EHLO host\r\n", 11), 11);
  ASSERT_EQ(::write(peer, "250 hello\r\n", 11), 11);
  char buffer[64];
  int n = socket.Receive(buffer, sizeof buffer);
  ASSERT_GT(n, 0);
  EXPECT_EQ(observed.sent, "EHLO host\r\n");
  EXPECT_EQ(observed.received, std::string(buffer, static_cast<size_t>(n)));

  AfxSetSocketTrace(nullptr, nullptr);
  int calls = observed.calls;
  EXPECT_EQ(socket.Send("QUIT\r\n", 6), 6);
  ASSERT_EQ(::write(peer, "221 bye\r\n", 9), 9);
  EXPECT_GT(socket.Receive(buffer, sizeof buffer), 0);
  EXPECT_EQ(observed.calls, calls);
  EXPECT_EQ(observed.sent, "EHLO host\r\n");

  ::close(peer);
  ::close(listener);
}

}  // namespace

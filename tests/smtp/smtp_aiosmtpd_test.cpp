// The SMTP session against a real server: Debian's aiosmtpd on 127.0.0.1.
#include "smtp/smtp.h"

#include "tests/support/local_smtp_server.h"

#include <gtest/gtest.h>

#include <memory>

using tarvenkel::test::LocalSmtpServer;

namespace {

class SmtpAgainstAiosmtpd : public testing::Test {
protected:
  static void SetUpTestSuite() {
    s_open = new LocalSmtpServer();
    s_login = new LocalSmtpServer("demo:secret");
  }
  static void TearDownTestSuite() {
    delete s_open;
    delete s_login;
  }
  static LocalSmtpServer* s_open;
  static LocalSmtpServer* s_login;
};

LocalSmtpServer* SmtpAgainstAiosmtpd::s_open = nullptr;
LocalSmtpServer* SmtpAgainstAiosmtpd::s_login = nullptr;

}  // namespace

TEST_F(SmtpAgainstAiosmtpd, ConnectAndDisconnectWithoutLogin) {
  CSMTP smtp;
  smtp.SetTimeout(20);
  smtp.SetParams("127.0.0.1", "alarm@example.com", s_open->port(), "", "");
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  EXPECT_EQ(smtp.GetLastError().str(), "OK");
  // Again, by name: "localhost" may resolve to ::1 first, where nothing
  // listens, and the next address is tried.
  smtp.SetParams("localhost", "alarm@example.com", s_open->port(), "", "");
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
}

TEST_F(SmtpAgainstAiosmtpd, LoginWithAuthLogin) {
  CSMTP smtp;
  smtp.SetTimeout(20);
  smtp.SetParams("127.0.0.1", "alarm@example.com", s_login->port(), "demo", "secret");
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
  EXPECT_EQ(smtp.GetLastError().str(), "OK");
}

TEST_F(SmtpAgainstAiosmtpd, WrongPasswordIsRefusedWith535) {
  CSMTP smtp;
  smtp.SetTimeout(20);
  smtp.SetParams("127.0.0.1", "alarm@example.com", s_login->port(), "demo", "wrong");
  EXPECT_FALSE(smtp.Connect());
  EXPECT_EQ(smtp.GetLastError().str(), "535:SMTP AUTH FAILED");
  EXPECT_TRUE(smtp.Disconnect());  // already closed
  // The object can connect again once the password is right.
  smtp.SetParams("127.0.0.1", "alarm@example.com", s_login->port(), "demo", "secret");
  ASSERT_TRUE(smtp.Connect()) << smtp.GetLastError();
  EXPECT_TRUE(smtp.Disconnect()) << smtp.GetLastError();
}

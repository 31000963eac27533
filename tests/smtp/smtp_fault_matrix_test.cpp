// Every step of the SMTP dialogue under every fault a server or network can
// produce, generated from one table of steps and one of faults. Each case
// checks the result of the operation that meets the fault, the exact
// GetLastError text, the connection state and reply buffer afterwards, that
// no SIGPIPE was raised and, in the AddressSanitizer build, that nothing
// leaked.
#include "smtp/smtp.h"

#include "tests/support/scripted_smtp_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define TARVENKEL_LEAK_CHECK 1
#endif

using tarvenkel::test::ScriptedSmtpServer;
using tarvenkel::test::SmtpScript;

namespace {

// The dialogue in order. Hello is HELO of a session without credentials;
// Ehlo opens a session that logs in.
enum class Step { Greeting, Hello, Ehlo, AuthLogin, AuthUser, AuthPassword, Quit };

enum class Fault { WrongCode, Closed, Reset, TimeOut, Cancelled, OneBytePerSegment, HugeReply, NotANumber };

enum class Phase { Connect, Disconnect };

struct StepInfo {
  Step step;
  const char* name;
  Phase phase;
  bool readsCommand;       // the server reads a command line before replying
  const char* reply;       // the right reply
  const char* wrongReply;  // a plausible wrong one
  const char* message;     // the reply table's text for the step
};

const StepInfo kSteps[] = {
    {Step::Greeting, "Greeting", Phase::Connect, false, "220 test.example ESMTP\r\n", "554 no service\r\n",
     "SMTP server not available"},
    {Step::Hello, "Hello", Phase::Connect, true, "250 test.example\r\n", "501 bad name\r\n", "SMTP server error"},
    {Step::Ehlo, "Ehlo", Phase::Connect, true, "250-test.example\r\n250 AUTH LOGIN\r\n", "421 busy\r\n",
     "SMTP server error"},
    {Step::AuthLogin, "AuthLogin", Phase::Connect, true, "334 VXNlcm5hbWU6\r\n", "504 unknown\r\n",
     "SMTP server not available"},
    {Step::AuthUser, "AuthUser", Phase::Connect, true, "334 UGFzc3dvcmQ6\r\n", "535 no such user\r\n",
     "SMTP server not available"},
    {Step::AuthPassword, "AuthPassword", Phase::Connect, true, "235 2.7.0 welcome\r\n", "535 wrong\r\n",
     "SMTP AUTH FAILED"},
    {Step::Quit, "Quit", Phase::Disconnect, true, "221 bye\r\n", "250 what\r\n",
     "SMTP server didn't terminate session"},
};

const struct {
  Fault fault;
  const char* name;
} kFaults[] = {
    {Fault::WrongCode, "WrongCode"},         {Fault::Closed, "Closed"},
    {Fault::Reset, "Reset"},                 {Fault::TimeOut, "TimeOut"},
    {Fault::Cancelled, "Cancelled"},         {Fault::OneBytePerSegment, "OneBytePerSegment"},
    {Fault::HugeReply, "HugeReply"},         {Fault::NotANumber, "NotANumber"},
};

struct Case {
  const StepInfo* step;
  Fault fault;
  const char* faultName;
};

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const StepInfo& step : kSteps)
    for (const auto& fault : kFaults) cases.push_back({&step, fault.fault, fault.name});
  return cases;
}

bool LogsIn(const Case& c) {
  return c.step->step != Step::Hello;
}

// The steps of the session that the case runs, in order.
std::vector<const StepInfo*> Dialogue(const Case& c) {
  std::vector<const StepInfo*> steps;
  for (const StepInfo& step : kSteps) {
    const bool login = step.step == Step::Ehlo || step.step == Step::AuthLogin || step.step == Step::AuthUser ||
                       step.step == Step::AuthPassword;
    if (step.step == Step::Hello && LogsIn(c)) continue;
    if (login && !LogsIn(c)) continue;
    steps.push_back(&step);
  }
  return steps;
}

// The server's side: the right replies up to the faulty step, the fault, and
// after it the right replies again where the connection survives.
SmtpScript ScriptFor(const Case& c) {
  SmtpScript script;
  for (const StepInfo* step : Dialogue(c)) {
    if (step->readsCommand) script.ReadLine();
    if (step != c.step) {
      script.Send(step->reply);
      continue;
    }
    switch (c.fault) {
      case Fault::WrongCode:
        script.Send(step->wrongReply);
        break;
      case Fault::Closed:
        return script.Close();
      case Fault::Reset:
        return script.Reset();
      case Fault::TimeOut:
      case Fault::Cancelled:
        return script.Silent();
      case Fault::OneBytePerSegment:
        script.SendInPieces(step->reply, 1);
        break;
      case Fault::HugeReply:
        // One line of 70 KiB with the right code: longer than any reply may be.
        script.Send(std::string(step->reply, 4) + std::string(70 * 1024, 'x') + "\r\n");
        break;
      case Fault::NotANumber:
        script.Send("OK, go ahead\r\n");
        break;
    }
  }
  return script;
}

// The text GetLastError must return after the faulty step; empty when the
// whole dialogue must succeed.
std::string ExpectedError(const Case& c) {
  if (c.fault == Fault::OneBytePerSegment) return "";
  if (c.step->step == Step::Greeting) return "Server didn't respond.";
  const std::string message = c.step->message;
  switch (c.fault) {
    case Fault::WrongCode:
      return std::string(c.step->wrongReply, 3) + ":" + message;
    case Fault::Closed:
    case Fault::HugeReply:
    case Fault::NotANumber:
      return "0:" + message;
    case Fault::Reset:
    case Fault::Cancelled:
      return "Socket Error";
    case Fault::TimeOut:
      return "Timed out";
    case Fault::OneBytePerSegment:
      break;
  }
  return "";
}

class CSMTPProbe : public CSMTP {
public:
  BOOL Connected() const { return m_bConnected; }
  bool HoldsReplyBuffer() const { return m_pReplyBuffer != nullptr; }
};

std::atomic<int> g_brokenPipes{0};

void CountBrokenPipe(int) {
  ++g_brokenPipes;
}

class SmtpFaultMatrix : public ::testing::TestWithParam<Case> {
protected:
  static void SetUpTestSuite() {
    struct sigaction action {};
    action.sa_handler = CountBrokenPipe;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, &s_previous);
  }
  static void TearDownTestSuite() { sigaction(SIGPIPE, &s_previous, nullptr); }

  static struct sigaction s_previous;
};

struct sigaction SmtpFaultMatrix::s_previous {};

TEST_P(SmtpFaultMatrix, FailsAtTheStepWithItsTextAndEndsClosed) {
  const Case& c = GetParam();
  const std::string expected = ExpectedError(c);
  const int pipesBefore = g_brokenPipes.load();
  {
    ScriptedSmtpServer server(ScriptFor(c));
    CSMTPProbe smtp;
    smtp.SetParams("127.0.0.1", "alarm@example.com", server.port(), LogsIn(c) ? "user" : "",
                   LogsIn(c) ? "secret" : "");
    smtp.SetTimeout(c.fault == Fault::TimeOut ? 1 : 10);

    std::thread canceller;
    if (c.fault == Fault::Cancelled) {
      canceller = std::thread([&] {
        if (server.WaitUntilSilent()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        smtp.Cancel();
      });
    }
    const auto start = std::chrono::steady_clock::now();
    const BOOL connected = smtp.Connect();
    BOOL failedOperation = TRUE;
    if (c.step->phase == Phase::Connect && !expected.empty()) {
      failedOperation = connected;
      EXPECT_FALSE(connected);
      EXPECT_FALSE(smtp.Connected());
      EXPECT_FALSE(smtp.HoldsReplyBuffer());
    } else {
      ASSERT_TRUE(connected) << smtp.GetLastError();
      EXPECT_TRUE(smtp.Connected());
      EXPECT_TRUE(smtp.HoldsReplyBuffer());
      const BOOL disconnected = smtp.Disconnect();
      if (c.step->phase == Phase::Disconnect && !expected.empty()) failedOperation = disconnected;
      EXPECT_EQ(disconnected, expected.empty() || c.step->phase != Phase::Disconnect);
      EXPECT_FALSE(smtp.Connected());
      EXPECT_FALSE(smtp.HoldsReplyBuffer());
    }
    if (canceller.joinable()) canceller.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(smtp.GetLastError().str(), expected.empty() ? "OK" : expected);
    EXPECT_EQ(failedOperation, expected.empty());
    EXPECT_LT(seconds, 5.0);
    if (c.fault == Fault::TimeOut) {
      EXPECT_GE(seconds, 0.9);
    }
    // A failed Connect closes without QUIT; a finished dialogue ends with it.
    const std::string received = server.Received();
    const bool quitSent = received.find("QUIT\r\n") != std::string::npos;
    EXPECT_EQ(quitSent, c.step->phase != Phase::Connect || expected.empty()) << received;
  }
  EXPECT_EQ(g_brokenPipes.load(), pipesBefore) << "SIGPIPE raised";
#ifdef TARVENKEL_LEAK_CHECK
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

INSTANTIATE_TEST_SUITE_P(EveryStepEveryFault, SmtpFaultMatrix, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.step->name) + "_" + info.param.faultName;
                         });

TEST(SmtpFaultMatrixSize, EveryStepMeetsEveryFault) {
  const std::size_t count = AllCases().size();
  std::printf("fault matrix: %zu steps x %zu faults = %zu cases\n", std::size(kSteps), std::size(kFaults), count);
  EXPECT_EQ(count, std::size(kSteps) * std::size(kFaults));
}

}  // namespace

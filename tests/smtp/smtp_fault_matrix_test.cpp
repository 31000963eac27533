// SPDX-License-Identifier: Apache-2.0
// Every step of the SMTP dialogue under every fault a server or network can
// produce, generated from one table of steps and one of faults, in the full
// dialogue and in the short one against servers that offer PIPELINING,
// CHUNKING or both. Each case checks the result of the operation that meets
// the fault, the exact GetLastError text (the same in every dialogue), the
// connection state and reply buffer afterwards, that no SIGPIPE was raised
// and, in the AddressSanitizer build, that nothing leaked.
#include "smtp/smtp.h"

#include "mail/mail_message.h"

#include "tests/support/scripted_smtp_server.h"
#include "tests/support/smtp_client.h"
#include "tests/support/smtp_dialogue.h"
#include "tests/support/time_scale.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#define TARVENKEL_LEAK_CHECK 1
#endif

using namespace tarvenkel::test;

namespace {

// The dialogue in order. Hello introduces a session without credentials
// (HELO, or EHLO in the short dialogue); Ehlo opens a session that logs in,
// with AUTH LOGIN or, where the short dialogue may, AUTH PLAIN. EndOfData is
// the reply to the end-of-data line or to the last BDAT chunk.
enum class Step {
  Greeting, Hello, Ehlo, AuthLogin, AuthUser, AuthPassword, AuthPlain, MailFrom, Rcpt1, Rcpt2, Data, EndOfData, Quit
};

// Early sends the right reply before reading the command; Batched (where
// commands are grouped) reads the rest of the group before answering all of
// it in one write cut into 3-byte segments.
enum class Fault {
  WrongCode, Closed, Reset, TimeOut, Cancelled, OneBytePerSegment, HugeReply, NotANumber, Early, Batched
};

// The dialogues: the full one, and the short one against a server offering
// PIPELINING, CHUNKING, or both (and AUTH PLAIN beside LOGIN).
enum class Dialogue { Full, Pipelined, ChunkedOnly, Chunked };

const struct DialogueInfo {
  Dialogue dialogue;
  const char* name;
  const char* ehloReply;
} kDialogues[] = {
    {Dialogue::Full, "Full", kLoginOnly},
    {Dialogue::Pipelined, "Pipelined", kPipelining},
    {Dialogue::ChunkedOnly, "ChunkedOnly", kChunkingOnly},
    {Dialogue::Chunked, "Chunked", kEverything},
};

enum class Phase { Connect, Send, Disconnect };

struct StepInfo {
  Step step;
  const char* name;
  Phase phase;
  bool readsCommand;       // the server reads a command line before replying
  bool readsData;          // the server reads the message data before replying
  const char* reply;       // the right reply
  const char* wrongReply;  // a plausible wrong one
  const char* message;     // the reply table's text for the step
};

const StepInfo kSteps[] = {
    {Step::Greeting, "Greeting", Phase::Connect, false, false, "220 test.example ESMTP\r\n", "554 no service\r\n",
     "SMTP server not available"},
    {Step::Hello, "Hello", Phase::Connect, true, false, "250 test.example\r\n", "501 bad name\r\n", "SMTP server error"},
    {Step::Ehlo, "Ehlo", Phase::Connect, true, false, kLoginOnly, "421 busy\r\n", "SMTP server error"},
    {Step::AuthLogin, "AuthLogin", Phase::Connect, true, false, "334 VXNlcm5hbWU6\r\n", "504 unknown\r\n",
     "SMTP server not available"},
    {Step::AuthUser, "AuthUser", Phase::Connect, true, false, "334 UGFzc3dvcmQ6\r\n", "535 no such user\r\n",
     "SMTP server not available"},
    {Step::AuthPassword, "AuthPassword", Phase::Connect, true, false, "235 2.7.0 welcome\r\n", "535 wrong\r\n",
     "SMTP AUTH FAILED"},
    {Step::AuthPlain, "AuthPlain", Phase::Connect, true, false, "235 2.7.0 welcome\r\n", "535 wrong\r\n",
     "SMTP AUTH FAILED"},
    {Step::MailFrom, "MailFrom", Phase::Send, true, false, "250 sender ok\r\n", "550 not you\r\n",
     "SMTP server error"},
    {Step::Rcpt1, "Rcpt1", Phase::Send, true, false, "250 ok\r\n", "550 no such user\r\n", "SMTP server error"},
    {Step::Rcpt2, "Rcpt2", Phase::Send, true, false, "250 ok\r\n", "550 no such user\r\n", "SMTP server error"},
    {Step::Data, "Data", Phase::Send, true, false, "354 go ahead\r\n", "503 no valid recipients\r\n",
     "SMTP server not ready for data"},
    {Step::EndOfData, "EndOfData", Phase::Send, false, true, "250 queued\r\n", "552 too big\r\n",
     "SMTP server error"},
    {Step::Quit, "Quit", Phase::Disconnect, true, false, "221 bye\r\n", "250 what\r\n",
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
    {Fault::Early, "Early"},                 {Fault::Batched, "Batched"},
};

struct Case {
  const DialogueInfo* dialogue;
  const StepInfo* step;
  Fault fault;
  const char* faultName;
};

bool Short(const Case& c) {
  return c.dialogue->dialogue != Dialogue::Full;
}

bool Chunks(const Case& c) {
  return c.dialogue->dialogue == Dialogue::ChunkedOnly || c.dialogue->dialogue == Dialogue::Chunked;
}

// Whether the dialogue writes MAIL From, the RCPT TOs and DATA or the chunk together.
bool Groups(const Case& c) {
  return c.dialogue->dialogue == Dialogue::Pipelined || c.dialogue->dialogue == Dialogue::Chunked;
}

bool InGroup(const Case& c, Step step) {
  const bool envelope = step == Step::MailFrom || step == Step::Rcpt1 || step == Step::Rcpt2;
  return Groups(c) && (envelope || step == (Chunks(c) ? Step::EndOfData : Step::Data));
}

// Faults after which the dialogue goes on as if there had been none.
bool Harmless(Fault fault) {
  return fault == Fault::OneBytePerSegment || fault == Fault::Early || fault == Fault::Batched;
}

// Faults that make a step fail on a connection that survives.
bool Refuses(Fault fault) {
  return fault == Fault::WrongCode || fault == Fault::HugeReply || fault == Fault::NotANumber;
}

bool LogsIn(const Case& c) {
  return c.step->step != Step::Hello;
}

// Whether the dialogue of the case has the step at all.
bool HasStep(const DialogueInfo& dialogue, Step step, bool login) {
  const bool plain = dialogue.dialogue == Dialogue::Chunked;
  switch (step) {
    case Step::Hello:
      return !login;
    case Step::Ehlo:
      return login;
    case Step::AuthLogin:
    case Step::AuthUser:
    case Step::AuthPassword:
      return login && !plain;
    case Step::AuthPlain:
      return login && plain;
    case Step::Data:
      return dialogue.dialogue == Dialogue::Full || dialogue.dialogue == Dialogue::Pipelined;
    default:
      return true;
  }
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  for (const DialogueInfo& dialogue : kDialogues)
    for (const StepInfo& step : kSteps)
      for (const auto& fault : kFaults) {
        Case c{&dialogue, &step, fault.fault, fault.name};
        if (!HasStep(dialogue, step.step, LogsIn(c))) continue;
        if (fault.fault == Fault::Batched && !InGroup(c, step.step)) continue;
        cases.push_back(c);
      }
  return cases;
}

// The steps of the session that the case runs, in order.
std::vector<const StepInfo*> Steps(const Case& c) {
  std::vector<const StepInfo*> steps;
  for (const StepInfo& step : kSteps)
    if (HasStep(*c.dialogue, step.step, LogsIn(c))) steps.push_back(&step);
  return steps;
}

// The right reply of a step in the case's dialogue.
std::string RightReply(const Case& c, const StepInfo& step) {
  if (step.step == Step::Ehlo || (step.step == Step::Hello && Short(c))) return c.dialogue->ehloReply;
  return step.reply;
}

// The wrong reply of the faulty step. EHLO refused with 5xx makes the client
// say HELO instead, so the short dialogue's Hello is refused otherwise.
std::string WrongReply(const Case& c) {
  if (c.step->step == Step::Hello && Short(c)) return "421 busy\r\n";
  return c.step->wrongReply;
}

// Whether a MAIL From that fails in a group leaves the rest of the group to
// be answered by the server, as one that refuses it does.
bool GroupAfterRefusedMail(const Case& c) {
  return Groups(c) && c.step->step == Step::MailFrom && Refuses(c.fault);
}

// Whether a send over the open connection ends the failed transaction with
// RSET: it fails after MAIL From was accepted, or at MAIL From with commands
// after it in the same write, and the connection survives.
bool Resets(const Case& c) {
  const bool afterMail = c.step->step == Step::Data || c.step->step == Step::EndOfData;
  return (afterMail && Refuses(c.fault)) || GroupAfterRefusedMail(c);
}

// What the server reads of a step: its command line, the data, or the chunk.
void ReadStep(const Case& c, const StepInfo& step, SmtpScript& script) {
  if (step.readsCommand) script.ReadLine();
  if (step.readsData) Chunks(c) ? script.ReadChunk() : script.ReadData();
}

// The server's side: the right replies up to the faulty step, the fault, and
// after it the right replies again where the connection survives. With
// resets, the RSET that ends a failed transaction is answered before QUIT.
SmtpScript ScriptFor(const Case& c, bool resets) {
  SmtpScript script;
  const std::vector<const StepInfo*> steps = Steps(c);
  bool answered = false;  // Batched answered the rest of the group
  bool mailRefused = false;
  for (const StepInfo* step : steps) {
    if (step->step == Step::Quit && resets && Resets(c)) script.Reply("250 2.0.0 reset\r\n");
    // After a DATA reply other than 354 the client sends no data, only QUIT.
    const bool dataRefused = c.step->step == Step::Data || (mailRefused && !Chunks(c));
    if (step->step == Step::EndOfData && dataRefused && !Harmless(c.fault)) continue;
    if (answered && InGroup(c, step->step)) continue;
    if (mailRefused && step->step != Step::Quit) {
      // The rest of the group comes all the same; the server refuses it.
      ReadStep(c, *step, script);
      script.Send("503 5.5.1 Error: need MAIL command\r\n");
      continue;
    }
    if (step == c.step && c.fault == Fault::Early) script.Send(RightReply(c, *step));
    if (step == c.step && c.fault == Fault::Batched) {
      std::string replies;
      for (const StepInfo* rest : steps) {
        if (rest < step || !InGroup(c, rest->step)) continue;
        ReadStep(c, *rest, script);
        replies += RightReply(c, *rest);
      }
      script.SendInPieces(replies, 3);
      answered = true;
      continue;
    }
    ReadStep(c, *step, script);
    if (step != c.step) {
      script.Send(RightReply(c, *step));
      continue;
    }
    mailRefused = GroupAfterRefusedMail(c);
    switch (c.fault) {
      case Fault::WrongCode:
        script.Send(WrongReply(c));
        break;
      case Fault::Closed:
        return script.Close();
      case Fault::Reset:
        return script.Reset();
      case Fault::TimeOut:
      case Fault::Cancelled:
        return script.Silent();
      case Fault::OneBytePerSegment:
        script.SendInPieces(RightReply(c, *step), 1);
        break;
      case Fault::HugeReply:
        // One line of 70 KiB with the right code: longer than any reply may be.
        script.Send(std::string(step->reply, 4) + std::string(70 * 1024, 'x') + "\r\n");
        break;
      case Fault::NotANumber:
        script.Send("OK, go ahead\r\n");
        break;
      case Fault::Early:
      case Fault::Batched:
        break;
    }
  }
  return script;
}

// The text GetLastError must return after the faulty step; empty when the
// whole dialogue must succeed.
std::string ExpectedError(const Case& c) {
  if (Harmless(c.fault)) return "";
  const bool rcpt = c.step->step == Step::Rcpt1 || c.step->step == Step::Rcpt2;
  if (rcpt) {
    // A failed RCPT TO does not end the transaction: the text is that of the
    // last step that failed.
    switch (c.fault) {
      case Fault::WrongCode:
        return "550:SMTP server error";
      case Fault::NotANumber:
      case Fault::HugeReply:
        return "0:SMTP server error";
      case Fault::Closed:
      case Fault::Reset:
        return "0:SMTP server not ready for data";
      case Fault::TimeOut:
        return "Timed out";
      case Fault::Cancelled:
        return "Socket Error";
      default:
        break;
    }
  }
  if (c.step->step == Step::Greeting) return "Server didn't respond.";
  const std::string message = c.step->message;
  switch (c.fault) {
    case Fault::WrongCode:
      return WrongReply(c).substr(0, 3) + ":" + message;
    case Fault::Closed:
    case Fault::HugeReply:
    case Fault::NotANumber:
      return "0:" + message;
    case Fault::Reset:
    case Fault::Cancelled:
      return "Socket Error";
    case Fault::TimeOut:
      return "Timed out";
    default:
      break;
  }
  return "";
}

// Whether the operation meeting the fault still succeeds: only a rejected,
// unreadable or oversized RCPT TO reply lets the transaction go on to an
// accepted message (the rest of an oversized reply is skipped, so the replies
// after it stay in step).
bool OperationSucceeds(const Case& c) {
  if (Harmless(c.fault)) return true;
  const bool rcpt = c.step->step == Step::Rcpt1 || c.step->step == Step::Rcpt2;
  return rcpt && (c.fault == Fault::WrongCode || c.fault == Fault::NotANumber || c.fault == Fault::HugeReply);
}

// The milliseconds of one second of the time-outs in the time-out cases, so
// that the matrix does not wait a whole second in each of them.
constexpr UINT kTimeOutSecondMs = 250;

class CSMTPProbe : public CSMTP {
public:
  explicit CSMTPProbe(Fault fault) {
    if (fault == Fault::TimeOut) m_nTimeoutUnitMs = kTimeOutSecondMs;
  }
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

// Points the client at the case's server with the case's credentials and
// time-out; for a cancel case, returns a thread that cancels the client once
// the server has gone silent.
std::thread PrepareClient(const Case& c, ScriptedSmtpServer& server, CSMTP& smtp) {
  Configure(smtp, {.port = server.port(), .user = LogsIn(c) ? "user" : "", .password = LogsIn(c) ? "secret" : "",
                   .shortDialogue = Short(c), .timeout = c.fault == Fault::TimeOut ? 1 : 10});
  if (c.fault != Fault::Cancelled) return std::thread();
  return std::thread([&server, &smtp] {
    if (server.WaitUntilSilent()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    smtp.Cancel();
  });
}

TEST_P(SmtpFaultMatrix, FailsAtTheStepWithItsTextAndEndsClosed) {
  const Case& c = GetParam();
  const std::string expected = ExpectedError(c);
  const int pipesBefore = g_brokenPipes.load();
  {
    ScriptedSmtpServer server(ScriptFor(c, true));
    CSMTPProbe smtp(c.fault);
    std::thread canceller = PrepareClient(c, server, smtp);
    const auto start = std::chrono::steady_clock::now();
    const BOOL connected = smtp.Connect();
    const bool succeeds = OperationSucceeds(c);
    BOOL result = TRUE;
    std::string error;  // GetLastError right after the operation that meets the fault
    if (c.step->phase == Phase::Connect && !succeeds) {
      result = connected;
      error = smtp.GetLastError().str();
      EXPECT_FALSE(smtp.Connected());
      EXPECT_FALSE(smtp.HoldsReplyBuffer());
    } else {
      ASSERT_TRUE(connected) << smtp.GetLastError();
      EXPECT_TRUE(smtp.Connected());
      EXPECT_TRUE(smtp.HoldsReplyBuffer());
      CMailMessage message;
      message.m_sFrom = "alarm@example.com";
      message.m_sSubject = "Alarm";
      message.m_sBody = "Zone 4 open";
      message.AddRecipient("to@example.com", "", CMailMessage::TO);
      message.AddRecipient("cc@example.com", "", CMailMessage::CC);
      const BOOL sent = smtp.SendMessage(&message);
      if (c.step->phase == Phase::Send) {
        result = sent;
        error = smtp.GetLastError().str();
      } else {
        EXPECT_TRUE(sent) << smtp.GetLastError();
      }
      // The session stays open until Disconnect, also when the connection
      // under it has failed.
      EXPECT_TRUE(smtp.Connected());
      EXPECT_TRUE(smtp.HoldsReplyBuffer());
      const BOOL disconnected = smtp.Disconnect();
      if (c.step->phase != Phase::Send) {
        result = disconnected;
        error = smtp.GetLastError().str();
      }
      EXPECT_FALSE(smtp.Connected());
      EXPECT_FALSE(smtp.HoldsReplyBuffer());
    }
    EXPECT_EQ(result, succeeds ? TRUE : FALSE);
    if (canceller.joinable()) canceller.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (c.step->step == Step::Greeting && c.fault == Fault::Reset && error == "Unable to connect to server") {
      // A reset sent at once after the accept may reach the client while it
      // still completes its connect; both texts name the failed step rightly.
    } else {
      EXPECT_EQ(error, expected.empty() ? "OK" : expected);
    }
    EXPECT_LT(seconds, tarvenkel::test::Slack(5.0));
    if (c.fault == Fault::TimeOut) {
      EXPECT_GE(seconds, 0.9 * kTimeOutSecondMs / 1000.0);
    }
    // A failed Connect closes without QUIT; a finished dialogue ends with it.
    const std::string received = server.Received();
    const bool quitSent = received.find("QUIT\r\n") != std::string::npos;
    if (c.step->phase == Phase::Connect && !succeeds) {
      EXPECT_FALSE(quitSent) << received;
    }
    if (expected.empty()) {
      EXPECT_TRUE(quitSent) << received;
    }
    EXPECT_EQ(received.find("RSET\r\nQUIT\r\n") != std::string::npos, Resets(c)) << received;
  }
  EXPECT_EQ(g_brokenPipes.load(), pipesBefore) << "SIGPIPE raised";
#ifdef TARVENKEL_LEAK_CHECK
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

// The one-call send of a CSMTP object formats the message straight into the
// data phase; that of a derived class (the probe) goes through the
// overridable FormatMailMessage and transmit_message. Both must meet every
// fault the same way.
template <typename Client>
void OneCallSendMeetsTheFault(const Case& c) {
  ScriptedSmtpServer server(ScriptFor(c, false));
  Client smtp = [&] {
    if constexpr (std::is_same_v<Client, CSMTPProbe>) return Client(c.fault);
    else return Client();
  }();
  std::thread canceller = PrepareClient(c, server, smtp);
  const auto start = std::chrono::steady_clock::now();
  // Two recipients in the list: the same two RCPT TO as the message above.
  const BOOL sent = smtp.SendMessage("to@example.com;cc@example.com", "Zone 4 open", "Alarm", nullptr);
  if (canceller.joinable()) canceller.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // A QUIT that fails does not change the send's result.
  EXPECT_EQ(sent, OperationSucceeds(c) || c.step->phase == Phase::Disconnect ? TRUE : FALSE) << smtp.GetLastError();
  if constexpr (std::is_same_v<Client, CSMTPProbe>) {
    EXPECT_FALSE(smtp.Connected());
    EXPECT_FALSE(smtp.HoldsReplyBuffer());
  }
  EXPECT_LT(seconds, tarvenkel::test::Slack(6.0));
  // The call closes the connection, so a failed transaction ends with QUIT
  // alone.
  const std::string received = server.Received();
  EXPECT_EQ(received.find("RSET"), std::string::npos) << received;
  // An accepted message went out whole: the server saw the end-of-data line
  // after the body.
  if (sent && c.step->phase != Phase::Disconnect) {
    EXPECT_NE(received.find("Zone 4 open\r\n"), std::string::npos);
    EXPECT_NE(received.find(Chunks(c) ? " LAST\r\n" : "\r\n.\r\n"), std::string::npos);
  }
}

TEST_P(SmtpFaultMatrix, OneCallSendEndsClosed) {
  const Case& c = GetParam();
  const int pipesBefore = g_brokenPipes.load();
  // The derived class's path differs only in how the message is formatted
  // and handed to the transaction; a silent server is waited for by the
  // same socket call either way, so the time-out cases are run once, by the
  // derived class, whose seconds of time-out are shortened.
  if (c.fault != Fault::TimeOut) {
    SCOPED_TRACE("CSMTP");
    OneCallSendMeetsTheFault<CSMTP>(c);
  }
  {
    SCOPED_TRACE("derived class");
    OneCallSendMeetsTheFault<CSMTPProbe>(c);
  }
  EXPECT_EQ(g_brokenPipes.load(), pipesBefore) << "SIGPIPE raised";
#ifdef TARVENKEL_LEAK_CHECK
  EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0);
#endif
}

INSTANTIATE_TEST_SUITE_P(EveryStepEveryFault, SmtpFaultMatrix, ::testing::ValuesIn(AllCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.dialogue->name) + "_" + info.param.step->name + "_" +
                                  info.param.faultName;
                         });

TEST(SmtpFaultMatrixSize, EveryStepOfEveryDialogueMeetsEveryFault) {
  std::size_t expected = 0;
  for (const DialogueInfo& dialogue : kDialogues) {
    std::size_t steps = 0;
    std::size_t grouped = 0;
    for (const StepInfo& step : kSteps) {
      Case c{&dialogue, &step, Fault::WrongCode, ""};
      if (!HasStep(dialogue, step.step, LogsIn(c))) continue;
      ++steps;
      if (InGroup(c, step.step)) ++grouped;
    }
    // Batched applies only where commands are grouped.
    expected += steps * (std::size(kFaults) - 1) + grouped;
  }
  const std::size_t count = AllCases().size();
  std::printf("fault matrix: %zu dialogues, %zu cases\n", std::size(kDialogues), count);
  EXPECT_EQ(count, expected);
}

}  // namespace

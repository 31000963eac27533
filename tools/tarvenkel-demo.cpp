// The demo: talks to an SMTP server the way an alarm-monitoring host does.
// It logs in with AUTH LOGIN, sends a plain message over an open connection,
// then sends a real alarm notification in one call with an alarm log it writes
// into the work folder as attachment, printing every step and its result.
//
// Usage: tarvenkel-demo HOST PORT USER PASSWORD WORKDIR
#include "framework/string_array.h"
#include "mail/mail_message.h"
#include "smtp/smtp.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

int g_failures = 0;

// Prints the outcome of one step; a failure also prints the session's text.
void Report(BOOL ok, const CSMTP& smtp) {
  if (ok) {
    std::printf("   ok\n");
  } else {
    ++g_failures;
    std::printf("   FAILED: %s\n", smtp.GetLastError().GetString());
  }
}

// Writes a small alarm log as a monitoring station would keep it; one line
// starts with a dot, which must arrive unchanged.
bool WriteAlarmLog(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::time_t now = std::time(nullptr);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  std::fprintf(f, "%s  ALARM  line 4  pressure 5.4 bar (limit 5.0 bar)\r\n", stamp);
  std::fprintf(f, "%s  INFO   valve B closed by interlock\r\n", stamp);
  std::fprintf(f, ".5 bar over the limit for 90 s\r\n");
  std::fprintf(f, "%s  INFO   operator on duty notified by mail\r\n", stamp);
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD WORKDIR\n", argv[0]);
    return 2;
  }
  const CString host = argv[1];
  const int port = std::atoi(argv[2]);
  const CString user = argv[3];
  const CString password = argv[4];
  const std::string workdir = argv[5];
  const CString sender = "alarms@station-7.example";
  const CString recipients = "Operator on duty <duty@example.com>;maintenance@example.com";

  CSMTP smtp;
  smtp.SetTimeout(30);
  smtp.SetParams(host, sender, port, user, password);

  std::printf("== 1. connect to %s:%d and log in as \"%s\" (EHLO, AUTH LOGIN)\n", host.GetString(), port,
              user.GetString());
  BOOL connected = smtp.Connect();
  Report(connected, smtp);

  if (connected) {
    std::printf("== 2. send a plain message over the open connection\n");
    CMailMessage msg;
    msg.m_sFrom = sender;
    msg.m_sSubject = "Station 7: monitoring started";
    msg.AddMultipleRecipients(recipients, CMailMessage::TO);
    msg.m_sBody = "Monitoring of station 7 has started.\r\n.dot lines and bare\nline ends arrive intact.";
    Report(smtp.SendMessage(&msg), smtp);

    std::printf("== 3. disconnect (QUIT)\n");
    Report(smtp.Disconnect(), smtp);
  }

  const std::string log = workdir + "/alarm log.txt";
  std::printf("== 4. write the alarm log \"%s\"\n", log.c_str());
  bool written = WriteAlarmLog(log);
  if (!written) ++g_failures;
  std::printf(written ? "   ok\n" : "   FAILED: cannot write it\n");

  std::printf("== 5. one call: connect, log in, send the alarm notification with the log attached, disconnect\n");
  CStringArray attachments;
  attachments.Add(log.c_str());
  BOOL sent = smtp.SendMessage(recipients,
                               "ALARM on station 7, line 4: pressure 5.4 bar, limit 5.0 bar.\r\n"
                               "Valve B was closed by the interlock. The alarm log is attached.",
                               "ALARM station 7: pressure over limit", &attachments);
  Report(sent, smtp);

  std::printf("== done: %s\n", g_failures == 0 ? "every step succeeded" : "some steps failed");
  return g_failures == 0 ? 0 : 1;
}

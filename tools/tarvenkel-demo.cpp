// SPDX-License-Identifier: Apache-2.0
// The demo: talks to an SMTP server the way an alarm-monitoring host does.
// It logs in with AUTH LOGIN, sends a plain message over an open connection,
// then sends a real alarm notification in one call with an alarm log it writes
// into the work folder as attachment, printing every step and its result.
// Meanwhile it shows the progress dialog (on the screen when a display is
// present, headless otherwise) and saves a picture of it in the work folder.
//
// Last it sends an alarm the way a Chinese console does: subject, operator's
// name, body and attachment name in GBK, the default ANSI code page.
//
// Usage: tarvenkel-demo HOST PORT USER PASSWORD WORKDIR
#include <tarvenkel/framework/core/string_array.h>
#include <tarvenkel/framework/gdi/surface.h>
#include <tarvenkel/framework/window/window.h>
#include <tarvenkel/mail/mail_message.h>
#include <tarvenkel/smtp/smtp.h>
#include <tarvenkel/ui/net_connect.h>

#include <iconv.h>

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

// The GBK bytes of UTF-8 text, as a console in code page 936 holds it.
std::string Gbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(utf8.size() * 2, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outPtr = out.data();
  std::size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
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

  // The progress dialog animates while the calls below block.
  CNetConnect progress;
  progress.Create(nullptr);
  auto status = [&](const CString& text) {
    progress.SetStatus(text);
    AfxPumpPendingMessages();
  };

  std::printf("== 1. connect to %s:%d and log in as \"%s\" (EHLO, AUTH LOGIN)\n", host.GetString(), port,
              user.GetString());
  CString line;
  line.Format("Connecting to %s:%d ...", host.GetString(), port);
  status(line);
  BOOL connected = smtp.Connect();
  Report(connected, smtp);

  if (connected) {
    std::printf("== 2. send a plain message over the open connection\n");
    status("Sending a message ...");
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
  status("Sending the alarm notification ...");
  CStringArray attachments;
  attachments.Add(log.c_str());
  BOOL sent = smtp.SendMessage(recipients,
                               "ALARM on station 7, line 4: pressure 5.4 bar, limit 5.0 bar.\r\n"
                               "Valve B was closed by the interlock. The alarm log is attached.",
                               "ALARM station 7: pressure over limit", &attachments);
  Report(sent, smtp);
  status(sent ? "The alarm notification was sent." : "Sending the alarm notification failed.");

  const std::string gbkLog = workdir + "/" + Gbk("报警日志.txt");
  std::printf("== 6. one call: an alarm in Chinese (GBK): subject, recipient name, body and attachment name\n");
  status("Sending the Chinese alarm ...");
  CStringArray gbkAttachments;
  bool gbkWritten = WriteAlarmLog(gbkLog);
  if (gbkWritten) gbkAttachments.Add(gbkLog.c_str());
  BOOL gbkSent = gbkWritten && smtp.SendMessage(Gbk("值班员 <duty@example.com>").c_str(),
                                                Gbk("三号厅压力 5.4 bar，超过上限 4.0 bar。\n"
                                                    "联锁已关闭阀门 B，报警日志见附件。").c_str(),
                                                Gbk("报警：三号厅压力过高").c_str(), &gbkAttachments);
  Report(gbkSent, smtp);

  const std::string picture = workdir + "/net_connect.png";
  const CRasterSurface* surface = AfxGetWindowSurface(progress.m_hWnd);
  bool saved = surface != nullptr && surface->SavePng(picture.c_str());
  std::printf("== the progress dialog (%s): %s\n",
              AfxGetWindowBackend() == AfxWindowBackend::X11 ? "on the display" : "headless",
              saved ? picture.c_str() : "could not be saved");
  progress.DestroyWindow();

  std::printf("== done: %s\n", g_failures == 0 ? "every step succeeded" : "some steps failed");
  return g_failures == 0 ? 0 : 1;
}

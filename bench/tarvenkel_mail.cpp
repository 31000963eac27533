// SPDX-License-Identifier: Apache-2.0
// Our side of bench/compare: the three jobs every peer does, done the way a
// host of this library would do them.
//   tarvenkel_mail compose ATTACHMENT OUTPUT   compose a message with the attachment, write it to OUTPUT
//   tarvenkel_mail send HOST PORT ATTACHMENT   send a message with the attachment (the one-call send)
//   tarvenkel_mail notify HOST PORT COUNT      send COUNT one-line notifications, one connection each
//   tarvenkel_mail transmit HOST PORT FILE     send FILE, a message already formatted, as it is
// and the side of bench/latency that keeps one connection open:
//   tarvenkel_mail burst HOST PORT COUNT [--short-dialogue] [--starttls CAFILE USER PASSWORD]
//                                              send COUNT notifications over one connection, with the
//                                              shortest dialogue the server allows, or upgraded with
//                                              STARTTLS (trusting CAFILE) and logged in
// and the side of bench/outbox_backlog:
//   tarvenkel_mail backlog HOST PORT COUNT FOLDER  queue COUNT notifications in an outbox in FOLDER,
//                                              then flush them in the short dialogue; prints the
//                                              seconds of the flush alone
#include <tarvenkel/framework/core/string.h>
#include <tarvenkel/framework/core/string_array.h>
#include <tarvenkel/framework/io/file.h>
#include <tarvenkel/mail/mail_message.h>
#include <tarvenkel/mail/mime_message.h>
#include <tarvenkel/outbox/mail_outbox.h>
#include <tarvenkel/smtp/smtp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kSender[] = "bench@example.org";
const char kRecipient[] = "ops@example.org";
const char kText[] = "Pump 3: pressure above limit";

int compose(const char* attachment, const char* output) {
  CMIMEMessage message;
  message.m_sFrom = kSender;
  message.m_sSubject = "Compose";
  message.m_sBody = kText;
  message.AddRecipient(kRecipient);
  message.AddMIMEPart(attachment, APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  // Written as it is formatted: the attachment goes through a piece at a
  // time and the message is never held whole.
  CFile out;
  CFileException error;
  if (!out.Open(output, CFile::modeCreate | CFile::modeWrite, &error)) {
    std::fprintf(stderr, "tarvenkel_mail: %s: %s\n", output, std::strerror(static_cast<int>(error.m_lOsError)));
    return 1;
  }
  if (!message.WriteMessage(out)) {
    std::fprintf(stderr, "tarvenkel_mail: %s: cannot write\n", output);
    return 1;
  }
  try {
    out.Close();
  } catch (CFileException* e) {
    e->Delete();
    std::fprintf(stderr, "tarvenkel_mail: %s: cannot close\n", output);
    return 1;
  }
  return 0;
}

// One notification through the one-call send; false with the reason printed.
bool notify(CSMTP& smtp, const char* subject, CStringArray* attachments) {
  if (smtp.SendMessage(kRecipient, kText, subject, attachments)) return true;
  std::fprintf(stderr, "tarvenkel_mail: %s\n", smtp.GetLastError().GetString());
  return false;
}

// A message formatted elsewhere (the file curl and msmtp are given):
// formatting leaves it as it is, and the whole text travels as the body.
class CFormattedMessage : public CMailMessage {
protected:
  void start_header() override {}
  void prepare_header() override {}
  void end_header() override {}
  void prepare_body() override {}
};

// Sends the formatted message in FILE over one connection of smtp.
int transmit(CSMTP& smtp, const char* path) {
  CFormattedMessage message;
  FILE* in = std::fopen(path, "rb");
  long size = -1;
  if (in && std::fseek(in, 0, SEEK_END) == 0) size = std::ftell(in);
  if (size < 0 || size > 0x7fffffff || std::fseek(in, 0, SEEK_SET) != 0) {
    std::perror(path);
    return 1;
  }
  const int length = static_cast<int>(size);
  // Reserved first, as the composition does: a large block then costs far
  // fewer page faults when it is filled.
  message.m_sBody.Preallocate(length);
  const size_t read = std::fread(message.m_sBody.GetBuffer(length), 1, static_cast<size_t>(length), in);
  message.m_sBody.ReleaseBuffer(static_cast<int>(read));
  std::fclose(in);
  if (read != static_cast<size_t>(length)) {
    std::fprintf(stderr, "tarvenkel_mail: %s: short read\n", path);
    return 1;
  }
  message.m_sFrom = kSender;
  message.AddRecipient(kRecipient);
  if (smtp.Connect() && smtp.SendMessage(&message) && smtp.Disconnect()) return 0;
  std::fprintf(stderr, "tarvenkel_mail: %s\n", smtp.GetLastError().GetString());
  return 1;
}

// Turns on the shortest dialogue where this CSMTP has the switch; FALSE
// where it has none. A template, so that the program also builds against a
// CSMTP without it, for a comparison with such a tree.
template <typename Session>
bool short_dialogue(Session& smtp) {
  if constexpr (requires { smtp.SetShortDialogue(TRUE); }) {
    smtp.SetShortDialogue(TRUE);
    return true;
  }
  return false;
}

// COUNT notifications over one connection, the options after it as the
// usage says; 2 for bad options.
int burst(int argc, char** argv) {
  CSMTP smtp;
  CString user, password;
  for (int i = 5; i < argc; ++i) {
    if (std::strcmp(argv[i], "--short-dialogue") == 0) {
      if (!short_dialogue(smtp)) {
        std::fprintf(stderr, "tarvenkel_mail: this CSMTP has no short dialogue\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--starttls") == 0 && i + 3 < argc) {
      smtp.SetSecurity(CSMTP::SECURITY_STARTTLS);
      smtp.SetCAFile(argv[i + 1]);
      user = argv[i + 2];
      password = argv[i + 3];
      i += 3;
    } else {
      return 2;
    }
  }
  smtp.SetParams(argv[2], kSender, std::atoi(argv[3]), user, password);
  if (!smtp.Connect()) {
    std::fprintf(stderr, "tarvenkel_mail: %s\n", smtp.GetLastError().GetString());
    return 1;
  }
  const int count = std::atoi(argv[4]);
  for (int i = 0; i < count; ++i) {
    CMIMEMessage message;
    message.m_sFrom = kSender;
    message.m_sSubject.Format("Notification %d", i);
    message.m_sBody = kText;
    message.AddRecipient(kRecipient);
    if (!smtp.SendMessage(&message)) {
      std::fprintf(stderr, "tarvenkel_mail: %s\n", smtp.GetLastError().GetString());
      return 1;
    }
  }
  if (smtp.Disconnect()) return 0;
  std::fprintf(stderr, "tarvenkel_mail: %s\n", smtp.GetLastError().GetString());
  return 1;
}

// A backlog after an outage: COUNT notifications queued, then one flush.
int backlog(char** argv) {
  CMailOutbox outbox;
  if (!outbox.Open(argv[5])) {
    std::fprintf(stderr, "tarvenkel_mail: %s\n", outbox.GetLastError().GetString());
    return 1;
  }
  const int count = std::atoi(argv[4]);
  for (int i = 0; i < count; ++i) {
    CMIMEMessage message;
    message.m_sFrom = kSender;
    message.m_sSubject.Format("Notification %d", i);
    message.m_sBody = kText;
    message.AddRecipient(kRecipient);
    if (!outbox.Queue(&message)) {
      std::fprintf(stderr, "tarvenkel_mail: %s\n", outbox.GetLastError().GetString());
      return 1;
    }
  }
  CSMTP smtp;
  smtp.SetParams(argv[2], kSender, std::atoi(argv[3]), "", "");
  smtp.SetShortDialogue();
  const auto start = std::chrono::steady_clock::now();
  const BOOL flushed = outbox.Flush(smtp);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  if (!flushed || outbox.GetWaitingCount() != 0) {
    std::fprintf(stderr, "tarvenkel_mail: %d left: %s\n", outbox.GetWaitingCount(),
                 outbox.GetReport().empty() ? outbox.GetLastError().GetString()
                                            : outbox.GetReport().back().sReply.GetString());
    return 1;
  }
  std::printf("%.3f\n", seconds.count());
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: tarvenkel_mail compose ATTACHMENT OUTPUT | send HOST PORT ATTACHMENT | notify HOST PORT COUNT"
               " | transmit HOST PORT FILE\n"
               "       | burst HOST PORT COUNT [--short-dialogue] [--starttls CAFILE USER PASSWORD]\n"
               "       | backlog HOST PORT COUNT FOLDER\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "compose") == 0) return compose(argv[2], argv[3]);
  if (argc >= 5 && std::strcmp(argv[1], "burst") == 0) {
    const int status = burst(argc, argv);
    return status == 2 ? usage() : status;
  }
  if (argc == 6 && std::strcmp(argv[1], "backlog") == 0) return backlog(argv);
  if (argc != 5) return usage();
  CSMTP smtp;
  smtp.SetParams(argv[2], kSender, std::atoi(argv[3]), "", "");
  if (std::strcmp(argv[1], "send") == 0) {
    CStringArray attachments;
    attachments.Add(argv[4]);
    return notify(smtp, "Send", &attachments) ? 0 : 1;
  }
  if (std::strcmp(argv[1], "transmit") == 0) return transmit(smtp, argv[4]);
  if (std::strcmp(argv[1], "notify") == 0) {
    int count = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
      CString subject;
      subject.Format("Notification %d", i);
      if (!notify(smtp, subject, nullptr)) return 1;
    }
    return 0;
  }
  return usage();
}

// SPDX-License-Identifier: Apache-2.0
// The POCO peer of bench/compare: the same three jobs as bench/tarvenkel_mail.cpp,
// done the way a POCO user would do them with MailMessage and SMTPClientSession.
//   poco_mail compose ATTACHMENT OUTPUT   compose a message with the attachment, write it to OUTPUT
//   poco_mail send HOST PORT ATTACHMENT   compose a message with the attachment and send it
//   poco_mail notify HOST PORT COUNT      send COUNT one-line notifications, one connection each
// and, for bench/latency,
//   poco_mail burst HOST PORT COUNT       send COUNT notifications over one connection
// where notify and burst take --starttls CAFILE USER PASSWORD at the end to
// upgrade with STARTTLS (trusting CAFILE) and log in with AUTH PLAIN. (With
// AUTH LOGIN, POCO goes out of step with aiosmtpd, whose first prompt is
// "User Name" rather than the usual "Username:": its MAIL command is then
// taken for the answer, "501 5.5.2 Can't decode base64".)
#include <Poco/Exception.h>
#include <Poco/Net/FilePartSource.h>
#include <Poco/Net/MailMessage.h>
#include <Poco/Net/MailRecipient.h>
#include <Poco/Net/NetSSL.h>
#include <Poco/Net/SecureSMTPClientSession.h>
#include <Poco/Net/StringPartSource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using Poco::Net::MailMessage;
using Poco::Net::MailRecipient;

namespace {

const char kSender[] = "bench@example.org";
const char kRecipient[] = "ops@example.org";

// A message like the ones the other peers build: sender, one recipient, subject,
// a one-line text and, when a path is given, that file as a base64 attachment.
void build(MailMessage& message, const std::string& subject, const std::string& attachment) {
  message.setSender(kSender);
  message.addRecipient(MailRecipient(MailRecipient::PRIMARY_RECIPIENT, kRecipient));
  message.setSubject(subject);
  if (attachment.empty()) {
    message.setContent("Pump 3: pressure above limit\r\n", MailMessage::ENCODING_7BIT);
    return;
  }
  message.addContent(new Poco::Net::StringPartSource("Pump 3: pressure above limit\r\n"),
                     MailMessage::ENCODING_7BIT);
  std::string name = attachment.substr(attachment.find_last_of('/') + 1);
  message.addAttachment(name, new Poco::Net::FilePartSource(attachment, "application/octet-stream"));
}

// Where and how to connect: with a CA file, upgraded with STARTTLS and logged in.
struct Server {
  std::string host;
  Poco::UInt16 port = 0;
  std::string caFile, user, password;
};

// Opens a session, greets, sends the message when one is given, then count
// notifications numbered from first, and quits.
void send(const Server& server, const MailMessage* message, int first, int count) {
  Poco::Net::SecureSMTPClientSession session(server.host, server.port);
  session.login();
  if (!server.caFile.empty()) {
    Poco::Net::Context::Ptr context =
        new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, server.caFile, Poco::Net::Context::VERIFY_RELAXED);
    if (!session.startTLS(context)) throw Poco::Exception("STARTTLS refused");
    session.login(Poco::Net::SMTPClientSession::AUTH_PLAIN, server.user, server.password);
  }
  if (message) session.sendMessage(*message);
  for (int i = first; i < first + count; ++i) {
    MailMessage notification;
    build(notification, "Notification " + std::to_string(i), "");
    session.sendMessage(notification);
  }
  session.close();
}

int usage() {
  std::fprintf(stderr,
               "usage: poco_mail compose ATTACHMENT OUTPUT | send HOST PORT ATTACHMENT\n"
               "       | notify|burst HOST PORT COUNT [--starttls CAFILE USER PASSWORD]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return usage();
  std::string mode = argv[1];
  try {
    if (mode == "compose" && argc == 4) {
      MailMessage message;
      build(message, "Compose", argv[2]);
      std::ofstream out(argv[3], std::ios::binary);
      message.write(out);
      out.close();
      return out ? 0 : 1;
    }
    Server server;
    server.host = argv[2];
    server.port = static_cast<Poco::UInt16>(std::atoi(argv[3]));
    if (mode == "send" && argc == 5) {
      MailMessage message;
      build(message, "Send", argv[4]);
      send(server, &message, 0, 0);
      return 0;
    }
    const bool tls = argc == 9 && std::string(argv[5]) == "--starttls";
    if ((mode == "notify" || mode == "burst") && (argc == 5 || tls)) {
      if (tls) {
        Poco::Net::initializeSSL();
        server.caFile = argv[6];
        server.user = argv[7];
        server.password = argv[8];
      }
      const int count = std::atoi(argv[4]);
      if (mode == "burst") {
        send(server, nullptr, 0, count);
        return 0;
      }
      for (int i = 0; i < count; ++i) send(server, nullptr, i, 1);
      return 0;
    }
  } catch (const Poco::Exception& e) {
    std::fprintf(stderr, "poco_mail: %s\n", e.displayText().c_str());
    return 1;
  }
  return usage();
}

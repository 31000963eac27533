// The POCO peer of bench/compare: the same three jobs as bench/tarvenkel_mail.cpp,
// done the way a POCO user would do them with MailMessage and SMTPClientSession.
//   poco_mail compose ATTACHMENT OUTPUT   compose a message with the attachment, write it to OUTPUT
//   poco_mail send HOST PORT ATTACHMENT   compose a message with the attachment and send it
//   poco_mail notify HOST PORT COUNT      send COUNT one-line notifications, one connection each
#include <Poco/Exception.h>
#include <Poco/Net/FilePartSource.h>
#include <Poco/Net/MailMessage.h>
#include <Poco/Net/MailRecipient.h>
#include <Poco/Net/SMTPClientSession.h>
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

// Opens a session, greets, sends one message and quits.
void send(const std::string& host, unsigned port, const MailMessage& message) {
  Poco::Net::SMTPClientSession session(host, static_cast<Poco::UInt16>(port));
  session.login();
  session.sendMessage(message);
  session.close();
}

int usage() {
  std::fprintf(stderr,
               "usage: poco_mail compose ATTACHMENT OUTPUT | send HOST PORT ATTACHMENT | notify HOST PORT COUNT\n");
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
    if (mode == "send" && argc == 5) {
      MailMessage message;
      build(message, "Send", argv[4]);
      send(argv[2], static_cast<unsigned>(std::atoi(argv[3])), message);
      return 0;
    }
    if (mode == "notify" && argc == 5) {
      int count = std::atoi(argv[4]);
      for (int i = 0; i < count; ++i) {
        MailMessage message;
        build(message, "Notification " + std::to_string(i), "");
        send(argv[2], static_cast<unsigned>(std::atoi(argv[3])), message);
      }
      return 0;
    }
  } catch (const Poco::Exception& e) {
    std::fprintf(stderr, "poco_mail: %s\n", e.displayText().c_str());
    return 1;
  }
  return usage();
}

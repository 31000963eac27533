// SPDX-License-Identifier: Apache-2.0
#include "tools/send/notification_entry.h"

#include <tarvenkel/framework/core/code_page.h>
#include <tarvenkel/framework/core/string_array.h>
#include <tarvenkel/framework/io/file.h>
#include <tarvenkel/smtp/smtp.h>
#include "tools/send/address_list.h"
#include "tools/send/dialogue_trace.h"
#include "tools/send/named_sender_message.h"
#include "tools/send/send_charset.h"
#include "tools/send/send_failure.h"
#include "tools/send/send_login.h"
#include "tools/send/send_queue.h"
#include "tools/send/send_settings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sysexits.h>
#include <unistd.h>

namespace {

// The exit status of an attachment left out of a message that was sent:
// the alarm went, so it must not be sent again, but something is missing.
constexpr int kAttachmentMissing = EX_NOINPUT;

// Everything the message needs, checked and in the library's terms.
struct Prepared {
  std::vector<Mailbox> to, cc, bcc;
  std::string subject, body;
  std::vector<std::string> attachments;  // those that could be read
};

// Reads the address lists of one option into mailboxes.
bool read_recipients(const char* option, const std::vector<std::string>& lists, std::vector<Mailbox>& mailboxes,
                     std::string& error) {
  for (const std::string& list : lists) {
    if (!ParseAddressList(list, mailboxes, error)) {
      error = std::string(option) + " " + error;
      return false;
    }
  }
  return true;
}

// Whether an attachment is a regular file this process can read; false with
// the reason when it is not, so that it can be left out with a warning.
bool attachment_is_readable(const std::string& path, std::string& reason) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    reason = "not a regular file";
    return false;
  }
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  close(fd);
  return true;
}

// Reads a whole stream; false on a read error.
bool read_all(FILE* stream, std::string& text) {
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stream)) > 0) text.append(buffer, n);
  return !std::ferror(stream);
}

// The texts of a message that are labelled with its charset.
std::vector<LabelledText> labelled_texts(const SendSettings& settings, const Prepared& prepared) {
  std::vector<LabelledText> texts = {
      {"the subject", prepared.subject}, {"the body", prepared.body}, {"the name of --from", settings.fromName}};
  for (const auto* list : {&prepared.to, &prepared.cc, &prepared.bcc})
    for (const Mailbox& mailbox : *list) texts.push_back({"the name of <" + mailbox.address + ">", mailbox.name});
  for (const std::string& path : prepared.attachments) {
    const size_t slash = path.rfind('/');
    texts.push_back({"the file name of '" + path + "'", slash == std::string::npos ? path : path.substr(slash + 1)});
  }
  return texts;
}

// A name is written before "<" with a blank, as the library's own
// "Name <address>" lists give it.
CString name_of(const Mailbox& mailbox) { return mailbox.name.empty() ? "" : (mailbox.name + " ").c_str(); }

// Fills a MIME message the way the one-call send does, so that --dry-run
// shows what either way of sending puts on the wire.
void build_message(const SendSettings& settings, const Prepared& prepared, CNamedSenderMessage& message) {
  const std::string& charset = *settings.charset;
  message.SetCharset(charset.c_str());
  message.SetSender(*settings.from, settings.fromName);
  message.m_sSubject = prepared.subject.c_str();
  message.m_sBody = prepared.body.c_str();
  for (const Mailbox& mailbox : prepared.to) message.AddRecipient(mailbox.address.c_str(), name_of(mailbox), CMailMessage::TO);
  for (const Mailbox& mailbox : prepared.cc) message.AddRecipient(mailbox.address.c_str(), name_of(mailbox), CMailMessage::CC);
  for (const Mailbox& mailbox : prepared.bcc)
    message.AddRecipient(mailbox.address.c_str(), name_of(mailbox), CMailMessage::BCC);
  for (const std::string& path : prepared.attachments)
    message.AddMIMEPart(path.c_str(), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
}

// The recipients as the one-call send takes them, "Name <address>" separated
// by ";"; empty when that list cannot carry them (Cc, Bcc, a sender's name,
// a ";", "<" or ">" inside a name or address), and the message is sent whole.
std::string one_call_list(const SendSettings& settings, const Prepared& prepared) {
  // The one-call send gives an empty subject or body a text; the mail entry keeps them empty.
  if (settings.mail || !prepared.cc.empty() || !prepared.bcc.empty() || !settings.fromName.empty()) return "";
  std::string list;
  for (const Mailbox& mailbox : prepared.to) {
    if ((mailbox.name + mailbox.address).find_first_of(";<>") != std::string::npos) return "";
    if (!list.empty()) list += ';';
    list += name_of(mailbox).str() + (mailbox.name.empty() ? mailbox.address : "<" + mailbox.address + ">");
  }
  return list;
}

// Sends the message; the exit status of the program.
int send(const SendSettings& settings, const Prepared& prepared) {
  if (settings.queue) {
    CNamedSenderMessage message;
    build_message(settings, prepared, message);
    if (const std::optional<int> status = SendThroughQueue(settings, message)) return *status;
  }
  CSMTP smtp;
  ConfigureSession(smtp, settings);
  if (const int status = ConnectSession(smtp, settings); status != EX_OK) return status;
  // The one-call send formats the message into the connection a piece at a
  // time; it uses the connection already open and closes it.
  BOOL accepted = FALSE;
  if (const std::string list = one_call_list(settings, prepared); !list.empty()) {
    CStringArray paths;
    for (const std::string& path : prepared.attachments) paths.Add(path.c_str());
    accepted = smtp.SendMessage(list.c_str(), prepared.body.c_str(), prepared.subject.c_str(), &paths);
  } else {
    CNamedSenderMessage message;
    build_message(settings, prepared, message);
    accepted = smtp.SendMessage(&message);
  }
  const SendFailure failure(smtp);
  smtp.Disconnect();
  const SendRefusals refused = SendRefusals::Report(smtp, accepted != FALSE);
  if (!accepted)
    return SendFailureStatus(settings, failure, refused,
                             static_cast<int>(prepared.to.size() + prepared.cc.size() + prepared.bcc.size()));
  if (failure.text.str().starts_with("Attachment could not be read")) {
    std::fprintf(stderr, "%s: warning: sent without what could not be read: %s\n", kSendProgram,
                 failure.text.str().c_str());
    return kAttachmentMissing;
  }
  return EX_OK;
}

// Reads the recipients, the attachments that can be read, the subject and
// the body; EX_OK, or the exit status of the mistake after reporting it.
int prepare(const SendSettings& settings, Prepared& prepared, bool& attachmentMissing) {
  std::string error;
  const bool mail = settings.mail;
  if (!settings.HasSender())
    return ReportUsageError(mail ? "no sender: give -r ADDRESS, or from or default-domain in the configuration file"
                                 : "missing --from ADDRESS");
  if (!read_recipients(mail ? "recipient" : "--to", mail ? settings.arguments : settings.to, prepared.to, error) ||
      !read_recipients(mail ? "-c" : "--cc", settings.cc, prepared.cc, error) ||
      !read_recipients(mail ? "-b" : "--bcc", settings.bcc, prepared.bcc, error))
    return ReportUsageError(error);
  // Names without a domain become the addresses of their aliases, or get the default domain.
  std::vector<std::string> warnings;
  for (auto* list : {&prepared.to, &prepared.cc, &prepared.bcc})
    *list = settings.addresses.Recipients(*list, &warnings);
  for (const std::string& warning : warnings) std::fprintf(stderr, "%s: warning: %s\n", kSendProgram, warning.c_str());
  if (prepared.to.empty())
    return ReportUsageError(mail ? "no recipients: give at least one ADDRESS"
                                 : "missing --to LIST (at least one recipient)");
  // A file that cannot be read is left out: the alarm text must still go.
  for (const std::string& path : settings.attachments) {
    std::string reason;
    if (attachment_is_readable(path, reason)) {
      prepared.attachments.push_back(path);
      continue;
    }
    std::fprintf(stderr, "%s: warning: %s '%s': %s; the message goes without it\n", kSendProgram,
                 mail ? "-a" : "--attach", path.c_str(), reason.c_str());
    attachmentMissing = true;
  }
  std::string body = settings.body.value_or("");
  if (!settings.body && !read_all(stdin, body)) {
    std::fprintf(stderr, "%s: cannot read the body from standard input: %s\n", kSendProgram, std::strerror(errno));
    return EX_IOERR;
  }
  // The same defaults as the one-call send, so both ways send the same text.
  const std::string subject = settings.subject.value_or("");
  prepared.subject = subject.empty() && !mail ? "Hello!" : subject;
  // The text agent makes the body's bare LF and CR line ends CR LF.
  prepared.body = body.empty() && !mail ? "Hello!" : body;
  return EX_OK;
}

}  // namespace

int RunNotificationEntry(SendSettings& settings) {
  Prepared prepared;
  bool attachmentMissing = false;
  if (const int status = prepare(settings, prepared, attachmentMissing); status != EX_OK) return status;
  settings.charset = ChooseCharset(settings.charset, labelled_texts(settings, prepared));
  // Paths are split as text of the same charset: a byte of "\\" inside a
  // character is no separator.
  if (const UINT nCodePage = AfxGetCharsetCodePage(settings.charset->c_str())) AfxSetAnsiCodePage(nCodePage);
  const int sent = attachmentMissing ? kAttachmentMissing : EX_OK;

  if (settings.dryRun) {
    CNamedSenderMessage message;
    build_message(settings, prepared, message);
    // Written to the descriptor as it is formatted, so that an attachment
    // is never held whole in memory; nothing of stdio's is pending before.
    if (std::fflush(stdout) != 0) return EX_IOERR;
    CFile out(STDOUT_FILENO);
    if (message.WriteMessage(out)) return sent;
    std::fprintf(stderr, "%s: cannot write the message to standard output\n", kSendProgram);
    return EX_IOERR;
  }

  DialogueTrace trace(settings.password.value_or(""));
  if (settings.verbose) trace.Start();
  const int status = send(settings, prepared);
  if (settings.verbose) trace.Stop();
  return status == EX_OK ? sent : status;
}

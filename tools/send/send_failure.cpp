// SPDX-License-Identifier: Apache-2.0
#include "tools/send/send_failure.h"

#include <tarvenkel/smtp/smtp.h>
#include "tools/send/send_settings.h"

#include <cstdio>
#include <string>

#include <sysexits.h>

namespace {

const char kPlaintextLoginRefused[] = "Login refused: the connection is not encrypted";

bool starts_with(const CString& text, const char* prefix) { return text.str().rfind(prefix, 0) == 0; }
bool ends_with(const CString& text, const char* suffix) { return text.str().ends_with(suffix); }
bool contains(const CString& text, const char* part) { return text.str().find(part) != std::string::npos; }

// OpenSSL's texts of the alerts a server sends about the client's
// certificate (or its lack): "tlsv13 alert certificate required", "sslv3
// alert bad certificate", "tlsv1 alert unknown ca", ...
bool names_client_certificate_alert(const CString& text) {
  if (!contains(text, "alert ")) return false;
  for (const char* alert : {"alert certificate required", "alert bad certificate", "alert unknown ca",
                            "alert certificate expired", "alert certificate revoked", "alert certificate unknown",
                            "alert unsupported certificate", "alert access denied"})
    if (contains(text, alert)) return true;
  return false;
}

// A hint at the setting that likely caused the failure; nullptr for none.
const char* hint_for(const SendFailure& failure, const SendSettings& settings) {
  const CString& text = failure.text;
  if (starts_with(text, "Server certificate rejected: fingerprint mismatch"))
    return "the server's certificate is not the one --tls-fingerprint (tls-fingerprint) names. If the relay's "
           "certificate was renewed, check the new one and set its fingerprint (openssl x509 -noout -fingerprint "
           "-sha256); otherwise the connection may be intercepted";
  if (names_client_certificate_alert(text) || names_client_certificate_alert(failure.socketError))
    return "the server refused the client certificate, or wanted one: check --tls-cert-file (tls-cert-file) and "
           "--tls-key-file (tls-key-file)";
  if (text == kPlaintextLoginRefused)
    return "the server offers no STARTTLS: use --tls if it speaks TLS on another port, or add --plaintext-login "
           "(plaintext-login = yes) to send the password unencrypted";
  if (starts_with(text, "TLS handshake failed") && settings.ImplicitTls() &&
      (text.str().find("wrong version number") != std::string::npos ||
       text.str().find("packet length too long") != std::string::npos))
    return "the port does not speak TLS from the first byte: use --starttls (security = starttls) where the "
           "server offers STARTTLS, usually on port 587, or leave out --tls";
  if (starts_with(text, "Server certificate rejected") && settings.LogsIn() && !settings.StartTls() &&
      !settings.ImplicitTls())
    return "a login upgrades with STARTTLS where the server offers it: give --cafile (cafile) with the authority "
           "that signed the server's certificate";
  if (text == "Server does not offer STARTTLS")
    return "leave out --starttls, or use --tls where the server speaks TLS from the first byte (port 465)";
  if (!settings.ImplicitTls() && settings.port == 465 && text == "Server didn't respond.")
    return "port 465 usually speaks TLS from the first byte: use --tls (security = tls)";
  return nullptr;
}

}  // namespace

SendFailure::SendFailure(const CSMTP& smtp)
    : text(smtp.GetLastError()), reply(smtp.GetLastReply()), socketError(smtp.GetLastSocketError()) {}

bool SendFailure::LinkFailed() const {
  return !socketError.IsEmpty() || text == "Timed out" || text == "Socket Error" || text == "Must be connected" ||
         text == "Unable to connect to server" || text == "Unable to create the socket." ||
         starts_with(text, "TLS handshake failed") || starts_with(text, "Server certificate rejected");
}

bool SendFailure::TlsConfigFailed() const {
  return starts_with(text, "Server certificate rejected: fingerprint mismatch") ||
         (starts_with(text, "TLS handshake failed: ") &&
          (contains(text, ": cannot load the client ") || contains(text, ": the client key ") ||
           contains(text, "is not a SHA-256 fingerprint"))) ||
         names_client_certificate_alert(text) || names_client_certificate_alert(socketError);
}

char SendFailure::ReplyClass() const { return LinkFailed() || reply.IsEmpty() ? '\0' : reply[0]; }

bool SendFailure::AtLogin() const {
  // A refused token's text goes on with the status of the server's challenge.
  return ends_with(text, ":SMTP AUTH FAILED") || text.str().find(":SMTP AUTH FAILED (") != std::string::npos ||
         ends_with(text, ":SMTP server not available");
}

bool SendFailure::NextServerMayHelp() const {
  if (TlsConfigFailed() || text == kPlaintextLoginRefused) return false;
  return LinkFailed() || (ReplyClass() == '4' && !AtLogin());
}

void SendFailure::Print(const SendSettings& settings, const std::string& serverText, const char* verdict) const {
  const std::string server = serverText.empty() ? settings.ServerText() : serverText;
  if (text == "Unable to connect to server") {
    std::fprintf(stderr, "%s: %s: cannot connect to %s: %s\n", kSendProgram, verdict, server.c_str(),
                 socketError.IsEmpty() ? text.str().c_str() : socketError.str().c_str());
  } else {
    std::fprintf(stderr, "%s: %s: %s (%s)\n", kSendProgram, verdict, text.str().c_str(), server.c_str());
    if (ReplyClass() != '\0') std::fprintf(stderr, "%s: server said: %s\n", kSendProgram, reply.str().c_str());
    if (!socketError.IsEmpty()) std::fprintf(stderr, "%s: reason: %s\n", kSendProgram, socketError.str().c_str());
  }
  if (const char* hint = hint_for(*this, settings)) std::fprintf(stderr, "%s: hint: %s\n", kSendProgram, hint);
}

int SendFailure::ConnectStatus() const {
  if (text == kPlaintextLoginRefused || TlsConfigFailed()) return EX_CONFIG;
  switch (ReplyClass()) {
    case '5':
      return AtLogin() ? EX_NOPERM : EX_UNAVAILABLE;
    default:  // a 4xx, no connection, a time-out, a lost connection, TLS
      return EX_TEMPFAIL;
  }
}

SendRefusals SendRefusals::Report(const CSMTP& smtp, bool accepted) {
  SendRefusals refusals;
  refusals.count = smtp.GetNumRefusedRecipients();
  for (int i = 0; i < refusals.count; ++i) {
    CString address, reply;
    smtp.GetRefusedRecipient(i, address, reply);
    refusals.forNow = refusals.forNow || (!reply.IsEmpty() && reply[0] == '4');
    std::fprintf(stderr, "%s: %s: recipient refused: %s\n", kSendProgram, accepted ? "warning" : "error",
                 address.str().c_str());
    std::fprintf(stderr, "%s: server said: %s\n", kSendProgram, reply.str().c_str());
  }
  return refusals;
}

int SendFailureStatus(const SendSettings& settings, const SendFailure& failure, const SendRefusals& refused,
                      int recipients) {
  if (refused.count > 0 && refused.count >= recipients) {
    std::fprintf(stderr, "%s: not sent: every recipient was refused\n", kSendProgram);
    return refused.forNow ? EX_TEMPFAIL : EX_NOUSER;
  }
  failure.Print(settings);
  if (failure.TlsConfigFailed()) return EX_CONFIG;
  switch (failure.ReplyClass()) {
    case '5':
      return EX_DATAERR;
    case '4':
      return EX_TEMPFAIL;
    default:
      return failure.LinkFailed() || (failure.text != "No Recipients" && failure.text != "Invalid address")
                 ? EX_TEMPFAIL
                 : EX_DATAERR;
  }
}

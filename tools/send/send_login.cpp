// SPDX-License-Identifier: Apache-2.0
#include "tools/send/send_login.h"

#include <tarvenkel/smtp/smtp.h>
#include "tools/send/send_failure.h"
#include "tools/send/send_settings.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include <sysexits.h>

namespace {

bool contains(const CString& text, const char* part) { return text.str().find(part) != std::string::npos; }

// Reports what the provider said and gives the exit status.
int report_provider(OAuth2Outcome outcome, const std::string& message) {
  // The message names the next step where there is one.
  std::fprintf(stderr, "%s: not sent: OAuth2: %s\n", kSendProgram, message.c_str());
  return OAuth2ExitStatus(outcome);
}

// Whether the connection failed at a 5xx answer to the login.
bool login_refused(const SendFailure& failure) { return failure.ReplyClass() == '5' && failure.AtLogin(); }

// The next step after the server refused a token.
void print_token_hint(const SendFailure& failure, const SendSettings& settings) {
  std::string hint;
  if (contains(failure.reply, "5.7.139"))
    hint = "the tenant has SMTP AUTH disabled: an administrator must allow SMTP AUTH for the organisation or for "
           "this mailbox (see the MICROSOFT 365 section of tarvenkel-send(1))";
  else if (contains(failure.reply, "5.7.3") || contains(failure.text, "insufficient_scope"))
    hint = "the token lacks the SMTP.Send scope (Microsoft: https://outlook.office.com/SMTP.Send offline_access, "
           "Google: https://mail.google.com/): check oauth2-scope and the application's permissions, then run "
           "tarvenkel-send --authorize again";
  else if (settings.tokenFromStore)
    hint = "the server refused a freshly refreshed token: run tarvenkel-send --authorize again, and check that "
           "--user names the mailbox that signed in";
  else
    hint = "the token from " + settings.tokenSource +
           " was refused: give a fresh one, or let tarvenkel-send keep it fresh (oauth2-token-store)";
  std::fprintf(stderr, "%s: hint: %s\n", kSendProgram, hint.c_str());
}

}  // namespace

int OAuth2ExitStatus(OAuth2Outcome outcome) {
  switch (outcome) {
    case OAuth2Outcome::kOk:
      return EX_OK;
    case OAuth2Outcome::kUnreachable:
      return EX_TEMPFAIL;
    case OAuth2Outcome::kRefused:
      return EX_NOPERM;
    case OAuth2Outcome::kConfiguration:
      return EX_CONFIG;
  }
  return EX_SOFTWARE;
}

int ConnectSession(CSMTP& smtp, const SendSettings& settings) {
  std::optional<OAuth2Client> client;
  std::string token, message;
  if (settings.tokenFromStore) {
    client.emplace(settings.oauth2);
    if (const OAuth2Outcome outcome = client->AccessToken(token, message); outcome != OAuth2Outcome::kOk)
      return report_provider(outcome, message);
    smtp.SetOAuth2Token(token.c_str());
  }
  // The servers of the list in order: one that cannot be reached or is busy
  // gives way to the next; any other failure is the answer.
  const size_t count = std::max<size_t>(settings.servers.size(), 1);
  for (size_t i = 0;; ++i) {
    if (i > 0) {
      ConfigureSession(smtp, settings, i);
      smtp.SetOAuth2Token(settings.tokenFromStore ? token.c_str() : settings.token.c_str());
    }
    BOOL connected = smtp.Connect();
    // A cached token the server refuses may have been revoked before its
    // expiry: one refresh, one more try. A fresh one that is refused stays so.
    if (!connected && client && !client->Refreshed() && login_refused(SendFailure(smtp))) {
      if (const OAuth2Outcome outcome = client->Refresh(token, message); outcome != OAuth2Outcome::kOk)
        return report_provider(outcome, message);
      smtp.SetOAuth2Token(token.c_str());
      connected = smtp.Connect();
    }
    if (connected) return EX_OK;
    const SendFailure failure(smtp);
    if (i + 1 < count && failure.NextServerMayHelp()) {
      failure.Print(settings, settings.ServerText(i), "warning");
      std::fprintf(stderr, "%s: trying the next server, %s\n", kSendProgram, settings.ServerText(i + 1).c_str());
      continue;
    }
    failure.Print(settings, settings.ServerText(i));
    if (settings.TokenLogin() && login_refused(failure)) print_token_hint(failure, settings);
    return failure.ConnectStatus();
  }
}

int RunAuthorize(const SendSettings& settings) {
  OAuth2Client client(settings.oauth2);
  std::string message;
  const OAuth2Outcome outcome = client.Authorize(stdout, stdin, message);
  if (outcome == OAuth2Outcome::kOk) {
    std::printf("%s: signed in; the tokens are in %s\n", kSendProgram, settings.oauth2.tokenStore.c_str());
    return EX_OK;
  }
  std::fprintf(stderr, "%s: not signed in: %s\n", kSendProgram, message.c_str());
  return OAuth2ExitStatus(outcome);
}

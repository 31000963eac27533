// SPDX-License-Identifier: Apache-2.0
// tarvenkel-send: sends one notification mail, for scripts and cron jobs of
// monitoring systems. Called through a link named sendmail, or with -t, it
// stands in for sendmail: it sends a whole message read from standard input.
// Called through a link named mail or mailx, it sends standard input as the
// body, with mailx's options. Every way exits with one table of <sysexits.h> codes, so that a caller can
// tell "try again later" (75) from "give up" (the other non-zero codes).
#include <tarvenkel/module/version.h>
#include "tools/send/group_rights.h"
#include "tools/send/notification_entry.h"
#include "tools/send/send_login.h"
#include "tools/send/send_options.h"
#include "tools/send/send_queue.h"
#include "tools/send/send_settings.h"
#include "tools/send/sendmail_entry.h"

#include <cstdio>
#include <string>

#include <sysexits.h>

int main(int argc, char** argv) {
  SetAsideGroupRights();
  SendSettings settings;
  std::string error;
  settings.mail = IsMailCall(argv[0]);
  settings.sendmail = !settings.mail && IsSendmailCall(argc, argv);
  if (!ParseSendArguments(argc, argv, settings, error))
    return settings.mail ? ReportMailUsageError(error) : ReportUsageError(error);
  if (settings.help) {
    std::fputs(SendUsage().c_str(), stdout);
    return EX_OK;
  }
  if (settings.version) {
    std::printf("%s %s\n", kSendProgram, TarvenkelVersion());
    return EX_OK;
  }
  if (const int status = PrepareSendSettings(settings); status != EX_OK) return status;
  if (settings.authorize) return RunAuthorize(settings);
  if (settings.QueueCommand()) return RunQueueCommand(settings);
  return settings.sendmail ? RunSendmailEntry(settings) : RunNotificationEntry(settings);
}

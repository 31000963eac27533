// SPDX-License-Identifier: Apache-2.0
// The notification entry of tarvenkel-send: one mail built from the options
// (--to, --subject, --body or standard input, --attach), sent, or printed
// with --dry-run. The mail entry (a link named mail or mailx) builds the
// same message from mailx's options: the recipient arguments, -s, -c, -b,
// -r, -a, the body on standard input; an empty subject or body stays empty.
#pragma once

struct SendSettings;

// Builds and sends the message; the exit status of the program. An
// attachment that cannot be read is left out, so that the alarm text still
// goes, and makes the status 66 (EX_NOINPUT).
int RunNotificationEntry(SendSettings& settings);

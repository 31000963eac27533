// The notification entry of tarvenkel-send: one mail built from the options
// (--to, --subject, --body or standard input, --attach), sent, or printed
// with --dry-run.
#pragma once

struct SendSettings;

// Builds and sends the message; the exit status of the program. An
// attachment that cannot be read is left out, so that the alarm text still
// goes, and makes the status 66 (EX_NOINPUT).
int RunNotificationEntry(SendSettings& settings);

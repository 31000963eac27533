// SPDX-License-Identifier: Apache-2.0
// The sendmail entry of tarvenkel-send, taken when it is called through a
// link named sendmail or given -t: the message comes whole on standard
// input and goes as it is to the recipients of the arguments (and with -t
// those of its To, Cc and Bcc lines), its Bcc lines removed.
#pragma once

struct SendSettings;

// Reads the message once, its body into a private temporary file so that it
// is checked whole before anything is sent and memory stays small whatever
// its size, and sends it; the exit status of the program.
int RunSendmailEntry(SendSettings& settings);

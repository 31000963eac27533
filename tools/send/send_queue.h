// SPDX-License-Identifier: Apache-2.0
// tarvenkel-send's queue: with queue (--queue DIR) a message is written
// durably into the outbox first and then sent with what else is due, so
// that one the servers cannot take now waits there for a later flush (the
// timer's, cron's, or the next message's) instead of being lost. The
// queue's commands: --flush, --list-queue and --drop. Every event goes to
// the delivery log.
#pragma once

#include <optional>

class CMailMessage;
struct SendSettings;

// Queues the message and flushes what is due. The exit status: 0 when the
// server took it, or when it waits in the queue (then "queued ID" is printed
// on standard output and why it waits on standard error); the status of the
// refusal when the servers refused it for good, as without a queue. No
// value when the queue cannot take the message (a folder that cannot be
// used, a full disk): the caller sends it without the queue.
std::optional<int> SendThroughQueue(const SendSettings& settings, CMailMessage& message);

// --flush (with --retry-now), --list-queue or --drop ID; the exit status.
int RunQueueCommand(const SendSettings& settings);

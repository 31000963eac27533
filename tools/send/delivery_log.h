// SPDX-License-Identifier: Apache-2.0
// The delivery log of tarvenkel-send's queue: one line per event of a
// message (queued, and each try: sent, deferred, failed), in the key=value
// form mail administrators grep:
//   id=1765411200.123456.42.7.ab12 sender=<alarms@plant.example>
//   recipients=<ops@plant.example>,<duty@plant.example> server=mail:25
//   status=deferred delay=61 reply="421 4.3.2 Service not available"
// It goes to syslog (facility mail), or with log-file to that file, each
// line there after the time and the program's name and process.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct DeliveryEvent {
  std::string id;
  std::string sender;
  std::vector<std::string> recipients;
  std::string server;  // host:port; empty when none was tried
  std::string status;  // queued, sent, deferred or failed
  long long delay = 0;  // seconds since the message was queued
  std::string reply;   // the server's reply or the failure; may hold CR LF between lines
};

// The line of an event, without a line end.
std::string DeliveryLogLine(const DeliveryEvent& event);

class DeliveryLog {
public:
  // To the file when given (appended to, made readable by its owner and
  // group only), else to syslog.
  explicit DeliveryLog(std::optional<std::string> file);
  DeliveryLog(const DeliveryLog&) = delete;
  DeliveryLog& operator=(const DeliveryLog&) = delete;

  // Writes the line of an event. A log file that cannot be written is said
  // once on standard error: the mail itself goes on regardless.
  void Write(const DeliveryEvent& event);

private:
  std::optional<std::string> m_file;
  bool m_warned = false;
};

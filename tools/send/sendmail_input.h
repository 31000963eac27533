// A complete message as the callers of sendmail write it on standard input
// (cron, mdadm, smartd's mail command): a header block, an empty line, the
// body, with LF or CR LF line ends.
#pragma once

#include <string>
#include <vector>

struct IncomingMessage {
  // The header fields as they came, without the Bcc fields; every field ends
  // with a line end. Without the empty line that ends the block.
  std::string header;
  // Everything after the empty line.
  std::string body;
  // The addresses of the To, Cc and Bcc fields, in order.
  std::vector<std::string> recipients;
  // The address of the From field; empty when there is none.
  std::string fromAddress;
  bool hasFrom = false;
  bool hasDate = false;
  bool hasMessageId = false;
};

// The input up to a line that holds only ".", which ends a message unless
// the caller asks otherwise (sendmail's -i).
std::string CutAtLoneDot(const std::string& input);

// Splits the message into its header fields and its body. The header block
// ends at the first empty line, or at the first line that is neither a field
// ("Name: value") nor the continuation of one: that line starts the body.
// A leading mailbox separator line ("From sender date") is dropped.
IncomingMessage ReadIncomingMessage(const std::string& text);

// The addresses of an address list: "Name <a@x>", "a@x (comment)", quoted
// names holding commas, and groups ("team: a@x, b@x;") give the bare
// addresses, in order; empty entries are skipped.
std::vector<std::string> AddressesOf(const std::string& list);

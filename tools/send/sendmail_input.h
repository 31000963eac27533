// SPDX-License-Identifier: Apache-2.0
// A complete message as the callers of sendmail write it on standard input
// (cron, mdadm, smartd's mail command): a header block, an empty line, the
// body. The input is read once, a piece at a time: the header is kept in
// memory, the body is handed on as it comes, so a message of any size passes
// through a bounded buffer.
//
// A line ends with CR LF, a bare LF or a bare CR, the same line ends the data
// phase of SMTP makes CR LF (see smtp/dot_stuffer.h): what the header is read
// as is what the server receives.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct IncomingMessage {
  // The header fields as they came, without the Bcc fields, every line ended
  // with CR LF. Without the empty line that ends the block.
  std::string header;
  // The addresses of the To, Cc and Bcc fields, in order.
  std::vector<std::string> recipients;
  // The address of the From field; empty when there is none.
  std::string fromAddress;
  bool hasFrom = false;
  bool hasDate = false;
  bool hasMessageId = false;
};

// Reads one incoming message. The header block ends at the first empty line,
// or at the first line that is neither a field ("Name: value", blanks allowed
// before the colon) nor the continuation of one: that line starts the body.
// A leading mailbox separator line ("From sender date") is dropped. Bcc
// fields, in any case and folded or not, are left out of the header and give
// their addresses to the recipients.
class IncomingMessageReader {
public:
  // Takes the body bytes, unchanged, in order.
  class BodySink {
  public:
    virtual ~BodySink() = default;
    // False when the bytes could not be kept; the reading then stops.
    virtual bool Write(const char* data, std::size_t length) = 0;
  };

  // loneDotEnds: a line that holds only "." ends the message, as it does for
  // sendmail unless -i is given; what follows it is not read.
  IncomingMessageReader(bool loneDotEnds, BodySink& body) : m_loneDotEnds(loneDotEnds), m_body(body) {}

  // Reads the next piece of the input. False once the message is complete
  // (a lone dot), refused (a NUL byte) or the body sink failed: the rest of
  // the input is not wanted.
  bool Put(const char* data, std::size_t length);
  // Ends the input.
  void Finish();

  // Where the reading stands.
  bool Refused() const { return m_nulLine != 0; }
  bool SinkFailed() const { return m_sinkFailed; }
  // The number of the first line that holds a NUL byte (1 for the first
  // line of the input), 0 when there is none. A NUL is refused anywhere: a
  // reader of the message would cut a line there.
  unsigned long NulLine() const { return m_nulLine; }
  // The message read so far; whole after Finish.
  const IncomingMessage& Message() const { return m_message; }
  // The number of body bytes handed to the sink.
  unsigned long long BodyBytes() const { return m_bodyBytes; }

private:
  // How far the reading is: in the header, in the body, or done.
  enum class Stage { kHeader, kBody, kDone };

  void header_byte(char c);
  // Ends a header line; lineEnd is the CR or LF that ended it, 0 at the end
  // of the input.
  void end_header_line(char lineEnd);
  void finish_field();
  // Reads [p, end) of the body; stops early at a lone dot.
  void body_bytes(const char* p, const char* end);
  bool emit(const char* p, std::size_t length);

  const bool m_loneDotEnds;
  BodySink& m_body;
  IncomingMessage m_message;
  Stage m_stage = Stage::kHeader;
  std::string m_line;        // the header line so far, without its line end
  std::string m_field;       // the field being read, CR LF after every line
  std::string m_fieldName;
  bool m_firstLine = true;
  bool m_dropLF = false;     // an LF now ends the CR before it (header stage)
  bool m_keepLF = false;     // the same, in the body: the LF is passed on
  bool m_lineStart = true;   // the next body byte begins a line
  bool m_dotHeld = false;    // a body line began with "." that may be alone
  unsigned long m_lineNumber = 1;
  unsigned long m_nulLine = 0;
  bool m_sinkFailed = false;
  unsigned long long m_bodyBytes = 0;
};

// A whole message read from a text, the body returned too: for callers that
// hold the message already, and for tests.
IncomingMessage ReadIncomingMessage(const std::string& text, std::string* body = nullptr,
                                    bool loneDotEnds = false, unsigned long* nulLine = nullptr);

// The addresses of an address list: "Name <a@x>", "a@x (comment)", quoted
// names holding commas, quoted local parts ("john smith"@x, kept with their
// quotes), and groups ("team: a@x, b@x;") give the bare addresses, in order;
// empty entries are skipped.
std::vector<std::string> AddressesOf(const std::string& list);

// SPDX-License-Identifier: Apache-2.0
// Turns the bytes an SMTP server sends into whole replies. A reply is one or
// more lines "ddd-text" ended by a final line "ddd text" or "ddd"; it may be
// split across receives in any way, and bytes after it stay for the next one.
// The reader is strict and bounded: a reply that has not ended within 64 KiB
// fails (a hostile server must not exhaust memory), the stored text of a line
// is capped, and a line that is not a well-formed reply line ends the reply as
// malformed, with code 0. The rest of a reply that was too long is skipped as
// it arrives, without being stored, so the reply after it is read as the
// answer to the next command rather than a piece of the long one.
#pragma once

#include "framework/core/string.h"

#include <cstddef>
#include <string>
#include <vector>

// One reply of the server.
struct CSMTPReply {
  // The code of the final line; 0 for a malformed reply.
  int nCode = 0;
  // The text of each line after its code and separator (the whole line for a
  // malformed one), without the line end.
  std::vector<CString> lines;
};

// The reader described above; one per connection.
class AFX_EXT_CLASS CReplyReader {
public:
  // A reply longer than this fails as TooLong.
  static constexpr std::size_t kMaxReplyBytes = 64 * 1024;
  // Reply lines are at most 512 bytes; longer ones are kept in part.
  static constexpr std::size_t kMaxStoredLineBytes = 1000;

  // What Take found: a whole reply, not yet a whole one, or one over kMaxReplyBytes.
  enum class Result { Complete, Incomplete, TooLong };

  // Adds received bytes.
  void Append(const char* pData, std::size_t nLength);
  // Takes the next whole reply out of the bytes received so far. TooLong
  // gives up the reply being read: what is buffered of it is dropped, and its
  // remaining lines are skipped by later calls up to the line that ends it.
  Result Take(CSMTPReply& reply);
  // Forgets all bytes and any partly read reply (a new connection).
  void Reset();
  // Bytes received but not yet part of a taken reply.
  std::size_t Pending() const { return m_buffer.size(); }

private:
  // Adds one line (without its line end) to the reply being read; true when
  // it ended the reply.
  bool add_line(const char* pLine, std::size_t nLength);
  // Gives up the reply being read and starts skipping the rest of it; the
  // lines already read are dropped.
  void start_skipping();
  // While skipping: drops the lines already read and the middle of the line
  // being read, keeping its first four bytes (code and separator) and its
  // last (a CR before the line end), which are all that decide whether the
  // line ends the reply.
  void drop_skipped();

  std::string m_buffer;
  std::size_t m_nLineStart = 0;  // start of the line being read
  std::size_t m_nScanned = 0;    // bytes of that line already searched for LF
  CSMTPReply m_reply;            // lines of the reply read so far
  bool m_bSkipping = false;      // the reply being read was too long
};

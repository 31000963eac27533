// SPDX-License-Identifier: Apache-2.0
// CReplyReader on arbitrary bytes split at arbitrary points. The first two
// input bytes choose how the rest is cut into receives and whether more than
// 64 KiB of one reply is put in its middle. What must hold: buffered bytes never exceed
// the limit once a Take has looked at them, every reply has a code from 0 to
// 999 and capped line texts, and, as long as no reply was too long,
// the replies do not depend on how the bytes were split.
#include "smtp/reply_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

struct Outcome {
  std::string replies;  // each reply's code and lines, in a form that keeps them apart
  bool tooLong = false;
  std::size_t pending = 0;
};

// Drains every whole reply the reader holds, checking each; lastReceive is
// the size of the bytes appended last.
void Drain(CReplyReader& reader, Outcome& outcome, std::size_t lastReceive) {
  for (;;) {
    CSMTPReply reply;
    const CReplyReader::Result result = reader.Take(reply);
    if (result == CReplyReader::Result::Incomplete) {
      Check(reader.Pending() <= CReplyReader::kMaxReplyBytes);
      return;
    }
    if (result == CReplyReader::Result::TooLong) {
      outcome.tooLong = true;
      // What stays of a reply given up: at most the bytes of the last
      // receive after it, or the head and last byte of the line being skipped.
      Check(reader.Pending() <= std::max<std::size_t>(lastReceive, 5));
      continue;
    }
    Check(reply.nCode >= 0 && reply.nCode <= 999);
    Check(!reply.lines.empty());
    for (const CString& line : reply.lines)
      Check(static_cast<std::size_t>(line.GetLength()) <= CReplyReader::kMaxStoredLineBytes);
    outcome.replies += std::to_string(reply.nCode);
    for (const CString& line : reply.lines) {
      outcome.replies += '\0';
      outcome.replies += std::to_string(line.GetLength()) + ':' + line.str();
    }
    outcome.replies += '\n';
  }
}

// Feeds bytes in receives whose sizes cycle through cuts (1 to 256 bytes).
Outcome Feed(const std::string& bytes, const std::vector<std::size_t>& cuts) {
  CReplyReader reader;
  Outcome outcome;
  std::size_t at = 0, turn = 0;
  while (at < bytes.size()) {
    const std::size_t n = std::min(cuts[turn++ % cuts.size()], bytes.size() - at);
    reader.Append(bytes.data() + at, n);
    at += n;
    Drain(reader, outcome, n);
  }
  outcome.pending = reader.Pending();
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint8_t cutSeed = data[0];
  const std::uint8_t flags = data[1];
  std::string bytes(reinterpret_cast<const char*>(data + 2), size - 2);
  if (flags & 1) {
    // Past the limit in the middle of the input: one endless line, or a
    // reply of many long continuation lines; then the input once more, to
    // see the reader recover.
    const std::string half = bytes.substr(0, bytes.size() / 2);
    std::string filler;
    if (flags & 2) {
      filler.assign(CReplyReader::kMaxReplyBytes + 100, 'x');
    } else {
      while (filler.size() <= CReplyReader::kMaxReplyBytes) filler += "250-" + std::string(996, 'y') + "\r\n";
    }
    bytes = half + filler + bytes.substr(half.size()) + bytes;
  }

  std::vector<std::size_t> cuts;
  for (std::size_t i = 2; i < size && cuts.size() < 16; ++i)
    cuts.push_back(1 + static_cast<std::size_t>((data[i] ^ cutSeed) % 256));
  if (cuts.empty()) cuts.push_back(1);

  // The client receives at most 1024 bytes at a time.
  const Outcome whole = Feed(bytes, {1024});
  const Outcome split = Feed(bytes, cuts);
  if (!whole.tooLong && !split.tooLong) {
    Check(whole.replies == split.replies);
    Check(whole.pending == split.pending);
  }
  return 0;
}

// SPDX-License-Identifier: Apache-2.0
// Transparency for the data phase of a mail transaction: every line end
// (CR LF, a bare LF, a bare CR) goes out as CR LF, and every line that begins
// with "." gets one more "." in front, which the receiving server strips
// again. So the end-of-data line CR LF . CR LF can only appear where the
// client sends it, and lines that begin with a dot arrive intact.
//
// The filter is a stream: text may be fed in pieces split anywhere (a CR at
// the end of one piece and an LF at the start of the next are one line end).
// It runs in linear time.
#pragma once

#include "framework/core/win_types.h"

#include <cstddef>

// The transparency filter described above; one object filters one text.
class AFX_EXT_CLASS CDotStuffer {
public:
  // bStuffDots FALSE only makes the line ends CR LF, for data that is sent
  // counted (BDAT) rather than ended by a dot line.
  explicit CDotStuffer(BOOL bStuffDots = TRUE) : m_bStuffDots(bStuffDots != FALSE) {}

  // Takes the filtered text piece by piece, in order: a run of the caller's
  // own bytes (pointing into the data given to Write, valid until that call
  // returns) or the few bytes the filter adds. A run that needs no change
  // comes whole, so a sender can pass it on without copying it first.
  class COutput {
  public:
    virtual ~COutput() = default;
    // Takes the next nLength bytes of the filtered text.
    virtual void Put(const char* pData, std::size_t nLength) = 0;
  };

  // Hands the filtered form of nLength bytes to out.
  void Write(const char* pData, std::size_t nLength, COutput& out);
  // Ends the text: a CR held back at the end goes out as CR LF. The filter
  // then starts again at the beginning of a line.
  void Finish(COutput& out);

private:
  bool m_bStuffDots;
  bool m_bLineStart = true;  // the next byte begins a line
  bool m_bPendingCR = false;  // a CR was seen; an LF right after it belongs to it
};

// SPDX-License-Identifier: Apache-2.0
// Body text as the wire takes it: line ends made CR LF, the test whether a
// text needs a transfer encoding, and its base64 lines. Internal to the
// library.
#pragma once

#include "framework/core/string.h"

#include <string>
#include <string_view>

namespace tarvenkel {

// The text with every bare LF and bare CR turned into CR LF.
std::string WithCrLf(std::string_view text);
// True when the text cannot go out as it is: it holds a byte of 0x80 or
// above, or a line (ended by CR, LF or the end) longer than 998 bytes.
bool NeedsTransferEncoding(std::string_view text);
// Appends the base64 text of the bytes in lines of 76 characters, each
// ended by CR LF.
void AppendBase64Lines(std::string_view bytes, CString& sDestination);

}  // namespace tarvenkel

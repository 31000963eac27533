// Header text: a value as it may be written into a header line, of the
// message or of a MIME part. Internal to the library.
#pragma once

#include <string>
#include <string_view>

namespace tarvenkel {

// The text with every CR and LF turned into a blank, except the CR LF of a
// fold: CR LF followed by a blank or a tab and then by more than blanks on
// that line. So the text cannot start a header line of its own, nor end the
// header block with a line of blanks that a reader may take for the empty one.
std::string HeaderText(std::string_view text);

}  // namespace tarvenkel

// SPDX-License-Identifier: Apache-2.0
// Header text: a value as it may be written into a header line, of the
// message or of a MIME part, and the line folded as readers and relays
// expect it. Internal to the library.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvenkel {

// The width a header line is folded to where its blanks allow.
constexpr std::size_t kHeaderLineWidth = 78;
// The longest run without a blank that a value may hold and still be written
// as it is: longer runs, with a field name before them, could not stay within
// 998 bytes, so they go as encoded-words.
constexpr std::size_t kLongestPlainRun = 900;

// The text with every CR and LF turned into a blank, except the CR LF of a
// fold: CR LF followed by a blank or a tab and then by more than blanks on
// that line. So the text cannot start a header line of its own, nor end the
// header block with a line of blanks that a reader may take for the empty one.
std::string HeaderText(std::string_view text);

// The header line (without its final CR LF; folds it holds are kept) with
// every physical line longer than kHeaderLineWidth folded: CR LF goes in
// before a blank, the last one that keeps the line within the width, or else
// the first one after it. A fold never leaves a line of blanks, never comes
// before the first character of the value and never splits a backslash from
// the blank after it. A line without such a blank stays as it is.
std::string FoldedHeaderLine(std::string_view line);

// True when a word of the text (between blanks and line breaks) holds "=?"
// and after it "?=": a reader could decode it as an encoded-word.
bool HasEncodedWordLookAlike(std::string_view text);
// The length of the longest run of the text without a blank, tab, CR or LF.
std::size_t LongestRun(std::string_view text);
// True when a header text must go as encoded-words to reach a reader as it
// is: it holds bytes of 0x80 and above, an encoded-word look-alike, or a run
// longer than kLongestPlainRun.
bool NeedsEncodedWords(std::string_view text);

// How a display name is written before its address.
enum class NameForm {
  kPlain,    // letters, digits, blanks and the other characters of an atom: as it is
  kQuoted,   // other ASCII: a quoted string
  kEncoded,  // see NeedsEncodedWords, and control characters: encoded-words
};
// The form of a display name whose line breaks were made blanks.
NameForm DisplayNameForm(std::string_view name);
// The name without surrounding blanks, as a quoted string with '"' and '\'
// escaped by a backslash.
std::string QuotedName(std::string_view name);
// The name without surrounding blanks and tabs.
std::string TrimmedName(std::string_view name);

}  // namespace tarvenkel

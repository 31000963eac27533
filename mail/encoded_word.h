// SPDX-License-Identifier: Apache-2.0
// Header text of 8-bit characters as a mail reader decodes it: RFC 2047
// encoded-words ("=?GBK?B?...?=") and RFC 2231 extended parameters
// ("filename*=GBK''%B1%A8"), written into header lines that are folded so
// that each stays short. Internal to the library.
#pragma once

#include "framework/core/win_types.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvenkel {

// The longest line of a header that holds encoded-words.
constexpr std::size_t kEncodedLineWidth = 76;
// The longest encoded-word.
constexpr std::size_t kEncodedWordWidth = 75;
// The width an over-long address line is folded to.
constexpr std::size_t kAddressLineWidth = 78;
// The longest line the wire takes, without its CR LF.
constexpr std::size_t kWireLineLimit = 998;

// The bytes as the text of a Q encoded-word ("=?GBK?Q?...?="): letters,
// digits and "!*+-/" as they are, a blank as "_", every other byte "=XX",
// so that the word may also stand in a display name.
std::string QEncoded(std::string_view bytes);
// True when the text is valid UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF).
bool IsValidUtf8(std::string_view text);
// True when the text is valid in the charset: ASCII text always; UTF-8 as
// IsValidUtf8, others as iconv reads them; a charset iconv does not know
// passes.
bool IsValidInCharset(std::string_view text, const char* szCharset);
// True when the text holds a byte of 0x80 or above.
bool HasEightBit(std::string_view text);
// The value of the charset parameter in parameter text such as
// "; format=flowed; charset=\"GBK\"" (name in any case, quotes removed);
// empty when it names none.
std::string CharsetParameter(std::string_view parameters);
// The text with every CR and LF turned into a blank: a line break has no
// place inside a header value.
std::string WithoutLineBreaks(std::string_view text);

// One header line while it is built: the field name and its pieces, each
// kept whole, joined by blanks or directly, and folded (CR LF and a blank
// before a piece) where a piece would take the line past its width. A piece
// longer than the width gets a line of its own.
class HeaderFolder {
public:
  // Starts the line with prefix ("Subject: "). With bFoldAfterPrefix the
  // line may fold right after the prefix ("Content-Disposition: attachment;"),
  // otherwise the first piece stays on the prefix's line.
  HeaderFolder(std::string_view prefix, std::size_t nWidth, bool bFoldAfterPrefix = false);

  // Appends a piece kept whole, after a blank when bBlankBefore (a fold
  // takes the blank's place).
  void AddWord(std::string_view word, bool bBlankBefore);
  // Appends text as B-encoded words of the charset, each at most
  // kEncodedWordWidth characters and holding whole characters of the code
  // page (see AfxCharLength), sized to fill the line and separated by
  // blanks, which a reader drops between encoded-words. Every word but the
  // last holds whole groups of three bytes, so no "=" padding stands inside
  // the run; where no cut of whole characters allows that, one character
  // goes as a Q word instead. lead goes before the
  // first word and trail after the last, in the same piece (a parameter's
  // name and quotes). Empty text adds lead and trail alone.
  void AddEncoded(std::string_view text, const char* szCharset, UINT nCodePage, bool bBlankBefore,
                  std::string_view lead = {}, std::string_view trail = {});
  // Appends an RFC 2231 parameter "name*=charset''%XX..." after a blank,
  // split into numbered sections ("name*0*=", "name*1*=", joined by ";") of
  // whole characters when one piece would not fit the width; trail (a ";"
  // before the next parameter) follows the last section.
  void AddExtendedParameter(std::string_view name, std::string_view value, const char* szCharset, UINT nCodePage,
                            std::string_view trail = {});

  // The line so far, without a final CR LF.
  const std::string& Text() const { return m_sText; }

private:
  // Whether a piece of n characters fits on the current line after its blank.
  bool fits(std::size_t n, bool bBlankBefore) const;
  // Ends the line with CR LF and starts the next with a blank.
  void fold();

  std::string m_sText;
  std::size_t m_nWidth;
  std::size_t m_nLineStart = 0;  // where the current line starts in m_sText
  bool m_bLineEmpty = true;      // nothing but the prefix or the fold's blank on the line
};

}  // namespace tarvenkel

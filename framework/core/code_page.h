// SPDX-License-Identifier: Apache-2.0
// The framework's ANSI code page: how 8-bit text and font face names are read
// wherever they have to become characters (drawing and measuring text).
#pragma once

#include "framework/core/win_types.h"

#include <cstddef>
#include <string>

// The code page number of UTF-8.
constexpr UINT CP_UTF8 = 65001;

// Sets the code page that 8-bit text is decoded from (936, GBK, by default;
// CP_UTF8 for hosts that hold UTF-8). Returns FALSE, changing nothing, when the
// system cannot decode that code page. 0 forgets the host's choice: the code
// page is 936 again and AfxIsAnsiCodePageSet FALSE.
AFX_API_EXPORT BOOL AfxSetAnsiCodePage(UINT nCodePage);
// The code page in force.
AFX_API_EXPORT UINT AfxGetAnsiCodePage();
// TRUE once the host chose the code page with AfxSetAnsiCodePage.
AFX_API_EXPORT BOOL AfxIsAnsiCodePageSet();
// The MIME name of the charset the process's locale holds text in, when it
// is UTF-8 or a GB charset: "UTF-8", "GBK" (for GBK and GB2312, whose text
// GBK includes) or "GB18030"; nullptr for every other locale, C and POSIX
// included. The locale is the one of LC_CTYPE; while that is C or POSIX (a
// process that never called setlocale), it is the one setlocale(LC_ALL, "")
// would choose from LC_ALL, LC_CTYPE and LANG.
AFX_API_EXPORT const char* AfxGetLocaleCharset();

// The name that labels text of the code page in mail (a MIME charset): "GBK"
// for 936, "UTF-8" for 65001, the IANA name of the other code pages the
// system can decode; "UNKNOWN-8BIT" for a code page without one.
AFX_API_EXPORT const char* AfxGetCodePageCharset(UINT nCodePage);
// The code page whose characters are built of bytes as those of the named
// charset (any case; "GB2312", "GB18030" and "CP936" give 936), so that text
// labelled with it can be cut between characters; 0 for a charset of one
// byte per character or one this list does not know.
AFX_API_EXPORT UINT AfxGetCharsetCodePage(const char* szCharset);
// The number of bytes of the character that starts at p in text of the code
// page, nLeft bytes from p to the end of the text (nLeft > 0): 2 for a GBK
// lead byte 0x81-0xFE followed by a trail byte 0x40-0xFE other than 0x7F, 4
// for a GB18030 four-byte sequence, 2 to 4 for a whole UTF-8 sequence, 2 for
// the double-byte characters of Big5, Shift_JIS and Korean; 1 for every
// other byte, a sequence cut short by the end of the text included.
AFX_API_EXPORT int AfxCharLength(UINT nCodePage, const char* p, std::size_t nLeft);

namespace tarvenkel {

// Decodes nLength bytes of 8-bit text (all of a zero-terminated string when
// nLength < 0) from the ANSI code page. A byte sequence that is not valid in
// the code page becomes U+FFFD for its first byte, and decoding goes on.
AFX_API_EXPORT std::u32string DecodeAnsi(const char* psz, int nLength = -1);
// Encodes code points as UTF-8 (for fontconfig and file names).
AFX_API_EXPORT std::string EncodeUtf8(const std::u32string& text);

}  // namespace tarvenkel

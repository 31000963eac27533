// The framework's ANSI code page: how 8-bit text and font face names are read
// wherever they have to become characters (drawing and measuring text).
#pragma once

#include "framework/win_types.h"

#include <string>

// The code page number of UTF-8.
constexpr UINT CP_UTF8 = 65001;

// Sets the code page that 8-bit text is decoded from (936, GBK, by default;
// CP_UTF8 for hosts that hold UTF-8). Returns FALSE, changing nothing, when the
// system cannot decode that code page.
AFX_API_EXPORT BOOL AfxSetAnsiCodePage(UINT nCodePage);
// The code page in force.
AFX_API_EXPORT UINT AfxGetAnsiCodePage();

namespace tarvenkel {

// Decodes nLength bytes of 8-bit text (all of a zero-terminated string when
// nLength < 0) from the ANSI code page. A byte sequence that is not valid in
// the code page becomes U+FFFD for its first byte, and decoding goes on.
AFX_API_EXPORT std::u32string DecodeAnsi(const char* psz, int nLength = -1);
// Encodes code points as UTF-8 (for fontconfig and file names).
AFX_API_EXPORT std::string EncodeUtf8(const std::u32string& text);

}  // namespace tarvenkel

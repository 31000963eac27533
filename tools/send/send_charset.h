// The charsets of tarvenkel-send's texts: whether a name is one the system
// knows, and whether a text is valid in one. Texts are never converted.
#pragma once

#include <string>

// Whether iconv knows the charset name ("GBK", "utf-8", "ISO-8859-1").
bool CharsetIsKnown(const std::string& name);

// Whether every byte sequence of the text is a character of the charset;
// false for a name iconv does not know.
bool TextIsValidIn(const std::string& text, const std::string& charset);

// Whether the locale's codeset (nl_langinfo(CODESET)) names only ASCII, as
// the C and POSIX locales do: it then says nothing about the texts' charset.
bool CodesetIsAsciiOnly(const std::string& codeset);

// SPDX-License-Identifier: Apache-2.0
// The charsets of tarvenkel-send's texts: whether a name is one the system
// knows, and whether a text is valid in one. Texts are never converted.
#pragma once

#include <optional>
#include <string>
#include <vector>

// Whether iconv knows the charset name ("GBK", "utf-8", "ISO-8859-1").
bool CharsetIsKnown(const std::string& name);

// Whether every byte sequence of the text is a character of the charset;
// false for a name iconv does not know.
bool TextIsValidIn(const std::string& text, const std::string& charset);

// Whether the locale's codeset (nl_langinfo(CODESET)) names only ASCII, as
// the C and POSIX locales do: it then says nothing about the texts' charset.
bool CodesetIsAsciiOnly(const std::string& codeset);

// The codeset of the user's locale, as a terminal hands over what is typed.
std::string LocaleCodeset();

// A text of a message labelled with its charset, with the words a warning
// names it by ("the subject").
struct LabelledText {
  std::string what;
  std::string text;
};

// The charset the texts are labelled with: the one given, else the
// locale's. A locale that names only ASCII (the C locale of cron) says
// nothing: texts valid as UTF-8 are labelled UTF-8, others GBK, the code
// page the library defaults to, and the user is told. A text not valid in
// the charset is sent as it is, with a warning that names it.
std::string ChooseCharset(const std::optional<std::string>& given, const std::vector<LabelledText>& texts);

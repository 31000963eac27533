// SPDX-License-Identifier: Apache-2.0
#include "tools/send/send_charset.h"

#include "tools/send/send_options.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>

#include <iconv.h>
#include <langinfo.h>

namespace {

bool has_eight_bit(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// An iconv descriptor from the charset to UTF-8, closed when it goes.
class Converter {
public:
  explicit Converter(const std::string& charset) : m_cd(iconv_open("UTF-8", charset.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(m_cd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return m_cd; }

private:
  iconv_t m_cd;
};

}  // namespace

bool CharsetIsKnown(const std::string& name) { return !name.empty() && Converter(name).ok(); }

bool TextIsValidIn(const std::string& text, const std::string& charset) {
  Converter converter(charset);
  if (!converter.ok()) return false;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* out = buffer;
    size_t outLeft = sizeof buffer;
    if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) && errno != E2BIG)
      return false;  // EILSEQ: not a character; EINVAL: cut inside one at the end
  }
  return true;
}

bool CodesetIsAsciiOnly(const std::string& codeset) {
  return codeset.empty() || codeset == "ANSI_X3.4-1968" || codeset == "ASCII" || codeset == "US-ASCII";
}

std::string LocaleCodeset() {
  std::setlocale(LC_CTYPE, "");
  return nl_langinfo(CODESET);
}

std::string ChooseCharset(const std::optional<std::string>& given, const std::vector<LabelledText>& texts) {
  const std::string charset = given ? *given : LocaleCodeset();
  if (!given && CodesetIsAsciiOnly(charset)) {
    const bool utf8 = std::all_of(texts.begin(), texts.end(), [](const LabelledText& t) {
      return !has_eight_bit(t.text) || TextIsValidIn(t.text, "UTF-8");
    });
    if (!utf8)
      std::fprintf(stderr,
                   "%s: note: the texts are not valid UTF-8 and the locale names no charset: labelled GBK "
                   "(give --charset to name theirs)\n",
                   kSendProgram);
    return utf8 ? "UTF-8" : "GBK";
  }
  for (const LabelledText& t : texts)
    if (has_eight_bit(t.text) && !TextIsValidIn(t.text, charset))
      std::fprintf(stderr, "%s: warning: %s is not valid %s text; it is sent as it is, labelled %s\n", kSendProgram,
                   t.what.c_str(), charset.c_str(), charset.c_str());
  return charset;
}

#include "tools/send/send_charset.h"

#include <cerrno>

#include <iconv.h>

namespace {

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

// SPDX-License-Identifier: Apache-2.0
#include "framework/core/code_page.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

std::atomic<UINT> g_nAnsiCodePage{936};
std::atomic<bool> g_bAnsiCodePageSet{false};

// The iconv name of a Windows code page.
std::string iconv_name(UINT nCodePage) {
  switch (nCodePage) {
    case CP_UTF8: return "UTF-8";
    case 936: return "CP936";
    case 950: return "BIG5";
    case 20127: return "ASCII";
    case 28591: return "ISO-8859-1";
    default: return "CP" + std::to_string(nCodePage);
  }
}

// One converter per thread and code page: opening a converter costs far more
// than converting a short label, and iconv_t is not safe to share.
class ThreadDecoder {
public:
  ~ThreadDecoder() { close(); }

  iconv_t get(UINT nCodePage) {
    if (m_cd != reinterpret_cast<iconv_t>(-1) && m_nCodePage == nCodePage) return m_cd;
    close();
    m_cd = iconv_open("UTF-32LE", iconv_name(nCodePage).c_str());
    m_nCodePage = nCodePage;
    return m_cd;
  }

private:
  void close() {
    if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    m_cd = reinterpret_cast<iconv_t>(-1);
  }

  iconv_t m_cd = reinterpret_cast<iconv_t>(-1);
  UINT m_nCodePage = 0;
};

thread_local ThreadDecoder t_decoder;

}  // namespace

BOOL AfxSetAnsiCodePage(UINT nCodePage) {
  if (nCodePage == 0) {
    g_nAnsiCodePage.store(936);
    g_bAnsiCodePageSet.store(false);
    return TRUE;
  }
  iconv_t cd = iconv_open("UTF-32LE", iconv_name(nCodePage).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return FALSE;
  iconv_close(cd);
  g_nAnsiCodePage.store(nCodePage);
  g_bAnsiCodePageSet.store(true);
  return TRUE;
}

UINT AfxGetAnsiCodePage() {
  return g_nAnsiCodePage.load();
}

BOOL AfxIsAnsiCodePageSet() { return g_bAnsiCodePageSet.load() ? TRUE : FALSE; }

namespace {

// The label of a codeset name as nl_langinfo or a locale name gives it
// ("UTF-8", "utf8", "GB2312", "gbk", "GB18030"); nullptr for the others.
const char* codeset_charset(std::string_view codeset) {
  std::string name;
  for (char c : codeset) {
    if (c == '-' || c == '_') continue;
    name += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  }
  if (name == "UTF8") return "UTF-8";
  if (name == "GBK" || name == "GB2312" || name == "EUCCN" || name == "CP936") return "GBK";
  if (name == "GB18030") return "GB18030";
  return nullptr;
}

bool is_c_locale(std::string_view name) { return name.empty() || name == "C" || name == "POSIX"; }

// The charset of the locale setlocale(LC_ALL, "") would choose.
const char* environment_charset() {
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      name = value;
      break;
    }
  }
  if (name == nullptr || is_c_locale(name)) return nullptr;
  // The locale's own codeset where it is installed ("zh_CN" is GB2312),
  // else the one its name states after the dot.
  if (locale_t locale = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr))) {
    const char* charset = codeset_charset(nl_langinfo_l(CODESET, locale));
    freelocale(locale);
    return charset;
  }
  const std::string_view text(name);
  const std::size_t dot = text.find('.');
  if (dot == std::string_view::npos) return nullptr;
  return codeset_charset(text.substr(dot + 1, text.find('@', dot) - dot - 1));
}

}  // namespace

const char* AfxGetLocaleCharset() {
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  if (current != nullptr && !is_c_locale(current)) return codeset_charset(nl_langinfo(CODESET));
  return environment_charset();
}

namespace {

struct CodePageCharset {
  UINT nCodePage;
  const char* szCharset;
};

// The IANA names of the code pages a host may hold text in. The first entry
// of a code page is its label; the later ones are other names for text of
// the same byte structure.
constexpr CodePageCharset kCharsets[] = {
    {936, "GBK"},          {936, "GB2312"},       {936, "GB18030"},      {936, "CP936"},
    {54936, "GB18030"},    {65001, "UTF-8"},      {950, "Big5"},         {932, "Shift_JIS"},
    {949, "EUC-KR"},       {20127, "US-ASCII"},   {28591, "ISO-8859-1"}, {28592, "ISO-8859-2"},
    {28595, "ISO-8859-5"}, {28597, "ISO-8859-7"}, {28605, "ISO-8859-15"}, {1250, "windows-1250"},
    {1251, "windows-1251"}, {1252, "windows-1252"}, {1253, "windows-1253"}, {1254, "windows-1254"},
    {1255, "windows-1255"}, {1256, "windows-1256"}, {1257, "windows-1257"}, {1258, "windows-1258"},
    {866, "IBM866"},       {437, "IBM437"},       {850, "IBM850"},       {20866, "KOI8-R"},
    {21866, "KOI8-U"},
};

bool same_name(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const char ca = *a >= 'a' && *a <= 'z' ? static_cast<char>(*a - 32) : *a;
    const char cb = *b >= 'a' && *b <= 'z' ? static_cast<char>(*b - 32) : *b;
    if (ca != cb) return false;
  }
  return *a == *b;
}

bool in_range(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

}  // namespace

const char* AfxGetCodePageCharset(UINT nCodePage) {
  for (const CodePageCharset& entry : kCharsets)
    if (entry.nCodePage == nCodePage) return entry.szCharset;
  return "UNKNOWN-8BIT";
}

UINT AfxGetCharsetCodePage(const char* szCharset) {
  if (szCharset == nullptr) return 0;
  for (const CodePageCharset& entry : kCharsets) {
    if (!same_name(entry.szCharset, szCharset)) continue;
    switch (entry.nCodePage) {
      case 54936: return 936;
      case 936: case 65001: case 950: case 932: case 949: return entry.nCodePage;
      default: return 0;
    }
  }
  return same_name(szCharset, "UTF8") ? CP_UTF8 : 0;
}

int AfxCharLength(UINT nCodePage, const char* p, std::size_t nLeft) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  if (nLeft < 2 || u[0] < 0x80) return 1;
  switch (nCodePage) {
    case 936:
    case 54936:
      if (!in_range(u[0], 0x81, 0xFE)) return 1;
      if (in_range(u[1], 0x30, 0x39))
        return nLeft >= 4 && in_range(u[2], 0x81, 0xFE) && in_range(u[3], 0x30, 0x39) ? 4 : 1;
      return in_range(u[1], 0x40, 0xFE) && u[1] != 0x7F ? 2 : 1;
    case CP_UTF8: {
      const int n = in_range(u[0], 0xC2, 0xDF) ? 2 : in_range(u[0], 0xE0, 0xEF) ? 3 : in_range(u[0], 0xF0, 0xF4) ? 4 : 1;
      if (static_cast<std::size_t>(n) > nLeft) return 1;
      for (int i = 1; i < n; ++i)
        if (!in_range(u[i], 0x80, 0xBF)) return 1;
      return n;
    }
    case 950:
      return in_range(u[0], 0x81, 0xFE) && (in_range(u[1], 0x40, 0x7E) || in_range(u[1], 0xA1, 0xFE)) ? 2 : 1;
    case 932:
      return (in_range(u[0], 0x81, 0x9F) || in_range(u[0], 0xE0, 0xFC)) && in_range(u[1], 0x40, 0xFC) && u[1] != 0x7F
                 ? 2
                 : 1;
    case 949:
      return in_range(u[0], 0x81, 0xFE) && (in_range(u[1], 0x41, 0x5A) || in_range(u[1], 0x61, 0x7A) ||
                                            in_range(u[1], 0x81, 0xFE))
                 ? 2
                 : 1;
    default: return 1;
  }
}

namespace tarvenkel {

std::u32string DecodeAnsi(const char* psz, int nLength) {
  std::u32string out;
  if (psz == nullptr) return out;
  std::size_t n = nLength < 0 ? std::strlen(psz) : static_cast<std::size_t>(nLength);
  out.reserve(n);
  // Every code page we decode is a superset of ASCII, so plain ASCII needs no converter.
  std::size_t i = 0;
  while (i < n && static_cast<unsigned char>(psz[i]) < 0x80) out.push_back(static_cast<char32_t>(psz[i++]));
  if (i == n) return out;

  iconv_t cd = t_decoder.get(AfxGetAnsiCodePage());
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    for (; i < n; ++i) out.push_back(static_cast<unsigned char>(psz[i]) < 0x80 ? static_cast<char32_t>(psz[i]) : U'\uFFFD');
    return out;
  }
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(psz + i);
  std::size_t inLeft = n - i;
  char buffer[256];
  while (inLeft > 0) {
    char* outPtr = buffer;
    std::size_t outLeft = sizeof(buffer);
    std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    int err = errno;
    for (char* p = buffer; p + 4 <= outPtr; p += 4) {
      std::uint32_t cp;
      std::memcpy(&cp, p, 4);
      out.push_back(static_cast<char32_t>(cp));
    }
    if (rc == static_cast<std::size_t>(-1) && err != E2BIG) {
      // Invalid or truncated sequence: replace its first byte and resynchronise after it.
      out.push_back(U'\uFFFD');
      ++in;
      --inLeft;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  return out;
}

std::string EncodeUtf8(const std::u32string& text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace tarvenkel

#include "framework/code_page.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

std::atomic<UINT> g_nAnsiCodePage{936};

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
  iconv_t cd = iconv_open("UTF-32LE", iconv_name(nCodePage).c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return FALSE;
  iconv_close(cd);
  g_nAnsiCodePage.store(nCodePage);
  return TRUE;
}

UINT AfxGetAnsiCodePage() {
  return g_nAnsiCodePage.load();
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

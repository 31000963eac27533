// SPDX-License-Identifier: Apache-2.0
// Writing and reading binary dialog templates.
#include "framework/window/dialog_template.h"

#include <iconv.h>

#include <cerrno>

namespace {

class TemplateWriter {
public:
  void Word(WORD v) { m_bytes.push_back(BYTE(v)), m_bytes.push_back(BYTE(v >> 8)); }
  void Dword(DWORD v) { Word(WORD(v)), Word(WORD(v >> 16)); }
  void Text(const std::u16string& s) {
    for (char16_t c : s) Word(c);
    Word(0);
  }
  void Name(const CTemplateName& n) {
    if (n.IsOrdinal()) {
      Word(0xFFFF);
      Word(n.nOrdinal);
    } else {
      Text(n.strText);
    }
  }
  void AlignDword() {
    while (m_bytes.size() % 4) m_bytes.push_back(0);
  }
  void Bytes(const std::vector<BYTE>& b) { m_bytes.insert(m_bytes.end(), b.begin(), b.end()); }
  std::vector<BYTE>& Result() { return m_bytes; }

private:
  std::vector<BYTE> m_bytes;
};

// Reads fields in order, refusing to step past the end of the template.
class TemplateReader {
public:
  TemplateReader(const BYTE* p, DWORD n) : m_p(p), m_n(n) {}
  bool Word(WORD& v) {
    if (m_n - m_at < 2) return false;
    v = WORD(m_p[m_at] | m_p[m_at + 1] << 8);
    m_at += 2;
    return true;
  }
  bool Short(short& v) {
    WORD w;
    if (!Word(w)) return false;
    v = static_cast<short>(w);
    return true;
  }
  bool Dword(DWORD& v) {
    WORD lo, hi;
    if (!Word(lo) || !Word(hi)) return false;
    v = DWORD(lo) | DWORD(hi) << 16;
    return true;
  }
  bool Text(std::u16string& s) {
    s.clear();
    for (WORD c; Word(c);) {
      if (c == 0) return true;
      s.push_back(static_cast<char16_t>(c));
    }
    return false;
  }
  bool Name(CTemplateName& n) {
    n = {};
    WORD first;
    if (!Word(first)) return false;
    if (first == 0xFFFF) return Word(n.nOrdinal) && n.nOrdinal != 0;
    if (first == 0) return true;
    m_at -= 2;
    return Text(n.strText);
  }
  bool AlignDword() {
    DWORD aligned = (m_at + 3) & ~3u;
    if (aligned > m_n) return false;
    m_at = aligned;
    return true;
  }
  bool Bytes(std::vector<BYTE>& b, DWORD n) {
    if (m_n - m_at < n) return false;
    b.assign(m_p + m_at, m_p + m_at + n);
    m_at += n;
    return true;
  }

private:
  const BYTE* m_p;
  DWORD m_n;
  DWORD m_at = 0;
};

}  // namespace

std::vector<BYTE> CDialogTemplate::Write() const {
  TemplateWriter w;
  w.Dword(style);
  w.Dword(dwExtendedStyle);
  w.Word(static_cast<WORD>(items.size()));
  w.Word(WORD(x)), w.Word(WORD(y)), w.Word(WORD(cx)), w.Word(WORD(cy));
  w.Name(menu);
  w.Name(className);
  w.Text(strCaption);
  if (style & DS_SETFONT) {
    w.Word(wPointSize);
    w.Text(strFaceName);
  }
  for (const CDialogItemTemplate& item : items) {
    w.AlignDword();
    w.Dword(item.style);
    w.Dword(item.dwExtendedStyle);
    w.Word(WORD(item.x)), w.Word(WORD(item.y)), w.Word(WORD(item.cx)), w.Word(WORD(item.cy));
    w.Word(item.id);
    w.Name(item.className);
    w.Name(item.title);
    w.Word(static_cast<WORD>(item.creationData.size()));
    w.Bytes(item.creationData);
  }
  return std::move(w.Result());
}

BOOL CDialogTemplate::Read(const BYTE* pData, DWORD nSize, CString& strError) {
  if (pData == nullptr) nSize = 0;
  TemplateReader r(pData, nSize);
  CDialogTemplate t;
  WORD count = 0;
  auto fail = [&](const char* why) {
    strError = why;
    return FALSE;
  };
  if (!r.Dword(t.style) || !r.Dword(t.dwExtendedStyle)) return fail("template too short for its header");
  if ((t.style & 0xFFFF0000u) == 0xFFFF0000u && (t.style & 0xFFFF) == 1)
    return fail("extended dialog templates are not supported");
  if (!r.Word(count) || !r.Short(t.x) || !r.Short(t.y) || !r.Short(t.cx) || !r.Short(t.cy))
    return fail("template too short for its header");
  if (!r.Name(t.menu)) return fail("menu name runs past the end");
  if (!r.Name(t.className)) return fail("class name runs past the end");
  if (!r.Text(t.strCaption)) return fail("caption runs past the end");
  if (t.style & DS_SETFONT) {
    if (!r.Word(t.wPointSize) || !r.Text(t.strFaceName)) return fail("font runs past the end");
  }
  for (WORD i = 0; i < count; ++i) {
    CDialogItemTemplate item;
    WORD extra = 0;
    if (!r.AlignDword() || !r.Dword(item.style) || !r.Dword(item.dwExtendedStyle) || !r.Short(item.x) ||
        !r.Short(item.y) || !r.Short(item.cx) || !r.Short(item.cy) || !r.Word(item.id))
      return fail("control template runs past the end");
    if (!r.Name(item.className)) return fail("control class runs past the end");
    if (item.className.strText.empty() && !item.className.IsOrdinal()) return fail("control without a class");
    if (!r.Name(item.title)) return fail("control title runs past the end");
    if (!r.Word(extra) || !r.Bytes(item.creationData, extra)) return fail("creation data runs past the end");
    t.items.push_back(std::move(item));
  }
  *this = std::move(t);
  return TRUE;
}

CString AfxTextFromUtf16(const std::u16string& text) {
  if (text.empty()) return CString();
  iconv_t cd = iconv_open("CP936//TRANSLIT", "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) return CString();
  std::string in;
  for (char16_t c : text) in.push_back(char(c & 0xFF)), in.push_back(char(c >> 8));
  std::string out(in.size() * 2 + 8, '\0');
  char* pin = in.data();
  char* pout = out.data();
  size_t nin = in.size(), nout = out.size();
  while (nin > 0) {
    if (iconv(cd, &pin, &nin, &pout, &nout) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ || nin < 2 || nout < 1) break;
    // A character without a place in the code page becomes '?'.
    *pout++ = '?', --nout;
    pin += 2, nin -= 2;
  }
  iconv_close(cd);
  out.resize(out.size() - nout);
  return CString(out.data(), static_cast<int>(out.size()));
}

// CString: the framework's counted, growable string of 8-bit bytes. A value
// type: copies are independent. The bytes may include zeros when built from a
// pointer and a length; the zero-terminated view stops at the first of them.
#pragma once

#include "framework/win_types.h"

#include <cstdarg>
#include <string>
#include <string_view>
#include <type_traits>

class CString;

namespace tarvenkel::detail {
// Format arguments pass through C varargs; a CString becomes its text pointer,
// which keeps printf semantics for "%s" and makes passing a CString safe.
inline const char* format_arg(const CString& s);
template <typename T>
inline T format_arg(const T& v) {
  static_assert(std::is_trivially_copyable_v<T>, "only CString and trivially copyable values can be formatted");
  return v;
}
}  // namespace tarvenkel::detail

class AFX_EXT_CLASS CString {
public:
  CString() = default;
  CString(const char* psz);  // NOLINT: implicit like the framework's
  CString(const char* pch, int nLength);
  CString(char ch, int nRepeat = 1);
  CString(std::string_view sv) : m_str(sv) {}
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  CString& operator=(const CString&);
  CString& operator=(CString&&) noexcept = default;
  CString& operator=(const char* psz);
  CString& operator=(char ch);

  int GetLength() const { return static_cast<int>(m_str.size()); }
  BOOL IsEmpty() const { return m_str.empty(); }
  void Empty() { m_str.clear(); }

  // The zero-terminated view of the text, valid until the string changes.
  operator LPCTSTR() const { return m_str.c_str(); }
  LPCTSTR GetString() const { return m_str.c_str(); }
  const std::string& str() const { return m_str; }

  char GetAt(int nIndex) const;
  void SetAt(int nIndex, char ch);
  char operator[](int nIndex) const { return GetAt(nIndex); }

  CString& operator+=(const CString& s);
  CString& operator+=(const char* psz);
  CString& operator+=(char ch);
  // Appends nLength bytes, zeros included.
  void Append(const char* pch, int nLength);

  friend CString operator+(const CString& a, const CString& b);
  friend CString operator+(const CString& a, const char* b);
  friend CString operator+(const char* a, const CString& b);
  friend CString operator+(const CString& a, char b);
  friend CString operator+(char a, const CString& b);

  // Replaces the content by the pattern with its printf conversions filled in.
  template <typename... Args>
  void Format(LPCTSTR pszFormat, const Args&... args) {
    FormatRaw(pszFormat, tarvenkel::detail::format_arg(args)...);
  }
  void FormatV(LPCTSTR pszFormat, va_list args);
  template <typename... Args>
  void AppendFormat(LPCTSTR pszFormat, const Args&... args) {
    CString tail;
    tail.Format(pszFormat, args...);
    *this += tail;
  }

  CString Left(int nCount) const;
  CString Right(int nCount) const;
  CString Mid(int nFirst) const;
  CString Mid(int nFirst, int nCount) const;

  // Zero-based position of the first occurrence at or after nStart; -1 if none.
  int Find(char ch, int nStart = 0) const;
  int Find(LPCTSTR pszSub, int nStart = 0) const;
  int ReverseFind(char ch) const;
  int FindOneOf(LPCTSTR pszCharSet) const;

  // White space is blank, tab, LF, vertical tab, form feed and CR.
  CString& TrimLeft();
  CString& TrimRight();
  CString& Trim();
  CString& TrimLeft(char chTarget);
  CString& TrimRight(char chTarget);

  CString& MakeUpper();
  CString& MakeLower();
  int Replace(LPCTSTR pszOld, LPCTSTR pszNew);
  int Replace(char chOld, char chNew);
  int Remove(char ch);
  int Insert(int nIndex, LPCTSTR psz);
  int Delete(int nIndex, int nCount = 1);

  // Byte-wise comparison: < 0, 0 or > 0.
  int Compare(LPCTSTR psz) const;
  int CompareNoCase(LPCTSTR psz) const;

  // Direct buffer access: GetBuffer makes room for at least nMinLength bytes;
  // ReleaseBuffer sets the length (-1: up to the first zero byte).
  LPTSTR GetBuffer(int nMinBufLength = 0);
  void ReleaseBuffer(int nNewLength = -1);
  void Preallocate(int nLength);

  friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
  friend bool operator==(const CString& a, const char* b);
  friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

private:
  void FormatRaw(LPCTSTR pszFormat, ...);

  std::string m_str;
};

namespace tarvenkel::detail {
inline const char* format_arg(const CString& s) { return s.GetString(); }
}  // namespace tarvenkel::detail

// Byte-wise comparison of two zero-terminated texts, as the runtime's _mbscmp
// does for single-byte text: 0 when equal.
AFX_API_EXPORT int _mbscmp(const unsigned char* a, const unsigned char* b);
// Copies a zero-terminated text, as lstrcpyA does; returns the destination.
AFX_API_EXPORT LPSTR lstrcpyA(LPSTR dst, LPCSTR src);

// True for the six characters the framework trims: blank, tab, LF, VT, FF, CR.
inline bool AfxIsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// SPDX-License-Identifier: Apache-2.0
// CString: the framework's counted, growable string of 8-bit bytes. A value
// type: copies are independent. The bytes may include zeros when built from a
// pointer and a length; the zero-terminated view stops at the first of them.
// Operations that grow a string throw CMemoryException* when memory runs out
// or the length would pass INT_MAX, and leave the string as it was;
// indexes and counts out of range are clamped, never undefined.
#pragma once

#include "framework/core/win_types.h"

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

namespace tarvenkel::detail {
// What printf can take through C varargs: numbers, enumerations and pointers
// (a text as its const char*). A class object, a CString among them, is not.
template <typename T>
concept PrintfArg = std::is_arithmetic_v<std::decay_t<T>> || std::is_enum_v<std::decay_t<T>> ||
                    std::is_pointer_v<std::decay_t<T>> || std::is_null_pointer_v<std::decay_t<T>>;
template <typename... Args>
concept AnyNonPrintfArg = (!PrintfArg<Args> || ...);
}  // namespace tarvenkel::detail

class AFX_EXT_CLASS CString {
public:
  CString() = default;
  // The zero-terminated text; empty for null.
  CString(const char* psz);  // NOLINT: implicit like the framework's
  // nLength bytes, zeros included; empty for null or nLength <= 0.
  CString(const char* pch, int nLength);
  // ch nRepeat times; empty for nRepeat <= 0.
  CString(char ch, int nRepeat = 1);
  // The bytes of sv.
  CString(std::string_view sv) : m_str(sv) {}
  CString(const CString&) = default;
  CString(CString&&) noexcept = default;
  // Copies s.
  CString& operator=(const CString&);
  CString& operator=(CString&&) noexcept = default;
  // The zero-terminated text (it may point into this string); empty for null.
  CString& operator=(const char* psz);
  // The one character.
  CString& operator=(char ch);

  // The length in bytes.
  int GetLength() const { return static_cast<int>(m_str.size()); }
  // TRUE for no bytes.
  BOOL IsEmpty() const { return m_str.empty(); }
  // Removes every byte.
  void Empty() { m_str.clear(); }

  // The zero-terminated view of the text, valid until the string changes.
  operator LPCTSTR() const { return m_str.c_str(); }
  // The same view.
  LPCTSTR GetString() const { return m_str.c_str(); }
  // The bytes as a standard string.
  const std::string& str() const { return m_str; }

  // The byte at nIndex; 0 for an index outside the string.
  char GetAt(int nIndex) const;
  // Replaces the byte at nIndex; an index outside the string is ignored.
  void SetAt(int nIndex, char ch);
  // GetAt.
  char operator[](int nIndex) const { return GetAt(nIndex); }

  // Appends the string, text (null: nothing) or character; returns *this.
  CString& operator+=(const CString& s);
  CString& operator+=(const char* psz);
  CString& operator+=(char ch);
  // Appends nLength bytes, zeros included.
  void Append(const char* pch, int nLength);

  friend AFX_API_EXPORT CString operator+(const CString& a, const CString& b);
  friend AFX_API_EXPORT CString operator+(const CString& a, const char* b);
  friend AFX_API_EXPORT CString operator+(const char* a, const CString& b);
  friend AFX_API_EXPORT CString operator+(const CString& a, char b);
  friend AFX_API_EXPORT CString operator+(char a, const CString& b);

  // Replaces the content by the pattern with its printf conversions filled
  // in. The compiler checks the arguments against the pattern; a CString
  // goes in as its text, GetString(). A null pattern or one vsnprintf
  // rejects leaves the string empty.
  [[gnu::format(printf, 2, 3)]] void Format(LPCTSTR pszFormat, ...);
  // Format with a va_list.
  [[gnu::format(printf, 2, 0)]] void FormatV(LPCTSTR pszFormat, va_list args);
  // Appends what Format would produce.
  [[gnu::format(printf, 2, 3)]] void AppendFormat(LPCTSTR pszFormat, ...);
  // A class object passed through "..." is nothing printf can read, so a
  // call that passes one does not compile.
  template <typename... Args>
    requires tarvenkel::detail::AnyNonPrintfArg<Args...>
  void Format(LPCTSTR, const Args&...) = delete;
  template <typename... Args>
    requires tarvenkel::detail::AnyNonPrintfArg<Args...>
  void AppendFormat(LPCTSTR, const Args&...) = delete;

  // The first nCount bytes (all of them if fewer).
  CString Left(int nCount) const;
  // The last nCount bytes (all of them if fewer).
  CString Right(int nCount) const;
  // The bytes from nFirst to the end; up to nCount of them in the second form.
  CString Mid(int nFirst) const;
  CString Mid(int nFirst, int nCount) const;

  // Zero-based position of the first occurrence at or after nStart; -1 if none.
  int Find(char ch, int nStart = 0) const;
  int Find(LPCTSTR pszSub, int nStart = 0) const;
  // Position of the last occurrence; -1 if none.
  int ReverseFind(char ch) const;
  // Position of the first byte that is in the set; -1 if none.
  int FindOneOf(LPCTSTR pszCharSet) const;

  // White space is blank, tab, LF, vertical tab, form feed and CR.
  // Removes leading white space; returns *this.
  CString& TrimLeft();
  // Removes trailing white space; returns *this.
  CString& TrimRight();
  // Removes white space at both ends; returns *this.
  CString& Trim();
  // Removes leading copies of chTarget; returns *this.
  CString& TrimLeft(char chTarget);
  // Removes trailing copies of chTarget; returns *this.
  CString& TrimRight(char chTarget);

  // Each byte through toupper (the C locale's: ASCII letters); returns *this.
  CString& MakeUpper();
  // Each byte through tolower; returns *this.
  CString& MakeLower();
  // Replaces every occurrence, left to right without overlaps; returns how
  // many. An empty or null pszOld replaces nothing; a null pszNew removes.
  int Replace(LPCTSTR pszOld, LPCTSTR pszNew);
  int Replace(char chOld, char chNew);
  // Removes every copy of ch; returns how many.
  int Remove(char ch);
  // Inserts the text before nIndex (clamped to the string); returns the new length.
  int Insert(int nIndex, LPCTSTR psz);
  // Removes up to nCount bytes from nIndex; returns the new length.
  int Delete(int nIndex, int nCount = 1);

  // Byte-wise comparison: < 0, 0 or > 0.
  int Compare(LPCTSTR psz) const;
  // The same, ignoring case (strcasecmp).
  int CompareNoCase(LPCTSTR psz) const;

  // Direct buffer access: GetBuffer makes room for at least nMinLength bytes
  // (a negative length, what an overflowed sum gives, throws CMemoryException*);
  // ReleaseBuffer sets the length (-1: up to the first zero byte).
  LPTSTR GetBuffer(int nMinBufLength = 0);
  // (see GetBuffer; a length past the buffer is clamped).
  void ReleaseBuffer(int nNewLength = -1);
  // Reserves room for nLength bytes, so that appending up to there does not reallocate.
  void Preallocate(int nLength);

  friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
  friend AFX_API_EXPORT bool operator==(const CString& a, const char* b);
  friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

private:
  std::string m_str;
};

// The length nLength + nMore, checked: lengths are int, so a sum past
// INT_MAX throws CMemoryException*, before anything is allocated. Every size
// computation that grows a string goes through here.
AFX_API_EXPORT int AfxCheckedLength(std::size_t nLength, std::size_t nMore);

// Byte-wise comparison of two zero-terminated texts, as the runtime's _mbscmp
// does for single-byte text: 0 when equal.
AFX_API_EXPORT int _mbscmp(const unsigned char* a, const unsigned char* b);
// Copies a zero-terminated text, as lstrcpyA does; returns the destination.
AFX_API_EXPORT LPSTR lstrcpyA(LPSTR dst, LPCSTR src);

// True for the six characters the framework trims: blank, tab, LF, VT, FF, CR.
inline bool AfxIsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// SPDX-License-Identifier: Apache-2.0
#include "framework/core/string.h"

#include "framework/core/exception.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Runs a growing operation and turns the standard allocation failure into the
// framework's memory exception, which is what callers of CString catch.
template <typename F>
decltype(auto) grow(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    AfxThrowMemoryException();
  }
}

std::size_t clamp_index(int n, std::size_t size) {
  if (n <= 0) return 0;
  return std::min(static_cast<std::size_t>(n), size);
}

}  // namespace

CString::CString(const char* psz) {
  if (psz != nullptr) grow([&] { m_str.assign(psz, static_cast<std::size_t>(AfxCheckedLength(0, std::strlen(psz)))); });
}

CString::CString(const char* pch, int nLength) {
  if (pch != nullptr && nLength > 0) grow([&] { m_str.assign(pch, static_cast<std::size_t>(nLength)); });
}

CString::CString(char ch, int nRepeat) {
  if (nRepeat > 0) grow([&] { m_str.assign(static_cast<std::size_t>(nRepeat), ch); });
}

CString& CString::operator=(const CString& s) {
  if (this != &s) grow([&] { m_str = s.m_str; });
  return *this;
}

CString& CString::operator=(const char* psz) {
  grow([&] {
    if (psz == nullptr) m_str.clear();
    else m_str.assign(psz, static_cast<std::size_t>(AfxCheckedLength(0, std::strlen(psz))));  // copes with psz in m_str
  });
  return *this;
}

CString& CString::operator=(char ch) {
  grow([&] { m_str.assign(1, ch); });
  return *this;
}

char CString::GetAt(int nIndex) const {
  if (nIndex < 0 || static_cast<std::size_t>(nIndex) >= m_str.size()) return '\0';
  return m_str[static_cast<std::size_t>(nIndex)];
}

void CString::SetAt(int nIndex, char ch) {
  if (nIndex >= 0 && static_cast<std::size_t>(nIndex) < m_str.size()) m_str[static_cast<std::size_t>(nIndex)] = ch;
}

CString& CString::operator+=(const CString& s) {
  AfxCheckedLength(m_str.size(), s.m_str.size());
  grow([&] { m_str.append(s.m_str); });
  return *this;
}

CString& CString::operator+=(const char* psz) {
  if (psz == nullptr) return *this;
  const std::size_t n = std::strlen(psz);
  AfxCheckedLength(m_str.size(), n);
  grow([&] { m_str.append(psz, n); });
  return *this;
}

CString& CString::operator+=(char ch) {
  AfxCheckedLength(m_str.size(), 1);
  grow([&] { m_str.push_back(ch); });
  return *this;
}

void CString::Append(const char* pch, int nLength) {
  if (pch == nullptr || nLength <= 0) return;
  AfxCheckedLength(m_str.size(), static_cast<std::size_t>(nLength));
  grow([&] { m_str.append(pch, static_cast<std::size_t>(nLength)); });
}

CString operator+(const CString& a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const CString& a, const char* b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const char* a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(const CString& a, char b) {
  CString r(a);
  r += b;
  return r;
}

CString operator+(char a, const CString& b) {
  CString r(a);
  r += b;
  return r;
}

bool operator==(const CString& a, const char* b) {
  return b == nullptr ? a.m_str.empty() : a.m_str == b;
}

void CString::Format(LPCTSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  FormatV(pszFormat, args);
  va_end(args);
}

void CString::FormatV(LPCTSTR pszFormat, va_list args) {
  if (pszFormat == nullptr) {
    m_str.clear();
    return;
  }
  va_list probe;
  va_copy(probe, args);
  char small[256];
  const int needed = std::vsnprintf(small, sizeof small, pszFormat, probe);
  va_end(probe);
  if (needed < 0) {
    m_str.clear();
    return;
  }
  if (static_cast<std::size_t>(needed) < sizeof small) {
    grow([&] { m_str.assign(small, static_cast<std::size_t>(needed)); });
    return;
  }
  std::string out;
  grow([&] { out.resize(static_cast<std::size_t>(needed) + 1); });
  std::vsnprintf(out.data(), out.size(), pszFormat, args);
  out.resize(static_cast<std::size_t>(needed));
  m_str = std::move(out);
}

void CString::AppendFormat(LPCTSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  CString tail;
  tail.FormatV(pszFormat, args);
  va_end(args);
  *this += tail;
}

CString CString::Left(int nCount) const {
  return CString(std::string_view(m_str).substr(0, clamp_index(nCount, m_str.size())));
}

CString CString::Right(int nCount) const {
  const std::size_t n = clamp_index(nCount, m_str.size());
  return CString(std::string_view(m_str).substr(m_str.size() - n));
}

CString CString::Mid(int nFirst) const {
  const std::size_t first = clamp_index(nFirst, m_str.size());
  return CString(std::string_view(m_str).substr(first));
}

CString CString::Mid(int nFirst, int nCount) const {
  const std::size_t first = clamp_index(nFirst, m_str.size());
  return CString(std::string_view(m_str).substr(first, clamp_index(nCount, m_str.size() - first)));
}

int CString::Find(char ch, int nStart) const {
  if (nStart < 0) nStart = 0;
  const std::size_t pos = m_str.find(ch, static_cast<std::size_t>(nStart));
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(LPCTSTR pszSub, int nStart) const {
  if (pszSub == nullptr) return -1;
  if (nStart < 0) nStart = 0;
  if (static_cast<std::size_t>(nStart) > m_str.size()) return -1;
  const std::size_t pos = m_str.find(pszSub, static_cast<std::size_t>(nStart));
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(char ch) const {
  const std::size_t pos = m_str.rfind(ch);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(LPCTSTR pszCharSet) const {
  if (pszCharSet == nullptr) return -1;
  const std::size_t pos = m_str.find_first_of(pszCharSet);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

CString& CString::TrimLeft() {
  std::size_t i = 0;
  while (i < m_str.size() && AfxIsWhiteSpace(m_str[i])) ++i;
  m_str.erase(0, i);
  return *this;
}

CString& CString::TrimRight() {
  std::size_t n = m_str.size();
  while (n > 0 && AfxIsWhiteSpace(m_str[n - 1])) --n;
  m_str.resize(n);
  return *this;
}

CString& CString::Trim() {
  TrimRight();
  return TrimLeft();
}

CString& CString::TrimLeft(char chTarget) {
  std::size_t i = 0;
  while (i < m_str.size() && m_str[i] == chTarget) ++i;
  m_str.erase(0, i);
  return *this;
}

CString& CString::TrimRight(char chTarget) {
  std::size_t n = m_str.size();
  while (n > 0 && m_str[n - 1] == chTarget) --n;
  m_str.resize(n);
  return *this;
}

CString& CString::MakeUpper() {
  for (char& c : m_str) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::MakeLower() {
  for (char& c : m_str) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return *this;
}

int CString::Replace(LPCTSTR pszOld, LPCTSTR pszNew) {
  if (pszOld == nullptr || *pszOld == '\0') return 0;
  const std::string_view from(pszOld);
  const std::string_view to(pszNew ? pszNew : "");
  std::string out;
  int count = 0;
  std::size_t start = 0;
  for (std::size_t pos; (pos = m_str.find(from, start)) != std::string::npos; start = pos + from.size()) {
    AfxCheckedLength(out.size(), pos - start + to.size());
    grow([&] {
      out.append(m_str, start, pos - start);
      out.append(to);
    });
    ++count;
  }
  if (count == 0) return 0;
  AfxCheckedLength(out.size(), m_str.size() - start);
  grow([&] { out.append(m_str, start, std::string::npos); });
  m_str = std::move(out);
  return count;
}

int CString::Replace(char chOld, char chNew) {
  int count = 0;
  for (char& c : m_str) {
    if (c == chOld) {
      c = chNew;
      ++count;
    }
  }
  return count;
}

int CString::Remove(char ch) {
  const std::size_t before = m_str.size();
  m_str.erase(std::remove(m_str.begin(), m_str.end(), ch), m_str.end());
  return static_cast<int>(before - m_str.size());
}

int CString::Insert(int nIndex, LPCTSTR psz) {
  if (psz == nullptr) return GetLength();
  const std::size_t n = std::strlen(psz);
  AfxCheckedLength(m_str.size(), n);
  grow([&] { m_str.insert(clamp_index(nIndex, m_str.size()), psz, n); });
  return GetLength();
}

int CString::Delete(int nIndex, int nCount) {
  const std::size_t first = clamp_index(nIndex, m_str.size());
  if (nCount > 0) m_str.erase(first, clamp_index(nCount, m_str.size() - first));
  return GetLength();
}

int CString::Compare(LPCTSTR psz) const {
  return m_str.compare(psz ? psz : "");
}

int CString::CompareNoCase(LPCTSTR psz) const {
  return ::strcasecmp(m_str.c_str(), psz ? psz : "");
}

LPTSTR CString::GetBuffer(int nMinBufLength) {
  if (nMinBufLength < 0) AfxThrowMemoryException();
  if (nMinBufLength > GetLength()) grow([&] { m_str.resize(static_cast<std::size_t>(nMinBufLength)); });
  return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength) {
  if (nNewLength < 0) nNewLength = static_cast<int>(std::strlen(m_str.c_str()));
  m_str.resize(clamp_index(nNewLength, m_str.size()));
}

void CString::Preallocate(int nLength) {
  if (nLength > 0) grow([&] { m_str.reserve(static_cast<std::size_t>(nLength)); });
}

int AfxCheckedLength(std::size_t nLength, std::size_t nMore) {
  constexpr std::size_t kMax = INT_MAX;
  if (nLength > kMax || nMore > kMax - nLength) AfxThrowMemoryException();
  return static_cast<int>(nLength + nMore);
}

int _mbscmp(const unsigned char* a, const unsigned char* b) {
  return std::strcmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b));
}

LPSTR lstrcpyA(LPSTR dst, LPCSTR src) {
  if (dst == nullptr || src == nullptr) return nullptr;
  return std::strcpy(dst, src);
}

// SPDX-License-Identifier: Apache-2.0
#include "framework/core/time.h"

#include <string>

namespace {

CString format_tm(const struct tm& tm, LPCTSTR pszFormat) {
  if (pszFormat == nullptr || *pszFormat == '\0') return CString();
  std::string buf(128, '\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::size_t n = std::strftime(buf.data(), buf.size(), pszFormat, &tm);
    if (n > 0) return CString(buf.data(), static_cast<int>(n));
    buf.resize(buf.size() * 4);
  }
  return CString();
}

}  // namespace

CTime CTime::GetCurrentTime() {
  return CTime(std::time(nullptr));
}

BOOL CTime::GetLocalTm(struct tm* ptm) const {
  return ptm != nullptr && localtime_r(&m_time, ptm) != nullptr;
}

CString CTime::Format(LPCTSTR pszFormat) const {
  struct tm tm {};
  if (!GetLocalTm(&tm)) return CString();
  return format_tm(tm, pszFormat);
}

CString CTime::FormatGmt(LPCTSTR pszFormat) const {
  struct tm tm {};
  if (gmtime_r(&m_time, &tm) == nullptr) return CString();
  return format_tm(tm, pszFormat);
}

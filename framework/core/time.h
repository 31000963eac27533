// SPDX-License-Identifier: Apache-2.0
// CTime: a calendar time in whole seconds since the epoch, with local-time and
// UTC formatting through strftime patterns.
#pragma once

#include "framework/core/string.h"

#include <ctime>

class AFX_EXT_CLASS CTime {
public:
  CTime() = default;
  // The time t seconds after the epoch.
  explicit CTime(std::time_t t) : m_time(t) {}

  // Now, to the second.
  static CTime GetCurrentTime();
  // Seconds since the epoch.
  std::time_t GetTime() const { return m_time; }

  // The time converted to local time and formatted by strftime with pattern,
  // in the process's current locale. An empty result for an unformattable time.
  [[gnu::format(strftime, 2, 0)]] CString Format(LPCTSTR pszFormat) const;
  // The same in UTC.
  [[gnu::format(strftime, 2, 0)]] CString FormatGmt(LPCTSTR pszFormat) const;
  // Local time broken down; FALSE if the time cannot be converted.
  BOOL GetLocalTm(struct tm* ptm) const;

  friend bool operator==(const CTime& a, const CTime& b) { return a.m_time == b.m_time; }

private:
  std::time_t m_time = 0;
};

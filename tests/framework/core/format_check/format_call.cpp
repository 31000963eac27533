// SPDX-License-Identifier: Apache-2.0
// Calls of the framework's printf-style members, one variant per macro, that
// format_check.sh compiles: RIGHT must compile; SWAPPED and APPEND pass an
// argument that does not match its conversion, OBJECT passes a CString itself
// through "...", and each of these must be rejected by the compiler.
#include "framework/core/string.h"
#include "framework/core/time.h"

void Calls(CString& s, [[maybe_unused]] const CString& name, [[maybe_unused]] int count) {
#if defined(RIGHT)
  s.Format("%d items, %s", count, name.GetString());
  s.AppendFormat(" (%s)", static_cast<LPCTSTR>(name));
  s += CTime(0).FormatGmt("%Y-%m-%d");
#elif defined(SWAPPED)
  s.Format("%d items, %s", name.GetString(), count);
#elif defined(APPEND)
  s.AppendFormat(" (%s)", count);
#elif defined(OBJECT)
  s.Format("%d items, %s", count, name);
#else
#error "define RIGHT, SWAPPED, APPEND or OBJECT"
#endif
}

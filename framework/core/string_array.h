// SPDX-License-Identifier: Apache-2.0
// CStringArray: a growable array of CString values.
#pragma once

#include "framework/core/collections.h"
#include "framework/core/string.h"

class AFX_EXT_CLASS CStringArray : public CArray<CString, const CString&> {
public:
  CStringArray() = default;
  // Appends a zero-terminated text; returns its index.
  INT_PTR Add(LPCTSTR psz) { return CArray::Add(CString(psz)); }
  // Appends a string; returns its index.
  INT_PTR Add(const CString& s) { return CArray::Add(s); }
};

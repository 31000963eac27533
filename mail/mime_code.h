// SPDX-License-Identifier: Apache-2.0
// CMIMECode: the interface of a transfer encoder, which turns bytes into
// transfer text and back.
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"

class AFX_EXT_CLASS CMIMECode {
public:
  CMIMECode() = default;
  CMIMECode(const CMIMECode&) = default;
  CMIMECode& operator=(const CMIMECode&) = default;
  virtual ~CMIMECode() = default;

  // Decodes the zero-terminated text into szOutput; returns the byte count, 0 on failure.
  virtual int Decode(LPCTSTR szDecoding, LPTSTR szOutput) = 0;
  // Encodes nSize bytes into transfer text.
  virtual CString Encode(LPCTSTR szEncoding, int nSize) = 0;
};

// SPDX-License-Identifier: Apache-2.0
// A CFile over an open file descriptor that a message writes itself into
// (CMailMessage::WriteMessage) or that a queued message is copied from. It
// neither opens nor closes the descriptor.
#pragma once

#include "framework/io/file.h"

namespace tarvenkel::detail {

class DescriptorFile : public CFile {
public:
  explicit DescriptorFile(int fd) : m_fd(fd) {}

  // Writes the whole buffer, retrying short writes; throws a CFileException
  // with the system's error when a write fails, and keeps that error.
  void Write(const void* lpBuf, UINT nCount) override;
  // Reads up to nCount bytes; 0 at the end; throws on an error, keeping it.
  UINT Read(void* lpBuf, UINT nCount) override;

  // The system's error of the first failed write or read; 0 when none failed.
  int Error() const { return m_nError; }

private:
  int m_fd;
  int m_nError = 0;
};

}  // namespace tarvenkel::detail

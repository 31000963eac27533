// SPDX-License-Identifier: Apache-2.0
#include "tools/send/spooled_message.h"

#include <tarvenkel/framework/core/exception.h>

#include <cerrno>
#include <vector>

CSpooledMessage::CSpooledMessage(const SpoolFile& spool, const std::string& header) : m_spool(spool) {
  const unsigned long long size = spool.Size();
  char tail[2] = {};
  const std::size_t tailBytes = size < 2 ? static_cast<std::size_t>(size) : 2;
  if (tailBytes > 0 && spool.Read(size - tailBytes, tail, tailBytes) != static_cast<long>(tailBytes))
    m_nReadError = errno != 0 ? errno : EIO;
  m_nBodyBytes = size;
  if (tailBytes == 2 && tail[0] == '\r' && tail[1] == '\n')
    m_nBodyBytes -= 2;
  else if (tailBytes > 0 && (tail[tailBytes - 1] == '\n' || tail[tailBytes - 1] == '\r'))
    m_nBodyBytes -= 1;
  // Without a body the end of the data makes the empty line that ends the
  // header block; with one, the empty line comes first.
  const std::string block = size > 0 ? header + "\r\n" : header;
  m_sHeader = CString(block.data(), static_cast<int>(block.size()));
}

void CSpooledMessage::write_body(CFile& file) {
  if (m_nReadError != 0) AfxThrowFileException(CFileException::genericException, m_nReadError);
  std::vector<char> buffer(256 * 1024);
  for (unsigned long long offset = 0; offset < m_nBodyBytes;) {
    const unsigned long long left = m_nBodyBytes - offset;
    const std::size_t want = left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
    const long n = m_spool.Read(offset, buffer.data(), want);
    if (n <= 0) {
      m_nReadError = n < 0 ? errno : EIO;
      AfxThrowFileException(CFileException::genericException, m_nReadError);
    }
    file.Write(buffer.data(), static_cast<UINT>(n));
    offset += static_cast<unsigned long long>(n);
  }
}

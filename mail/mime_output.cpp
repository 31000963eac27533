// SPDX-License-Identifier: Apache-2.0
#include "mail/mime_output.h"

#include "mail/mime_content_agent.h"

#include <algorithm>
#include <cstring>

namespace tarvenkel::detail {

void StringOutput::Append(const char* p, std::size_t n) {
  if (n == 0) return;
  AfxCheckedLength(static_cast<std::size_t>(m_sDestination.GetLength()), n);
  m_sDestination.Append(p, static_cast<int>(n));
}

char* StringOutput::Reserve(std::size_t n) {
  const int nAt = m_sDestination.GetLength();
  char* const p = m_sDestination.GetBuffer(AfxCheckedLength(static_cast<std::size_t>(nAt), n)) + nAt;
  m_nReservedAt = nAt;
  return p;
}

void StringOutput::Commit(std::size_t k) { m_sDestination.ReleaseBuffer(m_nReservedAt + static_cast<int>(k)); }

void StringOutput::Expect(std::uint64_t n) {
  const std::string& s = m_sDestination.str();
  const std::uint64_t needed = s.size() + n;
  if (needed <= s.capacity() || needed > 0x7FFFFFFF) return;
  const std::uint64_t grown = s.capacity() + s.capacity() / 2;
  m_sDestination.Preallocate(static_cast<int>(std::min<std::uint64_t>(std::max(needed, grown), 0x7FFFFFFF)));
}

bool StringOutput::EndsWithCrLf() const {
  const std::string& s = m_sDestination.str();
  return s.size() >= 2 && s[s.size() - 2] == '\r' && s[s.size() - 1] == '\n';
}

BOOL StringOutput::AddPart(CMIMEContentAgent& agent, LPCTSTR szContent, LPCTSTR szParameters, int nEncoding,
                           BOOL bPath) {
  return agent.AppendPart(szContent, szParameters, nEncoding, bPath, m_sDestination);
}

void OutputFile::Write(const void* lpBuf, UINT nCount) { m_out.Append(static_cast<const char*>(lpBuf), nCount); }

ULONGLONG OutputFile::GetPosition() const { return m_out.Count(); }

ULONGLONG OutputFile::GetLength() const { return m_out.Count(); }

FileOutput::FileOutput(CFile& file) : m_file(file), m_agentFile(*this) {}

void FileOutput::note_tail(const char* p, std::size_t n) {
  if (n >= 2) {
    m_tail[0] = p[n - 2];
    m_tail[1] = p[n - 1];
  } else if (n == 1) {
    m_tail[0] = m_tail[1];
    m_tail[1] = p[0];
  }
  m_nCount += n;
}

void FileOutput::write_through(const char* p, std::size_t n) {
  // CFile::Write takes a UINT count.
  constexpr std::size_t kMaxWrite = 1u << 30;
  while (n > 0) {
    const std::size_t piece = std::min(n, kMaxWrite);
    m_file.Write(p, static_cast<UINT>(piece));
    p += piece;
    n -= piece;
  }
}

void FileOutput::Flush() {
  const std::size_t n = m_nUsed;
  m_nUsed = 0;
  write_through(m_buffer.get(), n);
}

void FileOutput::reserve_buffer(std::size_t n) {
  if (n <= m_nCapacity) return;
  auto grown = std::make_unique_for_overwrite<char[]>(n);
  if (m_nUsed > 0) std::memcpy(grown.get(), m_buffer.get(), m_nUsed);
  m_buffer = std::move(grown);
  m_nCapacity = n;
}

void FileOutput::Append(const char* p, std::size_t n) {
  if (n == 0) return;
  note_tail(p, n);
  if (m_nUsed + n > kBufferSize) Flush();
  if (n >= kBufferSize) {
    write_through(p, n);
    return;
  }
  reserve_buffer(kBufferSize);
  std::memcpy(m_buffer.get() + m_nUsed, p, n);
  m_nUsed += n;
}

char* FileOutput::Reserve(std::size_t n) {
  if (m_nUsed + n > m_nCapacity) Flush();
  reserve_buffer(std::max(n, kBufferSize));
  return m_buffer.get() + m_nUsed;
}

void FileOutput::Commit(std::size_t k) {
  note_tail(m_buffer.get() + m_nUsed, k);
  m_nUsed += k;
  if (m_nUsed >= kBufferSize) Flush();
}

BOOL FileOutput::AddPart(CMIMEContentAgent& agent, LPCTSTR szContent, LPCTSTR szParameters, int nEncoding,
                         BOOL bPath) {
  return agent.WritePart(szContent, szParameters, nEncoding, bPath, m_agentFile);
}

}  // namespace tarvenkel::detail

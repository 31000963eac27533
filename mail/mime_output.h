// SPDX-License-Identifier: Apache-2.0
// Where the text of a message body goes while it is built: appended to a
// CString (FormatMessage, AppendPart) or written to a CFile a bounded piece
// at a time (WriteMessage, WritePart). The MIME layout code and the base64
// encoder write through this one interface, so both ways produce the same
// bytes. Internal to the library.
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"
#include "framework/io/file.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class CMIMEContentAgent;

namespace tarvenkel::detail {

// The destination of body text. Besides taking bytes it answers the two
// questions the layout asks of what was written before: how much, and
// whether it ended with CR LF.
class MimeOutput {
public:
  MimeOutput() = default;
  MimeOutput(const MimeOutput&) = delete;
  MimeOutput& operator=(const MimeOutput&) = delete;
  virtual ~MimeOutput() = default;

  // Appends n bytes. A file destination throws what its Write throws.
  virtual void Append(const char* p, std::size_t n) = 0;
  // Appends the string's bytes.
  void Append(const CString& s) { Append(s.GetString(), static_cast<std::size_t>(s.GetLength())); }
  // Room for n more bytes at the end, valid until Commit; Commit(k) keeps
  // the first k of them (k <= n). Lets an encoder write in place.
  virtual char* Reserve(std::size_t n) = 0;
  // See Reserve.
  virtual void Commit(std::size_t k) = 0;
  // A hint that about n more bytes follow (a string makes room for them).
  virtual void Expect(std::uint64_t n) { (void)n; }
  // The bytes held or written so far.
  virtual std::uint64_t Count() const = 0;
  // True when the last bytes were CR LF.
  virtual bool EndsWithCrLf() const = 0;
  // Has the agent add one part here (AppendPart for a string, WritePart
  // for a file); the agent's result.
  virtual BOOL AddPart(CMIMEContentAgent& agent, LPCTSTR szContent, LPCTSTR szParameters, int nEncoding,
                       BOOL bPath) = 0;
};

// Appends to a string the caller owns. Growth past INT_MAX bytes throws
// CMemoryException* and leaves the string as it was.
class StringOutput final : public MimeOutput {
public:
  // Appends to sDestination, which may hold text already.
  explicit StringOutput(CString& sDestination) : m_sDestination(sDestination) {}

  using MimeOutput::Append;
  void Append(const char* p, std::size_t n) override;
  char* Reserve(std::size_t n) override;
  void Commit(std::size_t k) override;
  // Grows the capacity by at least half, so that many parts in a row do not
  // copy the whole text each time.
  void Expect(std::uint64_t n) override;
  std::uint64_t Count() const override { return static_cast<std::uint64_t>(m_sDestination.GetLength()); }
  bool EndsWithCrLf() const override;
  BOOL AddPart(CMIMEContentAgent& agent, LPCTSTR szContent, LPCTSTR szParameters, int nEncoding,
               BOOL bPath) override;

private:
  CString& m_sDestination;
  int m_nReservedAt = 0;  // the length when Reserve was called
};

class FileOutput;

// The file an agent's WritePart is handed while a message is written: Write
// appends to the message's output (through its buffer), GetPosition and
// GetLength count the bytes of the message so far; there is nothing to
// read or seek.
class OutputFile final : public CFile {
public:
  // Writes go to out.
  explicit OutputFile(FileOutput& out) : m_out(out) {}

  void Write(const void* lpBuf, UINT nCount) override;
  ULONGLONG GetPosition() const override;
  ULONGLONG GetLength() const override;

private:
  FileOutput& m_out;
};

// Writes to a CFile the caller owns, through a buffer of 74 KiB:
// small appends are gathered, pieces at least as large as the buffer go
// straight through. Flush writes what is gathered; the destructor does not
// (it cannot report a failure), so a caller that finishes calls Flush.
class FileOutput final : public MimeOutput {
public:
  // The buffer's size, and the largest piece the encoder reserves.
  static constexpr std::size_t kBufferSize = 1024 * 74;

  // Writes to file at its position.
  explicit FileOutput(CFile& file);

  using MimeOutput::Append;
  void Append(const char* p, std::size_t n) override;
  char* Reserve(std::size_t n) override;
  void Commit(std::size_t k) override;
  std::uint64_t Count() const override { return m_nCount; }
  bool EndsWithCrLf() const override { return m_tail[0] == '\r' && m_tail[1] == '\n'; }
  BOOL AddPart(CMIMEContentAgent& agent, LPCTSTR szContent, LPCTSTR szParameters, int nEncoding,
               BOOL bPath) override;
  // Writes the gathered bytes to the file; throws what its Write throws.
  void Flush();

private:
  void note_tail(const char* p, std::size_t n);
  void write_through(const char* p, std::size_t n);
  // Makes the buffer hold at least n bytes, keeping what is gathered.
  void reserve_buffer(std::size_t n);

  CFile& m_file;
  // Left uninitialised: a one-line notification fills a few hundred bytes
  // of it, and clearing 74 KiB per message cost more than formatting it.
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_nCapacity = 0;
  std::size_t m_nUsed = 0;     // gathered bytes at the start of m_buffer
  std::uint64_t m_nCount = 0;  // bytes appended in all
  char m_tail[2] = {0, 0};     // the last two bytes appended
  OutputFile m_agentFile;      // what AddPart hands to the agent
};

}  // namespace tarvenkel::detail

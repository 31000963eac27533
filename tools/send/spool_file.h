// SPDX-License-Identifier: Apache-2.0
// A private temporary file that holds a message between reading it and
// sending it, so that a message of any size passes through a small buffer.
// The file has no name (O_TMPFILE, or a name removed at once where the file
// system cannot make a file without one) and mode 600: no other process can
// open it, and it goes when the process ends, however it ends.
#pragma once

#include "tools/send/sendmail_input.h"

#include <cstddef>
#include <string>

class SpoolFile : public IncomingMessageReader::BodySink {
public:
  SpoolFile() = default;
  ~SpoolFile() override;
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  // Creates the file in the folder; false with the reason in Error().
  bool Create(const std::string& folder);
  // Appends the bytes (kept in a buffer until it is full or Flush).
  bool Write(const char* data, std::size_t length) override;
  // Writes what the buffer holds; false with the reason in Error().
  bool Flush();
  // Reads up to length bytes at offset into data; the number read, 0 at the
  // end, -1 with errno set on a failure.
  long Read(unsigned long long offset, char* data, std::size_t length) const;

  // The bytes written so far, those still in the buffer included.
  unsigned long long Size() const { return m_size; }
  // What failed, with the folder and the system's reason.
  const std::string& Error() const { return m_error; }

  // The folder for spool files: $TMPDIR when it names a folder, else /tmp.
  static std::string DefaultFolder();

private:
  static constexpr std::size_t kBufferBytes = 256 * 1024;

  bool write_all(const char* data, std::size_t length);
  bool fail(const char* what, int error);

  int m_fd = -1;
  std::string m_folder;
  std::string m_buffer;
  unsigned long long m_size = 0;
  std::string m_error;
};

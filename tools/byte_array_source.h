// SPDX-License-Identifier: Apache-2.0
// Writes generated resource bytes as a C++ source that defines a byte array
// and its size, for the generator tools of the module's resources.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Writes `path` as: a comment, #include "<header>", `name[]` and `nameSize`.
// Returns false (after perror) when the file cannot be written.
inline bool WriteByteArraySource(const char* path, const std::string& comment, const char* header,
                                 const char* name, const std::vector<std::uint8_t>& bytes) {
  std::string s = comment + "#include \"" + header + "\"\n\nconst unsigned char " + name + "[] = {";
  char buf[8];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    s += (i % 16 == 0) ? "\n    " : " ";
    std::snprintf(buf, sizeof buf, "0x%02x,", bytes[i]);
    s += buf;
  }
  s += std::string("\n};\nconst unsigned int ") + name + "Size = sizeof " + name + ";\n";
  std::FILE* f = std::fopen(path, "wb");
  bool ok = f && std::fwrite(s.data(), 1, s.size(), f) == s.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) std::perror(path);
  return ok;
}

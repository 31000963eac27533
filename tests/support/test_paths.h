// SPDX-License-Identifier: Apache-2.0
// Paths and scratch folders for tests.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tarvenkel::test {

// A path inside the source tree, from a path relative to its top.
std::string SourcePath(const std::string& relative);
// A path inside the build tree.
std::string BinaryPath(const std::string& relative);
// The Debian interpreter that has aiosmtpd (not whatever python3 is on PATH).
inline const char* SystemPython() { return "/usr/bin/python3"; }
// Runs a script of the source tree (a path relative to its top) with the
// system's interpreter and the given arguments; returns what it printed.
// Throws std::runtime_error when it cannot run or exits with a failure.
std::string RunPythonScript(const std::string& script, const std::vector<std::string>& args);

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return m_path; }
  // path() + "/" + name
  std::string file(const std::string& name) const;

private:
  std::string m_path;
};

// Writes bytes to a file, replacing it; throws std::runtime_error on failure.
void WriteFile(const std::string& path, const std::string& bytes);
// Reads a whole file; throws std::runtime_error on failure.
std::string ReadFile(const std::string& path);
// n bytes of every value, the same for the same seed.
std::string RandomBytes(std::size_t n, unsigned seed);

}  // namespace tarvenkel::test

// SPDX-License-Identifier: Apache-2.0
#include "tests/support/test_paths.h"

#include "tests/support/process_runner.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace tarvenkel::test {

std::string SourcePath(const std::string& relative) {
  return std::string(TARVENKEL_SOURCE_DIR) + "/" + relative;
}

std::string BinaryPath(const std::string& relative) {
  return std::string(TARVENKEL_BINARY_DIR) + "/" + relative;
}

std::string RunPythonScript(const std::string& script, const std::vector<std::string>& args) {
  std::vector<std::string> command = {SystemPython(), SourcePath(script)};
  command.insert(command.end(), args.begin(), args.end());
  const ProcessResult run = RunProcess(command);
  if (run.status != 0) throw std::runtime_error(script + " failed: " + run.Describe());
  return run.out;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tarvenkel-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::file(const std::string& name) const {
  return m_path + "/" + name;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

}  // namespace tarvenkel::test

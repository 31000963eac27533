#include "tests/support/test_paths.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
  std::string command = std::string(SystemPython()) + " '" + SourcePath(script) + "'";
  for (const std::string& arg : args) command += " '" + arg + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  std::string text;
  char buf[65536];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
  if (::pclose(pipe) != 0) throw std::runtime_error(command + " failed");
  return text;
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

}  // namespace tarvenkel::test

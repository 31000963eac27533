// SPDX-License-Identifier: Apache-2.0
// Runs a fuzz target's entry point once on every file of a corpus folder, for
// builds without libFuzzer. Fails when the folder is missing or empty, so a
// target without seeds cannot pass unnoticed.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  std::error_code ec;
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1], ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  if (ec || count == 0) {
    std::fprintf(stderr, "no corpus files in %s\n", argv[1]);
    return 1;
  }
  std::printf("replayed %zu corpus files\n", count);
  return 0;
}

// Runs a fuzz target's check over kept inputs without libFuzzer: each file given, and every
// file in each folder given, is fed once to LLVMFuzzerTestOneInput. A broken property
// aborts, so the ordinary test suite fails on any regression input that breaks again.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

void Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::fprintf(stderr, "replaying %s\n", file.string().c_str());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path given = argv[i];
    std::vector<fs::path> files;
    if (fs::is_directory(given)) {
      for (const auto& item : fs::directory_iterator(given)) {
        if (item.is_regular_file()) files.push_back(item.path());
      }
      std::sort(files.begin(), files.end());
    } else if (fs::exists(given)) {
      files.push_back(given);
    }
    for (const fs::path& file : files) Replay(file);
    replayed += files.size();
  }
  std::printf("%zu inputs replayed\n", replayed);
  return 0;
}

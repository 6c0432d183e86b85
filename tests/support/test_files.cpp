#include "tests/support/test_files.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path = fs::temp_directory_path() /
         ("wza-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(path);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(path, ignored);
}

std::string TempFolder::Root() const {
  return path.string() + static_cast<char>(fs::path::preferred_separator);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::map<std::string, std::string> ReadTree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string relative = item.path().lexically_relative(root).generic_string();
    if (item.is_directory()) {
      tree[relative + "/"] = "";
    } else {
      tree[relative] = ReadFile(item.path());
    }
  }
  return tree;
}

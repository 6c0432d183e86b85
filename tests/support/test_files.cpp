#include "tests/support/test_files.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

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

#ifdef _WIN32
namespace {

#ifndef SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
#define SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE 0x2
#endif

bool IsLinkAt(const fs::path& link) {
  const DWORD attributes = GetFileAttributesW(link.wstring().c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The host's path of a path under Wine; empty elsewhere.
std::string HostPath(const fs::path& path) {
  using ToHost = char*(CDECL*)(const WCHAR*);
  const auto toHost = reinterpret_cast<ToHost>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toHost == nullptr) return std::string();
  char* host = toHost(path.wstring().c_str());
  const std::string text = host != nullptr ? host : "";
  HeapFree(GetProcessHeap(), 0, host);
  return text;
}

// Runs a host program under Wine, which starts one given by its path like any program, and
// waits until `done` holds: the handle Wine gives for it tells nothing of its end.
bool RunOnHost(const std::string& program, const std::vector<std::string>& args,
               bool (*done)(const fs::path&), const fs::path& path) {
  std::string commandLine = program;
  for (const std::string& arg : args) commandLine += " \"" + arg + "\"";
  std::string exe = "Z:" + program;
  for (char& c : exe) c = c == '/' ? '\\' : c;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  for (int wait = 0; wait < 1000 && !done(path); ++wait) Sleep(10);
  return done(path);
}

bool IsGone(const fs::path& path) {
  return GetFileAttributesW(path.wstring().c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

bool TestLinks::ToFolder(const fs::path& target, const fs::path& link) {
  const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  bool made = CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), flags) &&
              IsLinkAt(link);
  const std::string from = HostPath(target);
  const std::string to = HostPath(link);
  if (!made && !from.empty() && !to.empty()) {
    made = RunOnHost("/bin/ln", {"-s", from, to}, IsLinkAt, link);
  }
  if (made) this->made.push_back(link);
  return made;
}

bool TestLinks::ToFile(const fs::path& target, const fs::path& link) {
  const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  const bool made = CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), flags) &&
                    IsLinkAt(link);
  if (made) this->made.push_back(link);
  return made;
}

void TestLinks::Remove(const fs::path& link) {
  const std::string host = HostPath(link);
  if (!host.empty()) {
    if (!IsGone(link)) RunOnHost("/bin/rm", {"-f", host}, IsGone, link);
  } else if (!RemoveDirectoryW(link.wstring().c_str())) {
    DeleteFileW(link.wstring().c_str());
  }
}
#else
bool TestLinks::ToFolder(const fs::path& target, const fs::path& link) {
  std::error_code failed;
  fs::create_directory_symlink(target, link, failed);
  if (!failed) made.push_back(link);
  return !failed;
}

bool TestLinks::ToFile(const fs::path& target, const fs::path& link) {
  std::error_code failed;
  fs::create_symlink(target, link, failed);
  if (!failed) made.push_back(link);
  return !failed;
}

void TestLinks::Remove(const fs::path& link) {
  std::error_code ignored;
  if (fs::is_symlink(fs::symlink_status(link, ignored))) fs::remove(link, ignored);
}
#endif

TestLinks::~TestLinks() {
  for (auto link = made.rbegin(); link != made.rend(); ++link) Remove(*link);
}

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
  const auto toHost = reinterpret_cast<ToHost>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (toHost == nullptr) return std::string();
  char* host = toHost(path.wstring().c_str());
  const std::string text = host != nullptr ? host : "";
  HeapFree(GetProcessHeap(), 0, host);
  return text;
}

// Runs a host program under Wine, which starts one given by its path like any program.
void RunOnHost(const std::string& program, const std::vector<std::string>& args) {
  std::string commandLine = program;
  for (const std::string& arg : args) commandLine += " \"" + arg + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string exe = "Z:" + program;
  for (char& c : exe) c = c == '/' ? '\\' : c;
  if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return;
  }
  WaitForSingleObject(process.hProcess, 10000);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

bool MakeFolderLink(const fs::path& target, const fs::path& link) {
  const DWORD flags = SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  if (CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), flags) &&
      IsLinkAt(link)) {
    return true;
  }
  const std::string from = HostPath(target);
  const std::string to = HostPath(link);
  if (!from.empty() && !to.empty()) RunOnHost("/bin/ln", {"-s", from, to});
  return IsLinkAt(link);
}

bool MakeFileLink(const fs::path& target, const fs::path& link) {
  const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
  return CreateSymbolicLinkW(link.wstring().c_str(), target.wstring().c_str(), flags) &&
         IsLinkAt(link);
}

void RemoveLink(const fs::path& link) {
  const std::string host = HostPath(link);
  if (!host.empty()) {
    RunOnHost("/bin/rm", {"-f", host});
  } else if (!RemoveDirectoryW(link.wstring().c_str())) {
    DeleteFileW(link.wstring().c_str());
  }
}
#else
bool MakeFolderLink(const fs::path& target, const fs::path& link) {
  std::error_code failed;
  fs::create_directory_symlink(target, link, failed);
  return !failed;
}

bool MakeFileLink(const fs::path& target, const fs::path& link) {
  std::error_code failed;
  fs::create_symlink(target, link, failed);
  return !failed;
}

void RemoveLink(const fs::path& link) {
  std::error_code ignored;
  fs::remove(link, ignored);
}
#endif

// Archives given to the exe on its command line, as Explorer does for files dropped on its
// icon or opened with it. They are shown exactly as if chosen in the open dialog; as that
// dialog picks files of one folder, files in other folders than the first one found are
// left out, like files that are not there, and all of them are named in one error box.
#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "ui/main_window_state.h"
#include "ui/selection_parse.h"

namespace {

std::vector<std::wstring> CommandLineFiles() {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> files;
  for (int i = 1; args != nullptr && i < count; ++i) files.emplace_back(args[i]);
  if (args != nullptr) LocalFree(args);
  return files;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  const DWORD got = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
  if (got == 0 || got >= needed) return path;
  full.resize(got);
  return full;
}

// The path in the ANSI code page the window's strings use; false when a character of it
// has no place there (the file could not be opened by that name).
bool ToAnsi(const std::wstring& path, std::string& ansi) {
  BOOL lossy = FALSE;
  const int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(),
                                        static_cast<int>(path.size()), nullptr, 0, nullptr, &lossy);
  ansi.assign(static_cast<size_t>(count), '\0');
  if (count > 0) {
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), static_cast<int>(path.size()),
                        &ansi[0], count, nullptr, &lossy);
  }
  return count > 0 && !lossy;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The folder as the dialog reports it: without its closing "\", except a drive root.
std::string FolderOf(const std::string& path, size_t cut) {
  const bool root = cut == 2 && path[1] == ':';
  return path.substr(0, root ? cut + 1 : cut);
}

}  // namespace

void OpenCommandLineFiles() {
  std::string folder;
  std::vector<std::string> names;
  std::string leftOut;
  for (const std::wstring& given : CommandLineFiles()) {
    const std::wstring full = FullPath(given);
    std::string path;
    const bool named = ToAnsi(full, path);
    const size_t cut = path.find_last_of('\\');
    if (!named) {
      leftOut += "\n" + path + ": its name does not fit the system's code page";
      continue;
    }
    if (!IsFile(full) || cut == std::string::npos) {
      leftOut += "\n" + path + ": not found";
      continue;
    }
    if (names.empty()) folder = FolderOf(path, cut);
    if (lstrcmpiA(FolderOf(path, cut).c_str(), folder.c_str()) != 0) {
      leftOut += "\n" + path + ": not in the folder of the first file";
      continue;
    }
    names.push_back(path.substr(cut + 1));
  }
  if (!names.empty()) {
    std::vector<char> result = SelectionResult(folder, names);
    ShowSelection(result);
  }
  if (!leftOut.empty()) ShowError("These files were not opened:\n" + leftOut);
}

// Win32 side of listing a folder without following links: reparse points (symbolic links,
// junctions) are reported, never entered.
#include <windows.h>

#include "platform/folder_items.h"
#include "platform/system_message.h"
#include "platform/wide_path_win32.h"

namespace platform {

namespace {

// The name in the ANSI code page; false when some character has no form there.
bool ToAnsi(const wchar_t* name, std::string& ansi) {
  BOOL lost = FALSE;
  const int bytes = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, nullptr, 0,
                                          nullptr, &lost);
  if (bytes <= 0) return false;
  ansi.assign(static_cast<size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, &ansi[0], bytes, nullptr, &lost);
  ansi.resize(static_cast<size_t>(bytes) - 1);
  return lost == FALSE;
}

}  // namespace

bool ListFolderItems(const std::string& folder, bool followLink, std::vector<FolderItem>& items,
                     std::string* error) {
  items.clear();
  const std::wstring wide = WidePath(folder);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (!followLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    if (error != nullptr) {
      *error = attributes == INVALID_FILE_ATTRIBUTES ? SystemMessage(::GetLastError())
                                                     : "a link, not followed";
    }
    return false;
  }
  WIN32_FIND_DATAW found;
  const std::wstring pattern = wide + (wide.empty() || wide.back() == L'\\' ? L"*" : L"\\*");
  const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD reason = ::GetLastError();
    if (reason == ERROR_FILE_NOT_FOUND) return true;  // an empty drive root
    if (error != nullptr) *error = SystemMessage(reason);
    return false;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    FolderItem item;
    item.nameFits = ToAnsi(found.cFileName, item.name);
    const DWORD kind = found.dwFileAttributes;
    if ((kind & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      item.kind = ItemKind::Link;
    } else if ((kind & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      item.kind = ItemKind::Folder;
    } else if ((kind & FILE_ATTRIBUTE_DEVICE) != 0) {
      item.kind = ItemKind::Special;
    } else {
      item.kind = ItemKind::File;
      item.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
    items.push_back(std::move(item));
  } while (::FindNextFileW(search, &found));
  const DWORD reason = ::GetLastError();
  ::FindClose(search);
  if (reason != ERROR_NO_MORE_FILES) {
    if (error != nullptr) *error = SystemMessage(reason);
    return false;
  }
  return true;
}

}  // namespace platform

// Choosing the destination: the system's folder browser, opened on the current destination.
#include <windows.h>

#include <shlobj.h>

#include <string>

#include "ui/main_window_state.h"

namespace {

constexpr int kPathBufferSize = 261;

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM lpData) {
  if (message == BFFM_INITIALIZED) {
    CentreOnScreen(window);
    SendMessageA(window, BFFM_SETSELECTIONA, 0, lpData);  // wParam 0: lpData is an id list
  } else if (message == BFFM_SELCHANGED) {
    // Cleared first: an item without a file-system path then shows an empty status line.
    char path[kPathBufferSize] = {};
    SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(lParam), path);
    SendMessageA(window, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
  }
  return 0;
}

}  // namespace

LPITEMIDLIST PathToItemIdList(const std::string& path) {
  LPITEMIDLIST list = nullptr;
  const int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 1), L'\0');
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
  IShellFolder* desktop = nullptr;
  if (SHGetDesktopFolder(&desktop) != S_OK) return nullptr;
  ULONG parsed = 0;
  ULONG attributes = 0;
  // A text the shell cannot parse simply leaves no list: the dialog then opens unselected.
  desktop->ParseDisplayName(MainState.MainWindow, nullptr, &wide[0], &parsed, &list, &attributes);
  desktop->Release();
  return list;
}

std::string BrowseForDestination(const std::string& title) {
  std::string result;
  BROWSEINFOA info;
  ZeroMemory(&info, sizeof info);
  info.hwndOwner = MainState.MainWindow;
  info.lpszTitle = title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
  info.lpfn = BrowseCallback;

  char path[kPathBufferSize] = {};
  GetWindowTextA(MainState.SaveToEdit, path, kPathBufferSize);
  const LPITEMIDLIST initial = PathToItemIdList(path);
  info.lParam = reinterpret_cast<LPARAM>(initial);

  const LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (chosen != nullptr) {
    path[0] = '\0';
    if (SHGetPathFromIDListA(chosen, path)) result = path;
    CoTaskMemFree(chosen);
  }
  CoTaskMemFree(initial);
  return result;
}

#include <windows.h>

#include <commctrl.h>

#include "ui/main_window_state.h"
#include "ui/record_sizes.h"

BOOL AddTool(HWND tooltip, HWND owner, HWND control, const char* text) {
  TOOLINFOA info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = kToolInfoSize;
  info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  info.hwnd = owner;
  info.uId = reinterpret_cast<UINT_PTR>(control);
  info.hinst = GetModuleHandleA(nullptr);
  info.lpszText = const_cast<char*>(text);
  return static_cast<BOOL>(SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&info)));
}

void DeleteTool(HWND tooltip, HWND owner, HWND control) {
  TOOLINFOA info;
  ZeroMemory(&info, sizeof info);
  info.cbSize = kToolInfoSize;
  info.uFlags = TTF_IDISHWND;
  info.hwnd = owner;
  info.uId = reinterpret_cast<UINT_PTR>(control);
  info.hinst = GetModuleHandleA(nullptr);
  SendMessageA(tooltip, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&info));
}

void CentreOnScreen(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowError(const std::string& text) {
  MessageBoxA(MainState.MainWindow, text.c_str(), "Error", MB_ICONERROR);
}

#include "platform/wide_path_win32.h"

#include <windows.h>

namespace platform {

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int count =
      ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
  return wide;
}

}  // namespace

std::wstring WidePath(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return wide;
  std::wstring full(needed, L'\0');
  const DWORD got = ::GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
  if (got == 0 || got >= needed) return wide;
  full.resize(got);
  std::wstring collapsed;
  for (size_t i = 0; i < full.size(); ++i) {
    if (full[i] == L'/') full[i] = L'\\';
    if (full[i] == L'\\' && i > 1 && !collapsed.empty() && collapsed.back() == L'\\') continue;
    collapsed.push_back(full[i]);
  }
  if (collapsed.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + collapsed.substr(2);
  return L"\\\\?\\" + collapsed;
}

}  // namespace platform

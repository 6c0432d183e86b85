// Win32 side of ANSI text.
#include <windows.h>

#include "platform/ansi_text.h"

namespace platform {

unsigned AnsiCodePage() {
  return GetACP();
}

bool AnsiToUtf8(const std::string& text, std::string& utf8) {
  if (text.empty()) {
    utf8.clear();
    return true;
  }
  const int size = static_cast<int>(text.size());
  const int count =
      MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
  if (count <= 0) return false;
  std::wstring wide(static_cast<size_t>(count), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.data(), size, &wide[0], count);
  const int bytes =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
  utf8.assign(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, &utf8[0], bytes, nullptr, nullptr);
  return true;
}

}  // namespace platform

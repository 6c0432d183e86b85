// Paths for the wide-character calls of pack's Win32 files: ANSI text converted with the
// ANSI code page, long ones made absolute and given the "\\?\" prefix. The same rules as
// the file layer's own.
#pragma once

#include <string>

namespace platform {

std::wstring WidePath(const std::string& path);
std::string SystemMessage(unsigned long code);

}  // namespace platform

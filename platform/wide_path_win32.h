// Paths for the wide-character calls: ANSI text converted with the ANSI code page, so
// that paths longer than MAX_PATH work through the "\\?\" prefix instead of failing
// silently; long ones made absolute and normalised (that form takes the path literally).
#pragma once

#include <string>

namespace platform {

std::wstring WidePath(const std::string& path);

}  // namespace platform

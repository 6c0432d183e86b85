// Text in the system's ANSI code page, which is what names are on Windows. Only the Win32
// side of the platform layer implements these; other systems have no ANSI code page.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
// The ANSI code page's number (1252, 932...).
unsigned AnsiCodePage();

// `text` converted from the ANSI code page to UTF-8; false (and `utf8` untouched) when it
// is not valid there.
bool AnsiToUtf8(const std::string& text, std::string& utf8);
#endif

}  // namespace platform

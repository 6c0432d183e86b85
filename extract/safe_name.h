// Which archive names may become files below an output root.
#pragma once

#include <string>

// True when `name`, split at "\" and "/", stays inside the folder it is joined to and
// names something both Windows and POSIX can hold the same way: no ".." component, no
// ":" (drive prefixes, alternate streams), no Windows device name (CON, NUL.txt, COM1...),
// no component ending in a dot or a space, no control characters or <>"|?*. Empty
// components (a leading or doubled separator) are harmless. With `mustNameFile` the last
// component must not be empty: a name that is empty after its folder names no file.
bool IsSafeRelativePath(const std::string& name, bool mustNameFile);

// The name with both "\" and "/" turned into the platform's separator.
std::string ToNativeSeparators(const std::string& name);

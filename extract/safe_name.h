// Which archive names may become files below an output root.
#pragma once

#include <cstddef>
#include <string>

// True when `name`, split at "\" and "/", stays inside the folder it is joined to and
// names something both Windows and POSIX can hold the same way: no ".." component, no
// ":" (drive prefixes, alternate streams), no Windows device name (CON, NUL.txt, COM1...),
// no component ending in a dot or a space, no control characters or <>"|?*. Empty
// components (a leading or doubled separator) are harmless. With `mustNameFile` the last
// component must not be empty: a name that is empty after its folder names no file.
// A name of more than kMaxNameComponents components (empty ones too) is refused: no real
// archive nests that deep, and every folder level costs a creation call along the whole
// path, so thousands of levels would keep the run busy for hours.
constexpr size_t kMaxNameComponents = 256;
bool IsSafeRelativePath(const std::string& name, bool mustNameFile);

// The name with both "\" and "/" turned into the platform's separator.
std::string ToNativeSeparators(const std::string& name);

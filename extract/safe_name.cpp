#include "extract/safe_name.h"

#include <cstring>
#include <string_view>

#include "platform/file_io.h"

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Components are looked at in place, as pointer and length: this runs for every entry, and
// copying each component (and upper-casing a copy) cost more than the rest of the check.
bool EqualsUpper(const char* text, size_t length, std::string_view upper) {
  if (length != upper.size()) return false;
  for (size_t i = 0; i < length; ++i) {
    if (AsciiUpper(text[i]) != upper[i]) return false;
  }
  return true;
}

// Windows opens a device for these names whatever extension follows them.
bool IsDeviceName(const char* component, size_t length) {
  const void* dot = std::memchr(component, '.', length);
  size_t base =
      dot != nullptr ? static_cast<size_t>(static_cast<const char*>(dot) - component) : length;
  while (base > 0 && component[base - 1] == ' ') --base;
  if (base < 3 || base > 7) return false;  // no device name is shorter or longer
  static constexpr std::string_view kFixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (std::string_view fixed : kFixed) {
    if (EqualsUpper(component, base, fixed)) return true;
  }
  return base == 4 && (EqualsUpper(component, 3, "COM") || EqualsUpper(component, 3, "LPT")) &&
         component[3] >= '1' && component[3] <= '9';
}

// Control characters and what Windows refuses in a name.
bool IsForbiddenByte(unsigned char byte) {
  if (byte < 0x20) return true;
  switch (byte) {
    case ':':
    case '<':
    case '>':
    case '"':
    case '|':
    case '?':
    case '*':
      return true;
    default:
      return false;
  }
}

bool IsSafeComponent(const char* component, size_t length) {
  if (length == 2 && component[0] == '.' && component[1] == '.') return false;
  for (size_t i = 0; i < length; ++i) {
    if (IsForbiddenByte(static_cast<unsigned char>(component[i]))) return false;
  }
  if (component[length - 1] == '.' || component[length - 1] == ' ') return false;
  return !IsDeviceName(component, length);
}

}  // namespace

bool IsSafeRelativePath(const std::string& name, bool mustNameFile) {
  const char* text = name.data();
  size_t start = 0;
  for (size_t components = 1;; ++components) {
    if (components > kMaxNameComponents) return false;
    size_t end = start;
    while (end < name.size() && !IsSeparator(text[end])) ++end;
    const bool last = end == name.size();
    if (end == start) {
      if (last && mustNameFile) return false;
    } else if (!IsSafeComponent(text + start, end - start)) {
      return false;
    }
    if (last) return true;
    start = end + 1;
  }
}

std::string ToNativeSeparators(const std::string& name) {
  std::string native = name;
  for (char& c : native) {
    if (IsSeparator(c)) c = platform::kPathSeparator;
  }
  return native;
}

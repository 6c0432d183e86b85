#include "extract/safe_name.h"

#include <cctype>
#include <cstring>

#include "platform/file_io.h"

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Windows opens a device for these names whatever extension follows them.
bool IsDeviceName(const std::string& component) {
  std::string base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const char* const kFixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* fixed : kFixed) {
    if (base == fixed) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

bool IsSafeComponent(const std::string& component) {
  if (component == "..") return false;
  for (char c : component) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || std::strchr(":<>\"|?*", c) != nullptr) return false;
  }
  if (component.back() == '.' || component.back() == ' ') return false;
  return !IsDeviceName(component);
}

}  // namespace

bool IsSafeRelativePath(const std::string& name, bool mustNameFile) {
  size_t start = 0;
  std::string component;
  for (;;) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    component.assign(name, start, end - start);
    const bool last = end == name.size();
    if (component.empty()) {
      if (last && mustNameFile) return false;
    } else if (!IsSafeComponent(component)) {
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

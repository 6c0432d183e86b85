#include "pack/layout.h"

size_t NameHash(std::string_view name) {
  return std::hash<std::string_view>()(name);
}

std::string TooLarge(const std::string& what) {
  return what + " would not fit in 32 bits";
}

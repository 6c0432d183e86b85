#include "pack/layout.h"

std::string TooLarge(const std::string& what) {
  return what + " would not fit in 32 bits";
}

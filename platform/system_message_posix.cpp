#include <cstring>

#include "platform/system_message.h"

namespace platform {

namespace {

// strerror_r comes in two forms, GNU's returning the text and POSIX's filling the buffer;
// unlike strerror, both may be called by threads failing at the same time.
[[maybe_unused]] std::string MessageOf(int result, const char* buffer) {
  return result == 0 ? buffer : "unknown error";
}
[[maybe_unused]] std::string MessageOf(const char* text, const char*) {
  return text;
}

}  // namespace

std::string SystemMessage(int code) {
  char buffer[256] = "";
  return MessageOf(::strerror_r(code, buffer, sizeof buffer), buffer);
}

}  // namespace platform

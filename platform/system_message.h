// The system's text for an error code, shared by every file of the platform layer.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
std::string SystemMessage(unsigned long code);  // a GetLastError() code
#else
std::string SystemMessage(int code);  // an errno value
#endif

}  // namespace platform

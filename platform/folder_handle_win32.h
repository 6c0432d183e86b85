// Win32 side: what an open folder is, shared by the file layer and pack's files, which
// both open things inside one.
#pragma once

#include <windows.h>

#include <string>

#include "platform/file_io.h"

namespace platform {

struct Folder {
  HANDLE handle;
  std::string prefix;  // its path as the user would write it, ending with a separator
};

}  // namespace platform

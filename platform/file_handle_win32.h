// Win32 side: what an open file is, shared by the files of the file layer.
#pragma once

#include <windows.h>

#include "platform/file_io.h"

namespace platform {

struct File {
  HANDLE handle;
};

}  // namespace platform

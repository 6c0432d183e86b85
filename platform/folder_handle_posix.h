// POSIX side: what an open folder is, shared by the file layer and pack's files, which
// both open things inside one.
#pragma once

#include <string>

#include "platform/file_io.h"

namespace platform {

struct Folder {
  int fd;
  std::string prefix;  // its path as the user would write it, ending with "/"
};

}  // namespace platform

// POSIX side: what an open file is, shared by the files of the file layer.
#pragma once

#include <sys/types.h>

#include "platform/file_io.h"

namespace platform {

struct File {
  int fd;
  // What OpenForRead found the file to be: enough to know it by any other name.
  dev_t device = 0;
  ino_t inode = 0;
};

}  // namespace platform

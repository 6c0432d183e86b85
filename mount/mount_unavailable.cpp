// `wza mount` where the tool was built without libfuse3 (Windows, or Linux without it).
#include <cstdio>

#include "mount/mount_fuse.h"

bool RunMount(const std::string&, const std::string&, bool, const NameEncoding&) {
  std::fputs("wza: this wza was built without mount support (it needs Linux and libfuse3)\n",
             stderr);
  return false;
}

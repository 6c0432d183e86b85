// `wza mount` where the tool was built without libfuse3 (Windows, or Linux without it).
#include <cstdio>

#include "extract/exit_codes.h"
#include "mount/mount_command.h"

int RunMount(const MountOptions&) {
  std::fputs("wza: this wza was built without mount support (it needs Linux and libfuse3)\n",
             stderr);
  return kExitFailed;
}

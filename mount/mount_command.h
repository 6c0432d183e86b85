// `wza mount ARCHIVE MOUNTPOINT [-f] [--names CODEPAGE]`: an archive as a read-only folder
// (Linux, libfuse3).
#pragma once

#include <string>

#include "names/name_encoding.h"

struct MountOptions {
  std::string archive;
  std::string mountPoint;
  bool foreground = false;
  NameEncoding names;  // --names, as for extract
};

// Takes the arguments after the word "mount"; returns the process exit code.
int MountCommand(int argc, char** argv);

// Mounts and serves until unmounted. Built from mount/ where libfuse3 is found; elsewhere
// it only says that this wza cannot mount.
int RunMount(const MountOptions& options);

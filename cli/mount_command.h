// `wza mount ARCHIVE MOUNTPOINT [-f]`: an archive as a read-only folder (Linux, libfuse3).
#pragma once

#include <string>

struct MountOptions {
  std::string archive;
  std::string mountPoint;
  bool foreground = false;
};

// Takes the arguments after the word "mount"; returns the process exit code.
int MountCommand(int argc, char** argv);

// Mounts and serves until unmounted. Built from mount/ where libfuse3 is found; elsewhere
// it only says that this wza cannot mount.
int RunMount(const MountOptions& options);

// `wza mount ARCHIVE MOUNTPOINT [-f] [--names CODEPAGE]`: its options. The mount itself
// is mount/'s, handed in by main, so that neither front end includes the other.
#pragma once

#include <string>

#include "names/name_encoding.h"

struct MountOptions {
  std::string archive;
  std::string mountPoint;
  bool foreground = false;
  NameEncoding names;  // --names, as for extract
};

// Parses the arguments after "mount" (argv[2] on) and mounts with `mount`, which returns
// false, said on stderr, when it could not; the exit code.
int MountCommand(int argc, char** argv, bool (*mount)(const MountOptions& options));

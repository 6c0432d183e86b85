// `wza mount ARCHIVE MOUNTPOINT [-f] [--names CODEPAGE]`: its options. The mount itself is
// mount/'s RunMount, handed in by main, so that neither front end includes the other.
#pragma once

#include <string>

#include "names/name_encoding.h"

// Mounts and serves; false, said on stderr, when it could not.
using MountRun = bool (*)(const std::string& archive, const std::string& mountPoint,
                          bool foreground, const NameEncoding& names);

// Parses the arguments after "mount" (argv[2] on) and mounts with `mount`; the exit code,
// or kHelpAsked.
int MountCommand(int argc, char** argv, MountRun mount);

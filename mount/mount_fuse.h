// `wza mount`'s work: an archive served as a read-only folder (Linux, libfuse3). Its
// options are cli/'s; main hands them over.
#pragma once

#include <string>

#include "names/name_encoding.h"

// Mounts `archive` at `mountPoint` and serves until unmounted, detached once the mount is
// ready unless `foreground`; false, said on stderr, when it could not. Built from mount/
// where libfuse3 is found; elsewhere it only says that this wza cannot mount.
bool RunMount(const std::string& archive, const std::string& mountPoint, bool foreground,
              const NameEncoding& names);

// `wza mount`'s work: an archive served as a read-only folder (Linux, libfuse3); its
// options are cli/'s.
#pragma once

#include <string>

#include "names/name_encoding.h"

// Mounts `archive` at `mountPoint` and serves until unmounted, detached once the mount is
// ready unless `foreground`; false, said on stderr, when it could not. Built from mount/
// where libfuse3 is found; elsewhere it only says that this wza cannot mount.
bool RunMount(const std::string& archive, const std::string& mountPoint, bool foreground,
              const NameEncoding& names);

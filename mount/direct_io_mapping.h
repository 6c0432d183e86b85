// Files opened for direct I/O (those whose end is not known yet, so that a damaged one
// ends exactly at its salvaged bytes) can be mapped shared only when the file system
// tells the kernel, in its answer to the kernel's first request, that it allows it.
// libfuse 3.14 has no way to say so: this passes the session's messages through and sets
// that flag in the answer, where the kernel offers it (Linux 6.6 and later).
#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

// Takes over reading and writing the messages of a mounted session (one per process);
// call it after fuse_session_mount and before serving.
void AllowMappingDirectIo(fuse_session* session);

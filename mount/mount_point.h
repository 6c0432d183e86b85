// The folder a mount goes on, and finding that mount again to take it away. libfuse moves
// the serving process to "/", so the folder is kept as an absolute path; and since its
// folders may be renamed while it is mounted, the mount is known by its id as well.
#pragma once

#include <string>

// The mount point as an absolute path with links resolved; false, with what is wrong in
// `why`, when it is not there or not a folder (a file would be hidden behind a mount that
// answers nothing).
bool ResolveMountPoint(const std::string& given, std::string& absolute, std::string& why);

// The id of the topmost mount of type `type` ("fuse.wza"; "" for any) at `path`, or -1.
long MountIdAt(const std::string& path, const std::string& type);

// Where mount `id` is now; false when it is not mounted any more.
bool WhereMounted(long id, std::string& path);

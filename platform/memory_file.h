// Files held in memory, for the builds that read archives without a disk (the fuzz
// targets): platform/file_io_memory.cpp implements the file layer over byte buffers, and
// nothing is ever written.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// From now on OpenForRead(path) opens these bytes. They are not copied: they must outlive
// every file opened on them. A later call for the same path replaces the earlier one.
void SetMemoryFile(const std::string& path, const void* data, size_t size);

}  // namespace platform

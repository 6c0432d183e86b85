// The system's own handle of a file the file layer opened, for the platform's other files
// only: pack's raw files (raw_file.h) share the open file that a catalogue reads.
#pragma once

#include "platform/file_io.h"

namespace platform {

#ifdef _WIN32
void* SystemHandleOf(File& file);  // its HANDLE
#else
int SystemHandleOf(File& file);  // its descriptor
#endif

}  // namespace platform

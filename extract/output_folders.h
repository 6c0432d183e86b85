// The folders entries are written in, reached one at a time from the folder the user chose
// and held open between entries.
#pragma once

#include <string>
#include <vector>

#include "platform/file_io.h"

// One per thread (in its workspace): the destination and the folders below it on the way
// to the last entry's file, open (of a very deep way the first few and the innermost). An
// entry in the same folder as the last costs no call at all; one in another folder costs
// calls only for the folders that differ.
struct OutputFolders {
  std::string base;  // the destination, as given
  platform::FolderPtr baseFolder;
  std::vector<std::string> names;         // the folders open below it, outermost first
  std::vector<platform::FolderPtr> open;  // one per name; null: let go, walked again if needed
  std::string reached;                    // the folder part of the last path reached whole
  bool whole = false;                     // `reached` is all open
};

// The folder the file of `below` goes in: `below` is a path relative to `base` (native
// separators) whose file name starts at `nameAt`. `base` is the user's: links in it are
// followed, and it is made when missing. Below it the folders on the way are made where
// missing, and none is ever reached through a symbolic link or junction: one there fails.
// Null on failure, the reason in *error; folders that failed are tried again next time.
platform::Folder* ReachFolder(OutputFolders& folders, const std::string& base,
                              const std::string& below, size_t nameAt, std::string* error);

// Where the file name starts in a path: after its last separator.
size_t FileNameAt(const std::string& path);

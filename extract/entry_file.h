// Writing one entry of a loaded catalogue to disk.
#pragma once

#include "decode/entry_decode.h"
#include "extract/output_folders.h"

// What the entries of one run share: the decoding blocks and the folders the last entry
// was written in, still open; threads extracting side by side have one each.
struct EntryWorkspace {
  DecodeWorkspace decode;
  OutputFolders outputFolders;
  // Asked before each block is written, when set: true stops the entry, and its file
  // is removed rather than left looking whole.
  std::function<bool()> interrupted;
  // Set: what is there already (but a folder) is left as it is (Exists), not replaced.
  bool keepExisting = false;
};

// Writes entry `index` to destination + outputFolder + its name. `destination` (ending
// with a separator) is the user's, links in it followed; below it, in `outputFolder` (the
// archive's folder and alias, relative, ending with a separator) and the entry's folders,
// no link is followed. What could be salvaged is still written (a cut stream's bytes); the
// result says whether the entry came out whole. An entry stopped by an interrupt leaves no
// file.
EntryResult ExtractEntry(OpenArchive& archive, size_t index, const std::string& destination,
                         const std::string& outputFolder, EntryWorkspace& workspace);

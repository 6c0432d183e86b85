// Writes a laid-out archive: into a hidden temporary file beside the output, piece by
// piece, the tables last; checks that its tables read back as planned; and only then gives
// it the output's name. Any failure, or an interrupt, removes the temporary file: the
// output (OLD too, when it is the output) is never touched half way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pack/early_copy.h"
#include "pack/layout.h"
#include "pack/source_tree.h"
#include "platform/file_io.h"

// The hidden file beside the output that the archive is written into.
struct TemporaryOutput {
  platform::FilePtr file;
  std::string path;
};

// Makes it; false with `error` set.
bool CreateTemporaryOutput(const std::string& output, TemporaryOutput& temporary,
                           std::string& error);

struct WriteRequest {
  std::string output;
  // OLD as its catalogue opened it, or null for a new archive: its ranges are copied from
  // that open file, never from whatever has its name by now.
  platform::File* oldFile = nullptr;
  std::string old;  // OLD's path, for messages
  const SourceTree* tree = nullptr;
  int level = 6;
  size_t workers = 1;
  std::function<bool()> interrupted;
  std::function<void(uint64_t done, uint64_t total)> progress;
  // Called once the new archive is whole and checked, before it takes the output's name:
  // every handle on OLD must be closed by then (Windows will not replace an open file).
  std::function<void()> beforeRename;
  // The temporary file when it was made beforehand (it is then written into and removed
  // on failure as one made here), and what of OLD is in it already.
  TemporaryOutput* temporary = nullptr;
  const std::vector<CopiedRange>* copied = nullptr;
};

struct WriteOutcome {
  bool written = false;
  bool interrupted = false;
  std::vector<std::string> unreadable;  // "PATH: why" for files that could not be read
  std::string error;                    // why nothing was written otherwise
  uint64_t size = 0;
};

// The layout's pieces, bytes and jobs are let go once written.
WriteOutcome WriteArchive(Layout& layout, const WriteRequest& request);

// Whether the archive at `path` loads with exactly the expected tables and names; what
// differs first in `problem`.
bool ReadsBackAsPlanned(const std::string& path, const ExpectedTables& expected,
                        std::string& problem);

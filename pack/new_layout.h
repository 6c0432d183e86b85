// A new archive made from a folder alone: version 2 (or another), 20-byte records (or 17
// or 22), one ToC entry holding the alias, every field no reader uses zero and the name
// count true; a folder record for each folder that holds files (the alias folder's own
// files under the empty name), folders sorted by their components with parents first,
// files by their names' bytes; tables, then names, then data, with no gaps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/layout.h"
#include "pack/pack_plan.h"

struct NewArchiveInput {
  const SourceTree* tree = nullptr;
  const NameEncodingBack* back = nullptr;
  EntryPatterns* patterns = nullptr;  // -x
  uint32_t version = 2;
  uint32_t recordSize = 20;
};

struct NewArchiveCounts {
  size_t added = 0;
  size_t leftOut = 0;
};

// Plans and lays out the new archive; false with the refusals in `problems`.
bool LayoutNew(const NewArchiveInput& input, Layout& layout, NewArchiveCounts& counts,
               PlanProblems& problems);

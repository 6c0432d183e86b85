// `wza extract NEW --changed-from OLD`: which of NEW's entries hold what OLD's entry of the
// same name holds, so that they are left out.
#pragma once

#include <string>

#include "archive/catalogue.h"
#include "decode/entry_pair_compare.h"
#include "extract/extraction_run.h"

struct ChangedFrom {
  OpenArchive old;
  HeldBudget held;  // shared by every thread comparing
};

// Loads OLD, once for the whole run; false after naming why it cannot be.
bool LoadChangedFrom(const std::string& path, ChangedFrom& from);

// The test for the entries of one loaded archive, whose names must still be the loader's:
// its entries are matched to OLD's by those bytes here, once. An entry OLD lacks, or that
// differs or cannot be read whole on either side, is not unchanged.
UnchangedTest UnchangedTestFor(ChangedFrom& from, const ArchiveCatalogue& catalogue);

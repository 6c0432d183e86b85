#include "cli/changed_from.h"

#include <memory>
#include <vector>

#include "decode/archive_diff.h"
#include "names/printable_text.h"

bool LoadChangedFrom(const std::string& path, ChangedFrom& from) {
  std::string detail;
  const LoadOutcome outcome = LoadCatalogue(path, from.old, &detail);
  if (outcome != LoadOutcome::Loaded) {
    PrintError(LoadFailureLine(path, outcome, detail) + "; nothing is extracted --changed-from it");
    return false;
  }
  from.held.left = kHeldMost;
  return true;
}

UnchangedTest UnchangedTestFor(ChangedFrom& from, const ArchiveCatalogue& catalogue) {
  const auto match =
      std::make_shared<const std::vector<size_t>>(MatchByName(from.old.catalogue, catalogue));
  return [&from, match](OpenArchive& archive, size_t entry, DecodeWorkspace& workspace) {
    const size_t old = (*match)[entry];
    return old != kNoEntry &&
           CompareEntryPair(from.old, old, archive, entry, workspace, &from.held).verdict ==
               PairVerdict::Same;
  };
}

// What changed between two archives, entry by entry: matched by name, compared by content.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "archive/catalogue.h"
#include "decode/entry_pair_compare.h"

constexpr size_t kNoEntry = static_cast<size_t>(-1);

// For each entry of `archive`, whether it stands for its name: of entries sharing a full
// name (the bytes the loader built), the one extract leaves in place, the later one.
std::vector<bool> StandingEntries(const ArchiveCatalogue& archive);

// For each entry of `newer`, the standing entry of `older` with the same full name, or
// kNoEntry. Only entries standing in `newer` are matched; the rest get kNoEntry.
std::vector<size_t> MatchByName(const ArchiveCatalogue& older, const ArchiveCatalogue& newer);

enum class DiffKind {
  Same,        // listed only when asked for
  Changed,     // content differs
  Added,       // only in NEW
  Removed,     // only in OLD
  Moved,       // removed under one name, added under another with the very same bytes
  Unreadable,  // in both, and not whole in one or both
};

struct DiffLine {
  DiffKind kind = DiffKind::Same;
  size_t oldEntry = kNoEntry;
  size_t newEntry = kNoEntry;
  PairComparison comparison;  // for Same, Changed, Unreadable and Moved
};

// Runs `count` jobs, each given its index and a workspace of the thread running it, and
// returns when all are done; in any order, on any number of threads. False: stopped early
// (interrupted), the results are not to be used.
using JobRunner =
    std::function<bool(size_t count, const std::function<void(size_t job, DecodeWorkspace&)>& job)>;

struct DiffChoice {
  std::function<bool(size_t entry)> oldChosen;  // null: every entry
  std::function<bool(size_t entry)> newChosen;
};

struct DiffOutcome {
  std::vector<DiffLine> lines;  // NEW's order, then removals in OLD's; Same lines included
  bool completed = true;        // false: the runner stopped early
};

// Entries of NEW in its order (Same, Changed, Unreadable, Added or Moved), then the entries
// removed from OLD in its order. Moves pair added and removed entries of the same content in
// their order on each side, so `diff B A` lists the same moves reversed. The lines do not
// depend on how the runner spreads the jobs.
DiffOutcome DiffArchives(OpenArchive& oldArchive, OpenArchive& newArchive, const DiffChoice& choice,
                         const JobRunner& run, HeldBudget* held);

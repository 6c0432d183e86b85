#include "decode/archive_diff.h"

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

// Names looked up where the catalogue holds them: no copy of every name.
using NameIndex = std::unordered_map<std::string_view, size_t>;

NameIndex StandingByName(const ArchiveCatalogue& archive,
                                                       const std::function<bool(size_t)>& chosen) {
  NameIndex byName;
  const std::vector<bool> standing = StandingEntries(archive);
  for (size_t i = 0; i < standing.size(); ++i) {
    if (standing[i] && (!chosen || chosen(i))) byName.emplace(archive.entryNames[i], i);
  }
  return byName;
}

// The entries of each side that only it has, in its order.
struct Unmatched {
  std::vector<size_t> added;    // NEW's
  std::vector<size_t> removed;  // OLD's
};

// A tentative move: found by size and checksum, to be confirmed byte for byte.
struct Move {
  size_t removed = 0;  // index into Unmatched::removed
  size_t added = 0;    // index into Unmatched::added
  PairComparison comparison;
};

using Key = std::pair<uint64_t, uint32_t>;  // shown size, CRC-32

// The checksum of every unmatched entry whose shown size the other side has too: only
// those can be moves. Entries not whole get none and are never moves.
void ChecksumCandidates(OpenArchive& archive, const std::vector<size_t>& entries,
                        const std::vector<uint64_t>& otherSizes, const JobRunner& run,
                        std::vector<std::optional<uint32_t>>& sums, bool& completed) {
  sums.assign(entries.size(), std::nullopt);
  std::vector<size_t> wanted;
  for (size_t k = 0; k < entries.size(); ++k) {
    const uint64_t size = ShownSize(archive.catalogue.entries[entries[k]]);
    if (std::binary_search(otherSizes.begin(), otherSizes.end(), size)) wanted.push_back(k);
  }
  completed = completed && run(wanted.size(), [&](size_t job, DecodeWorkspace& workspace) {
                sums[wanted[job]] = WholeEntryChecksum(archive, entries[wanted[job]], workspace);
              });
}

std::vector<uint64_t> SortedSizes(const ArchiveCatalogue& archive,
                                  const std::vector<size_t>& entries) {
  std::vector<uint64_t> sizes;
  for (size_t entry : entries) sizes.push_back(ShownSize(archive.entries[entry]));
  std::sort(sizes.begin(), sizes.end());
  return sizes;
}

// Pairs, key by key, the k-th added entry with the k-th removed one, in each side's order.
std::vector<Move> TentativeMoves(const ArchiveCatalogue& older, const ArchiveCatalogue& newer,
                                 const Unmatched& u,
                                 const std::vector<std::optional<uint32_t>>& removedSums,
                                 const std::vector<std::optional<uint32_t>>& addedSums) {
  std::map<Key, std::vector<size_t>> waiting;  // removed entries by key, in OLD's order
  for (size_t k = 0; k < u.removed.size(); ++k) {
    if (removedSums[k]) waiting[{ShownSize(older.entries[u.removed[k]]), *removedSums[k]}].push_back(k);
  }
  std::map<Key, size_t> taken;
  std::vector<Move> moves;
  for (size_t k = 0; k < u.added.size(); ++k) {
    if (!addedSums[k]) continue;
    const Key key{ShownSize(newer.entries[u.added[k]]), *addedSums[k]};
    const auto found = waiting.find(key);
    if (found == waiting.end() || taken[key] >= found->second.size()) continue;
    Move move;
    move.removed = found->second[taken[key]++];
    move.added = k;
    moves.push_back(move);
  }
  return moves;
}

// A key whose tentative pairs do not all hold (two contents sharing a CRC-32) is paired
// again by comparing every candidate, so the moves are those of the bytes alone.
void RepairKey(OpenArchive& older, OpenArchive& newer, const Unmatched& u,
               const std::vector<size_t>& removed, const std::vector<size_t>& added,
               std::vector<Move>& moves, DecodeWorkspace& workspace) {
  std::vector<bool> used(removed.size(), false);
  for (size_t a : added) {
    for (size_t r = 0; r < removed.size(); ++r) {
      if (used[r]) continue;
      Move move;
      move.comparison = CompareEntryPair(older, u.removed[removed[r]], newer, u.added[a],
                                         workspace, nullptr);
      if (move.comparison.verdict != PairVerdict::Same) continue;
      used[r] = true;
      move.removed = removed[r];
      move.added = a;
      moves.push_back(std::move(move));
      break;
    }
  }
}

std::vector<Move> FindMoves(OpenArchive& older, OpenArchive& newer, const Unmatched& u,
                            const JobRunner& run, HeldBudget* held, bool& completed) {
  std::vector<std::optional<uint32_t>> removedSums, addedSums;
  ChecksumCandidates(older, u.removed, SortedSizes(newer.catalogue, u.added), run, removedSums,
                     completed);
  ChecksumCandidates(newer, u.added, SortedSizes(older.catalogue, u.removed), run, addedSums,
                     completed);
  std::vector<Move> moves = TentativeMoves(older.catalogue, newer.catalogue, u, removedSums, addedSums);
  completed = completed && run(moves.size(), [&](size_t job, DecodeWorkspace& workspace) {
                Move& move = moves[job];
                move.comparison = CompareEntryPair(older, u.removed[move.removed], newer,
                                                   u.added[move.added], workspace, held);
              });
  std::map<Key, bool> broken;
  for (const Move& move : moves) {
    const Key key{ShownSize(newer.catalogue.entries[u.added[move.added]]), *addedSums[move.added]};
    broken[key] = broken[key] || move.comparison.verdict != PairVerdict::Same;
  }
  std::vector<Move> kept;
  for (Move& move : moves) {
    const Key key{ShownSize(newer.catalogue.entries[u.added[move.added]]), *addedSums[move.added]};
    if (!broken[key]) kept.push_back(std::move(move));
  }
  DecodeWorkspace workspace;
  for (const auto& [key, isBroken] : broken) {
    if (!isBroken) continue;
    std::vector<size_t> removed, added;
    for (size_t k = 0; k < u.removed.size(); ++k) {
      if (removedSums[k] && Key{ShownSize(older.catalogue.entries[u.removed[k]]), *removedSums[k]} == key) removed.push_back(k);
    }
    for (size_t k = 0; k < u.added.size(); ++k) {
      if (addedSums[k] && Key{ShownSize(newer.catalogue.entries[u.added[k]]), *addedSums[k]} == key) added.push_back(k);
    }
    RepairKey(older, newer, u, removed, added, kept, workspace);
  }
  return kept;
}

}  // namespace

std::vector<bool> StandingEntries(const ArchiveCatalogue& archive) {
  std::vector<bool> standing(archive.entryNames.size(), true);
  NameIndex last;
  for (size_t i = 0; i < archive.entryNames.size(); ++i) {
    const auto [at, inserted] = last.emplace(archive.entryNames[i], i);
    if (!inserted) {
      standing[at->second] = false;
      at->second = i;
    }
  }
  return standing;
}

std::vector<size_t> MatchByName(const ArchiveCatalogue& older, const ArchiveCatalogue& newer) {
  const NameIndex olderByName = StandingByName(older, nullptr);
  const std::vector<bool> standing = StandingEntries(newer);
  std::vector<size_t> match(newer.entryNames.size(), kNoEntry);
  for (size_t i = 0; i < match.size(); ++i) {
    const auto found = standing[i] ? olderByName.find(newer.entryNames[i]) : olderByName.end();
    if (found != olderByName.end()) match[i] = found->second;
  }
  return match;
}

DiffOutcome DiffArchives(OpenArchive& oldArchive, OpenArchive& newArchive, const DiffChoice& choice,
                         const JobRunner& run, HeldBudget* held) {
  const ArchiveCatalogue& older = oldArchive.catalogue;
  const ArchiveCatalogue& newer = newArchive.catalogue;
  const NameIndex oldByName = StandingByName(older, choice.oldChosen);
  const NameIndex newByName = StandingByName(newer, choice.newChosen);
  DiffOutcome outcome;
  std::vector<DiffLine>& lines = outcome.lines;
  std::vector<size_t> pairs;  // lines that compare an entry of each side
  Unmatched u;
  std::vector<size_t> addedLine;  // by index of u.added: its line
  lines.reserve(newByName.size() + oldByName.size());
  for (size_t i = 0; i < newer.entryNames.size(); ++i) {
    const auto mine = newByName.find(newer.entryNames[i]);
    if (mine == newByName.end() || mine->second != i) continue;
    DiffLine line;
    line.newEntry = i;
    const auto theirs = oldByName.find(newer.entryNames[i]);
    if (theirs == oldByName.end()) {
      line.kind = DiffKind::Added;
      u.added.push_back(i);
      addedLine.push_back(lines.size());
    } else {
      line.oldEntry = theirs->second;
      pairs.push_back(lines.size());
    }
    lines.push_back(std::move(line));
  }
  for (size_t i = 0; i < older.entryNames.size(); ++i) {
    const auto mine = oldByName.find(older.entryNames[i]);
    if (mine != oldByName.end() && mine->second == i && newByName.count(older.entryNames[i]) == 0) {
      u.removed.push_back(i);
    }
  }
  outcome.completed = run(pairs.size(), [&](size_t job, DecodeWorkspace& workspace) {
    DiffLine& line = lines[pairs[job]];
    line.comparison =
        CompareEntryPair(oldArchive, line.oldEntry, newArchive, line.newEntry, workspace, held);
    const PairVerdict verdict = line.comparison.verdict;
    line.kind = verdict == PairVerdict::Same      ? DiffKind::Same
                : verdict == PairVerdict::Differs ? DiffKind::Changed
                                                  : DiffKind::Unreadable;
  });
  std::vector<bool> movedAway(u.removed.size(), false);
  for (Move& move : FindMoves(oldArchive, newArchive, u, run, held, outcome.completed)) {
    DiffLine& line = lines[addedLine[move.added]];
    line.kind = DiffKind::Moved;
    line.oldEntry = u.removed[move.removed];
    line.comparison = std::move(move.comparison);
    movedAway[move.removed] = true;
  }
  for (size_t k = 0; k < u.removed.size(); ++k) {
    if (movedAway[k]) continue;
    DiffLine line;
    line.kind = DiffKind::Removed;
    line.oldEntry = u.removed[k];
    lines.push_back(std::move(line));
  }
  return outcome;
}

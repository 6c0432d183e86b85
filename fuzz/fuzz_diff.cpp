// libFuzzer target: two archives cut from one input (a 4-byte head gives where the second
// starts), compared entry by entry as `wza diff` does. Each pair's verdict must be the one
// that follows from both entries decoded whole as extract decodes them; `diff A A` lists
// nothing but sameness; `diff A B` is `diff B A` with additions and removals swapped and
// moves reversed; and nothing changes with the blocks the threads get or with NEW held whole
// or pulled in step.
#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <zlib.h>

#include "decode/archive_diff.h"
#include "fuzz/fuzz_check.h"
#include "platform/file_io.h"
#include "platform/memory_file.h"

namespace {

constexpr uint64_t kMostDecoded = 4u << 20;  // the oracle decodes no larger entries

struct Whole {
  std::string bytes;
  EntryResult result;
};

Whole DecodeWhole(OpenArchive& archive, size_t index) {
  static DecodeWorkspace workspace;
  workspace.wholeBudget = kPairWholeBudget;
  Whole whole;
  const EntrySink keep = [&](const unsigned char* data, size_t count) {
    whole.bytes.append(reinterpret_cast<const char*>(data), count);
    return true;
  };
  const EntryRestart restart = [&] {
    whole.bytes.clear();
    return true;
  };
  whole.result = DecodeEntry(archive, index, workspace, keep, restart);
  return whole;
}

std::string StoredBytes(OpenArchive& archive, const FileEntry& entry) {
  const DataSpan span = DataSpanInFile(archive.catalogue, entry);
  std::string bytes(span.end - span.start, '\0');
  bytes.resize(platform::ReadAt(*archive.file, span.start, bytes.data(), bytes.size()));
  return bytes;
}

// What the verdict must be, from both sides decoded whole; false when too large to tell.
// Entries that store the same bytes alike are the same, whatever those hold.
bool ExpectedVerdict(OpenArchive& older, size_t a, OpenArchive& newer, size_t b,
                     PairVerdict& verdict, bool& alike) {
  const FileEntry& x = older.catalogue.entries[a];
  const FileEntry& y = newer.catalogue.entries[b];
  alike = (x.flags == 0) == (y.flags == 0) && x.size == y.size && x.storedSize == y.storedSize &&
          StoredBytes(older, x) == StoredBytes(newer, y);
  if (alike) {
    verdict = PairVerdict::Same;
    return true;
  }
  if (!EntryDataInsideFile(older.catalogue, x) || !EntryDataInsideFile(newer.catalogue, y)) {
    verdict = PairVerdict::Unreadable;
    return true;
  }
  if (ShownSize(x) > kMostDecoded || ShownSize(y) > kMostDecoded) return false;
  const Whole one = DecodeWhole(older, a);
  const Whole other = DecodeWhole(newer, b);
  const size_t overlap = std::min(one.bytes.size(), other.bytes.size());
  if (ShownSize(x) != ShownSize(y) || one.bytes.compare(0, overlap, other.bytes, 0, overlap) != 0) {
    verdict = PairVerdict::Differs;
  } else {
    verdict = one.result.Complete() && other.result.Complete() ? PairVerdict::Same
                                                               : PairVerdict::Unreadable;
  }
  return true;
}

JobRunner InOrder(DecodeWorkspace& workspace) {
  return [&workspace](size_t count, const std::function<void(size_t, DecodeWorkspace&)>& job) {
    for (size_t i = 0; i < count; ++i) job(i, workspace);
    return true;
  };
}

using Line = std::tuple<DiffKind, size_t, size_t>;

std::vector<Line> Lines(const DiffOutcome& outcome) {
  std::vector<Line> lines;
  for (const DiffLine& line : outcome.lines) lines.emplace_back(line.kind, line.oldEntry, line.newEntry);
  return lines;
}

// The default way, and the way with small blocks and nothing held whole.
std::vector<Line> Diff(OpenArchive& older, OpenArchive& newer, bool inStep) {
  static DecodeWorkspace plain;
  static DecodeWorkspace small = [] {
    DecodeWorkspace workspace;
    workspace.blockSize = 512;
    workspace.wholeBudget = 0;
    return workspace;
  }();
  HeldBudget held;
  held.left = kHeldMost;
  const DiffOutcome outcome =
      DiffArchives(older, newer, {}, InOrder(inStep ? small : plain), inStep ? nullptr : &held);
  FUZZ_CHECK(outcome.completed);
  for (const DiffLine& line : outcome.lines) {
    PairVerdict expected;
    bool alike = false;
    const bool paired = line.oldEntry != kNoEntry && line.newEntry != kNoEntry;
    if (paired && ExpectedVerdict(older, line.oldEntry, newer, line.newEntry, expected, alike)) {
      FUZZ_CHECK(line.comparison.verdict == expected);
      FUZZ_CHECK(line.comparison.storedAlike == alike);
    }
    if (line.kind == DiffKind::Moved) FUZZ_CHECK(line.comparison.verdict == PairVerdict::Same);
  }
  return Lines(outcome);
}

// `diff B A` told as `diff A B` would tell it, sorted: the same set of lines.
std::vector<Line> Mirrored(std::vector<Line> lines) {
  for (Line& line : lines) {
    DiffKind& kind = std::get<0>(line);
    kind = kind == DiffKind::Added ? DiffKind::Removed : kind == DiffKind::Removed ? DiffKind::Added : kind;
    std::swap(std::get<1>(line), std::get<2>(line));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t rest = size - 4;
  const size_t cut = (data[0] | data[1] << 8 | data[2] << 16 | size_t{data[3]} << 24) % (rest + 1);
  platform::SetMemoryFile("a.big", data + 4, cut);
  platform::SetMemoryFile("b.big", data + 4 + cut, rest - cut);
  OpenArchive a, b;
  if (LoadCatalogue("a.big", a) != LoadOutcome::Loaded) return 0;
  if (LoadCatalogue("b.big", b) != LoadOutcome::Loaded) return 0;

  for (const Line& line : Diff(a, a, false)) FUZZ_CHECK(std::get<0>(line) == DiffKind::Same);
  const std::vector<Line> forward = Diff(a, b, false);
  FUZZ_CHECK(Diff(a, b, true) == forward);
  std::vector<Line> sorted = forward;
  std::sort(sorted.begin(), sorted.end());
  FUZZ_CHECK(Mirrored(Diff(b, a, false)) == sorted);
  return 0;
}

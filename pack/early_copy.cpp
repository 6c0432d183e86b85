#include "pack/early_copy.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

#include "pack/chunked_deflate.h"

namespace {

// OLD is copied in steps of this, so that a stop is seen soon.
constexpr uint64_t kStep = 16u << 20;
// Bytes settled are let gather up to this before they are copied: one kernel call an
// entry would cost more than the copying of small entries.
constexpr uint64_t kGather = 4u << 20;
// A replaced entry is deflated here only to learn its size, and again by the writer: past
// this much input the copy ends rather than deflate twice at length.
constexpr uint64_t kMostDeflated = 64u << 20;
constexpr size_t kNone = static_cast<size_t>(-1);

// An entry's stored bytes in OLD, in the order the copy meets them.
struct DataStep {
  uint64_t start = 0;
  uint64_t end = 0;
  size_t entry = 0;
  size_t comparison = kNone;  // its comparison, when it has one
};

enum Outcome : unsigned char { kPending, kSame, kDiffers, kOther };

}  // namespace

struct EarlyCopy {
  EarlyCopyInput input;
  platform::FilePtr old;
  uint64_t length = 0;   // OLD's
  uint64_t dataEnd = 0;  // after OLD's last entry data: where data with no place of its own goes
  std::vector<DataStep> steps;           // entries with stored bytes, by where they start
  std::vector<size_t> emptyComparisons;  // comparisons of entries with no stored bytes
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Outcome> outcomes;  // by comparison
  size_t waitingFor = kNone;
  std::atomic<bool> stop{false};
  std::vector<CopiedRange> copied;
  uint64_t deflated = 0;
  std::thread thread;
};

namespace {

bool Stopped(EarlyCopy& c) {
  return c.stop.load() || (c.input.interrupted && c.input.interrupted());
}

void Record(EarlyCopy& c, uint64_t from, uint64_t to, uint64_t length) {
  if (!c.copied.empty()) {
    CopiedRange& last = c.copied.back();
    if (last.from + last.length == from && last.to + last.length == to) {
      last.length += length;
      return;
    }
  }
  c.copied.push_back({from, to, length});
}

// OLD [from, end) to its place moved by `shift`.
bool CopyMoved(EarlyCopy& c, uint64_t from, uint64_t end, int64_t shift) {
  for (uint64_t at = from; at < end;) {
    if (Stopped(c)) return false;
    const uint64_t step = std::min(kStep, end - at);
    const uint64_t to = static_cast<uint64_t>(static_cast<int64_t>(at) + shift);
    if (!platform::CopyBetween(*c.old, at, *c.input.out, to, step, nullptr)) return false;
    Record(c, at, to, step);
    at += step;
  }
  return true;
}

Outcome OutcomeOf(EarlyCopy& c, size_t comparison) {
  std::unique_lock<std::mutex> lock(c.mutex);
  c.waitingFor = comparison;
  c.changed.wait(lock, [&] { return c.stop.load() || c.outcomes[comparison] != kPending; });
  c.waitingFor = kNone;
  return c.stop.load() ? kOther : c.outcomes[comparison];
}

// The stored size of a replaced entry's new data, as the writer will make it.
bool NewStoredSize(EarlyCopy& c, size_t entry, uint64_t& size) {
  const size_t source = c.input.claims->fileOf[entry];
  const SourceFile& file = c.input.tree->files[source];
  if (c.input.old->entries[entry].flags == 0) {
    size = file.size;
    return true;
  }
  if (c.deflated + file.size > kMostDeflated) return false;
  c.deflated += file.size;
  const DeflatePipelinePtr pipeline = StartDeflating(*c.input.tree, {{source, file.size, false}},
                                                     c.input.level, 1, [&c] { return Stopped(c); });
  size = ZlibHeader(c.input.level).size() + 4;  // and the Adler-32 after the chunks
  for (uint64_t n = ChunksOf(file.size); n > 0; --n) {
    DeflatedChunk chunk;
    if (!NextDeflatedChunk(*pipeline, chunk) || chunk.failed || chunk.stored) return false;
    size += chunk.bytes.size();
  }
  return true;
}

// Follows the comparisons through OLD's data. Data shared by kept entries moves as one;
// the copy ends where only the plan can say where bytes go: a replaced entry's data shared
// with another entry, a replaced entry with no stored bytes (its data goes after all the
// others), a file that could not be read.
void Run(EarlyCopy& c) {
  uint64_t copiedTo = 0;       // OLD's bytes before this are copied or dropped
  uint64_t reached = 0;        // the furthest end of entry data met
  bool replacedInRun = false;  // in the run of overlapping data being crossed
  int64_t shift = 0;
  for (const DataStep& step : c.steps) {
    const bool overlaps = step.start < reached;
    if (overlaps && replacedInRun) {
      CopyMoved(c, copiedTo, step.start, shift);
      return;
    }
    replacedInRun = replacedInRun && overlaps;
    reached = std::max(reached, step.end);
    if (step.comparison == kNone) continue;
    if (step.start >= copiedTo + kGather) {
      if (!CopyMoved(c, copiedTo, step.start, shift)) return;
      copiedTo = step.start;
    }
    const Outcome outcome = OutcomeOf(c, step.comparison);
    if (outcome == kSame) continue;
    if (!CopyMoved(c, copiedTo, step.start, shift)) return;
    uint64_t size = 0;
    if (outcome != kDiffers || overlaps || !NewStoredSize(c, step.entry, size)) return;
    shift += static_cast<int64_t>(size) - static_cast<int64_t>(step.end - step.start);
    copiedTo = step.end;
    replacedInRun = true;
  }
  if (!CopyMoved(c, copiedTo, std::max(copiedTo, c.dataEnd), shift)) return;
  for (const size_t comparison : c.emptyComparisons) {
    if (OutcomeOf(c, comparison) != kSame) return;
  }
  CopyMoved(c, std::max(copiedTo, c.dataEnd), c.length, shift);
}

// Only a folder that adds and leaves out nothing keeps OLD's tables the size they are.
bool ChangesOnly(const Claims& claims) {
  return std::find(claims.leftOut.begin(), claims.leftOut.end(), true) == claims.leftOut.end() &&
         std::find(claims.claimed.begin(), claims.claimed.end(), false) == claims.claimed.end();
}

// The steps, in OLD's order; false when an entry's place cannot be followed.
bool PlanSteps(EarlyCopy& c) {
  const ArchiveCatalogue& old = *c.input.old;
  c.length = old.fileLength;
  c.dataEnd = old.at.data;
  std::vector<size_t> comparisonOf(old.entries.size(), kNone);
  for (size_t i = 0; i < c.input.claims->pairs.size(); ++i)
    comparisonOf[c.input.claims->pairs[i].entry] = i;
  for (size_t k = 0; k < old.entries.size(); ++k) {
    const DataSpan range = DataSpanInFile(old, old.entries[k]);
    if (range.start < range.end) {
      c.steps.push_back({range.start, range.end, k, comparisonOf[k]});
      c.dataEnd = std::max(c.dataEnd, range.end);
    } else if (comparisonOf[k] != kNone) {
      c.emptyComparisons.push_back(comparisonOf[k]);
    }
  }
  std::stable_sort(c.steps.begin(), c.steps.end(),
                   [](const DataStep& a, const DataStep& b) { return a.start < b.start; });
  return c.dataEnd <= c.length;
}

}  // namespace

// A folder of a few changed files is compared at once, and a copy begun early would only
// wait for the sizes of their new data.
bool EarlyCopyPays(const ArchiveCatalogue& old, const Claims& claims) {
  if (!ChangesOnly(claims)) return false;
  uint64_t compared = 0;
  for (const EntryFilePair& pair : claims.pairs) compared += old.entries[pair.entry].storedSize;
  return compared >= old.fileLength / 4;
}

void EarlyCopyStop::operator()(EarlyCopy* copy) const noexcept {
  {
    std::lock_guard<std::mutex> lock(copy->mutex);
    copy->stop = true;
  }
  copy->changed.notify_all();
  if (copy->thread.joinable()) copy->thread.join();
  delete copy;
}

EarlyCopyPtr StartEarlyCopy(const EarlyCopyInput& input) {
  if (!EarlyCopyPays(*input.old, *input.claims)) return nullptr;
  EarlyCopyPtr copy(new EarlyCopy);
  copy->input = input;
  copy->old = platform::ShareOpenFile(*input.oldFile, nullptr);
  if (!copy->old || !PlanSteps(*copy)) return nullptr;
  copy->outcomes.assign(input.claims->pairs.size(), kPending);
  EarlyCopy* running = copy.get();
  copy->thread = std::thread([running] { Run(*running); });
  return copy;
}

void EntryCompared(EarlyCopy& copy, size_t index, const Comparison& comparison) {
  std::lock_guard<std::mutex> lock(copy.mutex);
  copy.outcomes[index] = comparison.sameness == Sameness::Same      ? kSame
                         : comparison.sameness == Sameness::Differs ? kDiffers
                                                                    : kOther;
  if (copy.waitingFor == index) copy.changed.notify_one();
}

std::vector<CopiedRange> FinishEarlyCopy(EarlyCopyPtr copy, bool stop) {
  if (!copy) return {};
  if (stop) {
    std::lock_guard<std::mutex> lock(copy->mutex);
    copy->stop = true;
  }
  copy->changed.notify_all();
  if (copy->thread.joinable()) copy->thread.join();
  return std::move(copy->copied);
}

CopiedRun CopiedRunAt(const std::vector<CopiedRange>& ranges, uint64_t from, uint64_t to) {
  const auto after =
      std::upper_bound(ranges.begin(), ranges.end(), from,
                       [](uint64_t at, const CopiedRange& range) { return at < range.from; });
  if (after != ranges.begin()) {
    const CopiedRange& range = *(after - 1);
    if (from < range.from + range.length && range.to - range.from == to - from) {
      return {true, range.from + range.length - from};
    }
  }
  return {false, after == ranges.end() ? std::numeric_limits<uint64_t>::max() : after->from - from};
}

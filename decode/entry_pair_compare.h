// Whether an entry of one archive holds the same bytes as an entry of another: the bytes
// `wza extract` writes for each, salvage of a damaged one included.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "archive/catalogue.h"
#include "decode/entry_decode.h"

enum class PairVerdict {
  Same,        // both come out whole with the same bytes, or store the same bytes alike
  Differs,     // a byte differs, or the shown sizes do, before any damage is met
  Unreadable,  // no byte differs before one side (or both) turned out not whole
};

uint64_t NextHeldBudgetId();

struct PairComparison {
  PairVerdict verdict = PairVerdict::Same;
  bool storedAlike = false;  // the stored bytes, sizes and form are equal: nothing inflated
  EntryResult oldResult;     // for Unreadable: the side(s) whose status is not Complete
  EntryResult newResult;
  uint64_t bytesRead = 0;  // stored bytes read from both archives, for progress
};

// How much room for NEW's entries held whole the threads comparing may take, between them:
// one that gets room keeps it for the run. An entry held whole is decoded as extract decodes
// it; the others are pulled in step with OLD's.
struct HeldBudget {
  std::atomic<uint64_t> left{0};
  const uint64_t id = NextHeldBudgetId();  // tells one run's budget from another's
};

// Room for entries held whole, over all threads: small beside a run's inflate blocks.
constexpr uint64_t kHeldMost = 8u << 20;

// What an entry compared may be inflated whole in, whatever the workspace says: the same at
// any number of threads, and what extract has per thread at sixteen.
constexpr size_t kPairWholeBudget = kWholeBudget / 8;

// Compares OLD's entry `oldIndex` with NEW's entry `newIndex`. Memory stays bounded
// whatever the sizes: `held` (null: nothing held) decides what may be held whole, the rest
// is compared in step, 64 KiB at a time. The comparison stops at the first differing
// byte. The verdict is the same whichever decoders the build has and whatever the
// workspace's block sizes: a difference seen in a faster decoder's bytes is confirmed by
// zlib's.
PairComparison CompareEntryPair(OpenArchive& oldArchive, size_t oldIndex, OpenArchive& newArchive,
                                size_t newIndex, DecodeWorkspace& workspace, HeldBudget* held);

// The CRC-32 of what extract writes for an entry, when it comes out whole; nothing for
// one that does not.
std::optional<uint32_t> WholeEntryChecksum(OpenArchive& archive, size_t index,
                                           DecodeWorkspace& workspace);

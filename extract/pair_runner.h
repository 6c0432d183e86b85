// The threads `wza diff` compares entries on: extract's pool, run as a JobRunner.
#pragma once

#include <cstddef>
#include <functional>

#include "decode/archive_diff.h"

// Comparing reads two archives at once and gains nothing past this many threads; each one
// more only costs its blocks.
constexpr size_t kMostPairThreads = 16;

// A runner on `workers` threads (at most kMostPairThreads; 1: the calling thread alone).
// `interrupted` (optional, safe to call from any thread): once true, no further job starts
// and the runner returns false. Jobs the pool could not run for want of memory end the run
// with std::bad_alloc on the calling thread, as a job run there would.
JobRunner StartPairRunner(size_t workers, const std::function<bool()>& interrupted);

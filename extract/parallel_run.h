// The entries of one archive worked on by several threads and handed back in archive order,
// so that what the caller reports does not depend on how many threads there are.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "extract/entry_file.h"

// Threads past this gain nothing (the disk is the limit long before) and would only cost
// memory.
constexpr size_t kMaxWorkers = 64;

// What a worker does with entry `index`, in a workspace of its own.
using EntryWork = std::function<EntryResult(size_t index, EntryWorkspace& workspace)>;

struct EntryBatch {
  size_t count = 0;
  EntryWork work;
  // The path entry `index` is written to (whole, or below a folder every entry of the
  // batch shares), or "" for none. An entry whose path is another's, or a folder on the
  // way to it, or the reverse, waits until the earlier one is done: one at a time, the
  // later one would have won. Entries of one folder are best given one after the other.
  std::function<std::string(size_t index)> pathOf;
  // Asked before each entry is handed out, in index order; false hands out no more.
  std::function<bool()> goOn;
  // Each result in index order, on the calling thread, in rounds: whenever the workers
  // run low on entries to take, and every few milliseconds. An entry a worker did not start
  // because of an interrupt is not handed back: it was never attempted.
  std::function<void(size_t index, const EntryResult& result)> report;
};

struct EntryPool;  // the threads, their workspaces and the entries under way
struct EntryPoolStop {
  void operator()(EntryPool* pool) const noexcept;  // waits for the threads to end
};
using EntryPoolPtr = std::unique_ptr<EntryPool, EntryPoolStop>;

// Starts `workers` threads, each with its own blocks (smaller ones the more threads there
// are, so memory stays bounded) and its own open output folders. `interrupted` (optional) must be
// safe to call from any thread: once true, no further entry is started and the one being
// written is removed.
EntryPoolPtr StartEntryPool(size_t workers, const std::function<bool()>& interrupted);

// Runs a batch and returns once every entry handed out has been reported. Without a pool
// the entries are run one after the other on the calling thread, in `workspace`. What a
// callback throws on the calling thread is thrown on once no worker is left on the batch.
void RunBatch(EntryPool* pool, EntryWorkspace& workspace, const EntryBatch& batch);

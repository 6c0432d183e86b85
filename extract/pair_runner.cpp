#include "extract/pair_runner.h"

#include <algorithm>
#include <memory>
#include <new>

#include "extract/parallel_run.h"

namespace {

// What the runner's copies share: the threads stop when the last copy goes.
struct PairThreads {
  EntryPoolPtr pool;
  EntryWorkspace workspace;  // for the calling thread, when there is no pool
  std::function<bool()> interrupted;
};

bool RunJobs(PairThreads& threads, size_t count,
             const std::function<void(size_t, DecodeWorkspace&)>& job) {
  size_t done = 0;
  EntryBatch batch;
  batch.count = count;
  batch.work = [&](size_t index, EntryWorkspace& own) {
    job(index, own.decode);
    return EntryResult();
  };
  if (threads.interrupted) batch.goOn = [&] { return !threads.interrupted(); };
  batch.report = [&](size_t, const EntryResult& result) {
    // The pool turns what a job throws for memory into this status: thrown on here.
    if (result.status == EntryStatus::OutOfMemory) throw std::bad_alloc();
    ++done;
  };
  RunBatch(threads.pool.get(), threads.workspace, batch);
  return done == count;
}

}  // namespace

JobRunner StartPairRunner(size_t workers, const std::function<bool()>& interrupted) {
  auto threads = std::make_shared<PairThreads>();
  threads->interrupted = interrupted;
  workers = std::clamp<size_t>(workers, 1, kMostPairThreads);
  if (workers > 1) threads->pool = StartEntryPool(workers, interrupted);
  return [threads](size_t count, const std::function<void(size_t, DecodeWorkspace&)>& job) {
    return RunJobs(*threads, count, job);
  };
}

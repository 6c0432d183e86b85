#include "extract/parallel_run.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "extract/entry_order.h"

namespace {

// Entries handed out ahead of the one to be reported next: enough to keep every worker
// busy past a large entry and between two rounds of the reporter, few enough that their
// results take little memory.
constexpr size_t kWindow = 2048;
// Entries made claimable at a time, so that workers start before all are looked at.
constexpr size_t kStep = 256;
// The most entries one claim takes: of one folder, so that two workers seldom create files
// in the same folder (the kernel serialises that), or any when entries are written nowhere.
constexpr size_t kClaimInFolder = 128;
constexpr size_t kClaimOfAny = 32;
// How often the calling thread reports what is done when no worker calls it sooner.
constexpr std::chrono::milliseconds kReportEvery(10);
// What all workers' blocks may take together, and the least one block may be.
constexpr size_t kBlockBudget = 32u << 20;
constexpr size_t kSmallestBlock = 64u << 10;
// What all workers' entries held whole may take together: each has kWholeBudget up to two
// workers, less past them.
constexpr size_t kWholeBudgetAll = 2 * kWholeBudget;

// An entry under way, at its index modulo kWindow. Everything but the atomics is written
// by the calling thread before the entry is claimable, then by the worker that claimed it
// before `finished`, then read by the calling thread.
struct Slot {
  EntryResult result;
  bool skipped = false;   // not started: the run was interrupted
  size_t waitBelow = 0;   // see EntryPlace
  std::atomic<size_t> claimEnd{0};  // set where a claim starts: where it ends
  std::atomic<size_t> finished{0};  // index + 1 of the last entry done here; only grows
};

}  // namespace

struct EntryPool {
  // Entries are claimed and handed back without a lock or a wake-up.
  std::atomic<size_t> cursor{0};         // where the next claim starts
  std::atomic<size_t> limit{0};          // entries below it may be claimed
  std::atomic<size_t> reportedBelow{0};  // every entry below it is reported
  std::atomic<size_t> waitingWorkers{0};  // on an earlier entry of a related path
  std::atomic<bool> reporterAsked{false};  // since the calling thread's last round
  std::vector<Slot> slots = std::vector<Slot>(kWindow);
  const EntryBatch* batch = nullptr;

  // Only to sleep and to wake.
  std::mutex lock;
  std::condition_variable workReady;       // entries to claim, or the end
  std::condition_variable reporterCalled;  // a worker runs low on entries to claim, or out
  std::condition_variable entryDone;       // for workers waiting on an earlier entry
  size_t idleWorkers = 0;
  bool calling = false;
  bool stopping = false;

  std::function<bool()> interrupted;
  std::vector<std::unique_ptr<EntryWorkspace>> workspaces;
  std::vector<std::thread> threads;
};

namespace {

bool Claim(EntryPool& pool, size_t& begin, size_t& end) {
  size_t at = pool.cursor.load();
  for (;;) {
    if (at >= pool.limit.load()) return false;
    // A stale `at` reads another entry's slot, but then the exchange fails.
    const size_t claimEnd = pool.slots[at % kWindow].claimEnd.load();
    if (pool.cursor.compare_exchange_weak(at, claimEnd)) {
      begin = at;
      end = claimEnd;
      return true;
    }
  }
}

void CallReporter(EntryPool& pool) {
  const std::lock_guard<std::mutex> hold(pool.lock);
  pool.calling = true;
  pool.reporterCalled.notify_one();
}

// Once half the entries handed out are claimed, the calling thread is asked to report and
// hand out more, so that on a busy machine it has time to before the workers run dry.
void AskForMore(EntryPool& pool, size_t claimEnd) {
  if (pool.limit - claimEnd < kWindow / 2 && !pool.reporterAsked.exchange(true)) {
    CallReporter(pool);
  }
}

// Tells the calling thread there is nothing left to claim, and sleeps until there is.
// False: the pool is stopping.
bool Idle(EntryPool& pool) {
  std::unique_lock<std::mutex> hold(pool.lock);
  ++pool.idleWorkers;
  pool.calling = true;
  pool.reporterCalled.notify_one();
  pool.workReady.wait(hold, [&] { return pool.stopping || pool.cursor < pool.limit; });
  --pool.idleWorkers;
  return !pool.stopping;
}

bool DoneBelow(const EntryPool& pool, size_t below) {
  for (size_t i = pool.reportedBelow; i < below; ++i) {
    if (pool.slots[i % kWindow].finished < i + 1) return false;
  }
  return true;
}

void WaitForEarlier(EntryPool& pool, size_t below) {
  if (DoneBelow(pool, below)) return;
  std::unique_lock<std::mutex> hold(pool.lock);
  ++pool.waitingWorkers;
  pool.entryDone.wait(hold, [&] { return DoneBelow(pool, below); });
  --pool.waitingWorkers;
}

void RunEntry(EntryPool& pool, const EntryBatch& batch, size_t index, EntryWorkspace& workspace) {
  Slot& slot = pool.slots[index % kWindow];
  if (slot.waitBelow > 0) WaitForEarlier(pool, slot.waitBelow);
  if (pool.interrupted && pool.interrupted()) {
    slot.skipped = true;
  } else {
    try {
      slot.result = batch.work(index, workspace);
    } catch (const std::bad_alloc&) {
      slot.result = EntryResult();
      slot.result.status = EntryStatus::OutOfMemory;
    }
  }
  slot.finished = index + 1;
  // Seen either here or by the waiter's own look after it counted itself in.
  if (pool.waitingWorkers > 0) {
    const std::lock_guard<std::mutex> hold(pool.lock);
    pool.entryDone.notify_all();
  }
}

void RunEntryThread(EntryPool& pool, EntryWorkspace& workspace) {
  for (;;) {
    size_t begin = 0;
    size_t end = 0;
    if (!Claim(pool, begin, end)) {
      if (!Idle(pool)) return;
      continue;
    }
    AskForMore(pool, end);
    const EntryBatch& batch = *pool.batch;
    for (size_t index = begin; index < end; ++index) RunEntry(pool, batch, index, workspace);
  }
}

// The calling thread's side of one batch.
struct Handing {
  const EntryBatch& batch;
  EntryOrder order;
  size_t limit = 0;       // handed out below it
  size_t reported = 0;    // reported below it
  bool allHanded = false;  // no more will be
  size_t claimStart = 0;

  explicit Handing(const EntryBatch& given) : batch(given) {}
};

// Makes the next entries claimable, up to a window ahead of the reported ones, a step at a
// time. goOn is asked for each entry before it is handed out.
void HandOut(EntryPool& pool, Handing& handing) {
  const EntryBatch& batch = handing.batch;
  const size_t claimMost = batch.pathOf ? kClaimInFolder : kClaimOfAny;
  const size_t target = std::min(batch.count, handing.reported + kWindow);
  if (handing.limit == batch.count) handing.allHanded = true;
  while (!handing.allHanded && handing.limit < target) {
    const size_t stepEnd = std::min(target, handing.limit + kStep);
    size_t index = handing.limit;
    handing.claimStart = index;
    for (; index < stepEnd; ++index) {
      if (batch.goOn && !batch.goOn()) {
        handing.allHanded = true;
        break;
      }
      Slot& slot = pool.slots[index % kWindow];
      slot.result = EntryResult();
      slot.skipped = false;
      const EntryPlace place =
          batch.pathOf ? PlaceEntry(handing.order, index, batch.pathOf(index)) : EntryPlace();
      slot.waitBelow = place.waitBelow;
      if (index > handing.claimStart &&
          (place.newFolder || index - handing.claimStart >= claimMost)) {
        pool.slots[handing.claimStart % kWindow].claimEnd = index;
        handing.claimStart = index;
      }
    }
    if (index > handing.claimStart) pool.slots[handing.claimStart % kWindow].claimEnd = index;
    handing.allHanded = handing.allHanded || index == batch.count;
    handing.limit = index;
    const std::lock_guard<std::mutex> hold(pool.lock);
    pool.limit = index;
    if (pool.idleWorkers > 0) pool.workReady.notify_all();
  }
  ForgetDoneEntries(handing.order, handing.reported);
}

// Reports the entries done, in index order, up to the first one still under way.
void ReportDone(EntryPool& pool, Handing& handing) {
  while (handing.reported < handing.limit) {
    Slot& slot = pool.slots[handing.reported % kWindow];
    if (slot.finished != handing.reported + 1) break;
    const size_t index = handing.reported++;
    if (!slot.skipped) handing.batch.report(index, slot.result);
  }
  pool.reportedBelow = handing.reported;
}

// Until a worker runs out of entries, or for a while.
void WaitForCall(EntryPool& pool) {
  std::unique_lock<std::mutex> hold(pool.lock);
  pool.reporterCalled.wait_for(hold, kReportEvery, [&] { return pool.calling; });
  pool.calling = false;
  pool.reporterAsked = false;
}

// Until every worker sleeps: none is on an entry of the batch.
void WaitForIdleWorkers(EntryPool& pool) {
  std::unique_lock<std::mutex> hold(pool.lock);
  pool.reporterCalled.wait(hold, [&] { return pool.idleWorkers == pool.threads.size(); });
  pool.calling = false;
}

void StartBatch(EntryPool& pool, const EntryBatch& batch) {
  WaitForIdleWorkers(pool);
  const std::lock_guard<std::mutex> hold(pool.lock);
  pool.cursor = 0;
  pool.limit = 0;
  pool.reportedBelow = 0;
  for (Slot& slot : pool.slots) slot.finished = 0;
  pool.batch = &batch;
}

// After a failure on the calling thread (memory running out, say): no more entries are
// claimed, and those under way are waited for, as they work on the batch and the archive
// the caller is about to let go of.
void Drain(EntryPool& pool) {
  {
    const std::lock_guard<std::mutex> hold(pool.lock);
    pool.limit = 0;
  }
  WaitForIdleWorkers(pool);
}

void RunInPool(EntryPool& pool, const EntryBatch& batch) {
  StartBatch(pool, batch);
  Handing handing(batch);
  try {
    for (;;) {
      HandOut(pool, handing);
      ReportDone(pool, handing);
      if (handing.allHanded && handing.reported == handing.limit) break;
      WaitForCall(pool);
    }
  } catch (...) {
    Drain(pool);
    throw;
  }
}

}  // namespace

void EntryPoolStop::operator()(EntryPool* pool) const noexcept {
  {
    const std::lock_guard<std::mutex> hold(pool->lock);
    pool->stopping = true;
  }
  pool->workReady.notify_all();
  for (std::thread& thread : pool->threads) thread.join();
  delete pool;
}

EntryPoolPtr StartEntryPool(size_t workers, const std::function<bool()>& interrupted) {
  workers = std::clamp<size_t>(workers, 1, kMaxWorkers);
  EntryPoolPtr pool(new EntryPool);
  pool->interrupted = interrupted;
  const size_t blockSize =
      std::clamp(kBlockBudget / (2 * workers) & ~size_t{4095}, kSmallestBlock, kBlockSize);
  for (size_t i = 0; i < workers; ++i) {
    auto workspace = std::make_unique<EntryWorkspace>();
    workspace->decode.blockSize = blockSize;
    workspace->decode.wholeBudget = std::min(kWholeBudget, kWholeBudgetAll / workers);
    workspace->interrupted = interrupted;
    pool->workspaces.push_back(std::move(workspace));
  }
  for (size_t i = 0; i < workers; ++i) {
    try {
      // Under the lock: a thread that starts at once counts itself idle against the
      // threads there are.
      const std::lock_guard<std::mutex> hold(pool->lock);
      pool->threads.emplace_back(RunEntryThread, std::ref(*pool), std::ref(*pool->workspaces[i]));
    } catch (const std::system_error&) {
      break;  // the system gives no more threads: go on with those there are
    }
  }
  if (pool->threads.empty()) return nullptr;  // the caller extracts on its own thread
  return pool;
}

void RunBatch(EntryPool* pool, EntryWorkspace& workspace, const EntryBatch& batch) {
  if (pool != nullptr) {
    RunInPool(*pool, batch);
    return;
  }
  for (size_t index = 0; index < batch.count; ++index) {
    if (batch.goOn && !batch.goOn()) break;
    batch.report(index, batch.work(index, workspace));
  }
}

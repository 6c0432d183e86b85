#include "extract/parallel_run.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/file_io.h"

namespace {

// Entries handed out ahead of the one to be reported next: enough to keep every worker
// busy past a large entry, few enough that their results take little memory.
constexpr size_t kEntriesAhead = 512;
// What all workers' blocks may take together, and the least one block may be.
constexpr size_t kBlockBudget = 32u << 20;
constexpr size_t kSmallestBlock = 64u << 10;

struct Job {
  size_t index = 0;
  std::string path;
  EntryResult result;
  bool done = false;
  bool skipped = false;  // not started: the run was interrupted
};

// Whether one of two paths is the other or lies below it.
bool Related(const std::string& one, const std::string& other) {
  if (one.empty() || other.empty()) return false;
  const std::string& shorter = one.size() <= other.size() ? one : other;
  const std::string& longer = one.size() <= other.size() ? other : one;
  if (longer.compare(0, shorter.size(), shorter) != 0) return false;
  return longer.size() == shorter.size() || longer[shorter.size()] == '/';
}

}  // namespace

struct EntryPool {
  std::mutex lock;                    // over everything below but the threads and workspaces
  std::condition_variable workReady;  // an entry to take, or the end
  std::condition_variable firstDone;  // the first entry handed out is done
  std::condition_variable jobDone;    // some entry is done, for workers waiting on an earlier one
  size_t waitingWorkers = 0;
  bool draining = false;  // the caller waits for the entries under way to end (Drain)
  std::deque<Job> jobs;  // handed out and not yet reported, in index order
  size_t taken = 0;      // the first `taken` of them are with a worker or done
  const EntryBatch* batch = nullptr;
  bool stopping = false;
  std::function<bool()> interrupted;
  std::vector<std::unique_ptr<EntryWorkspace>> workspaces;
  std::vector<std::thread> threads;
};

namespace {

bool WaitsForAnEarlierEntry(const EntryPool& pool, const Job& job) {
  for (const Job& earlier : pool.jobs) {
    if (&earlier == &job) return false;
    if (!earlier.done && Related(earlier.path, job.path)) return true;
  }
  return false;
}

void Work(EntryPool& pool, EntryWorkspace& workspace) {
  std::unique_lock<std::mutex> hold(pool.lock);
  for (;;) {
    pool.workReady.wait(hold, [&] { return pool.stopping || pool.taken < pool.jobs.size(); });
    if (pool.stopping) return;
    Job& job = pool.jobs[pool.taken++];
    const EntryBatch& batch = *pool.batch;
    ++pool.waitingWorkers;
    pool.jobDone.wait(hold, [&] { return !WaitsForAnEarlierEntry(pool, job); });
    --pool.waitingWorkers;
    hold.unlock();
    if (pool.interrupted && pool.interrupted()) {
      job.skipped = true;
    } else {
      try {
        job.result = batch.work(job.index, workspace);
      } catch (const std::bad_alloc&) {
        job.result.status = EntryStatus::OutOfMemory;
      }
    }
    hold.lock();
    job.done = true;
    // Only the first entry's end lets the reporter on; others matter to waiting workers.
    if (&job == &pool.jobs.front()) pool.firstDone.notify_one();
    if (pool.waitingWorkers > 0 || pool.draining) pool.jobDone.notify_all();
  }
}

// Waits for the first entry handed out and reports it. Called with the lock held.
void ReportFirst(EntryPool& pool, std::unique_lock<std::mutex>& hold, const EntryBatch& batch) {
  pool.firstDone.wait(hold, [&] { return pool.jobs.front().done; });
  Job job = std::move(pool.jobs.front());
  pool.jobs.pop_front();
  --pool.taken;
  hold.unlock();
  if (!job.skipped) batch.report(job.index, job.result);
  hold.lock();
}

void HandOut(EntryPool& pool, std::unique_lock<std::mutex>& hold, const EntryBatch& batch) {
  for (size_t index = 0; index < batch.count; ++index) {
    while (pool.jobs.size() >= kEntriesAhead) ReportFirst(pool, hold, batch);
    hold.unlock();
    const bool goOn = !batch.goOn || batch.goOn();
    Job job;
    job.index = index;
    if (goOn && batch.pathOf) job.path = ComparablePath(batch.pathOf(index));
    hold.lock();
    if (!goOn) break;
    pool.jobs.push_back(std::move(job));
    pool.workReady.notify_one();
    while (!pool.jobs.empty() && pool.jobs.front().done) ReportFirst(pool, hold, batch);
  }
  while (!pool.jobs.empty()) ReportFirst(pool, hold, batch);
}

// After a failure on the calling thread (memory running out, say): the entries no worker
// has taken are dropped, and those under way waited for, as they work on the batch and the
// archive the caller is about to let go of.
void Drain(EntryPool& pool, std::unique_lock<std::mutex>& hold) {
  if (!hold.owns_lock()) hold.lock();
  pool.jobs.resize(pool.taken);
  pool.draining = true;
  pool.jobDone.wait(hold, [&] {
    return std::all_of(pool.jobs.begin(), pool.jobs.end(), [](const Job& job) { return job.done; });
  });
  pool.draining = false;
  pool.jobs.clear();
  pool.taken = 0;
  pool.batch = nullptr;
}

void RunInPool(EntryPool& pool, const EntryBatch& batch) {
  std::unique_lock<std::mutex> hold(pool.lock);
  pool.batch = &batch;
  try {
    HandOut(pool, hold, batch);
  } catch (...) {
    Drain(pool, hold);
    throw;
  }
  pool.batch = nullptr;
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
    workspace->blockSize = blockSize;
    workspace->interrupted = interrupted;
    pool->workspaces.push_back(std::move(workspace));
  }
  for (size_t i = 0; i < workers; ++i) {
    try {
      pool->threads.emplace_back(Work, std::ref(*pool), std::ref(*pool->workspaces[i]));
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

std::string ComparablePath(const std::string& path) {
  std::string comparable;
  comparable.reserve(path.size());
  for (char c : path) {
    if (platform::IsPathSeparator(c)) {
      if (!comparable.empty() && comparable.back() == '/') continue;
      c = '/';
    } else if (platform::kNamesIgnoreCase && c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    comparable += c;
  }
  return comparable;
}

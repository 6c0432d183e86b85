#include "mount/page_cache_feed.h"

#include <algorithm>
#include <vector>

namespace {

enum FeedProgress : unsigned char { kUntouched, kBusy, kDone };

// How far the worker runs ahead of a reader, how much it may have on its list, and how
// many files it is woken for (each wake-up is a system call or two) unless the reader has
// caught up with it.
constexpr size_t kFilesAhead = 8;
constexpr size_t kLongestQueue = 64;
constexpr size_t kWakeFor = 4;

bool IsSmallFile(const PageCacheFeed& feed, uint32_t node) {
  const MountNode& item = feed.tree->nodes[node];
  return !item.isFolder &&
         ShownSize(feed.reader->archive->catalogue.entries[item.entry]) <= kHandOverLimit;
}

// Only an intact entry is handed over: a damaged one keeps being read on demand, so that
// its reads end in exactly the salvaged bytes and an error.
void HandOver(PageCacheFeed& feed, uint32_t node) {
  const size_t entry = feed.tree->nodes[node].entry;
  const size_t size =
      static_cast<size_t>(ShownSize(feed.reader->archive->catalogue.entries[entry]));
  thread_local std::unique_ptr<unsigned char[]> bytes(new unsigned char[kHandOverLimit]);
  // An empty file too is read, so that a damaged stream in it is known when it is opened.
  if (!ReadWholeEntry(*feed.reader, entry, bytes.get()) || size == 0) return;
  fuse_bufvec data = FUSE_BUFVEC_INIT(size);
  data.buf[0].mem = bytes.get();
  // Refused when the kernel holds no such file (not looked up yet) or is short of memory:
  // reads then ask for the bytes.
  fuse_lowlevel_notify_store(feed.session, node + FUSE_ROOT_ID, 0, &data, fuse_buf_copy_flags());
}

// True for the one caller that is to hand the file over.
bool Claim(PageCacheFeed& feed, uint32_t node) {
  unsigned char untouched = kUntouched;
  return feed.progress[node].compare_exchange_strong(untouched, kBusy);
}

// Wakes only threads that wait: a wake-up is a system call, and this runs for every file.
void HandOverClaimed(PageCacheFeed& feed, uint32_t node) {
  HandOver(feed, node);
  std::lock_guard<std::mutex> lock(feed.mutex);
  feed.progress[node] = kDone;
  if (feed.waiting > 0) feed.handedOver.notify_all();
}

void Work(PageCacheFeed& feed) {
  std::unique_lock<std::mutex> lock(feed.mutex);
  for (;;) {
    feed.workerIdle = true;
    feed.queued.wait(lock, [&] { return feed.stopping || !feed.queue.empty(); });
    feed.workerIdle = false;
    if (feed.stopping) return;
    const uint32_t node = feed.queue.front();
    feed.queue.pop_front();
    if (!Claim(feed, node)) continue;
    lock.unlock();
    HandOverClaimed(feed, node);
    lock.lock();
  }
}

// Queues the small files among the next few after `node` in its folder's name order,
// the order a folder lists in and most readers go through it.
void QueueNext(PageCacheFeed& feed, uint32_t node, bool caughtUp) {
  const std::vector<MountNode>& nodes = feed.tree->nodes;
  const std::vector<uint32_t>& siblings = nodes[nodes[node].parent].children;
  const auto at =
      std::lower_bound(siblings.begin(), siblings.end(), nodes[node].name,
                       [&](uint32_t id, const std::string& name) { return nodes[id].name < name; });
  const size_t position = static_cast<size_t>(at - siblings.begin());
  const size_t end = std::min(siblings.size(), position + 1 + kFilesAhead);
  std::lock_guard<std::mutex> lock(feed.mutex);
  const size_t before = feed.queue.size();
  for (size_t i = position + 1; i < end && feed.queue.size() < kLongestQueue; ++i) {
    const uint32_t next = siblings[i];
    if (feed.progress[next] == kUntouched && IsSmallFile(feed, next)) feed.queue.push_back(next);
  }
  const bool enough = caughtUp || feed.queue.size() >= kWakeFor;
  if (feed.workerIdle && feed.queue.size() > before && enough) feed.queued.notify_one();
}

}  // namespace

void StartFeed(PageCacheFeed& feed, fuse_session* session, const MountTree& tree,
               ArchiveReader& reader) {
  feed.session = session;
  feed.tree = &tree;
  feed.reader = &reader;
  feed.progress.reset(new std::atomic<unsigned char>[tree.nodes.size()]());
  feed.worker = std::thread(Work, std::ref(feed));
}

void StopFeed(PageCacheFeed& feed) {
  {
    std::lock_guard<std::mutex> lock(feed.mutex);
    feed.stopping = true;
  }
  feed.queued.notify_one();
  if (feed.worker.joinable()) feed.worker.join();
}

void FeedOnOpen(PageCacheFeed& feed, uint32_t node) {
  const bool small = IsSmallFile(feed, node);
  // The worker starts on the next files while this one is read here.
  QueueNext(feed, node, small && feed.progress[node] != kDone);
  if (!small) return;
  if (Claim(feed, node)) return HandOverClaimed(feed, node);
  std::unique_lock<std::mutex> lock(feed.mutex);
  ++feed.waiting;
  feed.handedOver.wait(lock, [&] { return feed.progress[node] == kDone; });
  --feed.waiting;
}

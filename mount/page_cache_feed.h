// Small files handed to the kernel's page cache whole: a file read that way takes no
// round trip to this process, and for thousands of small files the round trips cost more
// than inflating them. A file is handed over when it is first opened; meanwhile a worker
// hands over the files after it in its folder, so that a reader going through a folder
// (cp -r, grep -r, find | xargs cat) finds each next file already inflated.
#pragma once

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "decode/entry_reader.h"
#include "mount/mount_tree.h"

// Files up to this size are handed over; larger ones are read on demand.
constexpr uint64_t kHandOverLimit = 1u << 20;

struct PageCacheFeed {
  fuse_session* session = nullptr;
  const MountTree* tree = nullptr;
  ArchiveReader* reader = nullptr;
  std::unique_ptr<std::atomic<unsigned char>[]> progress;  // per node: FeedProgress

  std::mutex mutex;                    // guards what follows
  std::condition_variable queued;      // the worker waits for files to hand over
  std::condition_variable handedOver;  // openers wait for a file the worker is at
  std::deque<uint32_t> queue;          // nodes the worker is to hand over, in order
  size_t waiting = 0;                  // openers waiting on handedOver
  bool workerIdle = false;
  bool stopping = false;
  std::thread worker;
};

// Starts the worker; call it in the process that serves the mount (after detaching).
void StartFeed(PageCacheFeed& feed, fuse_session* session, const MountTree& tree,
               ArchiveReader& reader);

// Ends the worker; files queued and not handed over yet are read on demand.
void StopFeed(PageCacheFeed& feed);

// For a file being opened: makes sure it was handed over when it is small (now, or by
// waiting for the worker already at it), and queues the next files of its folder.
void FeedOnOpen(PageCacheFeed& feed, uint32_t node);

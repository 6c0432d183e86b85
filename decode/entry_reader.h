// Reading the entries of a mounted archive at any offset, from many threads at once.
// Stored entries are read straight from the archive. Compressed ones are inflated on
// demand: a reader going on where the last read stopped continues the same decoder, and a
// read elsewhere resumes from the nearest kept resume point. Inflated blocks and resume
// points live in two caches of fixed size; no lock is held while reading or inflating.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "decode/entry_decode.h"
#include "decode/entry_decoder.h"
#include "decode/lru_cache.h"

struct ReaderLimits {
  size_t blockCacheBytes = 40u << 20;
  size_t pointCacheBytes = 24u << 20;
  size_t blockSize = 128u << 10;     // inflated bytes cached together
  uint64_t minPointSpan = 4u << 20;  // output between resume points
  uint64_t maxPointsPerEntry = 512;  // the span grows for larger entries
  size_t maxParkedDecoders = 16;     // decoders kept for readers that go on
};

enum class EntryCondition : unsigned char {
  Unknown,  // not inflated to its end yet
  Whole,    // inflated to its end: every byte is there and the stream checked out
  Damaged,  // only the first `salvaged` bytes can be had
};

struct EntryHealth {
  EntryCondition condition = EntryCondition::Unknown;
  uint64_t salvaged = 0;
};

struct ArchiveReader {
  OpenArchive* archive = nullptr;  // read from many threads at once
  ReaderLimits limits;
  // Told once about each entry found damaged, with the entry's index and what is wrong.
  std::function<void(size_t entry, const std::string& why)> reportDamage;

  std::mutex mutex;  // guards everything below; never held while reading or inflating
  LruCache<std::vector<unsigned char>> blocks;
  LruCache<ResumePoint> points;
  std::list<std::unique_ptr<EntryDecoder>> parked;  // most recently used first
  std::vector<EntryHealth> health;                  // one per entry
};

void StartReader(ArchiveReader& reader, OpenArchive& archive, const ReaderLimits& limits);

struct ReadResult {
  size_t length = 0;
  bool failed = false;  // nothing could be read where bytes should be: an I/O error
};

// Reads up to `count` bytes of entry `entry` from `offset`. A damaged entry gives the
// bytes extraction would salvage and then fails; past the end of an intact one it gives 0.
ReadResult ReadEntryAt(ArchiveReader& reader, size_t entry, uint64_t offset, unsigned char* buffer,
                       size_t count);

EntryCondition ConditionOf(ArchiveReader& reader, size_t entry);

// Reads a whole entry into `buffer`, which holds its shown size; true when every byte came
// and the entry is intact. Meant for small entries, whose condition is then known.
bool ReadWholeEntry(ArchiveReader& reader, size_t entry, unsigned char* buffer);

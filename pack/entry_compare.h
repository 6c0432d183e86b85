// Whether a file holds exactly what `wza extract` writes for an entry: the entry is
// inflated (salvage of a damaged one included) and its bytes compared with the file's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "extract/entry_extract.h"

enum class Sameness {
  Same,        // the file holds what extraction writes
  Differs,     // anything else, a file where extraction writes none included
  Unreadable,  // the file could not be read (reason in `error`)
};

struct Comparison {
  Sameness sameness = Sameness::Same;
  EntryResult decoded;  // how the entry itself read: damaged entries are named when kept
  std::string error;
};

struct ComparisonWork {
  size_t entry = 0;
  std::string path;  // the file to compare with
  uint64_t size = 0;  // its size when it was listed
};

// Threads comparing at most: each holds inflate blocks, and past this many they would take
// more memory than pack may (64 MiB) with no gain on any disk.
constexpr size_t kMaxCompareThreads = 8;

// Compares each entry of `work` with its file on `workers` threads (1: on this one; at most
// kMaxCompareThreads). The
// results come back by index of `work`. `progress` (optional) is called on this thread
// with the bytes of the archive read so far; `interrupted` (optional) stops the run, and
// false is returned.
bool CompareEntries(ArchiveCatalogue& catalogue, const std::vector<ComparisonWork>& work,
                    size_t workers, std::vector<Comparison>& results,
                    const std::function<void(uint64_t bytesRead)>& progress,
                    const std::function<bool()>& interrupted);

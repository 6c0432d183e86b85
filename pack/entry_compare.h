// Whether a file holds exactly what `wza extract` writes for an entry: the entry is
// inflated (salvage of a damaged one included) and its bytes compared with the file's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "extract/entry_file.h"
#include "pack/source_tree.h"

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

// An entry of OLD and the file of the folder that stands for it, to be compared.
struct EntryFilePair {
  size_t entry = 0;
  size_t file = 0;    // the SourceTree file to compare with
  uint64_t size = 0;  // its size when it was listed
};

// Threads comparing at most: each holds inflate blocks, and past this many they would take
// more memory with no gain on any disk.
constexpr size_t kMaxCompareThreads = 8;

// All optional; called on the thread that compares, but `interrupted`.
struct CompareCallbacks {
  std::function<void(uint64_t bytesRead)> progress;  // the bytes of the archive read so far
  std::function<void(size_t index, const Comparison& result)> compared;  // by index of the pairs
  std::function<bool()> interrupted;  // stops the run; any thread may call it
};

// Compares each entry of `pairs` with its file on `workers` threads (1: on this one; at most
// kMaxCompareThreads). The results come back by index of `pairs`. False when interrupted.
bool CompareEntries(OpenArchive& archive, const SourceTree& tree,
                    const std::vector<EntryFilePair>& pairs, size_t workers,
                    std::vector<Comparison>& results, const CompareCallbacks& callbacks);

// Which entries of a batch must wait for earlier ones, and where one folder's run of entries
// ends: worked out entry by entry in index order, as the entries are handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct EntryOrder {
  // By the hash of a path as the file system tells paths apart: the last entry (index + 1,
  // 0 for none) written there as a file, and the last one written below it as a folder.
  // Two paths of one hash only make an entry wait when it need not.
  struct Marks {
    size_t lastFile = 0;
    size_t lastBelow = 0;
  };
  std::unordered_map<uint64_t, Marks> marks;
  std::string path;                 // the entry's path made comparable, kept for its room
  std::string folder;               // the folder part of the last entry with a path
  uint64_t folderHash = 0;          // of `folder`, carried on over the file name
  std::vector<uint64_t> ancestors;  // hashes of `folder` and every folder above it
  size_t ancestorFile = 0;          // the last entry written as a file where one of them goes
  size_t lastInFolder = 0;          // the last entry in `folder`, not yet in `ancestors`' marks
  size_t forgetAbove = 1024;        // the size of `marks` at which done entries are let go
};

struct EntryPlace {
  size_t waitBelow = 0;    // may start once every entry below this one is done (0: at once)
  bool newFolder = false;  // in another folder than the last entry with a path
};

// Where entry `index` stands, given the path it is written to ("" for none). An entry whose
// path is an earlier one's, or a folder on the way to it, or the reverse, waits: one at a
// time, the later one would have won. Entries are given in index order.
EntryPlace PlaceEntry(EntryOrder& order, size_t index, const std::string& path);

// Lets go of what concerns only entries below `doneBelow`, all done, so that memory stays
// bounded by the entries under way.
void ForgetDoneEntries(EntryOrder& order, size_t doneBelow);

// The path as the file system tells paths apart below a folder: separators alike, doubled
// ones as one, those at the start none, and on Windows letters in either case alike.
std::string ComparablePath(const std::string& path);

// OLD's regions as packing --like sees them: where each table, name and entry's data
// lies, and ranges of bytes merged, cut and tested for overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/catalogue.h"

namespace like {

// What a range of OLD holds, for naming two that overlap.
enum class Holds { Nothing, Header, Toc, FolderTable, FileTable, FolderName, FileName, Data };

struct Range {
  uint64_t start = 0;
  uint64_t end = 0;
  Holds holds = Holds::Nothing;
  size_t index = 0;  // of the folder or entry
};

std::string Describe(const Range& range);

// OLD's numbers, as the loader found them.
struct OldShape {
  uint64_t length = 0;
  uint32_t base = 0;     // H
  uint64_t headerEnd = 0;  // header and data header
  uint64_t toc = 0, folders = 0, files = 0, names = 0, data = 0;
  uint64_t fileTableEnd = 0;  // files + count * R; the slack runs from here to `names`
  uint32_t recordSize = 0;
  size_t fileCount = 0, folderCount = 0;
};

OldShape ShapeOf(const ArchiveCatalogue& old);
// Where entry k's name starts; OLD's data start for k = the file count.
uint64_t FileNameAt(const OldShape& shape, const ArchiveCatalogue& old, size_t k);
uint64_t DataAt(const OldShape& shape, const FileEntry& entry);

// The tables and names, each with the byte its loader takes for a NUL.
std::vector<Range> StructuralRanges(const OldShape& shape, const ArchiveCatalogue& old);
// An entry's stored bytes as far as they lie in OLD; empty for none.
Range DataRange(const OldShape& shape, const FileEntry& entry, size_t k);
// The first pair of ranges that overlap, or "".
std::string Tangle(const std::vector<Range>& structural, const std::vector<Range>& data);
// Sorted, merged ranges.
std::vector<Range> Merged(std::vector<Range> ranges);
// The merged range strictly around `at`, or null.
const Range* Around(const std::vector<Range>& merged, uint64_t at);
// `drops` less every byte of `kept` (both merged).
std::vector<Range> Without(const std::vector<Range>& drops, const std::vector<Range>& kept);

// OLD's regions: tables and names, every entry's data, and the data kept entries still use.
struct Regions {
  std::vector<Range> structural;
  std::vector<Range> data;  // by entry
  std::vector<Range> keptData;  // merged
  uint64_t dataEnd = 0;         // after OLD's last entry data
  // The kept entry that starts first of those whose stored bytes begin in OLD and run past
  // its end (start == end for none): anything put in after its start fills its missing tail.
  Range keptPastEnd;
};

}  // namespace like

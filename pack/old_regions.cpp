#include "pack/old_regions.h"

#include <algorithm>
#include <iterator>

namespace like {

std::string Describe(const Range& range) {
  const std::string index = std::to_string(range.index);
  switch (range.holds) {
    case Holds::Header:
      return "the header";
    case Holds::Toc:
      return "the ToC";
    case Holds::FolderTable:
      return "the folder table";
    case Holds::FileTable:
      return "the file table";
    case Holds::FolderName:
      return "the name of folder " + index;
    case Holds::FileName:
      return "the name of entry " + index;
    case Holds::Data:
      return "the data of entry " + index;
    default:
      return "kept data";
  }
}

OldShape ShapeOf(const ArchiveCatalogue& old) {
  OldShape shape;
  shape.length = old.fileLength;
  shape.base = old.tableBase;
  shape.headerEnd = old.at.headerEnd;
  shape.toc = old.at.toc;
  shape.folders = old.at.folders;
  shape.files = old.at.files;
  shape.names = old.at.names;
  shape.data = old.at.data;
  shape.recordSize = old.recordSize;
  shape.fileCount = old.entries.size();
  shape.folderCount = old.folders.size();
  shape.fileTableEnd = old.at.fileTableEnd;
  return shape;
}

uint64_t FileNameAt(const OldShape& shape, const ArchiveCatalogue& old, size_t k) {
  return k < shape.fileCount ? old.fileNameSpans[k].start : shape.data;
}

uint64_t DataAt(const OldShape& shape, const FileEntry& entry) {
  return shape.data + entry.dataOffset;
}

// The tables and names, each with the byte its loader takes for a NUL.
std::vector<Range> StructuralRanges(const OldShape& shape, const ArchiveCatalogue& old) {
  std::vector<Range> ranges;
  ranges.push_back({0, shape.headerEnd, Holds::Header, 0});
  const DataHeader& tables = old.dataHeader;
  if (tables.tocCount > 0) {
    ranges.push_back(
        {shape.toc, shape.toc + uint64_t{tables.tocCount} * kTocEntryLength, Holds::Toc, 0});
  }
  if (shape.folderCount > 0) {
    ranges.push_back({shape.folders, shape.folders + shape.folderCount * kFolderEntryLength,
                      Holds::FolderTable, 0});
  }
  ranges.push_back({shape.files, shape.names, Holds::FileTable, 0});
  for (size_t i = 0; i < shape.folderCount; ++i) {
    const NameSpan& span = old.folderNameSpans[i];
    if (span.end > span.start) ranges.push_back({span.start, span.end, Holds::FolderName, i});
  }
  for (size_t k = 0; k < shape.fileCount; ++k) {
    const NameSpan& span = old.fileNameSpans[k];
    if (span.end > span.start) ranges.push_back({span.start, span.end, Holds::FileName, k});
  }
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.start < b.start; });
  return ranges;
}

// An entry's stored bytes as far as they lie in OLD; empty for none.
Range DataRange(const OldShape& shape, const FileEntry& entry, size_t k) {
  const uint64_t start = DataAt(shape, entry);
  if (entry.storedSize == 0 || start >= shape.length) return {start, start, Holds::Data, k};
  return {start, std::min(start + entry.storedSize, shape.length), Holds::Data, k};
}

// The first pair of ranges that overlap, or "".
std::string Tangle(const std::vector<Range>& structural, const std::vector<Range>& data) {
  // Sorted by start: a range overlaps an earlier one when it starts before the furthest end
  // so far.
  size_t furthest = 0;
  for (size_t i = 1; i < structural.size(); ++i) {
    if (structural[furthest].end > structural[i].start) {
      return Describe(structural[furthest]) + " and " + Describe(structural[i]);
    }
    if (structural[i].end > structural[furthest].end) furthest = i;
  }
  for (const Range& range : data) {
    if (range.start == range.end) continue;
    auto after = std::upper_bound(
        structural.begin(), structural.end(), range.start,
        [](uint64_t at, const Range& r) { return at < r.start; });
    if (after != structural.end() && after->start < range.end) {
      return Describe(range) + " and " + Describe(*after);
    }
    if (after != structural.begin() && std::prev(after)->end > range.start) {
      return Describe(range) + " and " + Describe(*std::prev(after));
    }
  }
  return "";
}

// Sorted, merged ranges.
std::vector<Range> Merged(std::vector<Range> ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.start < b.start; });
  std::vector<Range> merged;
  for (const Range& range : ranges) {
    if (range.start == range.end) continue;
    if (!merged.empty() && range.start <= merged.back().end) {
      merged.back().end = std::max(merged.back().end, range.end);
    } else {
      merged.push_back({range.start, range.end, Holds::Nothing, 0});
    }
  }
  return merged;
}

// The merged range strictly around `at`, or null.
const Range* Around(const std::vector<Range>& merged, uint64_t at) {
  auto after = std::upper_bound(merged.begin(), merged.end(), at,
                                [](uint64_t value, const Range& r) { return value < r.start; });
  if (after == merged.begin()) return nullptr;
  const Range& before = *std::prev(after);
  return before.start < at && at < before.end ? &before : nullptr;
}

// `drops` less every byte of `kept` (both merged).
std::vector<Range> Without(const std::vector<Range>& drops, const std::vector<Range>& kept) {
  std::vector<Range> left;
  size_t k = 0;
  for (Range drop : drops) {
    while (k < kept.size() && kept[k].end <= drop.start) ++k;
    for (size_t i = k; i < kept.size() && kept[i].start < drop.end; ++i) {
      if (kept[i].start > drop.start) left.push_back({drop.start, kept[i].start, Holds::Nothing, 0});
      drop.start = std::max(drop.start, kept[i].end);
    }
    if (drop.start < drop.end) left.push_back(drop);
  }
  return left;
}

}  // namespace like

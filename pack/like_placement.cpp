#include "pack/like_placement.h"

#include <algorithm>

#include "names/entry_pattern.h"

namespace like {

namespace {

// A cut archive's kept entry that runs past OLD's end would read whatever is put in after
// its start as its own: refused, naming the entry, rather than packed to read wrong bytes.
bool CheckPastEnd(const Builder& b, uint64_t at, const Range& pastEnd, const std::string& what,
                  std::string& problem) {
  if (pastEnd.start == pastEnd.end || at <= pastEnd.start) return true;
  problem = ShownName(b.old.alias + '\\' + b.old.entryNames[pastEnd.index]) +
            ": its stored bytes run past the end of the archive, where " + what +
            " would go and read as its own: leave it out with -x, or put its file back";
  return false;
}

bool CheckAnchor(const Builder& b, uint64_t at, const Regions& regions, const std::string& what,
                 std::string& problem) {
  const Range* inside = Around(regions.keptData, at);  // merged: describes as kept data
  for (const Range& range : regions.structural) {
    if (range.start < at && at < range.end && range.holds != Holds::FileTable) inside = &range;
  }
  if (at > b.shape.length) {
    problem = what + " would go past the end of the archive";
    return false;
  }
  if (inside == nullptr) return CheckPastEnd(b, at, regions.keptPastEnd, what, problem);
  problem = what + " would go inside " + Describe(*inside);
  return false;
}

}  // namespace

bool PlaceFolders(Builder& b, const Regions& regions, Marks& marks, std::string& problem) {
  const OldShape& shape = b.shape;
  const std::vector<std::string>& added = b.plan.newFolders;
  marks.folderName.assign(shape.folderCount + added.size(), kNoFile);
  if (shape.folderCount > 0) marks.folders = b.Mark(shape.folders, kStart);
  if (!added.empty()) {
    const uint64_t at = shape.folderCount > 0
                            ? shape.folders + shape.folderCount * kFolderEntryLength
                            : shape.files;
    const size_t mark =
        b.Insert(at, kFolderRecords, 0, std::string(added.size() * kFolderEntryLength, '\0'));
    if (shape.folderCount == 0) marks.folders = mark;
  }
  for (size_t i = 0; i < shape.folderCount; ++i) {
    marks.folderName[i] = b.Mark(shape.names + b.old.folders[i].nameOffset, kStart);
  }
  const uint64_t firstFileName = FileNameAt(shape, b.old, 0);
  for (size_t i = 0; i < added.size(); ++i) {
    if (!CheckAnchor(b, firstFileName, regions, "a new folder's name", problem)) {
      return false;
    }
    marks.folderName[shape.folderCount + i] =
        b.Insert(firstFileName, kFolderNames, i, added[i] + '\0');
  }
  return true;
}

bool PlaceAdded(Builder& b, const Regions& regions, size_t p, Marks& marks, std::string& problem) {
  const AddedFile& added = b.plan.added[b.records[p].index];
  const OldShape& shape = b.shape;
  b.Insert(shape.files + uint64_t{shape.recordSize} * added.anchor, kFileRecords, p,
           NewRecordBytes(b, added.anchor));
  const uint64_t nameAt = FileNameAt(shape, b.old, added.anchor);
  if (!CheckAnchor(b, nameAt, regions, SourcePath(b.tree, b.tree.files[added.source]) + "'s name",
                   problem) ||
      !CheckAnchor(b, regions.dataEnd, regions, "added data", problem)) {
    return false;
  }
  marks.fileName[p] = b.Insert(nameAt, kFileNames, p, added.name + '\0');
  marks.job[p] = b.InsertData(regions.dataEnd, p, {added.source, DataMode::Smaller});
  return true;
}

bool PlaceOld(Builder& b, const Regions& regions, size_t p, Marks& marks, std::string& problem) {
  const size_t k = b.records[p].index;
  const FileEntry& entry = b.old.entries[k];
  marks.fileName[p] = b.Mark(b.shape.names + entry.nameOffset, kStart);
  if (b.plan.fates[k] == Fate::Kept) {
    marks.fileData[p] = b.Mark(DataAt(b.shape, entry), kStart);
    return true;
  }
  const Range& old = regions.data[k];
  uint64_t at = old.start == old.end ? regions.dataEnd : old.start;
  if (const Range* kept = Around(regions.keptData, at)) at = kept->end;
  if (!CheckAnchor(b, at, regions, "the new data of entry " + std::to_string(k), problem)) {
    return false;
  }
  marks.job[p] = b.InsertData(
      at, p, {b.plan.sources[k], entry.flags != 0 ? DataMode::Deflate : DataMode::Store});
  return true;
}

Regions RegionsOf(const Builder& b) {
  Regions regions;
  regions.structural = StructuralRanges(b.shape, b.old);
  regions.dataEnd = b.shape.data;
  std::vector<Range> kept;
  for (size_t k = 0; k < b.shape.fileCount; ++k) {
    regions.data.push_back(DataRange(b.shape, b.old.entries[k], k));
    const Range& range = regions.data.back();
    if (b.plan.fates[k] == Fate::Kept) {
      kept.push_back(range);
      const bool pastEnd = range.start < range.end &&
                           range.start + b.old.entries[k].storedSize > b.shape.length;
      Range& first = regions.keptPastEnd;
      if (pastEnd && (first.start == first.end || range.start < first.start)) first = range;
    }
    if (range.start < range.end) regions.dataEnd = std::max(regions.dataEnd, range.end);
  }
  regions.keptData = Merged(std::move(kept));
  return regions;
}

}  // namespace like

#include "pack/like_layout.h"

#include <algorithm>
#include <iterator>
#include <memory>

#include "names/entry_pattern.h"
#include "platform/file_io.h"

namespace {

// ---- OLD's regions: the tables, the names and the entries' data as ranges of OLD.

// What a range of OLD holds, for naming two that overlap.
enum class Holds { Nothing, Header, Toc, FolderTable, FileTable, FolderName, FileName, Data };

struct Range {
  uint64_t start = 0;
  uint64_t end = 0;
  Holds holds = Holds::Nothing;
  size_t index = 0;  // of the folder or entry
};

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

// Where entry k's name starts, as the loader found it; OLD's data start for k = the file
// count, where a name added after the last entry's goes.
uint64_t NameStartOf(const ArchiveCatalogue& old, size_t k) {
  return k < old.entries.size() ? old.fileNameSpans[k].start : old.at.data;
}

// The tables and names, each with the byte its loader takes for a NUL; sorted by start.
std::vector<Range> StructuralRanges(const ArchiveCatalogue& old) {
  std::vector<Range> ranges;
  ranges.push_back({0, old.at.headerEnd, Holds::Header, 0});
  const DataHeader& tables = old.dataHeader;
  if (tables.tocCount > 0) {
    ranges.push_back(
        {old.at.toc, old.at.toc + uint64_t{tables.tocCount} * kTocEntryLength, Holds::Toc, 0});
  }
  if (!old.folders.empty()) {
    ranges.push_back({old.at.folders, old.at.folders + old.folders.size() * kFolderEntryLength,
                      Holds::FolderTable, 0});
  }
  ranges.push_back({old.at.files, old.at.names, Holds::FileTable, 0});
  for (size_t i = 0; i < old.folders.size(); ++i) {
    const NameSpan& span = old.folderNameSpans[i];
    if (span.end > span.start) ranges.push_back({span.start, span.end, Holds::FolderName, i});
  }
  for (size_t k = 0; k < old.entries.size(); ++k) {
    const NameSpan& span = old.fileNameSpans[k];
    if (span.end > span.start) ranges.push_back({span.start, span.end, Holds::FileName, k});
  }
  std::sort(ranges.begin(), ranges.end(),
            [](const Range& a, const Range& b) { return a.start < b.start; });
  return ranges;
}

Range DataRange(const ArchiveCatalogue& old, size_t k) {
  const DataSpan span = DataSpanInFile(old, old.entries[k]);
  return {span.start, span.end, Holds::Data, k};
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
    auto after = std::upper_bound(structural.begin(), structural.end(), range.start,
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
      if (kept[i].start > drop.start)
        left.push_back({drop.start, kept[i].start, Holds::Nothing, 0});
      drop.start = std::max(drop.start, kept[i].end);
    }
    if (drop.start < drop.end) left.push_back(drop);
  }
  return left;
}

// OLD's regions: tables and names, every entry's data, and the data kept entries still use.
struct Regions {
  std::vector<Range> structural;
  std::vector<Range> data;      // by entry
  std::vector<Range> keptData;  // merged
  uint64_t dataEnd = 0;         // after OLD's last entry data
  // The kept entry that starts first of those whose stored bytes begin in OLD and run past
  // its end (start == end for none): anything put in after its start fills its missing tail.
  Range keptPastEnd;
};

// ---- The layout in the making: events placed at positions of OLD (marks, new bytes, new
// data), which become the layout's pieces once OLD's kept bytes are put between them.

// Things at one position of OLD are written in this order; OLD's own byte there last.
enum Rank : int {
  kFolderRecords = 1,   // new folder records at the folder table's end
  kFileTableStart = 2,  // where the file table starts
  kFileRecords = 3,     // new file records
  kNameTableStart = 4,
  kFolderNames = 5,  // new folder names, before file record 0's name
  kFileNames = 6,    // a new file's name, before the next record's
  kDataOffset = 7,   // the header's data offset: after the names, before the data
  kData = 8,
  kStart = 9,  // where any other table, name or data starts
};

struct Event {
  uint64_t at = 0;
  int rank = 0;
  uint64_t order = 0;
  Piece piece;
};

// One record of the new file table: OLD's record `index`, or added file `index`.
struct NewRecord {
  bool added = false;
  size_t index = 0;
};

// The marks the tables are finished from: each an index into the positions the writer
// reports once it knows where each mark landed.
struct MarkIds {
  size_t data = 0, names = 0, files = 0, folders = kNoFile, toc = kNoFile;
  std::vector<size_t> folderName;  // by new folder
  std::vector<size_t> fileName;    // by new record
  std::vector<size_t> fileData;    // by new record: kept ones' data; kNoFile for jobs
  std::vector<size_t> job;         // by new record: the data job, or kNoFile
};

// What placing needs: OLD, the plan, and the events and records made so far.
struct Builder {
  ArchiveCatalogue& old;
  platform::File& oldFile;  // the one handle OLD is read through
  const PackPlan& plan;
  const SourceTree& tree;
  Layout& layout;
  std::vector<Event> events;
  std::vector<Range> drops;
  std::vector<NewRecord> records;
  std::vector<size_t> startOf;  // by OLD index 0..n: new position before the added at it
  std::vector<size_t> addedAt;  // by OLD index 0..n: files added before it
  std::vector<size_t> positionOfAdded;
  std::vector<size_t> positionOfOld;
};

size_t Mark(Builder& b, uint64_t at, int rank, uint64_t order = 0) {
  const size_t mark = b.layout.markCount++;
  Event event{at, rank, order, {}};
  event.piece.kind = PieceKind::Mark;
  event.piece.index = static_cast<uint32_t>(mark);
  b.events.push_back(event);
  return mark;
}

// Bytes put in at `at`, with a mark for where they land. All go into one string: one each
// for many small names and records would cost more than the bytes themselves.
size_t Insert(Builder& b, uint64_t at, int rank, uint64_t order, const std::string& bytes) {
  const size_t mark = Mark(b, at, rank, order);
  Event event{at, rank, order, {}};
  std::vector<std::string>& inserted = b.layout.bytes;
  if (inserted.empty()) inserted.emplace_back();
  event.piece.kind = PieceKind::Bytes;
  event.piece.index = 0;
  event.piece.from = inserted[0].size();
  event.piece.length = bytes.size();
  inserted[0] += bytes;
  b.events.push_back(event);
  return mark;
}

size_t InsertData(Builder& b, uint64_t at, uint64_t order, DataJob job) {
  Event event{at, kData, order, {}};
  event.piece.kind = PieceKind::Data;
  event.piece.index = static_cast<uint32_t>(b.layout.jobs.size());
  b.layout.jobs.push_back(job);
  b.events.push_back(event);
  return event.piece.index;
}

// OLD's record before `anchor` (its first for 0): the model a new record starts from. The
// bytes no field covers come from it: they look like their neighbours, whatever they mean.
std::string NewRecordBytes(const Builder& b, size_t anchor) {
  const size_t model = anchor > 0 ? anchor - 1 : 0;
  const uint64_t at = b.old.at.files + uint64_t{b.old.recordSize} * model;
  std::string bytes(b.old.recordSize, '\0');
  platform::ReadAt(b.oldFile, at, &bytes[0], bytes.size());
  return bytes;
}

// OLD's last folder record (zeros for none): the model a new folder record starts from.
std::string NewFolderBytes(const Builder& b) {
  std::string bytes(kFolderEntryLength, '\0');
  if (!b.old.folders.empty()) {
    const uint64_t at = b.old.at.folders + (b.old.folders.size() - 1) * kFolderEntryLength;
    platform::ReadAt(b.oldFile, at, &bytes[0], bytes.size());
  }
  return bytes;
}

// ---- The new file table's order, and each folder's range of files in it.

// OLD file index `v` (a folder's first or end) in the new table: before or after the files
// added at that place. Values past the table keep their distance from its end.
uint64_t IndexBefore(const Builder& b, uint64_t v) {
  const size_t n = b.old.entries.size();
  return v <= n ? b.startOf[v] : v - n + b.records.size();
}
uint64_t IndexAfter(const Builder& b, uint64_t v) {
  return v <= b.old.entries.size() ? b.startOf[v] + b.addedAt[v] : IndexBefore(b, v);
}

// OLD's kept records in their order, each added file before the record it is anchored to.
void OrderRecords(Builder& b) {
  const size_t n = b.old.entries.size();
  b.records.reserve(n + b.plan.added.size());
  b.startOf.assign(n + 1, 0);
  b.addedAt.assign(n + 1, 0);
  b.positionOfAdded.assign(b.plan.added.size(), 0);
  b.positionOfOld.assign(n, kNoFile);
  size_t added = 0;
  for (size_t k = 0; k <= n; ++k) {
    b.startOf[k] = b.records.size();
    while (added < b.plan.added.size() && b.plan.added[added].anchor == k) {
      b.positionOfAdded[added] = b.records.size();
      b.records.push_back({true, added++});
      ++b.addedAt[k];
    }
    if (k < n && b.plan.fates[k] != Fate::LeftOut) {
      b.positionOfOld[k] = b.records.size();
      b.records.push_back({false, k});
    }
  }
}

// Whether OLD folder `i` keeps any of its files.
bool KeepsFiles(const Builder& b, size_t i) {
  const uint64_t end = std::min<uint64_t>(b.old.folders[i].endFile, b.old.entries.size());
  for (uint64_t k = b.old.folders[i].firstFile; k < end; ++k) {
    if (b.plan.fates[k] != Fate::LeftOut) return true;
  }
  return false;
}

// Each folder's new range: its kept files and the files added to it, side by side.
bool FolderRanges(const Builder& b, std::vector<FolderEntry>& ranges, std::string& problem) {
  const size_t total = b.old.folders.size() + b.plan.newFolders.size();
  std::vector<size_t> firstAdded(total, kNoFile);
  std::vector<size_t> endAdded(total, 0);
  for (size_t a = 0; a < b.plan.added.size(); ++a) {
    const size_t folder = b.plan.added[a].folder;
    firstAdded[folder] = std::min(firstAdded[folder], b.positionOfAdded[a]);
    endAdded[folder] = std::max(endAdded[folder], b.positionOfAdded[a] + 1);
  }
  ranges.assign(total, FolderEntry());
  for (size_t i = 0; i < total; ++i) {
    const bool isOld = i < b.old.folders.size();
    const uint64_t oldFirst = isOld ? b.old.folders[i].firstFile : 0;
    const uint64_t oldEnd = isOld ? b.old.folders[i].endFile : 0;
    uint64_t first = 0;
    uint64_t end = 0;
    if (firstAdded[i] == kNoFile) {
      first = oldFirst < oldEnd ? IndexAfter(b, oldFirst) : IndexBefore(b, oldFirst);
      end = IndexBefore(b, oldEnd);
    } else {
      first = isOld && KeepsFiles(b, i) ? IndexAfter(b, oldFirst) : firstAdded[i];
      end = endAdded[i];
    }
    if (first > kMaxCount || end > kMaxCount) {
      problem = "folder " + std::to_string(i) + "'s range would pass 65,535 files";
      return false;
    }
    ranges[i].firstFile = static_cast<uint16_t>(first);
    ranges[i].endFile = static_cast<uint16_t>(end);
  }
  return true;
}

// How many of `folders` cover each of the first `count` records, running.
std::vector<int64_t> Coverage(const std::vector<FolderEntry>& folders, size_t count) {
  std::vector<int64_t> steps(count + 1, 0);
  for (const FolderEntry& folder : folders) {
    const size_t end = std::min<size_t>(folder.endFile, count);
    if (folder.firstFile >= end) continue;
    ++steps[folder.firstFile];
    --steps[end];
  }
  std::vector<int64_t> running(count);
  int64_t covering = 0;
  for (size_t k = 0; k < count; ++k) running[k] = covering += steps[k];
  return running;
}

// Each record is covered by as many folders as before, an added one by one: a file added
// where another folder's range runs would take that folder's name too.
bool CheckCoverage(const Builder& b, const std::vector<FolderEntry>& ranges, std::string& problem) {
  const std::vector<int64_t> oldCover = Coverage(b.old.folders, b.old.entries.size());
  const std::vector<int64_t> newCover = Coverage(ranges, b.records.size());
  for (size_t p = 0; p < b.records.size(); ++p) {
    const NewRecord& record = b.records[p];
    const int64_t wanted = record.added ? 1 : oldCover[record.index];
    if (newCover[p] != wanted) {
      const std::string name =
          record.added ? SourcePath(b.tree, b.tree.files[b.plan.added[record.index].source])
                       : "entry " + std::to_string(record.index);
      problem = name + " would fall into another folder's range of files";
      return false;
    }
  }
  return true;
}

// ---- Where the new pieces go: new folders, added files, replaced entries' data, and the
// marks kept things leave.

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
  if (at > b.old.fileLength) {
    problem = what + " would go past the end of the archive";
    return false;
  }
  if (inside == nullptr) return CheckPastEnd(b, at, regions.keptPastEnd, what, problem);
  problem = what + " would go inside " + Describe(*inside);
  return false;
}

Regions RegionsOf(const Builder& b) {
  Regions regions;
  regions.structural = StructuralRanges(b.old);
  regions.dataEnd = b.old.at.data;
  std::vector<Range> kept;
  for (size_t k = 0; k < b.old.entries.size(); ++k) {
    regions.data.push_back(DataRange(b.old, k));
    const Range& range = regions.data.back();
    if (b.plan.fates[k] == Fate::Kept) {
      kept.push_back(range);
      const bool pastEnd =
          range.start < range.end && range.start + b.old.entries[k].storedSize > b.old.fileLength;
      Range& first = regions.keptPastEnd;
      if (pastEnd && (first.start == first.end || range.start < first.start)) first = range;
    }
    if (range.start < range.end) regions.dataEnd = std::max(regions.dataEnd, range.end);
  }
  regions.keptData = Merged(std::move(kept));
  return regions;
}

// Folders: OLD's, then the new ones at the end of the table (a new table before the file
// table when OLD has none), their names before file record 0'state.
bool PlaceFolders(Builder& b, const Regions& regions, MarkIds& marks, std::string& problem) {
  const size_t oldCount = b.old.folders.size();
  const std::vector<std::string>& added = b.plan.newFolders;
  marks.folderName.assign(oldCount + added.size(), kNoFile);
  if (oldCount > 0) marks.folders = Mark(b, b.old.at.folders, kStart);
  if (!added.empty()) {
    const uint64_t at =
        oldCount > 0 ? b.old.at.folders + oldCount * kFolderEntryLength : b.old.at.files;
    const size_t mark =
        Insert(b, at, kFolderRecords, 0, std::string(added.size() * kFolderEntryLength, '\0'));
    if (oldCount == 0) marks.folders = mark;
  }
  for (size_t i = 0; i < oldCount; ++i) {
    marks.folderName[i] = Mark(b, b.old.at.names + b.old.folders[i].nameOffset, kStart);
  }
  const uint64_t firstFileName = NameStartOf(b.old, 0);
  for (size_t i = 0; i < added.size(); ++i) {
    if (!CheckAnchor(b, firstFileName, regions, "a new folder's name", problem)) {
      return false;
    }
    marks.folderName[oldCount + i] = Insert(b, firstFileName, kFolderNames, i, added[i] + '\0');
  }
  return true;
}

// Added file at new record `p`: its record, name and data.
bool PlaceAdded(Builder& b, const Regions& regions, size_t p, MarkIds& marks,
                std::string& problem) {
  const AddedFile& added = b.plan.added[b.records[p].index];
  Insert(b, b.old.at.files + uint64_t{b.old.recordSize} * added.anchor, kFileRecords, p,
         NewRecordBytes(b, added.anchor));
  const uint64_t nameAt = NameStartOf(b.old, added.anchor);
  if (!CheckAnchor(b, nameAt, regions, SourcePath(b.tree, b.tree.files[added.source]) + "'s name",
                   problem) ||
      !CheckAnchor(b, regions.dataEnd, regions, "added data", problem)) {
    return false;
  }
  marks.fileName[p] = Insert(b, nameAt, kFileNames, p, added.name + '\0');
  marks.job[p] = InsertData(b, regions.dataEnd, p, {added.source, DataMode::Smaller});
  return true;
}

// A kept record's name and data are marked; a replaced one's new bytes go where the old
// ones began, after kept data still there.
bool PlaceOld(Builder& b, const Regions& regions, size_t p, MarkIds& marks, std::string& problem) {
  const size_t k = b.records[p].index;
  const FileEntry& entry = b.old.entries[k];
  marks.fileName[p] = Mark(b, b.old.at.names + entry.nameOffset, kStart);
  if (b.plan.fates[k] == Fate::Kept) {
    marks.fileData[p] = Mark(b, EntryDataStart(b.old, entry), kStart);
    return true;
  }
  const Range& old = regions.data[k];
  uint64_t at = old.start == old.end ? regions.dataEnd : old.start;
  if (const Range* kept = Around(regions.keptData, at)) at = kept->end;
  if (!CheckAnchor(b, at, regions, "the new data of entry " + std::to_string(k), problem)) {
    return false;
  }
  marks.job[p] = InsertData(
      b, at, p, {b.plan.sources[k], entry.flags != 0 ? DataMode::Deflate : DataMode::Store});
  return true;
}

// Every record of the new table, in its order.
bool PlaceRecords(Builder& b, const Regions& regions, MarkIds& marks, std::string& problem) {
  const size_t count = b.records.size();
  marks.fileName.assign(count, kNoFile);
  marks.fileData.assign(count, kNoFile);
  marks.job.assign(count, kNoFile);
  for (size_t p = 0; p < count; ++p) {
    const bool placed = b.records[p].added ? PlaceAdded(b, regions, p, marks, problem)
                                           : PlaceOld(b, regions, p, marks, problem);
    if (!placed) return false;
  }
  return true;
}

// ---- OLD's bytes as pieces: copied from start to end, less the ranges the change drops,
// with the placed events put in between.

// What OLD loses: left-out records and names, the stored bytes of replaced and left-out
// entries that no kept entry uses, and slack the fewer records cannot keep.
std::vector<Range> Drops(const Builder& b, const std::vector<Range>& data,
                         const std::vector<Range>& keptData) {
  const TablePositions& at = b.old.at;
  std::vector<Range> drops;
  std::vector<Range> dataDrops;
  for (size_t k = 0; k < b.old.entries.size(); ++k) {
    if (b.plan.fates[k] == Fate::Kept) continue;
    dataDrops.push_back(data[k]);
    if (b.plan.fates[k] != Fate::LeftOut) continue;
    const uint64_t record = at.files + uint64_t{b.old.recordSize} * k;
    drops.push_back({record, record + b.old.recordSize, Holds::Nothing, 0});
    const uint64_t name = NameStartOf(b.old, k);
    const uint64_t next = NameStartOf(b.old, k + 1);
    if (next > name) drops.push_back({name, next, Holds::Nothing, 0});
  }
  for (const Range& range : Without(Merged(dataDrops), keptData)) drops.push_back(range);
  // The loader shares the room up to the name table out over the records: fewer than one
  // byte per record may be left over.
  const uint64_t slack = at.names - at.fileTableEnd;
  const uint64_t keep = std::min<uint64_t>(slack, b.records.empty() ? 0 : b.records.size() - 1);
  if (keep < slack) drops.push_back({at.fileTableEnd + keep, at.names, Holds::Nothing, 0});
  return Merged(drops);
}

// OLD's bytes [from, to) less the drops, as pieces.
void CopyOld(Builder& b, uint64_t from, uint64_t to, size_t& nextDrop) {
  const std::vector<Range>& drops = b.drops;
  while (from < to) {
    while (nextDrop < drops.size() && drops[nextDrop].end <= from) ++nextDrop;
    uint64_t until = to;
    if (nextDrop < drops.size() && drops[nextDrop].start <= from) {
      from = std::min(to, drops[nextDrop].end);
      continue;
    }
    if (nextDrop < drops.size()) until = std::min(to, drops[nextDrop].start);
    Piece piece;
    piece.kind = PieceKind::Old;
    piece.from = from;
    piece.length = until - from;
    b.layout.pieces.push_back(piece);
    from = until;
  }
}

// The layout's pieces from the events and b.drops; the events are let go.
void BuildPieces(Builder& b) {
  std::stable_sort(b.events.begin(), b.events.end(), [](const Event& x, const Event& y) {
    if (x.at != y.at) return x.at < y.at;
    if (x.rank != y.rank) return x.rank < y.rank;
    return x.order < y.order;
  });
  const uint64_t length = b.old.fileLength;
  uint64_t cursor = 0;
  size_t nextDrop = 0;
  // OLD's bytes between two places where events are: at most one piece each, and one more
  // for each drop that splits them. Reserved as counted, not guessed twice over: with many
  // entries the pieces are among the largest things held.
  size_t places = 0;
  for (size_t e = 0; e < b.events.size(); ++e) {
    places += e == 0 || b.events[e].at != b.events[e - 1].at;
  }
  b.layout.pieces.reserve(b.events.size() + places + b.drops.size() + 1);
  for (const Event& event : b.events) {
    if (event.at > cursor) {
      CopyOld(b, cursor, std::min(event.at, length), nextDrop);
      cursor = event.at;
    }
    Piece piece = event.piece;
    // A position past OLD's end keeps its distance from the end.
    if (piece.kind == PieceKind::Mark) piece.from = event.at > length ? event.at - length : 0;
    b.layout.pieces.push_back(piece);
  }
  if (cursor < length) CopyOld(b, cursor, length, nextDrop);
  b.events = std::vector<Event>();
}

// ---- The tables, written once every position is known: OLD's header and records with only
// the positions, sizes and counts the change forces.

std::string ReadOld(platform::File& old, uint64_t at, uint64_t length) {
  std::string bytes(static_cast<size_t>(length), '\0');
  if (length > 0) platform::ReadAt(old, at, &bytes[0], bytes.size());
  return bytes;
}

// `value` - `base` as a 32-bit field; false when it is negative or too large.
bool Relative(uint64_t value, uint64_t base, uint32_t& field) {
  if (value < base || value - base > UINT32_MAX) return false;
  field = static_cast<uint32_t>(value - base);
  return true;
}

unsigned char* At(std::string& bytes, size_t offset) {
  return reinterpret_cast<unsigned char*>(&bytes[offset]);
}

// Everything the tables need once the positions are known: OLD's catalogue is not kept.
struct TableState {
  uint32_t tableBase = 0;
  uint32_t recordSize = 0;
  ArchiveHeader header;
  DataHeader tables;
  std::string headerBytes;  // header and data header
  std::string folderTable;  // OLD's records, then models for new ones
  std::string fileTable;    // the new table's records, OLD's bytes where they come from OLD
  std::vector<FolderEntry> ranges;
  std::vector<FileEntry> oldEntries;
  std::vector<std::string> folderNames;  // new table's, as the loader cuts them
  std::vector<NewRecord> records;
  std::vector<size_t> entryNameHashes;  // by new record
  uint32_t newFlags = 1;
  MarkIds ids;
};

// The new file table as OLD's bytes and models, and each record's full name's hash.
void NewFileTable(const Builder& b, TableState& state) {
  const ArchiveCatalogue& old = b.old;
  const uint32_t recordSize = old.recordSize;
  const std::string oldFiles = ReadOld(b.oldFile, old.at.files, old.at.fileTableEnd - old.at.files);
  for (const NewRecord& record : b.records) {
    if (record.added) {
      const AddedFile& added = b.plan.added[record.index];
      state.fileTable += NewRecordBytes(b, added.anchor);
      state.entryNameHashes.push_back(
          NameHash((added.folder < old.folders.size()
                        ? old.folderNames[added.folder]
                        : b.plan.newFolders[added.folder - old.folders.size()] + '\\') +
                   added.name));
    } else {
      state.fileTable += oldFiles.substr(record.index * recordSize, recordSize);
      state.entryNameHashes.push_back(NameHash(old.entryNames[record.index]));
    }
  }
}

// What the tables are finished from, taken from OLD and the plan once laid out.
std::shared_ptr<const TableState> StateOf(const Builder& b, std::vector<FolderEntry> ranges,
                                          MarkIds ids) {
  auto state = std::make_shared<TableState>();
  const ArchiveCatalogue& old = b.old;
  state->tableBase = old.tableBase;
  state->recordSize = old.recordSize;
  state->header = old.header;
  state->tables = old.dataHeader;
  state->headerBytes = ReadOld(b.oldFile, 0, old.at.headerEnd);
  state->folderTable = ReadOld(b.oldFile, old.at.folders, old.folders.size() * kFolderEntryLength);
  for (size_t i = 0; i < b.plan.newFolders.size(); ++i) state->folderTable += NewFolderBytes(b);
  NewFileTable(b, *state);
  for (const std::string& name : old.folderNames) {
    state->folderNames.push_back(name.substr(0, name.size() - 1));
  }
  for (const std::string& name : b.plan.newFolders) state->folderNames.push_back(name);
  state->ranges = std::move(ranges);
  state->oldEntries = old.entries;
  state->records = b.records;
  state->newFlags = b.plan.newFlags;
  state->ids = std::move(ids);
  return state;
}

// The header and the data header: the tables' positions and counts.
bool FinishHeader(const TableState& state, const std::vector<uint64_t>& landed,
                  std::vector<Patch>& patches, std::string& problem) {
  const uint64_t base = state.tableBase;
  const uint64_t dataOffset = landed[state.ids.data];
  ArchiveHeader header = state.header;
  DataHeader tables = state.tables;
  bool fits = dataOffset <= UINT32_MAX &&
              Relative(landed[state.ids.names], base, tables.nameOffset) &&
              Relative(landed[state.ids.files], base, tables.fileOffset);
  header.dataOffset = static_cast<uint32_t>(dataOffset);
  if (state.ids.toc != kNoFile) {
    fits = fits && Relative(landed[state.ids.toc], base, tables.tocOffset);
  }
  if (state.ids.folders != kNoFile) {
    fits = fits && Relative(landed[state.ids.folders], base, tables.folderOffset);
  }
  if (!fits) {
    problem = TooLarge("a table's position");
    return false;
  }
  // A name count that was not the true one is kept as it was.
  const size_t names = state.tables.folderCount + state.tables.fileCount;
  const size_t newNames = state.ranges.size() + state.records.size();
  if (state.tables.nameCount == names) {
    if (newNames > kMaxCount) {
      problem = "the archive would hold " + std::to_string(newNames) + " names; it can hold 65,535";
      return false;
    }
    tables.nameCount = static_cast<uint16_t>(newNames);
  }
  tables.folderCount = static_cast<uint16_t>(state.ranges.size());
  tables.fileCount = static_cast<uint16_t>(state.records.size());
  std::string head = state.headerBytes;
  EncodeArchiveHeader(At(head, 0), header);
  EncodeDataHeader(At(head, HeaderLengthFor(header.version)), tables);
  patches.push_back({0, head});
  return true;
}

bool FinishFolders(const TableState& state, const std::vector<uint64_t>& landed,
                   std::vector<FolderEntry>& folders, std::vector<Patch>& patches,
                   std::string& problem) {
  std::string image = state.folderTable;
  folders = state.ranges;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (!Relative(landed[state.ids.folderName[i]], landed[state.ids.names],
                  folders[i].nameOffset)) {
      problem = TooLarge("a folder's name offset");
      return false;
    }
    EncodeFolderEntry(At(image, i * kFolderEntryLength), folders[i]);
  }
  if (!image.empty()) patches.push_back({landed[state.ids.folders], image});
  return true;
}

// Record `p`'s positions and sizes; false when one does not fit its field.
bool FinishRecord(const TableState& state, const std::vector<uint64_t>& landed,
                  const std::vector<DataResult>& data, size_t p, FileEntry& entry) {
  const NewRecord& record = state.records[p];
  const uint64_t dataOffset = landed[state.ids.data];
  if (!record.added) entry = state.oldEntries[record.index];
  bool fits = Relative(landed[state.ids.fileName[p]], landed[state.ids.names], entry.nameOffset);
  const size_t job = state.ids.job[p];
  if (job == kNoFile) {
    return fits && Relative(landed[state.ids.fileData[p]], dataOffset, entry.dataOffset);
  }
  const DataResult& result = data[job];
  fits = fits && Relative(result.offset, dataOffset, entry.dataOffset) &&
         result.storedSize <= UINT32_MAX && result.size <= UINT32_MAX;
  entry.storedSize = static_cast<uint32_t>(result.storedSize);
  entry.size = static_cast<uint32_t>(result.size);
  if (record.added) entry.flags = result.compressed ? state.newFlags : 0;
  return fits;
}

bool FinishFiles(const TableState& state, const std::vector<uint64_t>& landed,
                 const std::vector<DataResult>& data, std::vector<FileEntry>& entries,
                 std::vector<Patch>& patches, std::string& problem) {
  std::string image = state.fileTable;
  entries.assign(state.records.size(), FileEntry());
  for (size_t p = 0; p < state.records.size(); ++p) {
    if (!FinishRecord(state, landed, data, p, entries[p])) {
      problem = TooLarge("an entry's position or size");
      return false;
    }
    EncodeFileEntry(At(image, p * state.recordSize), state.recordSize, entries[p]);
  }
  patches.push_back({landed[state.ids.files], image});
  return true;
}

// The tables, once the writer knows where each mark landed.
bool FinishLike(const TableState& state, const std::vector<uint64_t>& landed,
                const std::vector<DataResult>& data, std::vector<Patch>& patches,
                ExpectedTables& expected, std::string& problem) {
  if (!FinishHeader(state, landed, patches, problem) ||
      !FinishFolders(state, landed, expected.folders, patches, problem) ||
      !FinishFiles(state, landed, data, expected.entries, patches, problem)) {
    return false;
  }
  expected.version = state.header.version;
  expected.recordSize = state.recordSize;
  expected.folderNames = state.folderNames;
  expected.entryNameHashes = state.entryNameHashes;
  return true;
}

FinishTables Finisher(const Builder& b, std::vector<FolderEntry> ranges, MarkIds ids) {
  const std::shared_ptr<const TableState> state = StateOf(b, std::move(ranges), std::move(ids));
  return [state](const std::vector<uint64_t>& landed, const std::vector<DataResult>& data,
                 std::vector<Patch>& patches, ExpectedTables& expected, std::string& problem) {
    return FinishLike(*state, landed, data, patches, expected, problem);
  };
}

// ---- The whole layout.

// Room for what is put in, as counted: the events each record makes at most (an added
// file five, OLD's two) and the tables' own; the bytes of new records, names and folders.
void Reserve(Builder& b) {
  const PackPlan& plan = b.plan;
  b.events.reserve(8 + b.old.folders.size() + 2 * plan.newFolders.size() + 2 * b.records.size() +
                   3 * plan.added.size());
  size_t bytes = plan.newFolders.size() * kFolderEntryLength;
  for (const std::string& name : plan.newFolders) bytes += name.size() + 1;
  for (const AddedFile& added : plan.added) bytes += added.name.size() + 1 + b.old.recordSize;
  b.layout.bytes.emplace_back().reserve(bytes);
}

// The new table's order and folder ranges; false when the change cannot be placed.
bool Arrange(Builder& b, const Regions& regions, std::vector<FolderEntry>& ranges,
             std::string& problem) {
  if (b.plan.Changes()) {
    const std::string tangle = Tangle(regions.structural, regions.data);
    if (!tangle.empty()) {
      problem =
          "in this archive " + tangle + " overlap: it can be packed --like itself only unchanged";
      return false;
    }
  }
  OrderRecords(b);
  if (!FolderRanges(b, ranges, problem)) return false;
  return !b.plan.Changes() || CheckCoverage(b, ranges, problem);
}

}  // namespace

bool LayoutLike(OpenArchive& archive, const PackPlan& plan, const SourceTree& tree, Layout& layout,
                std::string& problem) {
  layout = Layout();
  ArchiveCatalogue& old = archive.catalogue;
  Builder b{old, *archive.file, plan, tree, layout, {}, {}, {}, {}, {}, {}, {}};
  const Regions regions = RegionsOf(b);
  std::vector<FolderEntry> ranges;
  if (!Arrange(b, regions, ranges, problem)) return false;

  Reserve(b);
  MarkIds marks;
  marks.data = Mark(b, old.at.data, kDataOffset);
  marks.names = Mark(b, old.at.names, kNameTableStart);
  marks.files = Mark(b, old.at.files, kFileTableStart);
  if (old.dataHeader.tocCount > 0) marks.toc = Mark(b, old.at.toc, kStart);
  if (!PlaceFolders(b, regions, marks, problem) || !PlaceRecords(b, regions, marks, problem)) {
    return false;
  }
  b.drops = Drops(b, regions.data, regions.keptData);
  layout.finish = Finisher(b, std::move(ranges), std::move(marks));
  // The tables to check keep the names' hashes: OLD's names are let go before the pieces
  // are made, not held beside the new archive's when it is read back.
  old.entryNames = std::vector<std::string>();
  old.fileNames = std::vector<std::string>();
  BuildPieces(b);
  return true;
}

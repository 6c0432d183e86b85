#include "pack/like_layout.h"

#include <algorithm>
#include <map>
#include <memory>

#include "platform/file_io.h"

namespace {

// Things at one position of OLD are written in this order; OLD's own byte there last.
enum Rank : int {
  kFolderRecords = 1,   // new folder records at the folder table's end
  kFileTableStart = 2,  // where the file table starts
  kFileRecords = 3,     // new file records
  kNameTableStart = 4,
  kFolderNames = 5,     // new folder names, before file record 0's name
  kFileNames = 6,       // a new file's name, before the next record's
  kDataOffset = 7,      // the header's data offset: after the names, before the data
  kData = 8,
  kStart = 9,           // where any other table, name or data starts
};

struct Event {
  uint64_t at = 0;
  int rank = 0;
  uint64_t order = 0;
  Piece piece;
};

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

// OLD's numbers, as the loader takes them.
struct OldShape {
  uint64_t length = 0;
  uint32_t base = 0;     // H
  uint64_t headerEnd = 0;  // header and data header
  uint64_t toc = 0, folders = 0, files = 0, names = 0, data = 0;
  uint64_t fileTableEnd = 0;  // files + count * R; the slack runs from here to `names`
  uint32_t recordSize = 0;
  size_t fileCount = 0, folderCount = 0;
};

OldShape ShapeOf(const ArchiveCatalogue& old) {
  OldShape shape;
  shape.length = old.fileLength;
  shape.base = old.tableBase;
  shape.headerEnd = HeaderLengthFor(old.header.version) + kDataHeaderLength;
  const DataHeader& tables = old.dataHeader;
  shape.toc = uint64_t{shape.base} + tables.tocOffset;
  shape.folders = uint64_t{shape.base} + tables.folderOffset;
  shape.files = uint64_t{shape.base} + tables.fileOffset;
  shape.names = uint64_t{shape.base} + tables.nameOffset;
  shape.data = old.header.dataOffset;
  shape.recordSize = old.recordSize;
  shape.fileCount = old.entries.size();
  shape.folderCount = old.folders.size();
  shape.fileTableEnd = shape.files + uint64_t{shape.recordSize} * shape.fileCount;
  return shape;
}

uint64_t FileNameAt(const OldShape& shape, const ArchiveCatalogue& old, size_t k) {
  return k < shape.fileCount ? shape.names + old.entries[k].nameOffset : shape.data;
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
    const uint64_t self = shape.names + old.folders[i].nameOffset;
    const uint64_t next = shape.names + (i + 1 < shape.folderCount ? old.folders[i + 1].nameOffset
                                                                     : old.entries[0].nameOffset);
    if (next > self) ranges.push_back({self, next, Holds::FolderName, i});
  }
  for (size_t k = 0; k < shape.fileCount; ++k) {
    const uint64_t self = FileNameAt(shape, old, k);
    const uint64_t next = FileNameAt(shape, old, k + 1);
    if (next > self) ranges.push_back({self, next, Holds::FileName, k});
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

// One record of the new file table: OLD's record `index`, or added file `index`.
struct NewRecord {
  bool added = false;
  size_t index = 0;
};

struct Builder {
  ArchiveCatalogue& old;
  const PackPlan& plan;
  const SourceTree& tree;
  Layout& layout;
  OldShape shape;
  std::vector<Event> events;
  std::vector<Range> drops;
  std::vector<NewRecord> records;
  std::vector<size_t> startOf;  // by OLD index 0..n: new position before the added at it
  std::vector<size_t> addedAt;  // by OLD index 0..n: files added before it
  std::vector<size_t> positionOfAdded;
  std::vector<size_t> positionOfOld;

  size_t Mark(uint64_t at, int rank, uint64_t order = 0) {
    const size_t mark = layout.markCount++;
    Event event{at, rank, order, {}};
    event.piece.kind = PieceKind::Mark;
    event.piece.index = mark;
    events.push_back(event);
    return mark;
  }
  // Bytes put in at `at`, with a mark for where they land.
  size_t Insert(uint64_t at, int rank, uint64_t order, std::string bytes) {
    const size_t mark = Mark(at, rank, order);
    Event event{at, rank, order, {}};
    event.piece.kind = PieceKind::Bytes;
    event.piece.length = bytes.size();
    event.piece.index = layout.bytes.size();
    layout.bytes.push_back(std::move(bytes));
    events.push_back(event);
    return mark;
  }
  size_t InsertData(uint64_t at, uint64_t order, DataJob job) {
    Event event{at, kData, order, {}};
    event.piece.kind = PieceKind::Data;
    event.piece.index = layout.jobs.size();
    layout.jobs.push_back(job);
    events.push_back(event);
    return event.piece.index;
  }
};

void OrderRecords(Builder& b) {
  const size_t n = b.shape.fileCount;
  b.records.reserve(n + b.plan.added.size());
  b.startOf.assign(n + 1, 0);
  b.addedAt.assign(n + 1, 0);
  b.positionOfAdded.assign(b.plan.added.size(), 0);
  b.positionOfOld.assign(n, kNoFile);
  size_t a = 0;
  for (size_t k = 0; k <= n; ++k) {
    b.startOf[k] = b.records.size();
    while (a < b.plan.added.size() && b.plan.added[a].anchor == k) {
      b.positionOfAdded[a] = b.records.size();
      b.records.push_back({true, a++});
      ++b.addedAt[k];
    }
    if (k < n && b.plan.fates[k] != Fate::LeftOut) {
      b.positionOfOld[k] = b.records.size();
      b.records.push_back({false, k});
    }
  }
}

// OLD file index `v` (a folder's first or end) in the new table: before or after the files
// added at that place. Values past the table keep their distance from its end.
uint64_t IndexBefore(const Builder& b, uint64_t v) {
  const size_t n = b.shape.fileCount;
  return v <= n ? b.startOf[v] : v - n + b.records.size();
}
uint64_t IndexAfter(const Builder& b, uint64_t v) {
  return v <= b.shape.fileCount ? b.startOf[v] + b.addedAt[v] : IndexBefore(b, v);
}

// Each folder's new range: its kept files and the files added to it, side by side.
bool FolderRanges(const Builder& b, std::vector<FolderEntry>& ranges, std::string& problem) {
  const size_t n = b.shape.fileCount;
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
    uint64_t first = 0;
    uint64_t end = 0;
    const bool isOld = i < b.old.folders.size();
    const uint64_t oldFirst = isOld ? b.old.folders[i].firstFile : 0;
    const uint64_t oldEnd = isOld ? b.old.folders[i].endFile : 0;
    bool keptFiles = false;
    for (uint64_t k = oldFirst; isOld && k < std::min<uint64_t>(oldEnd, n) && !keptFiles; ++k) {
      keptFiles = b.plan.fates[k] != Fate::LeftOut;
    }
    if (firstAdded[i] == kNoFile) {
      first = oldFirst < oldEnd ? IndexAfter(b, oldFirst) : IndexBefore(b, oldFirst);
      end = IndexBefore(b, oldEnd);
    } else {
      first = keptFiles ? IndexAfter(b, oldFirst) : firstAdded[i];
      end = endAdded[i];
    }
    if (first > 65535 || end > 65535) {
      problem = "folder " + std::to_string(i) + "'s range would pass 65,535 files";
      return false;
    }
    ranges[i].firstFile = static_cast<uint16_t>(first);
    ranges[i].endFile = static_cast<uint16_t>(end);
  }
  return true;
}

// How many folders cover each record, old and new: a file added where another folder's
// range runs would take that folder's name too.
bool CheckCoverage(const Builder& b, const std::vector<FolderEntry>& ranges, std::string& problem) {
  const size_t n = b.shape.fileCount;
  std::vector<int64_t> oldCover(n + 1, 0);
  for (const FolderEntry& folder : b.old.folders) {
    const size_t end = std::min<size_t>(folder.endFile, n);
    if (folder.firstFile >= end) continue;
    ++oldCover[folder.firstFile];
    --oldCover[end];
  }
  const size_t count = b.records.size();
  std::vector<int64_t> newCover(count + 1, 0);
  for (const FolderEntry& folder : ranges) {
    const size_t end = std::min<size_t>(folder.endFile, count);
    if (folder.firstFile >= end) continue;
    ++newCover[folder.firstFile];
    --newCover[end];
  }
  std::vector<int64_t> oldRunning(n);
  int64_t running = 0;
  for (size_t k = 0; k < n; ++k) oldRunning[k] = running += oldCover[k];
  running = 0;
  for (size_t p = 0; p < count; ++p) {
    running += newCover[p];
    const NewRecord& record = b.records[p];
    const int64_t wanted = record.added ? 1 : oldRunning[record.index];
    if (running != wanted) {
      const std::string name =
          record.added ? b.tree.files[b.plan.added[record.index].source].path
                       : "entry " + std::to_string(record.index);
      problem = name + " would fall into another folder's range of files";
      return false;
    }
  }
  return true;
}

std::string NewRecordBytes(const Builder& b, size_t anchor) {
  // The bytes no field covers come from OLD's record before it: they look like their
  // neighbours, whatever they mean.
  const size_t model = anchor > 0 ? anchor - 1 : 0;
  const uint64_t at = b.shape.files + uint64_t{b.shape.recordSize} * model;
  std::string bytes(b.shape.recordSize, '\0');
  platform::ReadAt(*b.old.file, at, &bytes[0], bytes.size());
  return bytes;
}

std::string NewFolderBytes(const Builder& b) {
  std::string bytes(kFolderEntryLength, '\0');
  if (b.shape.folderCount > 0) {
    const uint64_t at = b.shape.folders + (b.shape.folderCount - 1) * kFolderEntryLength;
    platform::ReadAt(*b.old.file, at, &bytes[0], bytes.size());
  }
  return bytes;
}

struct Marks {
  size_t data = 0, names = 0, files = 0, folders = kNoFile, toc = kNoFile;
  std::vector<size_t> folderName;  // by new folder
  std::vector<size_t> fileName;    // by new record
  std::vector<size_t> fileData;    // by new record: kept ones' data; kNoFile for jobs
  std::vector<size_t> job;         // by new record: the data job, or kNoFile
};

bool CheckAnchor(const Builder& b, uint64_t at, const std::vector<Range>& structural,
                 const std::vector<Range>& keptData, const std::string& what,
                 std::string& problem) {
  const Range* inside = Around(keptData, at);  // merged: describes as kept data
  for (const Range& range : structural) {
    if (range.start < at && at < range.end && range.holds != Holds::FileTable) inside = &range;
  }
  if (at > b.shape.length) {
    problem = what + " would go past the end of the archive";
    return false;
  }
  if (inside == nullptr) return true;
  problem = what + " would go inside " + Describe(*inside);
  return false;
}

// What OLD loses: left-out records and names, the stored bytes of replaced and left-out
// entries that no kept entry uses, and slack the fewer records cannot keep.
std::vector<Range> Drops(const Builder& b, const std::vector<Range>& data,
                         const std::vector<Range>& keptData) {
  const OldShape& shape = b.shape;
  std::vector<Range> drops;
  std::vector<Range> dataDrops;
  for (size_t k = 0; k < shape.fileCount; ++k) {
    if (b.plan.fates[k] == Fate::Kept) continue;
    dataDrops.push_back(data[k]);
    if (b.plan.fates[k] != Fate::LeftOut) continue;
    const uint64_t record = shape.files + uint64_t{shape.recordSize} * k;
    drops.push_back({record, record + shape.recordSize, Holds::Nothing, 0});
    const uint64_t name = FileNameAt(shape, b.old, k);
    const uint64_t next = FileNameAt(shape, b.old, k + 1);
    if (next > name) drops.push_back({name, next, Holds::Nothing, 0});
  }
  for (const Range& range : Without(Merged(dataDrops), keptData)) drops.push_back(range);
  // The loader shares the room up to the name table out over the records: fewer than one
  // byte per record may be left over.
  const uint64_t slack = shape.names - shape.fileTableEnd;
  const uint64_t keep = std::min<uint64_t>(slack, b.records.empty() ? 0 : b.records.size() - 1);
  if (keep < slack) drops.push_back({shape.fileTableEnd + keep, shape.names, Holds::Nothing, 0});
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

void BuildPieces(Builder& b) {
  std::stable_sort(b.events.begin(), b.events.end(), [](const Event& x, const Event& y) {
    if (x.at != y.at) return x.at < y.at;
    if (x.rank != y.rank) return x.rank < y.rank;
    return x.order < y.order;
  });
  const uint64_t length = b.shape.length;
  uint64_t cursor = 0;
  size_t nextDrop = 0;
  b.layout.pieces.reserve(2 * b.events.size() + b.drops.size() + 1);
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

std::string ReadOld(ArchiveCatalogue& old, uint64_t at, uint64_t length) {
  std::string bytes(static_cast<size_t>(length), '\0');
  if (length > 0) platform::ReadAt(*old.file, at, &bytes[0], bytes.size());
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

// Everything the tables need once the positions are known.
struct TableState {
  OldShape shape;
  ArchiveHeader header;
  DataHeader tables;
  std::string headerBytes;  // header and data header
  std::string folderTable;  // OLD's records, then models for new ones
  std::string fileTable;    // the new table's records, OLD's bytes where they come from OLD
  std::vector<FolderEntry> ranges;
  std::vector<FileEntry> oldEntries;
  std::vector<std::string> folderNames;  // new table's, as the loader cuts them
  std::vector<NewRecord> records;
  std::vector<std::string> ownNames;   // by new record
  std::vector<std::string> fullNames;  // by new record
  uint32_t newFlags = 1;
  Marks marks;
};

bool FinishFolders(const TableState& state, const std::vector<uint64_t>& marks, uint64_t nameTable,
                   std::string& image, std::vector<FolderEntry>& folders, std::string& problem) {
  image = state.folderTable;
  folders = state.ranges;
  for (size_t i = 0; i < folders.size(); ++i) {
    if (!Relative(marks[state.marks.folderName[i]], nameTable, folders[i].nameOffset)) {
      problem = TooLarge("a folder's name offset");
      return false;
    }
    EncodeFolderEntry(At(image, i * kFolderEntryLength), folders[i]);
  }
  return true;
}

bool FinishFiles(const TableState& state, const std::vector<uint64_t>& marks,
                 const std::vector<DataResult>& data, uint64_t nameTable, uint64_t dataOffset,
                 std::string& image, std::vector<FileEntry>& entries, std::string& problem) {
  const uint32_t R = state.shape.recordSize;
  image = state.fileTable;
  entries.assign(state.records.size(), FileEntry());
  for (size_t p = 0; p < state.records.size(); ++p) {
    const NewRecord& record = state.records[p];
    FileEntry& entry = entries[p];
    if (!record.added) entry = state.oldEntries[record.index];
    bool fits = Relative(marks[state.marks.fileName[p]], nameTable, entry.nameOffset);
    const size_t job = state.marks.job[p];
    if (job == kNoFile) {
      fits = fits && Relative(marks[state.marks.fileData[p]], dataOffset, entry.dataOffset);
    } else {
      const DataResult& result = data[job];
      fits = fits && Relative(result.offset, dataOffset, entry.dataOffset) &&
             result.storedSize <= UINT32_MAX && result.size <= UINT32_MAX;
      entry.storedSize = static_cast<uint32_t>(result.storedSize);
      entry.size = static_cast<uint32_t>(result.size);
      if (record.added) entry.flags = result.compressed ? state.newFlags : 0;
    }
    if (!fits) {
      problem = TooLarge("an entry's position or size");
      return false;
    }
    EncodeFileEntry(At(image, p * R), R, entry);
  }
  return true;
}

FinishTables Finisher(const Builder& b, std::vector<FolderEntry> ranges, Marks marks) {
  auto state = std::make_shared<TableState>();
  ArchiveCatalogue& old = b.old;
  state->shape = b.shape;
  state->header = old.header;
  state->tables = old.dataHeader;
  state->headerBytes = ReadOld(old, 0, b.shape.headerEnd);
  state->folderTable = ReadOld(old, b.shape.folders, b.shape.folderCount * kFolderEntryLength);
  for (size_t i = 0; i < b.plan.newFolders.size(); ++i) state->folderTable += NewFolderBytes(b);
  const std::string oldFiles = ReadOld(old, b.shape.files, b.shape.fileTableEnd - b.shape.files);
  const uint32_t R = b.shape.recordSize;
  for (const NewRecord& record : b.records) {
    if (record.added) {
      const AddedFile& added = b.plan.added[record.index];
      state->fileTable += NewRecordBytes(b, added.anchor);
      state->ownNames.push_back(added.name);
      state->fullNames.push_back(
          (added.folder < old.folders.size() ? old.folderNames[added.folder]
                                             : b.plan.newFolders[added.folder - old.folders.size()] + '\\') +
          added.name);
    } else {
      state->fileTable += oldFiles.substr(record.index * R, R);
      state->ownNames.push_back(old.fileNames[record.index]);
      state->fullNames.push_back(old.entryNames[record.index]);
    }
  }
  for (const std::string& name : old.folderNames) {
    state->folderNames.push_back(name.substr(0, name.size() - 1));
  }
  for (const std::string& name : b.plan.newFolders) state->folderNames.push_back(name);
  state->ranges = std::move(ranges);
  state->oldEntries = old.entries;
  state->records = b.records;
  state->newFlags = b.plan.newFlags;
  state->marks = std::move(marks);

  return [state](const std::vector<uint64_t>& marks, const std::vector<DataResult>& data,
                 std::vector<Patch>& patches, ExpectedTables& expected, std::string& problem) {
    const TableState& s = *state;
    const uint64_t base = s.shape.base;
    const uint64_t dataOffset = marks[s.marks.data];
    const uint64_t nameTable = marks[s.marks.names];
    ArchiveHeader header = s.header;
    DataHeader tables = s.tables;
    bool fits = dataOffset <= UINT32_MAX && Relative(nameTable, base, tables.nameOffset) &&
                Relative(marks[s.marks.files], base, tables.fileOffset);
    header.dataOffset = static_cast<uint32_t>(dataOffset);
    if (s.marks.toc != kNoFile) fits = fits && Relative(marks[s.marks.toc], base, tables.tocOffset);
    if (s.marks.folders != kNoFile) {
      fits = fits && Relative(marks[s.marks.folders], base, tables.folderOffset);
    }
    if (!fits) {
      problem = TooLarge("a table's position");
      return false;
    }
    const size_t names = s.tables.folderCount + s.tables.fileCount;
    const size_t newNames = s.ranges.size() + s.records.size();
    if (s.tables.nameCount == names) {
      if (newNames > 65535) {
        problem = "the archive would hold " + std::to_string(newNames) + " names; it can hold 65,535";
        return false;
      }
      tables.nameCount = static_cast<uint16_t>(newNames);
    }
    tables.folderCount = static_cast<uint16_t>(s.ranges.size());
    tables.fileCount = static_cast<uint16_t>(s.records.size());
    std::string head = s.headerBytes;
    EncodeArchiveHeader(At(head, 0), header);
    EncodeDataHeader(At(head, HeaderLengthFor(header.version)), tables);
    patches.push_back({0, head});

    std::string folderImage;
    std::string fileImage;
    if (!FinishFolders(s, marks, nameTable, folderImage, expected.folders, problem) ||
        !FinishFiles(s, marks, data, nameTable, dataOffset, fileImage, expected.entries, problem)) {
      return false;
    }
    if (!folderImage.empty()) patches.push_back({marks[s.marks.folders], folderImage});
    patches.push_back({marks[s.marks.files], fileImage});
    expected.version = header.version;
    expected.recordSize = s.shape.recordSize;
    expected.folderNames = s.folderNames;
    expected.entryNames = s.fullNames;
    return true;
  };
}

// OLD's regions: tables and names, every entry's data, and the data kept entries still use.
struct Regions {
  std::vector<Range> structural;
  std::vector<Range> data;  // by entry
  std::vector<Range> keptData;  // merged
  uint64_t dataEnd = 0;         // after OLD's last entry data
};

// Folders: OLD's, then the new ones at the end of the table (a new table before the file
// table when OLD has none), their names before file record 0's.
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
    if (!CheckAnchor(b, firstFileName, regions.structural, regions.keptData,
                     "a new folder's name", problem)) {
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
  if (!CheckAnchor(b, nameAt, regions.structural, regions.keptData,
                   b.tree.files[added.source].path + "'s name", problem) ||
      !CheckAnchor(b, regions.dataEnd, regions.structural, regions.keptData, "added data",
                   problem)) {
    return false;
  }
  marks.fileName[p] = b.Insert(nameAt, kFileNames, p, added.name + '\0');
  marks.job[p] = b.InsertData(regions.dataEnd, p, {added.source, DataMode::Smaller});
  return true;
}

// A kept record's name and data are marked; a replaced one's new bytes go where the old
// ones began, after kept data still there.
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
  if (!CheckAnchor(b, at, regions.structural, regions.keptData,
                   "the new data of entry " + std::to_string(k), problem)) {
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
    if (b.plan.fates[k] == Fate::Kept) kept.push_back(range);
    if (range.start < range.end) regions.dataEnd = std::max(regions.dataEnd, range.end);
  }
  regions.keptData = Merged(std::move(kept));
  return regions;
}

}  // namespace

bool LayoutLike(ArchiveCatalogue& old, const PackPlan& plan, const SourceTree& tree,
                Layout& layout, std::string& problem) {
  layout = Layout();
  Builder b{old, plan, tree, layout, ShapeOf(old), {}, {}, {}, {}, {}, {}, {}};
  const Regions regions = RegionsOf(b);
  if (plan.Changes()) {
    const std::string tangle = Tangle(regions.structural, regions.data);
    if (!tangle.empty()) {
      problem = "in this archive " + tangle +
                " overlap: it can be packed --like itself only unchanged";
      return false;
    }
  }
  OrderRecords(b);
  std::vector<FolderEntry> ranges;
  if (!FolderRanges(b, ranges, problem)) return false;
  if (plan.Changes() && !CheckCoverage(b, ranges, problem)) return false;

  Marks marks;
  marks.data = b.Mark(b.shape.data, kDataOffset);
  marks.names = b.Mark(b.shape.names, kNameTableStart);
  marks.files = b.Mark(b.shape.files, kFileTableStart);
  if (old.dataHeader.tocCount > 0) marks.toc = b.Mark(b.shape.toc, kStart);
  if (!PlaceFolders(b, regions, marks, problem)) return false;
  const size_t count = b.records.size();
  marks.fileName.assign(count, kNoFile);
  marks.fileData.assign(count, kNoFile);
  marks.job.assign(count, kNoFile);
  for (size_t p = 0; p < count; ++p) {
    const bool placed = b.records[p].added ? PlaceAdded(b, regions, p, marks, problem)
                                           : PlaceOld(b, regions, p, marks, problem);
    if (!placed) return false;
  }
  b.drops = Drops(b, regions.data, regions.keptData);
  BuildPieces(b);
  layout.finish = Finisher(b, std::move(ranges), std::move(marks));
  return true;
}

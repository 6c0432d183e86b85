#include "pack/like_tables.h"

#include <memory>

#include "platform/file_io.h"

namespace like {

namespace {

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
  std::vector<size_t> entryNameHashes;  // by new record
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

// What the tables are finished from, taken from OLD and the plan once laid out.
std::shared_ptr<const TableState> StateOf(const Builder& b, std::vector<FolderEntry> ranges,
                                          Marks marks) {
  auto state = std::make_shared<TableState>();
  ArchiveCatalogue& old = b.old;
  state->shape = b.shape;
  state->header = old.header;
  state->tables = old.dataHeader;
  state->headerBytes = ReadOld(b.oldFile, 0, b.shape.headerEnd);
  state->folderTable =
      ReadOld(b.oldFile, b.shape.folders, b.shape.folderCount * kFolderEntryLength);
  for (size_t i = 0; i < b.plan.newFolders.size(); ++i) state->folderTable += NewFolderBytes(b);
  const std::string oldFiles =
      ReadOld(b.oldFile, b.shape.files, b.shape.fileTableEnd - b.shape.files);
  const uint32_t R = b.shape.recordSize;
  for (const NewRecord& record : b.records) {
    if (record.added) {
      const AddedFile& added = b.plan.added[record.index];
      state->fileTable += NewRecordBytes(b, added.anchor);
      state->entryNameHashes.push_back(
          NameHash((added.folder < old.folders.size()
                        ? old.folderNames[added.folder]
                        : b.plan.newFolders[added.folder - old.folders.size()] + '\\') +
                   added.name));
    } else {
      state->fileTable += oldFiles.substr(record.index * R, R);
      state->entryNameHashes.push_back(NameHash(old.entryNames[record.index]));
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
  return state;
}

// The tables, once the writer knows where each mark landed.
bool FinishLike(const TableState& s, const std::vector<uint64_t>& marks,
                const std::vector<DataResult>& data, std::vector<Patch>& patches,
                ExpectedTables& expected, std::string& problem) {
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
    if (newNames > kMaxCount) {
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
  expected.entryNameHashes = s.entryNameHashes;
  return true;
}

}  // namespace

FinishTables Finisher(const Builder& b, std::vector<FolderEntry> ranges, Marks marks) {
  const std::shared_ptr<const TableState> state = StateOf(b, std::move(ranges), std::move(marks));
  return [state](const std::vector<uint64_t>& marks, const std::vector<DataResult>& data,
                 std::vector<Patch>& patches, ExpectedTables& expected, std::string& problem) {
    return FinishLike(*state, marks, data, patches, expected, problem);
  };
}

}  // namespace like

#include "archive/catalogue.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

namespace {

// Above this much name text in one archive the tables are taken as damaged: it is far
// beyond any real archive (65,535 names of 1 KiB each) and would only come from folder
// ranges that overlap on purpose.
constexpr uint64_t kMaxTotalNameBytes = 64ull << 20;
// Name text read in one piece when the names lie this close together.
constexpr uint64_t kMaxNameSpan = 64ull << 20;

struct NameRange {
  uint64_t start = 0;
  uint64_t length = 0;  // 0 for an empty name or offsets out of order
};

bool InsideFile(uint64_t start, uint64_t length, uint64_t fileLength) {
  return start <= fileLength && length <= fileLength - start;
}

// A name's range from its start to the byte before the next name (taken as its NUL).
NameRange MakeRange(const NameSpan& span) {
  NameRange range;
  range.start = span.start;
  range.length = span.end > span.start + 1 ? span.end - span.start - 1 : 0;
  return range;
}

size_t LengthToNul(const char* bytes, size_t length) {
  const void* nul = std::memchr(bytes, 0, length);
  return nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : length;
}

std::string CutAtNul(const char* bytes, size_t length) {
  return std::string(bytes, LengthToNul(bytes, length));
}

enum class NamesRead { Ok, Unreadable, TooLong };

// Takes one name, cut at its first NUL, into `name` while the names so far stay within
// kMaxTotalNameBytes. Name ranges may overlap, so a small archive could otherwise make
// gigabytes of names out of the same bytes.
bool KeepName(const char* bytes, size_t length, uint64_t& total, std::string& name) {
  const size_t kept = LengthToNul(bytes, length);
  total += kept;
  if (total > kMaxTotalNameBytes) return false;
  name.assign(bytes, kept);
  return true;
}

// Reads every name, cut at its first NUL. The names of a sound archive lie together, so
// they are read in one piece and sliced; scattered ones are read one by one.
NamesRead ReadNames(platform::File& file, const std::vector<NameRange>& ranges,
                    std::vector<std::string>& names) {
  uint64_t low = UINT64_MAX;
  uint64_t high = 0;
  for (const NameRange& range : ranges) {
    if (range.length == 0) continue;
    low = std::min(low, range.start);
    high = std::max(high, range.start + std::min<uint64_t>(range.length, kMaxNameLength));
  }
  names.assign(ranges.size(), std::string());
  if (high == 0) return NamesRead::Ok;

  uint64_t total = 0;
  if (high - low <= kMaxNameSpan) {
    std::vector<char> span(static_cast<size_t>(high - low));
    if (platform::ReadAt(file, low, span.data(), span.size()) != span.size()) {
      return NamesRead::Unreadable;
    }
    for (size_t i = 0; i < ranges.size(); ++i) {
      if (ranges[i].length == 0) continue;
      const size_t length =
          static_cast<size_t>(std::min<uint64_t>(ranges[i].length, kMaxNameLength));
      if (!KeepName(span.data() + (ranges[i].start - low), length, total, names[i])) {
        return NamesRead::TooLong;
      }
    }
    return NamesRead::Ok;
  }
  std::vector<char> one(kMaxNameLength);
  for (size_t i = 0; i < ranges.size(); ++i) {
    if (ranges[i].length == 0) continue;
    const size_t length = static_cast<size_t>(std::min<uint64_t>(ranges[i].length, kMaxNameLength));
    if (platform::ReadAt(file, ranges[i].start, one.data(), length) != length) {
      return NamesRead::Unreadable;
    }
    if (!KeepName(one.data(), length, total, names[i])) return NamesRead::TooLong;
  }
  return NamesRead::Ok;
}

// Reads a table that must lie wholly inside the file. A table of no records needs no
// bytes, so its offset is not looked at: archives leave it pointing anywhere.
bool ReadTable(OpenArchive& archive, uint64_t start, uint64_t length,
               std::vector<unsigned char>& table) {
  table.clear();
  if (length == 0) return true;
  if (!InsideFile(start, length, archive.catalogue.fileLength)) return false;
  table.resize(static_cast<size_t>(length));
  return platform::ReadAt(*archive.file, start, table.data(), table.size()) == table.size();
}

LoadOutcome Fail(OpenArchive& archive, LoadOutcome outcome, std::string* detail, const char* what) {
  archive.file.reset();
  if (detail != nullptr) *detail = what;
  return outcome;
}

// Opens the file and reads the header and the data header; the table positions follow
// from them.
LoadOutcome ReadHeaders(const std::string& path, OpenArchive& archive, std::string* detail) {
  ArchiveCatalogue& catalogue = archive.catalogue;
  std::string openError;
  archive.file = platform::OpenForRead(path, &openError);
  if (!archive.file) {
    if (detail != nullptr) *detail = openError;
    return LoadOutcome::OpenFailed;
  }
  if (!platform::FileLength(*archive.file, catalogue.fileLength)) {
    return Fail(archive, LoadOutcome::OpenFailed, detail, "its length cannot be read");
  }

  unsigned char header[kHeaderReadLength] = {};
  const size_t headerRead = platform::ReadAt(*archive.file, 0, header, sizeof header);
  if (headerRead < sizeof kArchiveMagic + 4 || !HasArchiveMagic(header) ||
      ReadU32(header + 8) == 3) {
    return Fail(archive, LoadOutcome::NotSupported, detail, "not an archive of a known version");
  }
  catalogue.header = DecodeArchiveHeader(header);
  const uint32_t version = catalogue.header.version;
  catalogue.tableBase = TableBaseFor(version);

  unsigned char dataHeader[kDataHeaderLength];
  const uint64_t dataHeaderAt = HeaderLengthFor(version);
  if (!InsideFile(dataHeaderAt, kDataHeaderLength, catalogue.fileLength) ||
      platform::ReadAt(*archive.file, dataHeaderAt, dataHeader, sizeof dataHeader) !=
          sizeof dataHeader) {
    return Fail(archive, LoadOutcome::Damaged, detail, "the header is cut short");
  }
  const DataHeader& tables = catalogue.dataHeader = DecodeDataHeader(dataHeader);
  const uint64_t base = catalogue.tableBase;
  TablePositions& at = catalogue.at;
  at.headerEnd = dataHeaderAt + kDataHeaderLength;
  at.toc = base + tables.tocOffset;
  at.folders = base + tables.folderOffset;
  at.files = base + tables.fileOffset;
  at.names = base + tables.nameOffset;
  at.data = catalogue.header.dataOffset;
  if (tables.fileCount == 0) return Fail(archive, LoadOutcome::NoEntries, detail, "no entries");
  return LoadOutcome::Loaded;
}

// Reads the ToC's alias, the folder records and the file records.
LoadOutcome ReadRecords(OpenArchive& archive, std::string* detail) {
  ArchiveCatalogue& catalogue = archive.catalogue;
  const DataHeader& tables = catalogue.dataHeader;
  std::vector<unsigned char> table;
  if (!ReadTable(archive, catalogue.at.toc,
                 static_cast<uint64_t>(tables.tocCount) * kTocEntryLength, table)) {
    return Fail(archive, LoadOutcome::Damaged, detail, "the ToC table lies outside the file");
  }
  // With no ToC entry there is no alias: the entries go straight below the archive's folder.
  if (tables.tocCount > 0) {
    catalogue.alias = CutAtNul(reinterpret_cast<const char*>(table.data()), kAliasLength);
  }

  if (!ReadTable(archive, catalogue.at.folders,
                 static_cast<uint64_t>(tables.folderCount) * kFolderEntryLength, table)) {
    return Fail(archive, LoadOutcome::Damaged, detail, "the folder table lies outside the file");
  }
  catalogue.folders.resize(tables.folderCount);
  for (size_t i = 0; i < catalogue.folders.size(); ++i) {
    catalogue.folders[i] = DecodeFolderEntry(table.data() + i * kFolderEntryLength);
  }

  // The file table carries no record size: it is the room up to the name table shared out
  // over the records, in unsigned 32-bit arithmetic.
  catalogue.recordSize =
      static_cast<uint32_t>(tables.nameOffset - tables.fileOffset) / tables.fileCount;
  if (!IsKnownRecordSize(catalogue.recordSize)) {
    return Fail(archive, LoadOutcome::UnrecognisedRecordSize, detail,
                "the file records are of an unknown size");
  }
  const uint64_t fileTableLength = static_cast<uint64_t>(tables.fileCount) * catalogue.recordSize;
  catalogue.at.fileTableEnd = catalogue.at.files + fileTableLength;
  if (!ReadTable(archive, catalogue.at.files, fileTableLength, table)) {
    return Fail(archive, LoadOutcome::Damaged, detail, "the file table lies outside the file");
  }
  catalogue.entries.resize(tables.fileCount);
  for (size_t i = 0; i < catalogue.entries.size(); ++i) {
    catalogue.entries[i] =
        DecodeFileEntry(table.data() + i * catalogue.recordSize, catalogue.recordSize);
  }
  return LoadOutcome::Loaded;
}

// Each name runs up to the next name's offset; the last file name runs up to the entry
// data.
void FindNameSpans(ArchiveCatalogue& catalogue) {
  const uint64_t names = catalogue.at.names;
  const std::vector<FolderEntry>& folders = catalogue.folders;
  const std::vector<FileEntry>& entries = catalogue.entries;
  catalogue.folderNameSpans.resize(folders.size());
  for (size_t i = 0; i < folders.size(); ++i) {
    const uint32_t next =
        i + 1 < folders.size() ? folders[i + 1].nameOffset : entries[0].nameOffset;
    catalogue.folderNameSpans[i] = {names + folders[i].nameOffset, names + next};
  }
  catalogue.fileNameSpans.resize(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const uint64_t next =
        i + 1 < entries.size() ? names + entries[i + 1].nameOffset : catalogue.at.data;
    catalogue.fileNameSpans[i] = {names + entries[i].nameOffset, next};
  }
}

// Reads every name, cut at its first NUL, and joins the entries' full names.
LoadOutcome ReadAllNames(OpenArchive& archive, std::string* detail) {
  ArchiveCatalogue& catalogue = archive.catalogue;
  const size_t folderCount = catalogue.folders.size();
  std::vector<NameRange> ranges;
  ranges.reserve(folderCount + catalogue.entries.size());
  for (const NameSpan& span : catalogue.folderNameSpans) ranges.push_back(MakeRange(span));
  for (const NameSpan& span : catalogue.fileNameSpans) ranges.push_back(MakeRange(span));
  for (const NameRange& range : ranges) {
    if (range.length > 0 && !InsideFile(range.start, range.length, catalogue.fileLength)) {
      return Fail(archive, LoadOutcome::Damaged, detail, "a name lies outside the file");
    }
  }
  std::vector<std::string> names;
  const NamesRead read = ReadNames(*archive.file, ranges, names);
  if (read == NamesRead::Unreadable) {
    return Fail(archive, LoadOutcome::Damaged, detail, "the name table cannot be read");
  }
  if (read == NamesRead::TooLong) {
    return Fail(archive, LoadOutcome::Damaged, detail, "the names add up to more than 64 MiB");
  }

  const auto firstFileName = names.begin() + static_cast<std::ptrdiff_t>(folderCount);
  catalogue.folderNames.assign(std::make_move_iterator(names.begin()),
                               std::make_move_iterator(firstFileName));
  for (std::string& name : catalogue.folderNames) name += '\\';
  catalogue.fileNames.assign(std::make_move_iterator(firstFileName),
                             std::make_move_iterator(names.end()));
  names = std::vector<std::string>();
  if (!JoinEntryNames(catalogue)) {
    return Fail(archive, LoadOutcome::Damaged, detail, "the folder ranges overlap beyond reason");
  }
  return LoadOutcome::Loaded;
}

LoadOutcome LoadTables(const std::string& path, OpenArchive& archive, std::string* detail) {
  LoadOutcome outcome = ReadHeaders(path, archive, detail);
  if (outcome == LoadOutcome::Loaded) outcome = ReadRecords(archive, detail);
  if (outcome != LoadOutcome::Loaded) return outcome;
  FindNameSpans(archive.catalogue);
  return ReadAllNames(archive, detail);
}

}  // namespace

LoadOutcome LoadCatalogue(const std::string& path, OpenArchive& archive, std::string* detail) {
  archive = OpenArchive();  // nothing of a previous archive survives
  try {
    return LoadTables(path, archive, detail);
  } catch (const std::bad_alloc&) {
    // Names may add up to 64 MiB, several times over once joined: too much for some systems.
    archive = OpenArchive();
    if (detail != nullptr) *detail = "loading its tables and names";
    return LoadOutcome::OutOfMemory;
  }
}

// Built by appending, later folders first, so the work stays linear in the length of the
// names.
bool JoinEntryNames(ArchiveCatalogue& catalogue) {
  const std::vector<std::string>& ownNames = catalogue.fileNames;
  const size_t fileCount = catalogue.entries.size();
  std::vector<int64_t> lengthDelta(fileCount + 1, 0);
  for (size_t k = 0; k < catalogue.folders.size(); ++k) {
    const size_t first = catalogue.folders[k].firstFile;
    const size_t end = std::min<size_t>(catalogue.folders[k].endFile, fileCount);
    if (first >= end) continue;
    lengthDelta[first] += static_cast<int64_t>(catalogue.folderNames[k].size());
    lengthDelta[end] -= static_cast<int64_t>(catalogue.folderNames[k].size());
  }
  std::vector<size_t> fullLength(fileCount);
  uint64_t total = 0;
  int64_t prefix = 0;
  for (size_t j = 0; j < fileCount; ++j) {
    prefix += lengthDelta[j];
    fullLength[j] = static_cast<size_t>(prefix) + ownNames[j].size();
    total += fullLength[j];
  }
  if (total > kMaxTotalNameBytes) return false;

  std::vector<std::string> joined(fileCount);
  for (size_t j = 0; j < fileCount; ++j) joined[j].reserve(fullLength[j]);
  for (size_t k = catalogue.folders.size(); k-- > 0;) {
    const size_t first = catalogue.folders[k].firstFile;
    const size_t end = std::min<size_t>(catalogue.folders[k].endFile, fileCount);
    for (size_t j = first; j < end; ++j) joined[j] += catalogue.folderNames[k];
  }
  for (size_t j = 0; j < fileCount; ++j) joined[j] += ownNames[j];
  catalogue.entryNames = std::move(joined);
  return true;
}

std::string LoadOutcomeMessage(LoadOutcome outcome, const std::string& path) {
  switch (outcome) {
    case LoadOutcome::OpenFailed:
      return "Error open file \"" + path + "\"";
    case LoadOutcome::NotSupported:
      return "Not supported archive";
    case LoadOutcome::Damaged:
      return "Damaged archive \"" + path + "\"";
    case LoadOutcome::OutOfMemory:
      return "Not enough memory for archive \"" + path + "\"";
    default:
      return std::string();
  }
}

std::string LoadFailureLine(const std::string& path, LoadOutcome outcome, const std::string& detail,
                            const std::string& unrecognised) {
  if (outcome == LoadOutcome::NoEntries) return path + ": has no entries";
  std::string line = LoadOutcomeMessage(outcome, path);
  if (outcome == LoadOutcome::NotSupported) line = path + ": " + line;
  if (outcome == LoadOutcome::UnrecognisedRecordSize) line = path + ": " + unrecognised;
  return detail.empty() ? line : line + ": " + detail;
}

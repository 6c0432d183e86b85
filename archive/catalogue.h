// Loading one archive's tables into a catalogue: its entries and their full names.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_records.h"
#include "platform/file_io.h"

enum class LoadOutcome {
  Loaded,
  OpenFailed,              // the file cannot be opened for reading
  NotSupported,            // wrong magic, or version 3
  NoEntries,               // the file count is 0
  UnrecognisedRecordSize,  // the derived file-record size is not 17, 20 or 22
  Damaged,                 // a header, table or name lies outside the file
  OutOfMemory,             // its tables and names, or the work on them, did not fit in memory
};

// Where the loader found each part of the archive, as positions in the file.
struct TablePositions {
  uint64_t headerEnd = 0;  // after the header and the data header
  uint64_t toc = 0;
  uint64_t folders = 0;
  uint64_t files = 0;
  uint64_t fileTableEnd = 0;  // files + count * record size; slack runs from here to names
  uint64_t names = 0;
  uint64_t data = 0;  // every entry's data offset counts from here
};

// A name's place: it runs from `start` up to the next name's start (the entry data's for
// the last file name), the byte before `end` taken for its NUL. `end <= start` for a name
// whose offsets are out of order.
struct NameSpan {
  uint64_t start = 0;
  uint64_t end = 0;
};

// What the loader found in an archive: plain data, copied freely.
struct ArchiveCatalogue {
  uint64_t fileLength = 0;
  ArchiveHeader header;
  DataHeader dataHeader;
  uint32_t tableBase = 0;
  uint32_t recordSize = 0;
  TablePositions at;
  std::vector<NameSpan> folderNameSpans;
  std::vector<NameSpan> fileNameSpans;
  std::string alias;  // first ToC entry's alias, up to its first NUL
  std::vector<FolderEntry> folders;
  std::vector<std::string> folderNames;  // each followed by "\"
  std::vector<FileEntry> entries;
  std::vector<std::string> fileNames;   // each entry's own name, without its folders
  std::vector<std::string> entryNames;  // full relative names, folder prefix in front
};

// Where an entry's stored bytes start: its data offset counts from the header's, summed in
// 64 bits so that data past 4 GiB is reached.
inline uint64_t EntryDataStart(const ArchiveCatalogue& catalogue, const FileEntry& entry) {
  return catalogue.at.data + entry.dataOffset;
}

// The part of an entry's stored bytes that lies in the file: from its start up to its
// stored size or the file's end, whichever comes first; `end == start` when none does.
struct DataSpan {
  uint64_t start = 0;
  uint64_t end = 0;
};
inline DataSpan DataSpanInFile(const ArchiveCatalogue& catalogue, const FileEntry& entry) {
  const uint64_t start = EntryDataStart(catalogue, entry);
  if (entry.storedSize == 0 || start >= catalogue.fileLength) return {start, start};
  return {start, std::min(start + entry.storedSize, catalogue.fileLength)};
}

// An archive open for reading: every byte of it that any command reads, pack included,
// is read through `file`, so that all of it comes from the one file the catalogue
// describes though another be renamed over its name meanwhile.
struct OpenArchive {
  platform::FilePtr file;  // open while the entries are read
  ArchiveCatalogue catalogue;
};

// Names are cut at their first NUL when loaded: only that part ever becomes a path, and
// bytes after it must not be taken for folder separators.
// A name longer than this is kept cut to it; no file system takes such a path anyway.
constexpr size_t kMaxNameLength = 32768;

// Loads `path` into `archive`, replacing everything it held. On any outcome but Loaded
// the file is closed again. `detail`, when given, receives the system's reason for
// OpenFailed, what lies outside the file for Damaged, and what did not fit for OutOfMemory.
LoadOutcome LoadCatalogue(const std::string& path, OpenArchive& archive,
                          std::string* detail = nullptr);

// Rebuilds every entry name from the folder names and the entries' own names: each
// folder's name in front of the names of the entries it covers, for an entry covered by
// several folders the later folder's outermost. False (names unchanged) when the names
// would add up to more than an archive may hold. For names converted part by part.
bool JoinEntryNames(ArchiveCatalogue& catalogue);

// The text the tool shows for an outcome, or "" for the outcomes that are skipped
// silently (NoEntries, UnrecognisedRecordSize) and for Loaded.
std::string LoadOutcomeMessage(LoadOutcome outcome, const std::string& path);

// The one line the command-line tools print for an archive that did not load, the path
// first and `detail` last; `unrecognised` says what becomes of an unrecognised record size.
std::string LoadFailureLine(const std::string& path, LoadOutcome outcome, const std::string& detail,
                            const std::string& unrecognised = "unrecognised record size");

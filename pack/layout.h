// A packed archive as the writer makes it: pieces written one after the other (ranges of
// OLD, bytes known in advance, new entry data), marks that note where things landed, and
// the tables, which are written last, once every position is known.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_records.h"
#include "pack/pack_plan.h"

enum class PieceKind : uint8_t {
  Old,    // OLD's bytes [from, from + length)
  Bytes,  // bytes[index], its `length` bytes from `from` (names; records and tables,
          // filled in at the end)
  Data,   // new entry data: jobs[index]
  Mark,   // notes the position reached, plus `from`, in landed[index]
};

// Small: an archive of many entries is laid out as a few pieces for each.
struct Piece {
  uint64_t from = 0;
  uint64_t length = 0;
  uint32_t index = 0;
  PieceKind kind = PieceKind::Old;
};

struct DataJob {
  size_t source = 0;  // SourceTree file
  DataMode mode = DataMode::Smaller;
};

// Where a job's bytes went and what they are.
struct DataResult {
  uint64_t offset = 0;
  uint64_t storedSize = 0;
  uint64_t size = 0;
  bool compressed = false;
};

struct Patch {
  uint64_t at = 0;
  std::string bytes;
};

// What the new archive must read back as: names as the loader gives them (cut at their
// first NUL, folders without the joining "\").
struct ExpectedTables {
  uint32_t version = 0;
  uint32_t recordSize = 0;
  std::vector<FolderEntry> folders;
  std::vector<std::string> folderNames;
  std::vector<FileEntry> entries;
  // NameHash of each entry's full name, folders in front: the names themselves are let go
  // before the archive is read back, so that no name is held twice.
  std::vector<size_t> entryNameHashes;
};

// Fills in the tables once the rest is written: `landed[mark]` is where each mark fell in
// the new archive, `data[job]` where each job's bytes went.
using FinishTables = std::function<bool(
    const std::vector<uint64_t>& landed, const std::vector<DataResult>& data,
    std::vector<Patch>& patches, ExpectedTables& expected, std::string& problem)>;

struct Layout {
  std::vector<Piece> pieces;
  std::vector<std::string> bytes;
  std::vector<DataJob> jobs;
  size_t markCount = 0;
  FinishTables finish;
};

// What ExpectedTables keeps of a name.
inline size_t NameHash(std::string_view name) {
  return std::hash<std::string_view>()(name);
}

// Refusal text for a value that does not fit its field.
inline std::string TooLarge(const std::string& what) {
  return what + " would not fit in 32 bits";
}

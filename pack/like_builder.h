// The layout --like in the making: events placed at positions of OLD (marks, new bytes,
// new data), which become the layout's pieces once OLD's kept bytes are put between them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "pack/layout.h"
#include "pack/old_regions.h"
#include "pack/pack_plan.h"
#include "pack/source_tree.h"

namespace like {

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

// One record of the new file table: OLD's record `index`, or added file `index`.
struct NewRecord {
  bool added = false;
  size_t index = 0;
};

// What placing needs: OLD, the plan, and the events and records made so far.
struct Builder {
  ArchiveCatalogue& old;
  platform::File& oldFile;  // the one handle OLD is read through
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
    event.piece.index = static_cast<uint32_t>(mark);
    events.push_back(event);
    return mark;
  }
  // Bytes put in at `at`, with a mark for where they land. All go into one string: one
  // each for many small names and records would cost more than the bytes themselves.
  size_t Insert(uint64_t at, int rank, uint64_t order, const std::string& bytes) {
    const size_t mark = Mark(at, rank, order);
    Event event{at, rank, order, {}};
    if (layout.bytes.empty()) layout.bytes.emplace_back();
    event.piece.kind = PieceKind::Bytes;
    event.piece.index = 0;
    event.piece.from = layout.bytes[0].size();
    event.piece.length = bytes.size();
    layout.bytes[0] += bytes;
    events.push_back(event);
    return mark;
  }
  size_t InsertData(uint64_t at, uint64_t order, DataJob job) {
    Event event{at, kData, order, {}};
    event.piece.kind = PieceKind::Data;
    event.piece.index = static_cast<uint32_t>(layout.jobs.size());
    layout.jobs.push_back(job);
    events.push_back(event);
    return event.piece.index;
  }
};

// The marks the tables are finished from, once the writer knows where each landed.
struct Marks {
  size_t data = 0, names = 0, files = 0, folders = kNoFile, toc = kNoFile;
  std::vector<size_t> folderName;  // by new folder
  std::vector<size_t> fileName;    // by new record
  std::vector<size_t> fileData;    // by new record: kept ones' data; kNoFile for jobs
  std::vector<size_t> job;         // by new record: the data job, or kNoFile
};

// OLD's record before `anchor` (its first for 0): the model a new record starts from.
std::string NewRecordBytes(const Builder& b, size_t anchor);
// OLD's last folder record (zeros for none): the model a new folder record starts from.
std::string NewFolderBytes(const Builder& b);

}  // namespace like

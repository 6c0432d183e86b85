// Builds "_ARCHIVE" files byte by byte for the tests, from the layout the tool reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct TestEntry {
  std::string name;  // as stored in the name table (may hold bytes after a NUL)
  std::string data;  // the entry's content
  bool compressed = false;
  std::optional<uint32_t> declaredSize;  // size field, when it should differ from data.size()
  std::optional<std::string> stored;     // stored bytes, when they should not be made from data
  // Uses the stored bytes (data offset and stored size) of this earlier entry, counted in
  // file-table order, instead of bytes of its own.
  std::optional<size_t> sameDataAs;
};

struct TestFolder {
  std::string name;
  std::vector<TestEntry> entries;
};

struct ArchiveSpec {
  uint32_t version = 2;
  uint32_t recordSize = 20;  // 17, 20 or 22
  std::string alias = "data";
  uint16_t tocCount = 1;
  std::vector<TestFolder> folders;
  size_t namePadding = 0;  // zero bytes between the name table and the data
  int level = 6;           // zlib level for compressed entries
  // Layouts other writers make: filler bytes between the regions and between entries'
  // data, the ToC and folder table after the data, bytes after the last entry, slack
  // between the file table and the name table (fewer bytes than records), a name count
  // that does not match.
  size_t gap = 0;
  bool tablesAfterData = false;
  std::string trailing;
  uint32_t slack = 0;
  std::optional<uint16_t> nameCount;
};

// Where things landed, so tests can damage them on purpose.
struct BuiltArchive {
  std::string bytes;
  uint32_t tableBase = 0;
  uint32_t dataHeaderAt = 0;
  uint32_t tocAt = 0;
  uint32_t folderAt = 0;
  uint32_t fileAt = 0;
  uint32_t nameAt = 0;
  uint32_t dataOffset = 0;            // absolute start of the entry data
  std::vector<uint32_t> entryDataAt;  // absolute, one per entry in file-table order
};

BuiltArchive BuildArchive(const ArchiveSpec& spec);

// A small archive of three folders (one with an empty name), stored and compressed
// entries and an empty one, for the end-to-end tests.
ArchiveSpec SampleSpec(uint32_t version, uint32_t recordSize, const std::string& alias);

std::string Deflate(const std::string& data, int level = 6);

void PutU16(std::string& bytes, size_t at, uint16_t value);
void PutU32(std::string& bytes, size_t at, uint32_t value);

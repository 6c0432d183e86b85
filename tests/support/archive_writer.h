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

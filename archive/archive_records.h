// The on-disk records of an "_ARCHIVE" file, as plain in-memory structs. Every record
// is decoded field by field from little-endian bytes, never through a struct overlay,
// because several 32-bit fields sit at offsets that are not multiples of four.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr char kArchiveMagic[8] = {'_', 'A', 'R', 'C', 'H', 'I', 'V', 'E'};

constexpr size_t kHeaderReadLength = 180;  // read first, whatever the version
constexpr size_t kVersion1HeaderLength = 164;
constexpr size_t kVersion2HeaderLength = 180;
constexpr size_t kVersion4HeaderLength = 184;
constexpr size_t kDataHeaderLength = 24;
constexpr size_t kTocEntryLength = 138;
constexpr size_t kAliasLength = 64;
constexpr size_t kFolderEntryLength = 12;

// Every count and file index is a 16-bit field: no archive holds more files, folders or
// names than this.
constexpr size_t kMaxCount = 65535;

// Header in its version-2 form; a version-1 header is converted to it on load.
struct ArchiveHeader {
  uint32_t version = 0;
  uint32_t unused172 = 0;   // carried along, never used
  uint32_t dataOffset = 0;  // every entry's data offset is relative to this
};

struct DataHeader {
  uint32_t tocOffset = 0;
  uint16_t tocCount = 0;
  uint32_t folderOffset = 0;
  uint16_t folderCount = 0;
  uint32_t fileOffset = 0;
  uint16_t fileCount = 0;
  uint32_t nameOffset = 0;
  uint16_t nameCount = 0;  // not used
};

struct FolderEntry {
  uint32_t nameOffset = 0;
  uint16_t firstFile = 0;
  uint16_t endFile = 0;  // exclusive
};

// The one in-memory form of the three on-disk file-record layouts.
struct FileEntry {
  uint32_t nameOffset = 0;
  uint32_t flags = 0;  // 0: stored; anything else: one zlib stream
  uint32_t dataOffset = 0;
  uint32_t storedSize = 0;
  uint32_t size = 0;
};

inline uint16_t ReadU16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ReadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void WriteU16(unsigned char* p, uint16_t value) {
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
}

inline void WriteU32(unsigned char* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

// True when the first eight bytes, taken up to their first NUL, are exactly the magic.
bool HasArchiveMagic(const unsigned char* header);

// Decodes the 180 bytes read at offset 0. For version 1 the fields come from their
// version-1 offsets (156 and 160) and everything else is zero.
ArchiveHeader DecodeArchiveHeader(const unsigned char* header);
// Writes the magic and the fields of `header` into the first HeaderLengthFor(version) bytes,
// at the offsets its version uses; every other byte is left as it is. Encoding what
// DecodeArchiveHeader gave changes nothing.
void EncodeArchiveHeader(unsigned char* bytes, const ArchiveHeader& header);

// Length of the header and the table base H for a version (3 is rejected before this).
size_t HeaderLengthFor(uint32_t version);
uint32_t TableBaseFor(uint32_t version);

DataHeader DecodeDataHeader(const unsigned char* bytes);
void EncodeDataHeader(unsigned char* bytes, const DataHeader& header);

// The alias of a ToC entry: up to 64 bytes, the rest of its 64 NUL. Bytes 64-137 are left.
void EncodeTocAlias(unsigned char* bytes, const std::string& alias);

FolderEntry DecodeFolderEntry(const unsigned char* bytes);
// Writes the name offset and the file range; bytes 4 to 7, which no field covers, are left.
void EncodeFolderEntry(unsigned char* bytes, const FolderEntry& folder);

// The file-record sizes that are understood.
bool IsKnownRecordSize(uint32_t recordSize);
FileEntry DecodeFileEntry(const unsigned char* bytes, uint32_t recordSize);
// Writes the five fields at the offsets of the record size; bytes no field covers (16 to 19
// of a 22-byte record) are left. The flags take the room the layout gives them: one byte
// in a 17-byte record, two in a 22-byte one.
void EncodeFileEntry(unsigned char* bytes, uint32_t recordSize, const FileEntry& entry);

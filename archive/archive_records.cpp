#include "archive/archive_records.h"

#include <algorithm>
#include <cstring>

bool HasArchiveMagic(const unsigned char* header) {
  // The magic holds no NUL, so comparing all eight bytes is the same as comparing the
  // text up to its first NUL.
  return std::memcmp(header, kArchiveMagic, sizeof kArchiveMagic) == 0;
}

ArchiveHeader DecodeArchiveHeader(const unsigned char* header) {
  ArchiveHeader decoded;
  decoded.version = ReadU32(header + 8);
  if (decoded.version == 1) {
    decoded.unused172 = ReadU32(header + 156);
    decoded.dataOffset = ReadU32(header + 160);
  } else {
    decoded.unused172 = ReadU32(header + 172);
    decoded.dataOffset = ReadU32(header + 176);
  }
  return decoded;
}

void EncodeArchiveHeader(unsigned char* bytes, const ArchiveHeader& header) {
  std::memcpy(bytes, kArchiveMagic, sizeof kArchiveMagic);
  WriteU32(bytes + 8, header.version);
  const size_t fields = header.version == 1 ? 156 : 172;
  WriteU32(bytes + fields, header.unused172);
  WriteU32(bytes + fields + 4, header.dataOffset);
}

size_t HeaderLengthFor(uint32_t version) {
  switch (version) {
    case 1:
      return kVersion1HeaderLength;
    case 4:
      return kVersion4HeaderLength;
    default:
      return kVersion2HeaderLength;
  }
}

uint32_t TableBaseFor(uint32_t version) {
  // Unknown versions take every table offset as absolute.
  return version == 1 || version == 2 || version == 4
             ? static_cast<uint32_t>(HeaderLengthFor(version))
             : 0;
}

DataHeader DecodeDataHeader(const unsigned char* bytes) {
  DataHeader decoded;
  decoded.tocOffset = ReadU32(bytes + 0);
  decoded.tocCount = ReadU16(bytes + 4);
  decoded.folderOffset = ReadU32(bytes + 6);
  decoded.folderCount = ReadU16(bytes + 10);
  decoded.fileOffset = ReadU32(bytes + 12);
  decoded.fileCount = ReadU16(bytes + 16);
  decoded.nameOffset = ReadU32(bytes + 18);
  decoded.nameCount = ReadU16(bytes + 22);
  return decoded;
}

void EncodeDataHeader(unsigned char* bytes, const DataHeader& header) {
  WriteU32(bytes + 0, header.tocOffset);
  WriteU16(bytes + 4, header.tocCount);
  WriteU32(bytes + 6, header.folderOffset);
  WriteU16(bytes + 10, header.folderCount);
  WriteU32(bytes + 12, header.fileOffset);
  WriteU16(bytes + 16, header.fileCount);
  WriteU32(bytes + 18, header.nameOffset);
  WriteU16(bytes + 22, header.nameCount);
}

void EncodeTocAlias(unsigned char* bytes, const std::string& alias) {
  std::memset(bytes, 0, kAliasLength);
  std::memcpy(bytes, alias.data(), std::min(alias.size(), kAliasLength));
}

FolderEntry DecodeFolderEntry(const unsigned char* bytes) {
  FolderEntry decoded;
  decoded.nameOffset = ReadU32(bytes + 0);
  decoded.firstFile = ReadU16(bytes + 8);
  decoded.endFile = ReadU16(bytes + 10);
  return decoded;
}

void EncodeFolderEntry(unsigned char* bytes, const FolderEntry& folder) {
  WriteU32(bytes + 0, folder.nameOffset);
  WriteU16(bytes + 8, folder.firstFile);
  WriteU16(bytes + 10, folder.endFile);
}

bool IsKnownRecordSize(uint32_t recordSize) {
  return recordSize == 17 || recordSize == 20 || recordSize == 22;
}

FileEntry DecodeFileEntry(const unsigned char* bytes, uint32_t recordSize) {
  FileEntry decoded;
  decoded.nameOffset = ReadU32(bytes + 0);
  switch (recordSize) {
    case 17:
      decoded.flags = bytes[4];
      decoded.dataOffset = ReadU32(bytes + 5);
      decoded.storedSize = ReadU32(bytes + 9);
      decoded.size = ReadU32(bytes + 13);
      break;
    case 22:
      decoded.dataOffset = ReadU32(bytes + 4);
      decoded.storedSize = ReadU32(bytes + 8);
      decoded.size = ReadU32(bytes + 12);
      decoded.flags = ReadU16(bytes + 20);
      break;
    default:  // 20
      decoded.flags = ReadU32(bytes + 4);
      decoded.dataOffset = ReadU32(bytes + 8);
      decoded.storedSize = ReadU32(bytes + 12);
      decoded.size = ReadU32(bytes + 16);
      break;
  }
  return decoded;
}

void EncodeFileEntry(unsigned char* bytes, uint32_t recordSize, const FileEntry& entry) {
  WriteU32(bytes + 0, entry.nameOffset);
  switch (recordSize) {
    case 17:
      bytes[4] = static_cast<unsigned char>(entry.flags);
      WriteU32(bytes + 5, entry.dataOffset);
      WriteU32(bytes + 9, entry.storedSize);
      WriteU32(bytes + 13, entry.size);
      break;
    case 22:
      WriteU32(bytes + 4, entry.dataOffset);
      WriteU32(bytes + 8, entry.storedSize);
      WriteU32(bytes + 12, entry.size);
      WriteU16(bytes + 20, static_cast<uint16_t>(entry.flags));
      break;
    default:  // 20
      WriteU32(bytes + 4, entry.flags);
      WriteU32(bytes + 8, entry.dataOffset);
      WriteU32(bytes + 12, entry.storedSize);
      WriteU32(bytes + 16, entry.size);
      break;
  }
}

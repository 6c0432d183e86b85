#include "tests/support/archive_writer.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

namespace {

uint32_t HeaderLength(uint32_t version) {
  return version == 1 ? 164 : version == 4 ? 184 : 180;
}

void AppendU16(std::string& bytes, uint16_t value) {
  bytes.push_back(static_cast<char>(value & 0xFF));
  bytes.push_back(static_cast<char>(value >> 8));
}

void AppendU32(std::string& bytes, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(value >> shift));
}

}  // namespace

void PutU16(std::string& bytes, size_t at, uint16_t value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>(value >> 8);
}

void PutU32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::string Deflate(const std::string& data, int level) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  std::string out(length, '\0');
  if (compress2(reinterpret_cast<Bytef*>(&out[0]), &length,
                reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                level) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  out.resize(length);
  return out;
}

namespace {

// Filler between regions: not zero, so that a reader that takes it for something shows.
std::string Gap(size_t length) {
  return std::string(length, '\xA5');
}

}  // namespace

BuiltArchive BuildArchive(const ArchiveSpec& spec) {
  BuiltArchive built;
  const uint32_t headerLength = HeaderLength(spec.version);
  const bool known = spec.version == 1 || spec.version == 2 || spec.version == 4;
  built.tableBase = known ? headerLength : 0;
  built.dataHeaderAt = headerLength;

  std::vector<const TestEntry*> entries;
  for (const TestFolder& folder : spec.folders) {
    for (const TestEntry& entry : folder.entries) entries.push_back(&entry);
  }
  const uint32_t fileCount = static_cast<uint32_t>(entries.size());
  const uint32_t gap = static_cast<uint32_t>(spec.gap);
  const uint32_t tocLength = spec.tocCount * 138u;
  const uint32_t folderLength = static_cast<uint32_t>(spec.folders.size()) * 12u;
  uint32_t at = headerLength + 24 + gap;
  if (!spec.tablesAfterData) {
    built.tocAt = at;
    built.folderAt = at + tocLength + gap;
    at = built.folderAt + folderLength + gap;
  }
  built.fileAt = at;
  built.nameAt = built.fileAt + fileCount * spec.recordSize + spec.slack;

  // Name table: folder names, then file names, each followed by one NUL.
  std::string names;
  std::vector<uint32_t> folderNameAt;
  std::vector<uint32_t> fileNameAt;
  for (const TestFolder& folder : spec.folders) {
    folderNameAt.push_back(static_cast<uint32_t>(names.size()));
    names += folder.name;
    names.push_back('\0');
  }
  for (const TestEntry* entry : entries) {
    fileNameAt.push_back(static_cast<uint32_t>(names.size()));
    names += entry->name;
    names.push_back('\0');
  }
  names.append(spec.namePadding, '\0');
  built.dataOffset = built.nameAt + static_cast<uint32_t>(names.size());

  std::string data;
  std::vector<std::string> storedBytes;
  std::vector<uint32_t> storedSizes;
  for (const TestEntry* entry : entries) {
    storedBytes.push_back(entry->stored       ? *entry->stored
                          : entry->compressed ? Deflate(entry->data, spec.level)
                                              : entry->data);
    if (entry->sameDataAs) {
      built.entryDataAt.push_back(built.entryDataAt.at(*entry->sameDataAs));
      storedSizes.push_back(storedSizes.at(*entry->sameDataAs));
      continue;
    }
    if (!data.empty()) data += Gap(gap);
    built.entryDataAt.push_back(built.dataOffset + static_cast<uint32_t>(data.size()));
    storedSizes.push_back(static_cast<uint32_t>(storedBytes.back().size()));
    data += storedBytes.back();
  }
  if (spec.tablesAfterData) {
    built.tocAt = built.dataOffset + static_cast<uint32_t>(data.size()) + gap;
    built.folderAt = built.tocAt + tocLength + gap;
  }

  std::string& out = built.bytes;
  out.assign(headerLength, '\0');
  out.replace(0, 8, "_ARCHIVE");
  PutU32(out, 8, spec.version);
  PutU32(out, spec.version == 1 ? 160 : 176, built.dataOffset);

  const uint32_t base = built.tableBase;
  AppendU32(out, built.tocAt - base);
  AppendU16(out, spec.tocCount);
  AppendU32(out, built.folderAt - base);
  AppendU16(out, static_cast<uint16_t>(spec.folders.size()));
  AppendU32(out, built.fileAt - base);
  AppendU16(out, static_cast<uint16_t>(fileCount));
  AppendU32(out, built.nameAt - base);
  AppendU16(out, spec.nameCount ? *spec.nameCount
                                : static_cast<uint16_t>(spec.folders.size() + fileCount));

  std::string toc;
  for (uint32_t t = 0; t < spec.tocCount; ++t) {
    std::string one(138, '\0');
    if (t == 0) one.replace(0, std::min<size_t>(spec.alias.size(), 64), spec.alias.substr(0, 64));
    toc += one;
  }
  std::string folders;
  uint32_t first = 0;
  for (size_t f = 0; f < spec.folders.size(); ++f) {
    AppendU32(folders, folderNameAt[f]);
    AppendU32(folders, 0);
    AppendU16(folders, static_cast<uint16_t>(first));
    first += static_cast<uint32_t>(spec.folders[f].entries.size());
    AppendU16(folders, static_cast<uint16_t>(first));
  }
  if (!spec.tablesAfterData) out += Gap(gap) + toc + Gap(gap) + folders;
  out += Gap(gap);
  for (size_t i = 0; i < entries.size(); ++i) {
    const TestEntry& entry = *entries[i];
    const uint32_t flags = entry.compressed ? 1 : 0;
    const uint32_t offset = built.entryDataAt[i] - built.dataOffset;
    const uint32_t stored = storedSizes[i];
    const uint32_t size =
        entry.declaredSize ? *entry.declaredSize : static_cast<uint32_t>(entry.data.size());
    AppendU32(out, fileNameAt[i]);
    if (spec.recordSize == 17) {
      out.push_back(static_cast<char>(flags));
      AppendU32(out, offset);
      AppendU32(out, stored);
      AppendU32(out, size);
    } else if (spec.recordSize == 22) {
      AppendU32(out, offset);
      AppendU32(out, stored);
      AppendU32(out, size);
      AppendU32(out, 0xDEADBEEF);  // unused bytes 16-19
      AppendU16(out, static_cast<uint16_t>(flags));
    } else {
      AppendU32(out, flags);
      AppendU32(out, offset);
      AppendU32(out, stored);
      AppendU32(out, size);
    }
  }
  out += Gap(spec.slack);
  out += names;
  out += data;
  if (spec.tablesAfterData) out += Gap(gap) + toc + Gap(gap) + folders;
  out += spec.trailing;
  return built;
}

ArchiveSpec SampleSpec(uint32_t version, uint32_t recordSize, const std::string& alias) {
  ArchiveSpec spec;
  spec.version = version;
  spec.recordSize = recordSize;
  spec.alias = alias;
  spec.folders = {
      {"", {{"readme.txt", "read me", true}, {"b.bin", std::string(5000, 'b'), false}}},
      {"art\\ui", {{"x.png", std::string(70000, 'x') + "end", true}}},
      {"sound/fx", {{"boom.wav", "BOOM", false}, {"empty.wav", "", true}}},
  };
  return spec;
}

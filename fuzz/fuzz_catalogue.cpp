// libFuzzer target: the input is the bytes of one archive, loaded from memory. Whatever the
// bytes, a loaded catalogue must be whole and self-consistent: a name and a record for each
// entry, each name the one cut from the input's bytes by hand (not by the loader's code),
// each entry's full name its folders' names in front of its own, and the same catalogue
// when loaded again.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "fuzz/fuzz_check.h"
#include "platform/memory_file.h"

namespace {

void CheckNames(const ArchiveCatalogue& catalogue) {
  FUZZ_CHECK(catalogue.entryNames.size() == catalogue.entries.size());
  FUZZ_CHECK(catalogue.fileNames.size() == catalogue.entries.size());
  FUZZ_CHECK(catalogue.folderNames.size() == catalogue.folders.size());
  FUZZ_CHECK(catalogue.alias.find('\0') == std::string::npos);
  for (const std::string& folder : catalogue.folderNames) {
    FUZZ_CHECK(!folder.empty() && folder.back() == '\\');
    FUZZ_CHECK(folder.find('\0') == std::string::npos);
  }
  for (size_t i = 0; i < catalogue.entries.size(); ++i) {
    const std::string& own = catalogue.fileNames[i];
    const std::string& full = catalogue.entryNames[i];
    FUZZ_CHECK(own.size() <= kMaxNameLength && own.find('\0') == std::string::npos);
    FUZZ_CHECK(full.size() >= own.size() &&
               full.compare(full.size() - own.size(), own.size(), own) == 0);
    FUZZ_CHECK(full.find('\0') == std::string::npos);
  }
}

uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t U16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

// Every name as the format lays it out, read straight from the input: the folders' names,
// then the files', each from its offset in the name table up to the byte before the next
// name's offset (the last one's up to the byte before the entry data), cut at a NUL. Only
// the record size is the loader's: a table of its own would check nothing more.
std::vector<std::string> NamesByHand(const uint8_t* data, size_t size, uint32_t recordSize) {
  const uint32_t version = U32(data + 8);
  const size_t headerLength = version == 1 ? 164 : version == 4 ? 184 : 180;
  const uint64_t base = version == 1 || version == 2 || version == 4 ? headerLength : 0;
  const uint64_t dataOffset = U32(data + (version == 1 ? 160 : 176));
  const uint8_t* tables = data + headerLength;
  const uint64_t nameTable = base + U32(tables + 18);
  std::vector<uint64_t> starts;
  for (uint16_t k = 0; k < U16(tables + 10); ++k) {
    starts.push_back(nameTable + U32(data + base + U32(tables + 6) + 12 * k));
  }
  for (uint16_t k = 0; k < U16(tables + 16); ++k) {
    starts.push_back(nameTable + U32(data + base + U32(tables + 12) + uint64_t{recordSize} * k));
  }
  starts.push_back(dataOffset);
  std::vector<std::string> names;
  for (size_t k = 0; k + 1 < starts.size(); ++k) {
    std::string name;
    const uint64_t end = starts[k + 1] > 0 ? starts[k + 1] - 1 : 0;  // the next one's, less one
    FUZZ_CHECK(end <= starts[k] || end <= size);  // the loader took it as inside the file
    for (uint64_t at = starts[k]; at < end && name.size() < kMaxNameLength && data[at] != 0; ++at) {
      name += static_cast<char>(data[at]);
    }
    names.push_back(name);
  }
  return names;
}

void CheckNamesByHand(const uint8_t* data, size_t size, const ArchiveCatalogue& catalogue) {
  const std::vector<std::string> names = NamesByHand(data, size, catalogue.recordSize);
  FUZZ_CHECK(names.size() == catalogue.folderNames.size() + catalogue.fileNames.size());
  for (size_t k = 0; k < catalogue.folderNames.size(); ++k) {
    FUZZ_CHECK(catalogue.folderNames[k] == names[k] + '\\');
  }
  for (size_t j = 0; j < catalogue.fileNames.size(); ++j) {
    FUZZ_CHECK(catalogue.fileNames[j] == names[catalogue.folderNames.size() + j]);
  }
}

// The full name of entry `j` as written out by hand: every folder covering it, the later
// folders outermost, then its own name.
std::string JoinedByHand(const ArchiveCatalogue& catalogue, size_t j) {
  std::string full;
  for (size_t k = catalogue.folders.size(); k-- > 0;) {
    const FolderEntry& folder = catalogue.folders[k];
    if (folder.firstFile <= j && j < folder.endFile) full += catalogue.folderNames[k];
  }
  return full + catalogue.fileNames[j];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::SetMemoryFile("a.big", data, size);
  OpenArchive archive;
  const LoadOutcome outcome = LoadCatalogue("a.big", archive);
  if (outcome != LoadOutcome::Loaded) {
    FUZZ_CHECK(!archive.file);
    return 0;
  }
  ArchiveCatalogue& catalogue = archive.catalogue;
  FUZZ_CHECK(archive.file && catalogue.fileLength == size);
  FUZZ_CHECK(IsKnownRecordSize(catalogue.recordSize));
  FUZZ_CHECK(!catalogue.entries.empty());
  CheckNames(catalogue);
  CheckNamesByHand(data, size, catalogue);

  for (size_t j = 0; j < catalogue.entries.size(); ++j) {
    FUZZ_CHECK(catalogue.entryNames[j] == JoinedByHand(catalogue, j));
  }
  // Joining the names again gives them back, and a second load the same catalogue.
  const std::vector<std::string> joined = catalogue.entryNames;
  FUZZ_CHECK(JoinEntryNames(catalogue) && catalogue.entryNames == joined);
  OpenArchive reloaded;
  FUZZ_CHECK(LoadCatalogue("a.big", reloaded) == LoadOutcome::Loaded);
  const ArchiveCatalogue& again = reloaded.catalogue;
  FUZZ_CHECK(again.entryNames == joined && again.alias == catalogue.alias);
  FUZZ_CHECK(again.entries.size() == catalogue.entries.size());
  return 0;
}

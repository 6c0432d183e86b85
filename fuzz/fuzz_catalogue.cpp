// libFuzzer target: the input is the bytes of one archive, loaded from memory. Whatever the
// bytes, a loaded catalogue must be whole and self-consistent: a name and a record for each
// entry, names cut at their first NUL, each entry's full name its folders' names in front
// of its own, and the same catalogue when loaded again.
#include <cstdint>
#include <string>

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
    FUZZ_CHECK(full.size() >= own.size() && full.compare(full.size() - own.size(), own.size(), own) == 0);
    FUZZ_CHECK(full.find('\0') == std::string::npos);
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

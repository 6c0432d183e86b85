#include "names/name_encoding.h"

#include <algorithm>

namespace {

// Marks the entries each folder of `failedFolders` covers, in time linear in the counts
// however the ranges overlap.
void MarkFolderEntries(const ArchiveCatalogue& catalogue, const std::vector<bool>& failedFolders,
                       std::vector<bool>& failed) {
  const size_t count = failed.size();
  std::vector<int64_t> delta(count + 1, 0);
  for (size_t k = 0; k < failedFolders.size(); ++k) {
    const size_t first = catalogue.folders[k].firstFile;
    const size_t end = std::min<size_t>(catalogue.folders[k].endFile, count);
    if (!failedFolders[k] || first >= end) continue;
    ++delta[first];
    --delta[end];
  }
  int64_t covering = 0;
  for (size_t j = 0; j < count; ++j) {
    covering += delta[j];
    if (covering > 0) failed[j] = true;
  }
}

// Each of `names` converted into `converted`, or as it was when it does not convert
// (marked in `failed`). `joined` is taken off the end of each name first and put back after.
void ConvertEach(const NameEncoding& encoding, const std::vector<std::string>& names,
                 std::vector<std::string>& converted, std::vector<bool>& failed,
                 const std::string& joined = "") {
  converted.assign(names.size(), std::string());
  failed.assign(names.size(), false);
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& name = names[i];
    const size_t own = name.size() - std::min(name.size(), joined.size());
    if (ConvertName(encoding, name.substr(0, own), converted[i])) {
      converted[i] += joined;
    } else {
      converted[i] = name;
      failed[i] = true;
    }
  }
}

}  // namespace

// The folders' and the entries' own names are converted apart and then joined, so the "\"
// between them is never read in the code page. An entry any part of whose name does not
// convert keeps its whole name as it was.
std::vector<bool> ConvertCatalogueNames(const NameEncoding& encoding, ArchiveCatalogue& catalogue) {
  if (!encoding.converter) return {};
  const size_t count = catalogue.entryNames.size();
  std::string alias;
  if (!ConvertName(encoding, catalogue.alias, alias)) return std::vector<bool>(count, true);

  std::vector<std::string> folderNames;
  std::vector<std::string> fileNames;
  std::vector<bool> failedFolders;
  std::vector<bool> failed;
  ConvertEach(encoding, catalogue.folderNames, folderNames, failedFolders, "\\");
  ConvertEach(encoding, catalogue.fileNames, fileNames, failed);
  MarkFolderEntries(catalogue, failedFolders, failed);

  catalogue.folderNames.swap(folderNames);
  catalogue.fileNames.swap(fileNames);
  std::vector<std::string> entryNames = std::move(catalogue.entryNames);
  if (!JoinEntryNames(catalogue)) {
    // Converted, the names would add up to more than an archive may hold: none is taken.
    catalogue.folderNames.swap(folderNames);
    catalogue.fileNames.swap(fileNames);
    catalogue.entryNames = std::move(entryNames);
    return std::vector<bool>(count, true);
  }
  catalogue.alias = alias;
  for (size_t j = 0; j < count; ++j) {
    if (failed[j]) catalogue.entryNames[j] = std::move(entryNames[j]);
  }
  const bool anyFailed = std::find(failed.begin(), failed.end(), true) != failed.end();
  return anyFailed ? failed : std::vector<bool>();
}

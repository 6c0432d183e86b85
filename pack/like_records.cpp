#include "pack/like_records.h"

#include <algorithm>

namespace like {

namespace {

// OLD file index `v` (a folder's first or end) in the new table: before or after the files
// added at that place. Values past the table keep their distance from its end.
uint64_t IndexBefore(const Builder& b, uint64_t v) {
  const size_t n = b.shape.fileCount;
  return v <= n ? b.startOf[v] : v - n + b.records.size();
}
uint64_t IndexAfter(const Builder& b, uint64_t v) {
  return v <= b.shape.fileCount ? b.startOf[v] + b.addedAt[v] : IndexBefore(b, v);
}


}  // namespace

void OrderRecords(Builder& b) {
  const size_t n = b.shape.fileCount;
  b.records.reserve(n + b.plan.added.size());
  b.startOf.assign(n + 1, 0);
  b.addedAt.assign(n + 1, 0);
  b.positionOfAdded.assign(b.plan.added.size(), 0);
  b.positionOfOld.assign(n, kNoFile);
  size_t a = 0;
  for (size_t k = 0; k <= n; ++k) {
    b.startOf[k] = b.records.size();
    while (a < b.plan.added.size() && b.plan.added[a].anchor == k) {
      b.positionOfAdded[a] = b.records.size();
      b.records.push_back({true, a++});
      ++b.addedAt[k];
    }
    if (k < n && b.plan.fates[k] != Fate::LeftOut) {
      b.positionOfOld[k] = b.records.size();
      b.records.push_back({false, k});
    }
  }
}


// Each folder's new range: its kept files and the files added to it, side by side.
bool FolderRanges(const Builder& b, std::vector<FolderEntry>& ranges, std::string& problem) {
  const size_t n = b.shape.fileCount;
  const size_t total = b.old.folders.size() + b.plan.newFolders.size();
  std::vector<size_t> firstAdded(total, kNoFile);
  std::vector<size_t> endAdded(total, 0);
  for (size_t a = 0; a < b.plan.added.size(); ++a) {
    const size_t folder = b.plan.added[a].folder;
    firstAdded[folder] = std::min(firstAdded[folder], b.positionOfAdded[a]);
    endAdded[folder] = std::max(endAdded[folder], b.positionOfAdded[a] + 1);
  }
  ranges.assign(total, FolderEntry());
  for (size_t i = 0; i < total; ++i) {
    uint64_t first = 0;
    uint64_t end = 0;
    const bool isOld = i < b.old.folders.size();
    const uint64_t oldFirst = isOld ? b.old.folders[i].firstFile : 0;
    const uint64_t oldEnd = isOld ? b.old.folders[i].endFile : 0;
    bool keptFiles = false;
    for (uint64_t k = oldFirst; isOld && k < std::min<uint64_t>(oldEnd, n) && !keptFiles; ++k) {
      keptFiles = b.plan.fates[k] != Fate::LeftOut;
    }
    if (firstAdded[i] == kNoFile) {
      first = oldFirst < oldEnd ? IndexAfter(b, oldFirst) : IndexBefore(b, oldFirst);
      end = IndexBefore(b, oldEnd);
    } else {
      first = keptFiles ? IndexAfter(b, oldFirst) : firstAdded[i];
      end = endAdded[i];
    }
    if (first > kMaxCount || end > kMaxCount) {
      problem = "folder " + std::to_string(i) + "'s range would pass 65,535 files";
      return false;
    }
    ranges[i].firstFile = static_cast<uint16_t>(first);
    ranges[i].endFile = static_cast<uint16_t>(end);
  }
  return true;
}

// How many folders cover each record, old and new: a file added where another folder's
// range runs would take that folder's name too.
bool CheckCoverage(const Builder& b, const std::vector<FolderEntry>& ranges, std::string& problem) {
  const size_t n = b.shape.fileCount;
  std::vector<int64_t> oldCover(n + 1, 0);
  for (const FolderEntry& folder : b.old.folders) {
    const size_t end = std::min<size_t>(folder.endFile, n);
    if (folder.firstFile >= end) continue;
    ++oldCover[folder.firstFile];
    --oldCover[end];
  }
  const size_t count = b.records.size();
  std::vector<int64_t> newCover(count + 1, 0);
  for (const FolderEntry& folder : ranges) {
    const size_t end = std::min<size_t>(folder.endFile, count);
    if (folder.firstFile >= end) continue;
    ++newCover[folder.firstFile];
    --newCover[end];
  }
  std::vector<int64_t> oldRunning(n);
  int64_t running = 0;
  for (size_t k = 0; k < n; ++k) oldRunning[k] = running += oldCover[k];
  running = 0;
  for (size_t p = 0; p < count; ++p) {
    running += newCover[p];
    const NewRecord& record = b.records[p];
    const int64_t wanted = record.added ? 1 : oldRunning[record.index];
    if (running != wanted) {
      const std::string name =
          record.added ? SourcePath(b.tree, b.tree.files[b.plan.added[record.index].source])
                       : "entry " + std::to_string(record.index);
      problem = name + " would fall into another folder's range of files";
      return false;
    }
  }
  return true;
}

}  // namespace like

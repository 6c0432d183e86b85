#include "extract/entry_order.h"

#include <algorithm>

#include "platform/file_io.h"

namespace {

constexpr uint64_t kHashStart = 14695981039346656037ull;  // 64-bit FNV-1a

uint64_t HashOn(uint64_t hash, char c) {
  return (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
}

// Separators at the start go too: below the folder every entry shares, "/a" is "a".
void MakeComparable(const std::string& path, std::string& comparable) {
  comparable.clear();
  for (char c : path) {
    if (platform::IsPathSeparator(c)) {
      if (comparable.empty() || comparable.back() == '/') continue;
      c = '/';
    } else if (platform::kNamesIgnoreCase && c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    comparable += c;
  }
}

// The entries of the folder left count as below each folder above them; the new folder's
// way is hashed once for all of its entries.
void EnterFolder(EntryOrder& order, size_t folderLength) {
  for (uint64_t hash : order.ancestors) {
    size_t& below = order.marks[hash].lastBelow;
    below = std::max(below, order.lastInFolder);
  }
  order.folder.assign(order.path, 0, folderLength);
  order.ancestors.clear();
  order.ancestorFile = 0;
  order.lastInFolder = 0;
  uint64_t hash = kHashStart;
  for (size_t i = 0; i < folderLength; ++i) {
    if (order.path[i] == '/' && i > 0) order.ancestors.push_back(hash);
    hash = HashOn(hash, order.path[i]);
  }
  if (folderLength > 0) order.ancestors.push_back(hash);
  order.folderHash = hash;
  for (uint64_t ancestor : order.ancestors) {
    const auto found = order.marks.find(ancestor);
    if (found != order.marks.end()) {
      order.ancestorFile = std::max(order.ancestorFile, found->second.lastFile);
    }
  }
}

}  // namespace

EntryPlace PlaceEntry(EntryOrder& order, size_t index, const std::string& path) {
  EntryPlace place;
  if (path.empty()) return place;
  MakeComparable(path, order.path);
  const size_t cut = order.path.rfind('/');
  const size_t folderLength = cut == std::string::npos ? 0 : cut;
  // Entries of one folder come one after the other: its way is looked at once.
  if (order.marks.empty() || order.folder.size() != folderLength ||
      order.path.compare(0, folderLength, order.folder) != 0) {
    EnterFolder(order, folderLength);
    place.newFolder = true;
  }
  uint64_t hash = order.folderHash;
  for (size_t i = folderLength; i < order.path.size(); ++i) hash = HashOn(hash, order.path[i]);
  EntryOrder::Marks& marks = order.marks[hash];
  place.waitBelow = std::max({order.ancestorFile, marks.lastFile, marks.lastBelow});
  marks.lastFile = index + 1;
  order.lastInFolder = index + 1;
  return place;
}

void ForgetDoneEntries(EntryOrder& order, size_t doneBelow) {
  if (order.marks.size() < order.forgetAbove) return;
  for (auto it = order.marks.begin(); it != order.marks.end();) {
    const bool done = std::max(it->second.lastFile, it->second.lastBelow) <= doneBelow;
    it = done ? order.marks.erase(it) : std::next(it);
  }
  order.forgetAbove = std::max(order.forgetAbove, 2 * order.marks.size());
}

std::string ComparablePath(const std::string& path) {
  std::string comparable;
  MakeComparable(path, comparable);
  return comparable;
}

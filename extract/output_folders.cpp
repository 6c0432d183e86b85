#include "extract/output_folders.h"

#include <string_view>

namespace {

// The destination, made when missing as `mkdir -p` would make it, links in it followed.
platform::FolderPtr OpenBase(const std::string& base, std::string* error) {
  bool missing = false;
  platform::FolderPtr folder = platform::OpenFolder(base, error, &missing);
  if (folder || !missing) return folder;
  std::string failure;  // of the first folder after the last one that is there
  for (size_t i = 0; i < base.size(); ++i) {
    if (!platform::IsPathSeparator(base[i]) && i + 1 != base.size()) continue;
    std::string reason;
    if (platform::CreateFolder(base.substr(0, i + 1), &reason)) {
      failure.clear();
    } else if (failure.empty()) {
      failure = reason;
    }
  }
  folder = platform::OpenFolder(base, error);
  if (!folder && !failure.empty() && error != nullptr) *error = failure;
  return folder;
}

// Folders held open along one way; deeper ones are open only while innermost.
constexpr size_t kMaxHeldFolders = 32;

// The folder names of a path's folder part, doubled separators skipped.
std::vector<std::string_view> FoldersOf(std::string_view path) {
  std::vector<std::string_view> names;
  for (size_t start = 0; start < path.size();) {
    size_t end = start;
    while (end < path.size() && !platform::IsPathSeparator(path[end])) ++end;
    if (end > start) names.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

platform::Folder& Innermost(OutputFolders& folders) {
  return folders.open.empty() ? *folders.baseFolder : *folders.open.back();
}

// Opens the folder `name` below the innermost one, making it when missing. `fresh`: the
// folder above was just made, so this one cannot be there yet.
bool Descend(OutputFolders& folders, const std::string& name, bool& fresh, std::string* error) {
  platform::Folder& parent = Innermost(folders);
  platform::FolderPtr next;
  bool missing = true;
  if (!fresh) next = platform::OpenFolderIn(parent, name, error, &missing);
  if (!next && missing) {
    if (!platform::MakeFolderIn(parent, name, error)) return false;
    fresh = true;
    next = platform::OpenFolderIn(parent, name, error);
  }
  if (!next) return false;
  folders.names.push_back(name);
  folders.open.push_back(std::move(next));
  return true;
}

}  // namespace

size_t FileNameAt(const std::string& path) {
  size_t at = path.size();
  while (at > 0 && !platform::IsPathSeparator(path[at - 1])) --at;
  return at;
}

platform::Folder* ReachFolder(OutputFolders& folders, const std::string& base,
                              const std::string& below, size_t nameAt, std::string* error) {
  const std::string_view wanted(below.data(), nameAt);
  if (folders.baseFolder && folders.base == base) {
    if (folders.whole && folders.reached == wanted) return &Innermost(folders);
  } else {
    folders = OutputFolders();
    folders.baseFolder = OpenBase(base, error);
    if (!folders.baseFolder) return nullptr;
    folders.base = base;
  }
  folders.whole = false;
  const std::vector<std::string_view> way = FoldersOf(wanted);
  // Go on from the deepest folder still open that the last entry's way shares.
  size_t depth = 0;
  while (depth < way.size() && depth < folders.names.size() && folders.names[depth] == way[depth]) {
    ++depth;
  }
  while (depth > 0 && !folders.open[depth - 1]) --depth;
  folders.names.resize(depth);
  folders.open.resize(depth);
  bool fresh = false;
  for (; depth < way.size(); ++depth) {
    if (!Descend(folders, std::string(way[depth]), fresh, error)) return nullptr;
    // Far down a deep way only the innermost folder stays open, so that a hostile depth
    // cannot use up the process's handles; a later entry there walks again from above.
    if (depth > kMaxHeldFolders) folders.open[depth - 1].reset();
  }
  folders.reached.assign(wanted);
  folders.whole = true;
  return &Innermost(folders);
}

#include "pack/source_tree.h"

#include <algorithm>

#include "platform/folder_items.h"

namespace {

// Deeper than any extraction writes (its names have at most this many components).
constexpr size_t kMaxDepth = 256;

const char* RefusalFor(const platform::FolderItem& item) {
  if (!item.nameFits) return "its name has no form in the ANSI code page";
  switch (item.kind) {
    case platform::ItemKind::Link:
      return "a symbolic link, not followed";
    case platform::ItemKind::Special:
      return "a device, FIFO or socket, not a file";
    default:
      return nullptr;
  }
}

SourceName Stored(SourceTree& tree, const std::string& name) {
  const SourceName stored{static_cast<uint32_t>(tree.names.size()),
                          static_cast<uint32_t>(name.size())};
  tree.names += name;
  return stored;
}

// Lists one folder and, depth first, those below it, each folder's items in the order of
// their names: files and folders then come out sorted by their components.
void ScanFolder(SourceTree& tree, uint32_t index, const std::function<bool()>& interrupted) {
  if (interrupted && interrupted()) return;
  const PathComponents here = FolderComponents(tree, index);
  const std::string path = JoinSourcePath(tree.top, here);
  std::vector<platform::FolderItem> items;
  std::string error;
  if (!platform::ListFolderItems(path, index == 0, items, &error)) {
    tree.unreadable.push_back(path + ": " + error);
    return;
  }
  std::sort(
      items.begin(), items.end(),
      [](const platform::FolderItem& a, const platform::FolderItem& b) { return a.name < b.name; });
  const uint32_t depth = tree.folders[index].depth + 1;
  for (const platform::FolderItem& item : items) {
    const char* refusal = RefusalFor(item);
    if (refusal != nullptr || (item.kind == platform::ItemKind::Folder && depth > kMaxDepth)) {
      PathComponents below = here;
      below.push_back(item.name);
      tree.refused.push_back(JoinSourcePath(tree.top, below) + ": " +
                             (refusal != nullptr ? refusal : "folders nested too deep"));
    } else if (item.kind == platform::ItemKind::Folder) {
      tree.folders.push_back({index, depth, Stored(tree, item.name)});
      ScanFolder(tree, static_cast<uint32_t>(tree.folders.size() - 1), interrupted);
    } else {
      tree.files.push_back({index, Stored(tree, item.name), item.size});
    }
  }
}

// The folders from the top one's child down to `folder`.
std::vector<size_t> WayTo(const SourceTree& tree, size_t folder) {
  std::vector<size_t> way(tree.folders[folder].depth);
  for (size_t i = way.size(); i > 0; --i) {
    way[i - 1] = folder;
    folder = tree.folders[folder].parent;
  }
  return way;
}

}  // namespace

std::string JoinSourcePath(const std::string& folder, const PathComponents& components) {
  std::string path = folder;
  for (const std::string& component : components) {
    if (!path.empty() && !platform::IsPathSeparator(path.back())) path += platform::kPathSeparator;
    path += component;
  }
  return path;
}

std::string_view NameOf(const SourceTree& tree, SourceName name) {
  return std::string_view(tree.names).substr(name.at, name.length);
}

PathComponents FolderComponents(const SourceTree& tree, size_t folder) {
  PathComponents components;
  for (size_t index : WayTo(tree, folder)) {
    components.emplace_back(NameOf(tree, tree.folders[index].name));
  }
  return components;
}

PathComponents FileComponents(const SourceTree& tree, const SourceFile& file) {
  PathComponents components = FolderComponents(tree, file.folder);
  components.emplace_back(NameOf(tree, file.name));
  return components;
}

std::string SourcePath(const SourceTree& tree, const SourceFile& file) {
  return JoinSourcePath(tree.top, FileComponents(tree, file));
}

SourceTree ScanSourceFolder(const std::string& folder, const std::function<bool()>& interrupted) {
  SourceTree tree;
  tree.top = folder;
  tree.folders.push_back(SourceFolder());
  std::string error;
  tree.topFolder = platform::OpenFolder(folder, &error);
  if (!tree.topFolder) {
    tree.unreadable.push_back(folder + ": " + error);
    return tree;
  }
  ScanFolder(tree, 0, interrupted);
  tree.names.shrink_to_fit();  // held to the end: no room left over
  tree.files.shrink_to_fit();
  std::sort(tree.refused.begin(), tree.refused.end());
  std::sort(tree.unreadable.begin(), tree.unreadable.end());
  return tree;
}

platform::FilePtr OpenSourceFile(const SourceTree& tree, size_t file, SourceReader& reader,
                                    std::string* error) {
  const SourceFile& wanted = tree.files[file];
  if (!reader.open || reader.folder != wanted.folder) {
    reader.open.reset();
    platform::FolderPtr here;
    for (size_t index : WayTo(tree, wanted.folder)) {
      platform::Folder& parent = here ? *here : *tree.topFolder;
      std::string reason;
      platform::FolderPtr next = platform::OpenFolderIn(
          parent, std::string(NameOf(tree, tree.folders[index].name)), &reason);
      if (!next) {
        if (error != nullptr) *error = "changed since it was listed: " + reason;
        return nullptr;
      }
      here = std::move(next);
    }
    reader.folder = wanted.folder;
    reader.open = std::move(here);  // null for the top folder, which the tree holds
  }
  platform::Folder& folder = reader.open ? *reader.open : *tree.topFolder;
  return platform::OpenRegularFileIn(folder, std::string(NameOf(tree, wanted.name)), error);
}

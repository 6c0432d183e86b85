#include "pack/source_tree.h"

#include <algorithm>

#include "platform/file_io.h"
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

}  // namespace

std::string JoinSourcePath(const std::string& folder, const PathComponents& components) {
  std::string path = folder;
  for (const std::string& component : components) {
    if (!path.empty() && !platform::IsPathSeparator(path.back())) path += platform::kPathSeparator;
    path += component;
  }
  return path;
}

SourceTree ScanSourceFolder(const std::string& folder, const std::function<bool()>& interrupted) {
  SourceTree tree;
  std::vector<PathComponents> pending{PathComponents()};
  std::vector<platform::FolderItem> items;
  while (!pending.empty() && !(interrupted && interrupted())) {
    const PathComponents here = std::move(pending.back());
    pending.pop_back();
    const std::string path = JoinSourcePath(folder, here);
    std::string error;
    if (!platform::ListFolderItems(path, here.empty(), items, &error)) {
      tree.unreadable.push_back(path + ": " + error);
      continue;
    }
    for (const platform::FolderItem& item : items) {
      PathComponents below = here;
      below.push_back(item.name);
      const char* refusal = RefusalFor(item);
      if (refusal != nullptr) {
        tree.refused.push_back(JoinSourcePath(folder, below) + ": " + refusal);
      } else if (item.kind == platform::ItemKind::Folder) {
        if (below.size() > kMaxDepth) {
          tree.refused.push_back(JoinSourcePath(folder, below) + ": folders nested too deep");
          continue;
        }
        tree.folders.push_back(below);
        pending.push_back(std::move(below));
      } else {
        SourceFile file;
        file.path = JoinSourcePath(folder, below);
        file.components = std::move(below);
        file.size = item.size;
        tree.files.push_back(std::move(file));
      }
    }
  }
  std::sort(tree.files.begin(), tree.files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.components < b.components; });
  std::sort(tree.folders.begin(), tree.folders.end());
  std::sort(tree.refused.begin(), tree.refused.end());
  std::sort(tree.unreadable.begin(), tree.unreadable.end());
  return tree;
}

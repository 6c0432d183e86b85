#include "mount/mount_tree.h"

#include <algorithm>
#include <map>

#include "decode/entry_decode.h"
#include "extract/safe_name.h"

namespace {

// Longest file or folder name Linux file systems hold; extraction fails on longer ones.
constexpr size_t kMaxComponentLength = 255;

std::vector<std::string> SplitPath(const std::string& path) {
  std::vector<std::string> components;
  std::string component;
  for (char c : ToNativeSeparators(path)) {
    if (c != '/') {
      component += c;
    } else if (!component.empty()) {
      components.push_back(std::move(component));
      component.clear();
    }
  }
  if (!component.empty()) components.push_back(std::move(component));
  return components;
}

std::string JoinPath(const std::vector<std::string>& components) {
  std::string joined;
  for (const std::string& component : components) {
    if (!joined.empty()) joined += '/';
    joined += component;
  }
  return joined;
}

// The tree while it grows: each folder's children by name.
struct TreeBuilder {
  MountTree tree;
  std::vector<std::map<std::string, uint32_t>> children;

  uint32_t Add(uint32_t parent, const std::string& name, bool isFolder, uint32_t entry) {
    const uint32_t id = static_cast<uint32_t>(tree.nodes.size());
    MountNode node;
    node.name = name;
    node.parent = parent;
    node.isFolder = isFolder;
    node.entry = entry;
    tree.nodes.push_back(std::move(node));
    children.emplace_back();
    if (id != 0) children[parent][name] = id;
    if (id != 0 && isFolder) ++tree.nodes[parent].subfolders;
    return id;
  }

  // Places one entry as extraction would write it; returns why it cannot be, or "".
  // Folders on the way are made even when the file then fails, as extraction leaves them.
  std::string Place(const std::vector<std::string>& components, uint32_t entry) {
    uint32_t folder = 0;
    for (size_t i = 0; i < components.size(); ++i) {
      const std::string& name = components[i];
      if (name.size() > kMaxComponentLength) return "name too long";
      const bool last = i + 1 == components.size();
      const auto found = children[folder].find(name);
      if (found == children[folder].end()) {
        folder = Add(folder, name, !last, entry);
        continue;
      }
      MountNode& node = tree.nodes[found->second];
      if (!last) {
        if (!node.isFolder) return "a file of that name is in the way";
        folder = found->second;
      } else if (node.isFolder) {
        return "a folder of that name is in the way";
      } else {
        node.entry = entry;  // the later entry replaces the earlier file
      }
    }
    return "";
  }

  MountTree Finish() {
    for (size_t id = 0; id < children.size(); ++id) {
      for (const auto& child : children[id]) tree.nodes[id].children.push_back(child.second);
    }
    return std::move(tree);
  }
};

}  // namespace

std::string ShownPath(const ArchiveCatalogue& catalogue, size_t entry) {
  return JoinPath(SplitPath(catalogue.alias + "/" + catalogue.entryNames[entry]));
}

MountTree BuildMountTree(const ArchiveCatalogue& catalogue, const std::vector<bool>& notConverted,
                         const std::string& codePage, std::vector<std::string>& leftOut) {
  TreeBuilder builder;
  builder.Add(0, "", true, 0);
  // The alias is the first folder of every entry: an unsafe one leaves them all out.
  if (!IsSafeRelativePath(catalogue.alias, false)) {
    leftOut.push_back(JoinPath(SplitPath(catalogue.alias)) + ": unsafe alias, no entry shown");
    return builder.Finish();
  }
  for (size_t i = 0; i < catalogue.entries.size(); ++i) {
    const std::string& name = catalogue.entryNames[i];
    const std::vector<std::string> components = SplitPath(catalogue.alias + "/" + name);
    std::string why;
    if (i < notConverted.size() && notConverted[i]) {
      why = "name not valid " + codePage;
    } else if (!IsSafeRelativePath(name, true)) {
      why = "unsafe name";
    } else if (!EntryDataInsideFile(catalogue, catalogue.entries[i])) {
      why = "data lies outside the archive";
    } else {
      why = builder.Place(components, static_cast<uint32_t>(i));
    }
    if (!why.empty()) leftOut.push_back(JoinPath(components) + ": " + why + ", not shown");
  }
  return builder.Finish();
}

bool FindChild(const MountTree& tree, uint32_t folder, const std::string& name, uint32_t& child) {
  const std::vector<uint32_t>& children = tree.nodes[folder].children;
  const auto at = std::lower_bound(
      children.begin(), children.end(), name,
      [&](uint32_t id, const std::string& wanted) { return tree.nodes[id].name < wanted; });
  if (at == children.end() || tree.nodes[*at].name != name) return false;
  child = *at;
  return true;
}

// The folder tree a mounted archive shows: exactly what `wza extract` writes below the
// archive's folder (the alias folder, then the entries in their folders).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/catalogue.h"

struct MountNode {
  std::string name;  // one path component; empty for the root
  uint32_t parent = 0;
  bool isFolder = true;
  uint32_t entry = 0;              // files: the catalogue entry shown
  std::vector<uint32_t> children;  // folders: sorted by name, bytewise
  uint32_t subfolders = 0;
};

// Node 0 is the root, the mount point itself.
struct MountTree {
  std::vector<MountNode> nodes;
};

// Builds the tree with extraction's rules: names not valid in the code page they are read
// in (by entry in `notConverted`, empty when all were converted), unsafe names, entries
// whose data lies outside the archive and names no folder can hold are left out, each with
// one line in `leftOut` ("NAME: why"); of two entries with the same name the later one is
// shown.
MountTree BuildMountTree(const ArchiveCatalogue& catalogue, const std::vector<bool>& notConverted,
                         const std::string& codePage, std::vector<std::string>& leftOut);

// The child of `folder` called `name`; false when there is none.
bool FindChild(const MountTree& tree, uint32_t folder, const std::string& name, uint32_t& child);

// An entry's path below the mount point, "/" between its components.
std::string ShownPath(const ArchiveCatalogue& catalogue, size_t entry);

// Listing a folder as it is: what each item is, with no symbolic link followed, for
// `wza pack`, which must take a folder's contents as they stand.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class ItemKind {
  File,     // a regular file
  Folder,   // a folder (never a link to one)
  Link,     // a symbolic link; on Windows any reparse point (junctions too)
  Special,  // a device, FIFO or socket
};

struct FolderItem {
  std::string name;  // on Windows in the ANSI code page
  ItemKind kind = ItemKind::File;
  uint64_t size = 0;     // files only
  bool nameFits = true;  // Windows: false when the name has no form in the ANSI code page
};

// The items of `folder` (without "." and ".."), in no particular order. `folder` itself is
// followed when it is a link only with `followLink`. False, reason in *error, when it
// cannot be listed.
bool ListFolderItems(const std::string& folder, bool followLink, std::vector<FolderItem>& items,
                     std::string* error);

}  // namespace platform

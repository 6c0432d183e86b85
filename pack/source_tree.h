// The folder `wza pack` packs, as it stands on disk: its files and folders, nothing
// followed, and what in it cannot go into an archive. Each name is held once, in one store;
// paths are put together only when needed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_io.h"

using PathComponents = std::vector<std::string>;

// A name in SourceTree::names.
struct SourceName {
  uint32_t at = 0;
  uint32_t length = 0;
};

struct SourceFolder {
  uint32_t parent = 0;  // into SourceTree::folders; the top folder's is its own
  uint32_t depth = 0;   // components below the top folder
  SourceName name;
};

struct SourceFile {
  uint32_t folder = 0;  // into SourceTree::folders
  SourceName name;
  uint64_t size = 0;
};

struct SourceTree {
  std::string top;                      // the folder as given
  platform::FolderPtr topFolder;        // held from the listing on: files are opened below it
  std::string names;                    // every folder's and file's own name
  std::vector<SourceFolder> folders;    // the top folder first, then the others, sorted
  std::vector<SourceFile> files;        // sorted by their components
  std::vector<std::string> refused;     // "PATH: why" for links, devices, FIFOs, names
  std::vector<std::string> unreadable;  // "PATH: reason" for folders that cannot be listed
};

// Lists `folder` and everything below it without following a link (`folder` itself may be
// one). Stops early, with what it has, once `interrupted` says so.
SourceTree ScanSourceFolder(const std::string& folder, const std::function<bool()>& interrupted);

std::string_view NameOf(const SourceTree& tree, SourceName name);
// The components below the top folder of a folder (its index) or a file.
PathComponents FolderComponents(const SourceTree& tree, size_t folder);
PathComponents FileComponents(const SourceTree& tree, const SourceFile& file);
// The file's path, the top folder in front, to name it to the user.
std::string SourcePath(const SourceTree& tree, const SourceFile& file);

// `folder` with the components appended by the platform's separator.
std::string JoinSourcePath(const std::string& folder, const PathComponents& components);

// What a thread reading the tree's files keeps: the folder of the last file opened.
struct SourceReader {
  size_t folder = 0;
  platform::FolderPtr open;  // null: none held
};

// Opens the tree's file `file` the way it was listed: folder by folder from the top one,
// no link followed at any level, so that nothing swapped in since sends the read
// elsewhere. Null on failure, the reason in *error.
platform::FilePtr OpenSourceFile(const SourceTree& tree, size_t file, SourceReader& reader,
                                 std::string* error);

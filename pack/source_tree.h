// The folder `wza pack` packs, as it stands on disk: its files and folders, nothing
// followed, and what in it cannot go into an archive.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using PathComponents = std::vector<std::string>;

struct SourceFile {
  PathComponents components;  // below the folder, as the file system names them
  std::string path;           // the folder and the components joined, for opening
  uint64_t size = 0;
};

struct SourceTree {
  std::vector<SourceFile> files;         // sorted by their components
  std::vector<PathComponents> folders;   // every folder below the top one, sorted
  std::vector<std::string> refused;      // "PATH: why" for links, devices, FIFOs, names
  std::vector<std::string> unreadable;   // "PATH: reason" for folders that cannot be listed
};

// Lists `folder` and everything below it without following a link (`folder` itself may be
// one). Stops early, with what it has, once `interrupted` says so.
SourceTree ScanSourceFolder(const std::string& folder, const std::function<bool()>& interrupted);

// `folder` with the components appended by the platform's separator.
std::string JoinSourcePath(const std::string& folder, const PathComponents& components);

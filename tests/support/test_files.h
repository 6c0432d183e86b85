// Temporary folders and whole-file helpers for the tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

// A fresh folder below the system's temporary folder, removed again at the end of scope.
struct TempFolder {
  fs::path path;
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  // The folder as text, ending with the platform's separator.
  std::string Root() const;
};

void WriteFile(const fs::path& path, const std::string& bytes);
std::string ReadFile(const fs::path& path);

// Makes `link` a symbolic link to the folder `target`, as another program or user might
// have left one. Under Wine, whose Windows calls make no link, the host system makes it:
// Wine shows such a link to a folder as a link. False where no link can be made.
bool MakeFolderLink(const fs::path& target, const fs::path& link);
// The same for a file. Never under Wine: it shows the host's link to a file as the file.
bool MakeFileLink(const fs::path& target, const fs::path& link);
// Removes a link made by them, never what it leads to.
void RemoveLink(const fs::path& link);

// Every file below `root`, by its relative path with "/" separators, with its content.
// Folders appear with a trailing "/" and empty content.
std::map<std::string, std::string> ReadTree(const fs::path& root);

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

// Every file below `root`, by its relative path with "/" separators, with its content.
// Folders appear with a trailing "/" and empty content.
std::map<std::string, std::string> ReadTree(const fs::path& root);

// Temporary folders and whole-file helpers for the tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

// Symbolic links made for a test, as another program or user might have left them. They
// go at the end of scope, before the folder they are in: Wine cannot remove them itself.
struct TestLinks {
  std::vector<fs::path> made;
  TestLinks() = default;
  ~TestLinks();
  TestLinks(const TestLinks&) = delete;
  TestLinks& operator=(const TestLinks&) = delete;
  // `link` to the folder `target`. Under Wine, whose Windows calls make no link, the host
  // system makes it, and Wine shows it as a link. False where no link can be made.
  bool ToFolder(const fs::path& target, const fs::path& link);
  // `link` to a file. Never under Wine: it shows the host's link to a file as the file.
  bool ToFile(const fs::path& target, const fs::path& link);
  // Removes a link, never what it leads to.
  void Remove(const fs::path& link);
};

// Every file below `root`, by its relative path with "/" separators, with its content.
// Folders appear with a trailing "/" and empty content.
std::map<std::string, std::string> ReadTree(const fs::path& root);

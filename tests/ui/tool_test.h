// What the window tests share: a fixture that starts the tool for each test, its controls
// looked up from outside, and the steps a user takes through the dialogs.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/archive_writer.h"
#include "tests/support/test_files.h"
#include "tests/ui/window_driver.h"

using Tree = std::map<std::string, std::string>;

struct MainControls {
  HWND pathEdit = nullptr;
  HWND pathButton = nullptr;
  HWND saveToEdit = nullptr;
  HWND saveToButton = nullptr;
  HWND fileList = nullptr;
  HWND currentBar = nullptr;
  HWND totalBar = nullptr;
  HWND extractButton = nullptr;
  HWND webLink = nullptr;
};

// Finds the controls by what they are (id, class, order), not by where they are: the
// layout checks look at the places.
MainControls FindControls(HWND window);

class ToolTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Declared first, so it is removed after TearDown has ended the tool: the tool's open
  // dialog makes the folder its current one, which keeps it from being deleted.
  TempFolder folder;
  Tool tool;
  MainControls controls;
};

// The folder as the tool shows it in "Path:": with a closing backslash.
std::string FolderText(const TempFolder& folder);

// Picks `names` (all in `folder`) through the open dialog: opens it with "...", goes to
// the folder, picks the files and waits until the tool has taken the dialog's answer.
void PickArchives(const Tool& tool, const MainControls& controls, const std::string& folder,
                  const std::vector<std::string>& names);

// Picks the folder `child`, which lies directly in the folder "Save to:" names, through
// the folder browser.
void PickDestinationChild(const Tool& tool, const MainControls& controls, const std::string& child);

// Presses OK in the "Information" box and waits until the window is idle again.
void FinishRun(const Tool& tool, const MainControls& controls, HWND doneBox);

// Everything the tool should write for the first `limit` entries of an archive.
Tree ExpectedTree(const ArchiveSpec& spec, const std::string& archiveName,
                  size_t limit = static_cast<size_t>(-1));
// Stored size of each entry, in file-table order.
std::vector<uint64_t> StoredSizes(const BuiltArchive& built);
// Files (not folders) in a tree.
size_t FileCount(const Tree& tree);
// Files below `root`, without reading them; 0 when it does not exist.
size_t FilesBelow(const fs::path& root);
// The tree below `root`, or an empty one when it does not exist.
Tree TreeOf(const fs::path& root);

#include "tests/ui/tool_test.h"

MainControls FindControls(HWND window) {
  MainControls found;
  found.pathButton = GetDlgItem(window, 10);
  found.saveToButton = GetDlgItem(window, 11);
  found.extractButton = GetDlgItem(window, 12);
  found.fileList = GetDlgItem(window, 14);
  std::vector<HWND> edits;
  std::vector<HWND> bars;
  for (const Control& control : ChildControls(window)) {
    if (lstrcmpiA(control.className.c_str(), "Edit") == 0) edits.push_back(control.handle);
    if (lstrcmpiA(control.className.c_str(), PROGRESS_CLASSA) == 0) bars.push_back(control.handle);
    if (control.text.rfind("Web Site: ", 0) == 0) found.webLink = control.handle;
  }
  if (edits.size() == 2) {
    found.pathEdit = edits[0];
    found.saveToEdit = edits[1];
  }
  if (bars.size() == 2) {
    found.currentBar = bars[0];
    found.totalBar = bars[1];
  }
  return found;
}

void ToolTest::SetUp() {
  std::string error;
  ASSERT_TRUE(StartTool(tool, &error)) << error;
  // The window is found as soon as it exists, before its controls: on a loaded machine the
  // tool may still be making them.
  const auto complete = [&] {
    controls = FindControls(tool.window);
    return controls.pathEdit && controls.pathButton && controls.saveToEdit &&
           controls.saveToButton && controls.fileList && controls.currentBar &&
           controls.totalBar && controls.extractButton && controls.webLink;
  };
  ASSERT_TRUE(WaitUntil(complete)) << "a control of the main window is missing";
}

void ToolTest::TearDown() {
  if (HasFailure() && IsRunning(tool)) {
    for (const std::string& box : OpenBoxes(tool)) ADD_FAILURE() << "still open: " << box;
  }
  StopTool(tool);
}

std::string FolderText(const TempFolder& folder) {
  return folder.Root();
}

void PickArchives(const Tool& tool, const MainControls& controls, const std::string& folder,
                  const std::vector<std::string>& names) {
  Click(controls.pathButton);
  HWND dialog = WaitForOpenDialog(tool);
  ASSERT_TRUE(dialog) << "the open dialog did not appear";
  ASSERT_TRUE(OpenDialogEnter(dialog, folder));
  std::string picked;
  for (const std::string& name : names) {
    picked += (names.size() == 1 ? name : "\"" + name + "\" ");
  }
  ASSERT_TRUE(OpenDialogEnter(dialog, picked));
  ASSERT_TRUE(WaitUntilGone(dialog)) << "the open dialog stayed open";
  ASSERT_TRUE(SyncWith(tool));
  ASSERT_EQ(ListBoxItems(controls.fileList).size(), names.size());
}

void PickDestinationChild(const Tool& tool, const MainControls& controls,
                          const std::string& child) {
  Click(controls.saveToButton);
  HWND browser = WaitForFolderBrowser(tool);
  ASSERT_TRUE(browser) << "the folder browser did not appear";
  HWND tree = FolderTree(browser);
  HTREEITEM current = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (current = TreeSelection(tree)) != nullptr; }));
  HTREEITEM target = nullptr;
  ASSERT_TRUE(WaitUntil([&] {
    for (HTREEITEM item : TreeChildren(tree, current)) {
      if (TreeItemText(tool, tree, item) == child) target = item;
    }
    return target != nullptr;
  })) << "no folder "
      << child << " below the selected one";
  ASSERT_TRUE(SelectTreeItem(tree, target));
  PressDialogButton(browser, IDOK);
  ASSERT_TRUE(WaitUntilGone(browser));
}

void FinishRun(const Tool& tool, const MainControls& controls, HWND doneBox) {
  ASSERT_TRUE(AnswerMessageBox(doneBox, IDOK));
  ASSERT_TRUE(WaitUntil([&] { return TextOf(controls.extractButton) == "Extract"; }))
      << "the Extract button did not come back";
  EXPECT_TRUE(IsRunning(tool));
}

Tree ExpectedTree(const ArchiveSpec& spec, const std::string& archiveName, size_t limit) {
  Tree tree;
  const std::string root = "__" + archiveName + "/" + spec.alias + "/";
  size_t index = 0;
  for (const TestFolder& folder : spec.folders) {
    std::string folderPath = folder.name;
    for (char& c : folderPath) {
      if (c == '\\') c = '/';
    }
    for (const TestEntry& entry : folder.entries) {
      if (index++ >= limit) return tree;
      const std::string path = root + (folderPath.empty() ? "" : folderPath + "/") + entry.name;
      for (size_t slash = path.find('/'); slash != std::string::npos;
           slash = path.find('/', slash + 1)) {
        tree[path.substr(0, slash + 1)] = "";
      }
      tree[path] = entry.data;
    }
  }
  return tree;
}

std::vector<uint64_t> StoredSizes(const BuiltArchive& built) {
  std::vector<uint64_t> sizes;
  for (size_t i = 0; i < built.entryDataAt.size(); ++i) {
    const uint64_t end =
        i + 1 < built.entryDataAt.size() ? built.entryDataAt[i + 1] : built.bytes.size();
    sizes.push_back(end - built.entryDataAt[i]);
  }
  return sizes;
}

size_t FileCount(const Tree& tree) {
  size_t files = 0;
  for (const auto& item : tree) {
    if (item.first.empty() || item.first.back() != '/') ++files;
  }
  return files;
}

size_t FilesBelow(const fs::path& root) {
  std::error_code error;
  size_t files = 0;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) ++files;
  }
  return files;
}

Tree TreeOf(const fs::path& root) {
  std::error_code error;
  if (!fs::is_directory(root, error)) return {};
  return ReadTree(root);
}

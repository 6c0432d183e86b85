// The two "..." buttons through the real dialogs: picking archives and the destination.
#include <algorithm>

#include "tests/ui/tool_test.h"

namespace {

// `shrink`: how much shorter the dialog may have become after it was centred.
void ExpectCentred(HWND dialog, int shrink = 0) {
  RECT rect{};
  ASSERT_TRUE(GetWindowRect(dialog, &rect));
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  EXPECT_EQ(rect.left, (GetSystemMetrics(SM_CXSCREEN) - width) / 2) << "dialog " << width;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  EXPECT_LE(rect.top, top) << "dialog " << height;
  EXPECT_GE(rect.top, top - (shrink + 1) / 2) << "dialog " << height;
}

// Wine's open dialog drops its hidden read-only box after WM_INITDIALOG, where it is
// centred, and so ends up to 30 pixels shorter than it was then.
constexpr int kOpenDialogShrink = 30;

void WriteArchive(const fs::path& path) {
  ArchiveSpec spec;
  spec.folders = {{"", {{"a.txt", "a", false}}}};
  WriteFile(path, BuildArchive(spec).bytes);
}

std::string WithoutSeparator(std::string folder) {
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

using DialogTest = ToolTest;

TEST_F(DialogTest, OpenDialogPicksOneArchiveThenSeveralAndCancelKeepsThem) {
  for (const char* name : {"a.wza", "b.big", "x"}) WriteArchive(folder.path / name);
  const std::string folderText = FolderText(folder);

  // One archive.
  Click(controls.pathButton);
  HWND dialog = WaitForOpenDialog(tool);
  ASSERT_TRUE(dialog) << "the open dialog did not appear";
  ExpectCentred(dialog, kOpenDialogShrink);
  Snapshot("open-dialog");
  ASSERT_TRUE(OpenDialogEnter(dialog, WithoutSeparator(folderText)));
  EXPECT_EQ(OpenDialogFolder(tool, dialog), WithoutSeparator(folderText));
  ASSERT_TRUE(OpenDialogEnter(dialog, "a.wza"));
  ASSERT_TRUE(WaitUntilGone(dialog)) << "the open dialog stayed open";
  ASSERT_TRUE(WaitUntil([&] { return TextOf(controls.pathEdit) == folderText; }))
      << TextOf(controls.pathEdit);
  EXPECT_EQ(TextOf(controls.saveToEdit), folderText);
  EXPECT_EQ(ListBoxItems(controls.fileList), std::vector<std::string>{"a.wza"});

  // Several in one folder, one of them with a one-letter name; the list keeps the order
  // in which the dialog reports them.
  Click(controls.pathButton);
  dialog = WaitForOpenDialog(tool);
  ASSERT_TRUE(dialog);
  ExpectCentred(dialog, kOpenDialogShrink);
  ASSERT_TRUE(OpenDialogEnter(dialog, WithoutSeparator(folderText)));
  ASSERT_TRUE(OpenDialogEnter(dialog, "\"b.big\" \"x\" \"a.wza\""));
  ASSERT_TRUE(WaitUntilGone(dialog));
  const std::vector<std::string> several = {"b.big", "x", "a.wza"};
  ASSERT_TRUE(WaitUntil([&] { return ListBoxItems(controls.fileList).size() == 3; }));
  EXPECT_EQ(ListBoxItems(controls.fileList), several);
  EXPECT_EQ(TextOf(controls.pathEdit), folderText);
  EXPECT_EQ(TextOf(controls.saveToEdit), folderText);

  // Cancel changes nothing.
  Click(controls.pathButton);
  dialog = WaitForOpenDialog(tool);
  ASSERT_TRUE(dialog);
  PressDialogButton(dialog, IDCANCEL);
  ASSERT_TRUE(WaitUntilGone(dialog));
  ASSERT_TRUE(SyncWith(tool));
  EXPECT_EQ(TextOf(controls.pathEdit), folderText);
  EXPECT_EQ(TextOf(controls.saveToEdit), folderText);
  EXPECT_EQ(ListBoxItems(controls.fileList), several);
  EXPECT_TRUE(OpenBoxes(tool).empty()) << "a cancel is not reported";
}

TEST_F(DialogTest, FolderBrowserOpensOnSaveToPicksAnotherFolderAndCancelEmptiesIt) {
  WriteArchive(folder.path / "a.wza");
  fs::create_directories(folder.path / "out");
  fs::create_directories(folder.path / "other");
  const std::string folderText = FolderText(folder);
  const std::string outText = folderText + "out";
  PickArchives(tool, controls, WithoutSeparator(folderText), {"a.wza"});
  ASSERT_EQ(TextOf(controls.saveToEdit), folderText);

  // Opens centred, on the folder "Save to:" names, with its path in the status line.
  Click(controls.saveToButton);
  HWND browser = WaitForFolderBrowser(tool);
  ASSERT_TRUE(browser) << "the folder browser did not appear";
  ExpectCentred(browser);
  HWND tree = FolderTree(browser);
  ASSERT_TRUE(WaitUntil([&] { return TreeSelection(tree) != nullptr; }));
  HTREEITEM selected = TreeSelection(tree);
  EXPECT_EQ(TreeItemText(tool, tree, selected), folder.path.filename().string());
  EXPECT_TRUE(
      WaitUntil([&] { return Contains(StaticTexts(browser), WithoutSeparator(folderText)); }, 5000))
      << "status line: " << ::testing::PrintToString(StaticTexts(browser));
  Snapshot("folder-browser");

  // Another folder: the status line follows, and OK writes it without a closing backslash.
  HTREEITEM out = nullptr;
  for (HTREEITEM item : TreeChildren(tree, selected)) {
    if (TreeItemText(tool, tree, item) == "out") out = item;
  }
  ASSERT_TRUE(out) << "no folder out below the selected one";
  ASSERT_TRUE(SelectTreeItem(tree, out));
  EXPECT_TRUE(WaitUntil([&] { return Contains(StaticTexts(browser), outText); }, 5000))
      << "status line: " << ::testing::PrintToString(StaticTexts(browser));
  PressDialogButton(browser, IDOK);
  ASSERT_TRUE(WaitUntilGone(browser));
  ASSERT_TRUE(WaitUntil([&] { return TextOf(controls.saveToEdit) == outText; }))
      << TextOf(controls.saveToEdit);
  EXPECT_EQ(TextOf(controls.pathEdit), folderText);
  EXPECT_EQ(ListBoxItems(controls.fileList), std::vector<std::string>{"a.wza"});

  // It opens on the folder just chosen; Cancel empties "Save to:".
  Click(controls.saveToButton);
  browser = WaitForFolderBrowser(tool);
  ASSERT_TRUE(browser);
  tree = FolderTree(browser);
  ASSERT_TRUE(WaitUntil([&] { return TreeSelection(tree) != nullptr; }));
  EXPECT_EQ(TreeItemText(tool, tree, TreeSelection(tree)), "out");
  PressDialogButton(browser, IDCANCEL);
  ASSERT_TRUE(WaitUntilGone(browser));
  ASSERT_TRUE(WaitUntil([&] { return TextOf(controls.saveToEdit).empty(); }))
      << TextOf(controls.saveToEdit);
  EXPECT_EQ(TextOf(controls.pathEdit), folderText);

  // Picking archives again sets "Save to:" back to their folder.
  PickArchives(tool, controls, WithoutSeparator(folderText), {"a.wza"});
  EXPECT_EQ(TextOf(controls.saveToEdit), folderText);
}

// What Explorer does with archives dropped on the exe's icon: the files on the command line
// fill the window as the open dialog would. Files that are not there, or lie in another
// folder than the first one found, are named in one error box.
TEST_F(DialogTest, FilesOnTheCommandLineFillTheWindowAsTheOpenDialogWould) {
  for (const char* name : {"a.wza", "b.big"}) WriteArchive(folder.path / name);
  fs::create_directories(folder.path / "other");
  WriteArchive(folder.path / "other" / "c.big");
  const std::string folderText = FolderText(folder);
  StopTool(tool);
  std::string error;
  ASSERT_TRUE(StartTool(tool, &error,
                        {folderText + "b.big", folderText + "missing.big", folderText + "a.wza",
                         folderText + "other\\c.big"}))
      << error;
  controls = FindControls(tool.window);
  HWND box = WaitForMessageBox(tool, "Error");
  ASSERT_TRUE(box) << "no error box for the files left out";
  EXPECT_EQ(MessageBoxText(box), "These files were not opened:\n\n" + folderText +
                                     "missing.big: not found\n" + folderText +
                                     "other\\c.big: not in the folder of the first file");
  ASSERT_TRUE(AnswerMessageBox(box, IDOK));
  EXPECT_EQ(TextOf(controls.pathEdit), folderText);
  EXPECT_EQ(TextOf(controls.saveToEdit), folderText);
  EXPECT_EQ(ListBoxItems(controls.fileList), (std::vector<std::string>{"b.big", "a.wza"}));
  // Nothing else changes: the window waits for Extract, which then takes both.
  EXPECT_TRUE(FilesBelow(folder.path / "__a.wza") == 0);
  Click(controls.extractButton);
  HWND done = WaitForMessageBox(tool, "Information");
  ASSERT_TRUE(done) << "no Done box";
  FinishRun(tool, controls, done);
  EXPECT_EQ(FilesBelow(folder.path / "__a.wza") + FilesBelow(folder.path / "__b.big"), 2u);

  // One file: the dialog's one-file form, and no box.
  StopTool(tool);
  ASSERT_TRUE(StartTool(tool, &error, {folderText + "other\\c.big"})) << error;
  controls = FindControls(tool.window);
  ASSERT_TRUE(SyncWith(tool));
  EXPECT_EQ(TextOf(controls.pathEdit), folderText + "other\\");
  EXPECT_EQ(TextOf(controls.saveToEdit), folderText + "other\\");
  EXPECT_EQ(ListBoxItems(controls.fileList), std::vector<std::string>{"c.big"});
  EXPECT_TRUE(OpenBoxes(tool).empty());
}

}  // namespace

// Extract, end to end: archives picked through the real dialog, the boxes answered, the
// written tree compared byte for byte; the checks' errors; aborting a long run.
#include <numeric>

#include "extract/extraction_run.h"
#include "tests/ui/tool_test.h"

namespace {

// Enough entries that a run takes a few seconds under Wine, so it can be interrupted.
constexpr size_t kLargeEntries = 2400;

std::string WithoutSeparator(std::string folder) {
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();
  return folder;
}

ArchiveSpec Large() {
  ArchiveSpec spec;
  spec.alias = "big";
  spec.folders = {{"", {}}, {"sub\\deep", {}}};
  for (size_t i = 0; i < kLargeEntries; ++i) {
    TestEntry entry;
    entry.name = "e" + std::to_string(10000 + i) + ".bin";
    entry.data = std::string(3000 + i % 700, static_cast<char>('a' + i % 26)) + std::to_string(i);
    entry.compressed = i % 3 == 0;
    spec.folders[i < kLargeEntries / 2 ? 0 : 1].entries.push_back(entry);
  }
  return spec;
}

BuiltArchive Write(const fs::path& path, const ArchiveSpec& spec) {
  BuiltArchive built = BuildArchive(spec);
  WriteFile(path, built.bytes);
  return built;
}

Tree Merge(Tree a, const Tree& b) {
  a.insert(b.begin(), b.end());
  return a;
}

// What the run wrote into `folder`: its tree without the archives lying there.
Tree Output(const TempFolder& folder) {
  Tree tree = TreeOf(folder.path);
  for (auto it = tree.begin(); it != tree.end();) {
    it = it->first.find('/') == std::string::npos ? tree.erase(it) : std::next(it);
  }
  return tree;
}

// Entries written so far: files in the output folders.
size_t Written(const TempFolder& folder) {
  size_t files = 0;
  for (const auto& item : fs::directory_iterator(folder.path)) {
    if (item.is_directory()) files += FilesBelow(item.path());
  }
  return files;
}

uint64_t SumOfFirst(const std::vector<uint64_t>& sizes, size_t count) {
  return std::accumulate(sizes.begin(), sizes.begin() + count, uint64_t{0});
}

std::vector<std::string> TooltipTexts(const Tool& tool, HWND control) {
  std::vector<std::string> texts;
  for (const ToolTip& tip : ToolTipsOf(tool)) {
    if (reinterpret_cast<HWND>(tip.id) == control) texts.push_back(tip.text);
  }
  return texts;
}

void ExpectIdle(const Tool& tool, const MainControls& controls) {
  EXPECT_TRUE(IsRunning(tool));
  EXPECT_TRUE(IsWindowVisible(tool.window));
  EXPECT_EQ(TextOf(controls.extractButton), "Extract");
  EXPECT_TRUE(IsWindowEnabled(controls.pathButton));
  EXPECT_TRUE(IsWindowEnabled(controls.saveToButton));
  EXPECT_EQ(ProgressPosition(controls.currentBar), 0);
  EXPECT_EQ(ProgressPosition(controls.totalBar), 0);
  EXPECT_EQ(TooltipTexts(tool, controls.extractButton),
            std::vector<std::string>{"Start Extracting"});
  EXPECT_TRUE(OpenBoxes(tool).empty()) << ::testing::PrintToString(OpenBoxes(tool));
}

void ExpectRunning(const Tool& tool, const MainControls& controls) {
  EXPECT_EQ(TextOf(controls.extractButton), "Cancel");
  EXPECT_FALSE(IsWindowEnabled(controls.pathButton));
  EXPECT_FALSE(IsWindowEnabled(controls.saveToButton));
  EXPECT_EQ(TooltipTexts(tool, controls.extractButton),
            std::vector<std::string>{"Abort Extracting"});
}

HWND WaitForQuestion(const Tool& tool) {
  HWND question = WaitForMessageBox(tool, "Question");
  if (question) {
    EXPECT_EQ(MessageBoxText(question), "Abort extracting?");
    EXPECT_TRUE(GetDlgItem(question, IDYES));
    EXPECT_TRUE(GetDlgItem(question, IDNO));
  }
  return question;
}

void ExpectBox(const Tool& tool, const char* caption, const std::string& text) {
  HWND box = WaitForMessageBox(tool, caption);
  ASSERT_TRUE(box) << "no \"" << caption
                   << "\" box; open: " << ::testing::PrintToString(OpenBoxes(tool));
  EXPECT_EQ(MessageBoxText(box), text);
  EXPECT_TRUE(GetDlgItem(box, IDOK));
  ASSERT_TRUE(AnswerMessageBox(box, IDOK));
}

using ExtractionTest = ToolTest;

TEST_F(ExtractionTest, TwoArchivesOfDifferentVersionsComeOutExactlyInTheChosenFolder) {
  const ArchiveSpec one = SampleSpec(1, 17, "first");
  const ArchiveSpec two = SampleSpec(4, 22, "second");
  const BuiltArchive builtOne = Write(folder.path / "one.wza", one);
  const BuiltArchive builtTwo = Write(folder.path / "two.big", two);
  fs::create_directories(folder.path / "dest");
  PickArchives(tool, controls, WithoutSeparator(FolderText(folder)), {"one.wza", "two.big"});
  ASSERT_EQ(ListBoxItems(controls.fileList), (std::vector<std::string>{"one.wza", "two.big"}));
  PickDestinationChild(tool, controls, "dest");
  ASSERT_EQ(TextOf(controls.saveToEdit), FolderText(folder) + "dest");

  Click(controls.extractButton);
  HWND done = WaitForMessageBox(tool, "Information");
  ASSERT_TRUE(done) << ::testing::PrintToString(OpenBoxes(tool));
  EXPECT_EQ(MessageBoxText(done), "Done");
  // "Done" comes before the window leaves its running state: the bars still show the end.
  ExpectRunning(tool, controls);
  const std::vector<uint64_t> storedOne = StoredSizes(builtOne);
  const std::vector<uint64_t> storedTwo = StoredSizes(builtTwo);
  const uint64_t read =
      SumOfFirst(storedOne, storedOne.size()) + SumOfFirst(storedTwo, storedTwo.size());
  const uint64_t total = builtOne.bytes.size() + builtTwo.bytes.size();
  EXPECT_EQ(ProgressPosition(controls.currentBar),
            PercentOf(storedTwo.size() - 1, storedTwo.size()));
  EXPECT_EQ(ProgressPosition(controls.totalBar), PercentOf(read, total));
  EXPECT_EQ(ListBoxSelection(controls.fileList), 1);
  Snapshot("done-box");
  FinishRun(tool, controls, done);
  ExpectIdle(tool, controls);

  EXPECT_EQ(TreeOf(folder.path / "dest"),
            Merge(ExpectedTree(one, "one.wza"), ExpectedTree(two, "two.big")));
}

TEST_F(ExtractionTest, EmptyPathAndEmptySaveToAreReportedAndNothingIsWritten) {
  Write(folder.path / "a.wza", SampleSpec(2, 20, "data"));

  Click(controls.extractButton);
  ExpectBox(tool, "Error", "Please select files first");
  ASSERT_TRUE(SyncWith(tool));
  ExpectIdle(tool, controls);

  PickArchives(tool, controls, WithoutSeparator(FolderText(folder)), {"a.wza"});
  Click(controls.saveToButton);
  HWND browser = WaitForFolderBrowser(tool);
  ASSERT_TRUE(browser);
  PressDialogButton(browser, IDCANCEL);
  ASSERT_TRUE(WaitUntil([&] { return TextOf(controls.saveToEdit).empty(); }));

  Click(controls.extractButton);
  ExpectBox(tool, "Error", "Please select destination path");
  ASSERT_TRUE(SyncWith(tool));
  ExpectIdle(tool, controls);
  EXPECT_EQ(Output(folder), Tree{});
}

TEST_F(ExtractionTest, ArchiveThatCannotBeOpenedIsReportedAndTheNextOneIsExtracted) {
  const ArchiveSpec good = SampleSpec(2, 20, "data");
  Write(folder.path / "x.big", good);
  Write(folder.path / "y.wza", good);
  PickArchives(tool, controls, WithoutSeparator(FolderText(folder)), {"x.big", "y.wza"});
  ASSERT_EQ(ListBoxItems(controls.fileList), (std::vector<std::string>{"x.big", "y.wza"}));
  fs::remove(folder.path / "x.big");

  Click(controls.extractButton);
  HWND error = WaitForMessageBox(tool, "Error");
  ASSERT_TRUE(error) << ::testing::PrintToString(OpenBoxes(tool));
  EXPECT_EQ(MessageBoxText(error), "Error open file \"" + FolderText(folder) + "x.big\"");
  EXPECT_EQ(Output(folder), Tree{}) << "y.wza was extracted before x.big was reported";
  ASSERT_TRUE(AnswerMessageBox(error, IDOK));
  HWND done = WaitForMessageBox(tool, "Information");
  ASSERT_TRUE(done) << ::testing::PrintToString(OpenBoxes(tool));
  EXPECT_EQ(MessageBoxText(done), "Done");
  FinishRun(tool, controls, done);
  ExpectIdle(tool, controls);
  EXPECT_EQ(Output(folder), ExpectedTree(good, "y.wza"));
}

// The archives of a run come from one folder, so in the window two of one name are one
// file picked twice, the second time in other letters: it is extracted once, and "Done" says
// the second was not.
TEST_F(ExtractionTest, AnArchivePickedTwiceComesOutOnceAndDoneSaysSo) {
  const ArchiveSpec spec = SampleSpec(2, 20, "data");
  Write(folder.path / "data.big", spec);
  PickArchives(tool, controls, WithoutSeparator(FolderText(folder)), {"data.big", "DATA.BIG"});
  ASSERT_EQ(ListBoxItems(controls.fileList), (std::vector<std::string>{"data.big", "DATA.BIG"}));

  Click(controls.extractButton);
  HWND done = WaitForMessageBox(tool, "Information");
  ASSERT_TRUE(done) << ::testing::PrintToString(OpenBoxes(tool));
  EXPECT_EQ(MessageBoxText(done),
            "Done\n\n1 archive was not extracted: an earlier one of the same name went to its "
            "folder.");
  Snapshot("done-box-same-name");
  FinishRun(tool, controls, done);
  ExpectIdle(tool, controls);
  EXPECT_EQ(Output(folder), ExpectedTree(spec, "data.big"));
}

TEST_F(ExtractionTest, CancelButtonAsksNoGoesOnYesStopsAfterTheEntryInProgress) {
  const ArchiveSpec large = Large();
  const BuiltArchive built = Write(folder.path / "big.wza", large);
  const ArchiveSpec small = SampleSpec(2, 20, "data");
  const BuiltArchive builtAfter = Write(folder.path / "after.wza", small);
  Write(folder.path / "gone.big", small);
  PickArchives(tool, controls, WithoutSeparator(FolderText(folder)),
               {"big.wza", "gone.big", "after.wza"});
  ASSERT_EQ(ListBoxItems(controls.fileList),
            (std::vector<std::string>{"big.wza", "gone.big", "after.wza"}));
  fs::remove(folder.path / "gone.big");
  const std::vector<uint64_t> stored = StoredSizes(built);
  const uint64_t total = built.bytes.size() + builtAfter.bytes.size();

  Click(controls.extractButton);
  ASSERT_TRUE(WaitUntil([&] { return TextOf(controls.extractButton) == "Cancel"; }))
      << ::testing::PrintToString(OpenBoxes(tool));
  ExpectRunning(tool, controls);
  Snapshot("running");

  // No: the run waits while the question is open, then goes on.
  Click(controls.extractButton);
  HWND question = WaitForQuestion(tool);
  ASSERT_TRUE(question);
  const size_t asked = Written(folder);
  ASSERT_GT(asked, 0u);
  ASSERT_LT(asked, kLargeEntries) << "the run ended before it could be interrupted";
  EXPECT_EQ(Output(folder), ExpectedTree(large, "big.wza", asked));
  EXPECT_EQ(ProgressPosition(controls.currentBar), PercentOf(asked - 1, kLargeEntries));
  EXPECT_EQ(ProgressPosition(controls.totalBar), PercentOf(SumOfFirst(stored, asked), total));
  EXPECT_EQ(ListBoxSelection(controls.fileList), 0);
  Snapshot("abort-question");
  Sleep(300);
  EXPECT_EQ(Written(folder), asked) << "entries were written while the question was open";
  ASSERT_TRUE(AnswerMessageBox(question, IDNO));
  ExpectRunning(tool, controls);

  // Yes: nothing after the entry in progress is written; the later archives are still
  // walked (the missing one is reported) but nothing of theirs is written.
  Click(controls.extractButton);
  question = WaitForQuestion(tool);
  ASSERT_TRUE(question);
  const size_t stopped = Written(folder);
  EXPECT_GT(stopped, asked) << "No did not let the run go on";
  ASSERT_LT(stopped, kLargeEntries) << "the run ended before it could be interrupted";
  ASSERT_TRUE(AnswerMessageBox(question, IDYES));
  ExpectBox(tool, "Error", "Error open file \"" + FolderText(folder) + "gone.big\"");
  HWND done = WaitForMessageBox(tool, "Information");
  ASSERT_TRUE(done) << ::testing::PrintToString(OpenBoxes(tool));
  EXPECT_EQ(MessageBoxText(done), "Done");
  EXPECT_EQ(ListBoxSelection(controls.fileList), 2) << "the later archives were not walked";
  FinishRun(tool, controls, done);
  ExpectIdle(tool, controls);
  EXPECT_EQ(Output(folder), ExpectedTree(large, "big.wza", stopped));
}

TEST_F(ExtractionTest, CloseBoxAsksNoGoesOnYesStopsAndTheWindowStaysOpen) {
  const ArchiveSpec large = Large();
  Write(folder.path / "big.wza", large);
  Write(folder.path / "after.wza", SampleSpec(2, 20, "data"));
  PickArchives(tool, controls, WithoutSeparator(FolderText(folder)), {"big.wza", "after.wza"});

  Click(controls.extractButton);
  ASSERT_TRUE(WaitUntil([&] { return TextOf(controls.extractButton) == "Cancel"; }))
      << ::testing::PrintToString(OpenBoxes(tool));

  PressCloseBox(tool.window);
  HWND question = WaitForQuestion(tool);
  ASSERT_TRUE(question);
  const size_t asked = Written(folder);
  ASSERT_LT(asked, kLargeEntries) << "the run ended before it could be interrupted";
  ASSERT_TRUE(AnswerMessageBox(question, IDNO));
  EXPECT_TRUE(IsWindowVisible(tool.window));
  ExpectRunning(tool, controls);

  PressCloseBox(tool.window);
  question = WaitForQuestion(tool);
  ASSERT_TRUE(question);
  const size_t stopped = Written(folder);
  EXPECT_GT(stopped, asked) << "No did not let the run go on";
  ASSERT_LT(stopped, kLargeEntries) << "the run ended before it could be interrupted";
  // Yes, and right behind it, while the run is still winding down, Extract and the close
  // box again: neither may start a second run or end the process.
  PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(question, IDYES)));
  Click(controls.extractButton);
  PressCloseBox(tool.window);
  ASSERT_TRUE(WaitUntilGone(question));

  HWND done = WaitForMessageBox(tool, "Information");
  ASSERT_TRUE(done) << ::testing::PrintToString(OpenBoxes(tool));
  EXPECT_EQ(MessageBoxText(done), "Done");
  EXPECT_EQ(ProcessWindows(tool.process.dwProcessId, "#32770", "Question").size(), 0u);
  FinishRun(tool, controls, done);
  ASSERT_TRUE(SyncWith(tool));
  DWORD code = 0;
  EXPECT_FALSE(WaitForExit(tool, 1000, code)) << "the tool quit under a run";
  ExpectIdle(tool, controls);
  EXPECT_EQ(Output(folder), ExpectedTree(large, "big.wza", stopped));

  // Idle again, the close box ends the tool.
  PressCloseBox(tool.window);
  ASSERT_TRUE(WaitForExit(tool, kWindowTimeoutMs, code));
  EXPECT_EQ(code, 0u);
}

}  // namespace

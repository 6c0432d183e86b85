#include "extract/extraction_run.h"

#include <gtest/gtest.h>

#include <new>
#include <thread>

#include "tests/support/archive_writer.h"
#include "tests/support/test_files.h"

namespace {

// Records everything the run tells its caller.
struct Recorder {
  std::vector<std::pair<int, int>> bars;
  std::vector<size_t> selected;
  std::vector<std::string> reports;
  int entries = 0;
  int stopAfter = -1;  // entries after which shouldContinue turns false

  RunCallbacks Callbacks() {
    RunCallbacks callbacks;
    callbacks.selectArchive = [this](size_t k) { selected.push_back(k); };
    callbacks.setBars = [this](int current, int total) { bars.emplace_back(current, total); };
    callbacks.reportArchive = [this](const std::string& path, LoadOutcome outcome,
                                     const std::string&) {
      reports.push_back(LoadOutcomeMessage(outcome, path));
    };
    callbacks.shouldContinue = [this] { return stopAfter < 0 || entries < stopAfter; };
    callbacks.entryDone = [this](const std::string&, const std::string&, const EntryResult&) {
      ++entries;
    };
    return callbacks;
  }
};

ArchiveSpec Numbered(int count, const std::string& alias) {
  ArchiveSpec spec;
  spec.alias = alias;
  spec.folders.push_back({"f", {}});
  for (int i = 0; i < count; ++i) {
    spec.folders[0].entries.push_back(
        {std::to_string(i) + ".txt", std::string(100, static_cast<char>('a' + i)), i % 2 == 1});
  }
  return spec;
}

TEST(PercentOf, RoundsInTheExtendedFormatAndTruncates) {
  EXPECT_EQ(PercentOf(53, 100), 52);
  EXPECT_EQ(PercentOf(59, 100), 58);
  EXPECT_EQ(PercentOf(29, 100), 29);  // 28 only with a 53-bit significand
  EXPECT_EQ(PercentOf(1, 4), 25);
  EXPECT_EQ(PercentOf(99, 100), 99);
  EXPECT_EQ(PercentOf(100, 100), 100);
  EXPECT_EQ(PercentOf(5, 0), 0);
  EXPECT_EQ(PercentOf(104, 100), 100);  // entries sharing data read more than the total
  EXPECT_EQ(PercentOf(uint64_t{10} << 20, 1 << 20), 100);
  EXPECT_EQ(PercentOf(uint64_t{6} << 32, uint64_t{8} << 32), 75);  // beyond 4 GiB
}

TEST(PathsOfARun, FollowThePlatformsPathRules) {
  EXPECT_EQ(FileNameOf("/games/x.wza"), "x.wza");
  EXPECT_EQ(WithTrailingSeparator("out/"), "out/");
  const std::string sep(1, platform::kPathSeparator);
  EXPECT_EQ(WithTrailingSeparator("out"), "out" + sep);
#ifdef _WIN32
  EXPECT_EQ(FileNameOf("D:\\games\\Data.big"), "Data.big");
  EXPECT_EQ(FileNameOf("D:Data.big"), "Data.big");
  EXPECT_EQ(WithTrailingSeparator("D:\\out\\"), "D:\\out\\");
#else
  // Only "/" separates on Linux: "\\" and ":" are ordinary characters of a name.
  EXPECT_EQ(FileNameOf("games/Game: Part 1.big"), "Game: Part 1.big");
  EXPECT_EQ(FileNameOf("x\\y.big"), "x\\y.big");
  EXPECT_EQ(WithTrailingSeparator("dst\\"), "dst\\/");
#endif
  EXPECT_EQ(ArchiveFolderFor("dest" + sep, "in" + sep + "Data.big"),
            "dest" + sep + "__Data.big" + sep);
}

TEST(FitsInFreeClusters, CountsWholeClustersByTruncatingDivision) {
  // 8 sectors of 512 bytes: 4096-byte clusters.
  EXPECT_TRUE(FitsInFreeClusters(10 * 4096, 8, 512, 10));             // equal passes
  EXPECT_FALSE(FitsInFreeClusters(10 * 4096, 8, 512, 9));             // one cluster short
  EXPECT_TRUE(FitsInFreeClusters(10 * 4096 + 4095, 8, 512, 10));      // a cluster less one byte
  EXPECT_FALSE(FitsInFreeClusters(uint64_t{5} << 32, 8, 512, 1000));  // beyond 4 GiB, no wrap
  EXPECT_TRUE(FitsInFreeClusters(123, 0, 0, 0));                      // nothing known: no check
}

// With workers the callbacks are still called on the calling thread, in entry order.
TEST(RunArchives, ExtractsEachArchiveIntoItsFolderAndReportsTheOthers) {
  for (const size_t workers : {size_t{1}, size_t{4}}) {
    TempFolder folder;
    WriteFile(folder.path / "good.big", BuildArchive(Numbered(40, "data")).bytes);
    WriteFile(folder.path / "junk.wza", "not an archive");
    const std::vector<std::string> paths = {(folder.path / "missing.big").string(),
                                            (folder.path / "good.big").string(),
                                            (folder.path / "junk.wza").string()};
    Recorder recorder;
    std::vector<std::string> names;
    const std::thread::id caller = std::this_thread::get_id();
    RunCallbacks callbacks = recorder.Callbacks();
    callbacks.entryDone = [&](const std::string&, const std::string& name, const EntryResult&) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      names.push_back(name);
    };
    const RunSummary summary = RunArchives(
        paths, folder.Root(), fs::file_size(folder.path / "good.big"), callbacks, workers);
    EXPECT_EQ(recorder.reports, (std::vector<std::string>{"Error open file \"" + paths[0] + "\"",
                                                          "Not supported archive"}));
    EXPECT_EQ(recorder.selected, (std::vector<size_t>{0, 1, 2}));
    EXPECT_EQ(summary.entriesAttempted, 40u);
    EXPECT_EQ(summary.entriesFailed, 0u);
    EXPECT_EQ(summary.archivesNotLoaded, 2u);
    ASSERT_EQ(names.size(), 40u);
    for (size_t j = 0; j < names.size(); ++j) {
      EXPECT_EQ(names[j], "data\\f\\" + std::to_string(j) + ".txt") << workers;
    }
    EXPECT_EQ(ReadFile(folder.path / "__good.big" / "data" / "f" / "3.txt"), std::string(100, 'd'));
    // The current bar after each of 40 entries: 0, 2, 5, 7, ..., 97; reset to 0 for the next
    // archive.
    std::vector<int> current;
    for (const auto& bar : recorder.bars) {
      if (bar.first != (current.empty() ? 0 : current.back())) current.push_back(bar.first);
    }
    ASSERT_EQ(current.size(), 40u);
    EXPECT_EQ(current[0], 2);
    EXPECT_EQ(current[38], 97);
    EXPECT_EQ(current.back(), 0);
    EXPECT_EQ(DoneMessage(summary), "Done");
  }
}

TEST(RunArchives, StopsWritingEntriesAfterAnAbortButWalksTheRest) {
  TempFolder folder;
  WriteFile(folder.path / "one.big", BuildArchive(Numbered(5, "data")).bytes);
  WriteFile(folder.path / "two.big", BuildArchive(Numbered(3, "data")).bytes);
  Recorder recorder;
  recorder.stopAfter = 2;
  const RunSummary summary =
      RunArchives({(folder.path / "one.big").string(), (folder.path / "missing.big").string(),
                   (folder.path / "two.big").string()},
                  folder.Root(), 1000, recorder.Callbacks());
  EXPECT_TRUE(summary.aborted);
  EXPECT_EQ(summary.entriesAttempted, 2u);
  EXPECT_EQ(recorder.selected.size(), 3u);
  EXPECT_EQ(recorder.reports.size(), 1u);  // the missing archive is still reported
  const auto tree = ReadTree(folder.path);
  EXPECT_TRUE(tree.count("__one.big/data/f/1.txt"));
  EXPECT_FALSE(tree.count("__one.big/data/f/2.txt"));
  EXPECT_FALSE(tree.count("__two.big/"));
}

// Memory running out on the calling thread while workers extract fails that archive
// alone: the workers are let finish what they hold before its entries are let go of, and
// the next archive is extracted whole.
TEST(RunArchives, AnArchiveThatRunsOutOfMemoryFailsAloneWhileWorkersGoOn) {
  for (const size_t workers : {size_t{1}, size_t{4}}) {
    TempFolder folder;
    WriteFile(folder.path / "one.big", BuildArchive(Numbered(300, "data")).bytes);
    WriteFile(folder.path / "two.big", BuildArchive(Numbered(20, "data")).bytes);
    Recorder recorder;
    RunCallbacks callbacks = recorder.Callbacks();
    callbacks.entryDone = [&](const std::string& path, const std::string&, const EntryResult&) {
      if (path.find("one.big") != std::string::npos && ++recorder.entries == 5) {
        throw std::bad_alloc();
      }
    };
    const RunSummary summary = RunArchives(
        {(folder.path / "one.big").string(), (folder.path / "two.big").string()}, folder.Root(),
        1000, callbacks, workers);
    EXPECT_EQ(recorder.reports, std::vector<std::string>{"Not enough memory for archive \"" +
                                                         (folder.path / "one.big").string() +
                                                         "\""})
        << workers;
    EXPECT_EQ(summary.archivesNotLoaded, 1u);
    const auto tree = ReadTree(folder.path / "__two.big" / "data" / "f");
    EXPECT_EQ(tree.size(), 20u) << workers;
  }
}

TEST(RunArchives, CountsWhatCouldNotBeExtracted) {
  TempFolder folder;
  ArchiveSpec spec = Numbered(3, "data");
  spec.folders[0].entries[1].name = "..\\..\\evil.txt";
  WriteFile(folder.path / "a.big", BuildArchive(spec).bytes);
  std::string damaged = BuildArchive(Numbered(2, "data")).bytes;
  PutU32(damaged, 180, 0x7FFFFFF0);  // ToC far beyond the end
  WriteFile(folder.path / "b.big", damaged);
  WriteFile(folder.path / "c.big", BuildArchive(Numbered(2, "..")).bytes);
  fs::create_directories(folder.path / "v2");
  WriteFile(folder.path / "v2" / "a.big", BuildArchive(Numbered(4, "data")).bytes);
  Recorder recorder;
  std::vector<std::string> clashes;
  RunCallbacks callbacks = recorder.Callbacks();
  callbacks.reportClash = [&](const std::string& path, const std::string& earlier,
                              const std::string& into) {
    clashes.push_back(path + " " + earlier + " " + into);
  };
  const RunSummary summary =
      RunArchives({(folder.path / "a.big").string(), (folder.path / "b.big").string(),
                   (folder.path / "c.big").string(), (folder.path / "v2" / "a.big").string()},
                  folder.Root(), 1000, callbacks);
  // a.big: 1 of 3 refused; b.big: both entries lost; c.big: an alias leaving the destination;
  // v2/a.big: not extracted over a.big.
  EXPECT_EQ(summary.entriesAttempted, 7u);
  EXPECT_EQ(summary.entriesFailed, 5u);
  EXPECT_EQ(summary.archivesClashing, 1u);
  EXPECT_EQ(clashes,
            std::vector<std::string>{(folder.path / "v2" / "a.big").string() + " " +
                                     (folder.path / "a.big").string() + " " + folder.Root() +
                                     "__a.big" + platform::kPathSeparator});
  EXPECT_FALSE(fs::exists(folder.path / "__a.big" / "data" / "f" / "3.txt"));
  EXPECT_EQ(DoneMessage(summary),
            "Done\n\n5 of 7 entries could not be extracted.\n"
            "1 archive was not extracted: an earlier one of the same name went to its folder.");
  RunSummary clashesOnly;
  clashesOnly.archivesClashing = 2;
  EXPECT_EQ(DoneMessage(clashesOnly),
            "Done\n\n2 archives were not extracted: earlier ones of the same names went to "
            "their folders.");
  EXPECT_FALSE(fs::exists(folder.path / "evil.txt"));
  EXPECT_FALSE(fs::exists(folder.path / "f"));
  EXPECT_TRUE(fs::exists(folder.path / "__a.big" / "data" / "f" / "2.txt"));
}

}  // namespace

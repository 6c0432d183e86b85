// End-to-end tests of the real `wza` program (wza.exe in the Windows build, under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#ifndef _WIN32
#include <signal.h>
#endif

#include "platform/file_io.h"
#include "tests/support/archive_writer.h"
#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

namespace {

using Tree = std::map<std::string, std::string>;

Tree SampleTree(const std::string& archive, const std::string& alias) {
  const std::string root = "__" + archive + "/" + alias + "/";
  return {{"__" + archive + "/", ""},
          {root, ""},
          {root + "readme.txt", "read me"},
          {root + "b.bin", std::string(5000, 'b')},
          {root + "art/", ""},
          {root + "art/ui/", ""},
          {root + "art/ui/x.png", std::string(70000, 'x') + "end"},
          {root + "sound/", ""},
          {root + "sound/fx/", ""},
          {root + "sound/fx/boom.wav", "BOOM"},
          {root + "sound/fx/empty.wav", ""}};
}

TEST(WzaExtract, WritesTheExactTreeForEveryVersionAndRecordSize) {
  for (uint32_t version : {1u, 2u, 4u, 9u}) {
    for (uint32_t recordSize : {17u, 20u, 22u}) {
      for (const char* threads : {"-j1", "-j4"}) {
        TempFolder folder;
        const fs::path archive = folder.path / "Data.big";
        WriteFile(archive, BuildArchive(SampleSpec(version, recordSize, "data")).bytes);
        const fs::path out = folder.path / "out";
        const ProgramResult result =
            RunWza({"extract", threads, "-q", "-d", out.string(), archive.string()});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(ReadTree(out), SampleTree("Data.big", "data"))
            << "version " << version << ", record size " << recordSize << ", " << threads;
      }
    }
  }
}

// Whatever the number of threads, the same files, the same lines in the same order and the
// same exit code, from extract and from test: among a few hundred entries are damaged and
// unsafe ones, a name that repeats right after a large entry of it (the later entry wins),
// a large file that is also a folder on the next entries' way, and one file spelt with
// either separator. Then thousands of small entries in one folder, more than the threads
// are ever handed at once, with damaged ones and a name that comes back far behind.
TEST(WzaExtract, AnyNumberOfThreadsGivesTheSameRun) {
  std::string large;
  for (uint32_t x = 1; large.size() < (4u << 20); x = x * 1103515245u + 12345u) {
    large += static_cast<char>('a' + (x >> 16) % 26);
  }
  ArchiveSpec spec;
  spec.folders = {{"", {}}, {"sub", {}}};
  auto& top = spec.folders[0].entries;
  for (int i = 0; i < 300; ++i) {
    const std::string text = "entry " + std::to_string(i) + std::string(i * 37 % 5000, 'x');
    top.push_back(
        {"f" + std::to_string(i % 40) + "\\n" + std::to_string(i) + ".txt", text, i % 3 != 0});
    if (i % 50 == 8) top.push_back({"..\\up" + std::to_string(i), "unsafe"});
    if (i % 50 == 9)
      top.push_back(
          {"cut" + std::to_string(i), text, true, std::nullopt, Deflate(text).substr(0, 9)});
  }
  top.push_back({"f1//\\n1.txt", "the last of two spellings"});
  top.push_back({"twice.bin", large, true});
  top.push_back({"twice.bin", "the later one", true});
  top.push_back({"sub", large, true});  // the folder sub/ cannot be made for the entries below
  spec.folders[1].entries = {{"inside.txt", "x"}, {"sub.txt", "y", true}};
  spec.folders.push_back({"many", {}});
  for (int i = 0; i < 3000; ++i) {
    const std::string text = "small " + std::to_string(i);
    spec.folders[2].entries.push_back({"s" + std::to_string(i), text, i % 2 == 0});
    if (i % 1500 == 700) {
      spec.folders[2].entries.push_back(
          {"cut" + std::to_string(i), text, true, std::nullopt, Deflate(text).substr(0, 5)});
    }
  }
  spec.folders[2].entries.push_back({"s3", "the later s3", true});
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(spec).bytes);
  ProgramResult first;
  ProgramResult firstTest;
  Tree firstTree;
  for (const char* threads : {"-j1", "-j2", "-j4", "-j16"}) {
    fs::remove_all(folder.path / "out");
    const ProgramResult result =
        RunWza({"extract", threads, "-d", "out", "a.big"}, folder.path.string());
    const ProgramResult test = RunWza({"test", threads, "a.big"}, folder.path.string());
    const Tree tree = ReadTree(folder.path / "out");
    if (first.exitCode < 0) {
      first = result;
      firstTest = test;
      firstTree = tree;
      EXPECT_EQ(result.exitCode, 1);
      EXPECT_EQ(CountOf(result.err, "\n"), 16u) << result.err;
      EXPECT_EQ(tree.at("__a.big/data/f1/n1.txt"), "the last of two spellings");
      EXPECT_EQ(tree.at("__a.big/data/twice.bin"), "the later one");
      EXPECT_TRUE(tree.at("__a.big/data/sub") == large);
      EXPECT_EQ(tree.at("__a.big/data/many/s3"), "the later s3");
      EXPECT_EQ(tree.at("__a.big/data/many/s2999"), "small 2999");
      EXPECT_EQ(test.exitCode, 1);
      EXPECT_EQ(CountOf(test.err, "\n"), 14u) << test.err;
      continue;
    }
    EXPECT_EQ(result.exitCode, first.exitCode) << threads;
    EXPECT_EQ(result.err, first.err) << threads;
    EXPECT_EQ(result.out, first.out) << threads;
    EXPECT_TRUE(tree == firstTree) << threads;
    EXPECT_EQ(test.exitCode, firstTest.exitCode) << threads;
    EXPECT_EQ(test.err, firstTest.err) << threads;
    EXPECT_EQ(test.out, firstTest.out) << threads;
  }
}

TEST(WzaExtract, PutsSeveralArchivesIntoTheCurrentFolderByDefault) {
  TempFolder folder;
  WriteFile(folder.path / "one.wza", BuildArchive(SampleSpec(1, 17, "first")).bytes);
  WriteFile(folder.path / "two.big", BuildArchive(SampleSpec(4, 22, "second")).bytes);
  fs::create_directories(folder.path / "work");
  const ProgramResult result =
      RunWza({"extract", (folder.path / "one.wza").string(), (folder.path / "two.big").string()},
             (folder.path / "work").string());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("10 of 10 entries extracted"), std::string::npos) << result.out;
  Tree expected = SampleTree("one.wza", "first");
  const Tree second = SampleTree("two.big", "second");
  expected.insert(second.begin(), second.end());
  EXPECT_EQ(ReadTree(folder.path / "work"), expected);
}

#ifndef _WIN32
// On Linux only "/" separates the archive's name and the destination: "\\" and ":" are
// ordinary characters there, so these archives keep their whole names and do not collide.
TEST(WzaExtract, TakesLinuxPathRulesForArchiveNamesAndTheDestination) {
  TempFolder folder;
  const ArchiveSpec spec = SampleSpec(2, 20, "data");
  for (const char* name : {"Game: Part 1.big", " Part 1.big", "x\\y.big", "y.big"}) {
    WriteFile(folder.path / name, BuildArchive(spec).bytes);
  }
  const ProgramResult result =
      RunWza({"extract", "-d", "dst\\", "Game: Part 1.big", " Part 1.big", "x\\y.big", "y.big"},
             folder.path.string());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(Contains(result.out, "20 of 20 entries extracted into dst\\/\n")) << result.out;
  Tree expected;
  for (const char* name : {"Game: Part 1.big", " Part 1.big", "x\\y.big", "y.big"}) {
    const Tree one = SampleTree(name, "data");
    expected.insert(one.begin(), one.end());
  }
  EXPECT_EQ(ReadTree(folder.path / "dst\\"), expected);
}
#endif

// Archives of the same file name would share their folder: the first one loaded is
// extracted, each later one is named with the first and skipped. Windows tells names apart
// regardless of case, Linux does not.
TEST(WzaExtract, ExtractsOnlyTheFirstOfArchivesOfTheSameName) {
  TempFolder folder;
  for (const char* version : {"v1", "v2", "v3"}) fs::create_directories(folder.path / version);
  ArchiveSpec first;
  first.folders = {{"", {{"readme.txt", "first"}, {"only-first.txt", "1"}}}};
  ArchiveSpec later;
  later.folders = {{"", {{"readme.txt", "later"}}}};
  WriteFile(folder.path / "v1" / "data.big", BuildArchive(first).bytes);
  WriteFile(folder.path / "v2" / "data.big", BuildArchive(later).bytes);
  WriteFile(folder.path / "v3" / "DATA.BIG", BuildArchive(later).bytes);
  const ProgramResult result = RunWza(
      {"extract", "-d", "out", "v1/data.big", "v2/data.big", "v3/DATA.BIG"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1);
  const std::string sep(1, platform::kPathSeparator);
  const std::string clash =
      "wza: v2/data.big: not extracted, same name as v1/data.big: both "
      "would go to out" +
      sep + "__data.big" + sep + "\n";
  Tree expected = {{"__data.big/", ""},
                   {"__data.big/data/", ""},
                   {"__data.big/data/readme.txt", "first"},
                   {"__data.big/data/only-first.txt", "1"}};
#ifdef _WIN32
  EXPECT_EQ(result.err, clash +
                            "wza: v3/DATA.BIG: not extracted, same name as v1/data.big: "
                            "both would go to out" +
                            sep + "__DATA.BIG" + sep + "\n");
  EXPECT_TRUE(Contains(result.out, "2 of 2 entries extracted")) << result.out;
#else
  EXPECT_EQ(result.err, clash);
  EXPECT_TRUE(Contains(result.out, "3 of 3 entries extracted")) << result.out;
  expected.insert(
      {{"__DATA.BIG/", ""}, {"__DATA.BIG/data/", ""}, {"__DATA.BIG/data/readme.txt", "later"}});
#endif
  EXPECT_EQ(ReadTree(folder.path / "out"), expected);
}

#ifndef _WIN32
// Entries may share their stored bytes, so a run reads more than the archives hold and
// the total passes 100 %. The bar is drawn only on a terminal: run wza under one.
TEST(WzaExtract, EntriesSharingTheirDataKeepTheBarOnATerminalInBounds) {
  const std::string shared(1 << 20, 's');
  ArchiveSpec spec;
  spec.folders = {{"", {{"0.bin", shared}}}};
  for (int i = 1; i < 10; ++i) spec.folders[0].entries.push_back({std::to_string(i) + ".bin", ""});
  BuiltArchive built = BuildArchive(spec);
  for (size_t i = 1; i < 10; ++i) {
    PutU32(built.bytes, built.fileAt + i * 20 + 8, built.entryDataAt[0] - built.dataOffset);
    PutU32(built.bytes, built.fileAt + i * 20 + 12, 1 << 20);
    PutU32(built.bytes, built.fileAt + i * 20 + 16, 1 << 20);
  }
  TempFolder folder;
  WriteFile(folder.path / "shared.big", built.bytes);
  const ProgramResult result =
      RunWzaInShell("script -qec 'WZA extract -d out shared.big' /dev/null", folder.path.string());
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  for (size_t at = result.out.find('%'); at != std::string::npos;
       at = result.out.find('%', at + 1)) {
    size_t digits = at;
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(result.out[digits - 1]))) --digits;
    EXPECT_LE(std::stoi("0" + result.out.substr(digits, at - digits)), 100) << result.out;
  }
  EXPECT_TRUE(Contains(result.out, "10 of 10 entries extracted")) << result.out;
  for (int i = 0; i < 10; ++i) {
    const fs::path file =
        folder.path / "out" / "__shared.big" / "data" / (std::to_string(i) + ".bin");
    EXPECT_TRUE(ReadFile(file) == shared) << file;
  }
}

// Interrupted during a 1 GiB entry, wza removes what it wrote of it instead of leaving a
// file that looks whole, says so, and ends with the signal's conventional status. With
// threads, an entry after it may have come out whole in the meantime, and is counted.
TEST(WzaExtract, AnInterruptRemovesTheEntryBeingWrittenAndSaysSo) {
  ArchiveSpec spec;
  spec.folders = {{"", {{"first.txt", "done"}, {"big.bin", "x"}, {"after.txt", "never"}}}};
  BuiltArchive built = BuildArchive(spec);
  const uint32_t bigSize = 1u << 30;
  PutU32(built.bytes, built.fileAt + 20 + 12, bigSize);
  PutU32(built.bytes, built.fileAt + 20 + 16, bigSize);
  for (const char* threads : {"-j1", "-j4"}) {
    for (int signal : {SIGINT, SIGTERM}) {
      TempFolder folder;
      WriteFile(folder.path / "big.big", built.bytes);
      fs::resize_file(folder.path / "big.big", built.entryDataAt[1] + uint64_t{bigSize});  // holes
      const fs::path out = folder.path / "out" / "__big.big" / "data";
      bool sent = false;
      const ProgramResult result = RunWza(
          {"extract", threads, "-d", "out", "big.big"}, folder.path.string(), [&](long processId) {
            std::error_code missing;
            const uintmax_t written = fs::file_size(out / "big.bin", missing);
            if (sent || missing || written == 0) return;
            ::kill(static_cast<pid_t>(processId), signal);
            sent = true;
          });
      ASSERT_TRUE(sent) << result.err;
      EXPECT_EQ(result.exitCode, 128 + signal) << result.err;
      EXPECT_EQ(result.out, "");
      EXPECT_FALSE(fs::exists(out / "big.bin"));
      if (std::string(threads) == "-j1") {
        EXPECT_EQ(result.err,
                  "wza: big.big: data/big.bin: interrupted, partial file removed\n"
                  "wza: interrupted after extracting 1 entry into out/\n");
        EXPECT_FALSE(fs::exists(out / "after.txt"));
        EXPECT_EQ(ReadFile(out / "first.txt"), "done");
        continue;
      }
      // Other threads stop too: each entry is either whole, or named and gone.
      size_t whole = 0;
      for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"first.txt", "done"},
                                        {"big.bin", ""},
                                        {"after.txt", "never"}}) {
        if (Contains(result.err, "data/" + name + ": interrupted, partial file removed\n")) {
          EXPECT_FALSE(fs::exists(out / name)) << name;
        } else if (fs::exists(out / name)) {
          EXPECT_EQ(ReadFile(out / name), bytes) << name;
          ++whole;
        }
      }
      EXPECT_TRUE(Contains(result.err, "data/big.bin: interrupted, partial file removed\n"));
      const std::string last = "wza: interrupted after extracting " + std::to_string(whole) +
                               (whole == 1 ? " entry" : " entries") + " into out/\n";
      EXPECT_EQ(result.err.substr(result.err.size() - std::min(result.err.size(), last.size())),
                last)
          << result.err;
    }
  }
}
#endif

TEST(WzaList, ShowsTheHeaderAndOneLinePerEntry) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(SampleSpec(2, 20, "data")).bytes);
  const ProgramResult result = RunWza({"list", (folder.path / "a.big").string()});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("version 2, record size 20, alias \"data\", 3 folders, 5 entries"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("       70003"), std::string::npos);
  EXPECT_NE(result.out.find("compressed data/art/ui/x.png\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("stored     data/sound/fx/boom.wav\n"), std::string::npos);
}

TEST(WzaTest, FlagsDamagedEntriesWithoutWritingAnything) {
  TempFolder folder;
  ArchiveSpec spec = SampleSpec(2, 20, "data");
  const std::string stream = Deflate(spec.folders[1].entries[0].data);
  spec.folders[1].entries[0].stored = stream.substr(0, stream.size() - 6);
  spec.folders[0].entries[0].declaredSize = 100;  // inflates to fewer bytes than declared
  spec.folders[2].entries[0] = {"boom.wav", "BOOM", true, 2};  // an intact stream, longer
  spec.folders[2].entries.push_back({"..\\up.wav", "intact, but not to be written"});
  WriteFile(folder.path / "bad.big", BuildArchive(spec).bytes);
  WriteFile(folder.path / "good.big", BuildArchive(SampleSpec(2, 20, "data")).bytes);

  const ProgramResult bad = RunWza({"test", "-j1", "bad.big", "good.big"}, folder.path.string());
  EXPECT_EQ(bad.exitCode, 1);
  EXPECT_NE(bad.err.find("bad.big: data/art/ui/x.png: damaged zlib stream"), std::string::npos)
      << bad.err;
  EXPECT_NE(bad.err.find("bad.big: data/readme.txt: fewer bytes than its declared size"),
            std::string::npos);
  EXPECT_TRUE(
      Contains(bad.err, "bad.big: data/sound/fx/boom.wav: more data than its declared size"))
      << bad.err;
  EXPECT_TRUE(Contains(bad.err, "bad.big: data/sound/fx/../up.wav: unsafe name"));
  EXPECT_TRUE(Contains(bad.out, "bad.big: 3 of 6 entries damaged, 1 with an unsafe name\n"))
      << bad.out;
  EXPECT_NE(bad.out.find("good.big: 5 entries ok"), std::string::npos);
  for (const char* threads : {"-j", "-j4"}) {
    const ProgramResult again =
        RunWza({"test", threads, "bad.big", "good.big"}, folder.path.string());
    EXPECT_EQ(again.exitCode, bad.exitCode) << threads;
    EXPECT_EQ(again.err, bad.err) << threads;
    EXPECT_EQ(again.out, bad.out) << threads;
  }
  EXPECT_EQ(ReadTree(folder.path).size(), 2u);  // the two archives, nothing written

  EXPECT_EQ(RunWza({"test", "good.big"}, folder.path.string()).exitCode, 0);
}

TEST(WzaErrors, NameTheArchiveAndTheProblem) {
  TempFolder folder;
  WriteFile(folder.path / "junk.wza", "_ARCHIVE\x03");
  WriteFile(folder.path / "good.big", BuildArchive(SampleSpec(2, 20, "data")).bytes);
  std::string damaged = BuildArchive(SampleSpec(2, 20, "data")).bytes;
  PutU32(damaged, 180, 0x40000000);  // ToC far beyond the end
  WriteFile(folder.path / "damaged.big", damaged);

  const ProgramResult missing = RunWza({"list", "missing.big"}, folder.path.string());
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_EQ(missing.err.rfind("wza: Error open file \"missing.big\": ", 0), 0u) << missing.err;

  const ProgramResult junk = RunWza({"extract", "-q", "junk.wza"}, folder.path.string());
  EXPECT_EQ(junk.exitCode, 2);
  EXPECT_EQ(junk.err.rfind("wza: junk.wza: Not supported archive", 0), 0u) << junk.err;

  const ProgramResult mixed =
      RunWza({"extract", "-q", "-d", "out", "damaged.big", "good.big"}, folder.path.string());
  EXPECT_EQ(mixed.exitCode, 1);
  EXPECT_EQ(mixed.err.rfind("wza: Damaged archive \"damaged.big\": ", 0), 0u) << mixed.err;
  EXPECT_TRUE(fs::exists(folder.path / "out" / "__good.big" / "data" / "art" / "ui" / "x.png"));
  EXPECT_FALSE(fs::exists(folder.path / "out" / "__damaged.big"));
}

#ifndef _WIN32
TEST(WzaErrors, OutputThatCannotBeWrittenIsReported) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(SampleSpec(2, 20, "data")).bytes);
  for (const char* command :
       {"list a.big", "test a.big", "extract -d out a.big", "--help", "--version"}) {
    const ProgramResult full =
        RunWzaInShell(std::string("WZA ") + command + " > /dev/full", folder.path.string());
    EXPECT_EQ(full.exitCode, 2) << command;
    EXPECT_EQ(full.err, "wza: cannot write to standard output: No space left on device\n")
        << command;
  }
}
#endif

TEST(WzaExtract, WritesNothingOutsideTheDestinationForHostileNames) {
  TempFolder folder;
  ArchiveSpec spec;
  spec.folders = {
      {"",
       {{"..\\..\\escape.txt", "x"},
        {"C:\\Windows\\x.txt", "x"},
        {"a:stream", "x"},
        {"CON", "x"},
        {"nul.txt", "x"},
        {"trail.", "x"},
        {"ok.txt", "fine"}}},
      {"..", {{"up.txt", "x"}}},
      {"safe", {{"far.txt", "x"}, {"also-ok.txt", "fine too"}}},
  };
  BuiltArchive built = BuildArchive(spec);
  PutU32(built.bytes, built.fileAt + 8 * 20 + 12, 0x7FFFFFFF);  // far.txt: stored size past the end
  fs::create_directories(folder.path / "in");
  WriteFile(folder.path / "in" / "evil.big", built.bytes);

  const ProgramResult result =
      RunWza({"extract", "-j1", "-d", "dest", "in/evil.big"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find("escape.txt: unsafe name, not extracted"), std::string::npos)
      << result.err;
  EXPECT_NE(result.err.find("safe/far.txt: data lies outside the archive"), std::string::npos);
  EXPECT_NE(result.out.find("2 of 10 entries extracted"), std::string::npos) << result.out;
  const Tree expected = {{"dest/", ""},
                         {"dest/__evil.big/", ""},
                         {"dest/__evil.big/data/", ""},
                         {"dest/__evil.big/data/ok.txt", "fine"},
                         {"dest/__evil.big/data/safe/", ""},
                         {"dest/__evil.big/data/safe/also-ok.txt", "fine too"},
                         {"in/", ""},
                         {"in/evil.big", built.bytes}};
  EXPECT_EQ(ReadTree(folder.path), expected);
  // Refused entries on some threads do not cost the others theirs.
  fs::remove_all(folder.path / "dest");
  const ProgramResult threaded =
      RunWza({"extract", "-j4", "-d", "dest", "in/evil.big"}, folder.path.string());
  EXPECT_EQ(threaded.exitCode, result.exitCode);
  EXPECT_EQ(threaded.err, result.err);
  EXPECT_EQ(threaded.out, result.out);
  EXPECT_EQ(ReadTree(folder.path), expected);
}

// -i and -x choose entries by the names list shows, in each command alike: "*" stays within
// a folder, "**" crosses them (and "**/" may stand for none), "?" is one character, case
// is ignored, -x wins over -i. A pattern that matched nothing is named and gives exit 1.
TEST(WzaChoose, PatternsChooseEntriesInListTestAndExtract) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(SampleSpec(2, 20, "data")).bytes);

  const ProgramResult extracted = RunWza({"extract", "-d", "out", "-i", "DATA/*.TXT", "-i",
                                          "data/sound/**", "-x", "**/empty.wav", "a.big"},
                                         folder.path.string());
  EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
  EXPECT_TRUE(Contains(extracted.out, "2 of 2 chosen entries extracted into out")) << extracted.out;
  EXPECT_TRUE(Contains(extracted.out, ", 3 left out\n")) << extracted.out;
  const std::string root = "__a.big/data/";
  EXPECT_EQ(ReadTree(folder.path / "out"), (Tree{{"__a.big/", ""},
                                                 {root, ""},
                                                 {root + "readme.txt", "read me"},
                                                 {root + "sound/", ""},
                                                 {root + "sound/fx/", ""},
                                                 {root + "sound/fx/boom.wav", "BOOM"}}));

  const ProgramResult listed =
      RunWza({"list", "-i", "data/*", "-i", "data/**/readme.txt", "a.big"}, folder.path.string());
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_TRUE(Contains(listed.out, " data/readme.txt\n")) << listed.out;
  EXPECT_TRUE(Contains(listed.out, " data/b.bin\n")) << listed.out;
  EXPECT_FALSE(Contains(listed.out, "x.png")) << listed.out;
  EXPECT_TRUE(Contains(listed.out, "2 entries, 3 left out\n")) << listed.out;

  // "**/" stands for whole folders or none, never for part of a name.
  const ProgramResult tested = RunWza({"test", "-i", "data/b.b?n", "-i", "data/nothing*", "-i",
                                       "data/**/oom.wav", "-i", "**/mpty.wav", "a.big"},
                                      folder.path.string());
  EXPECT_EQ(tested.exitCode, 1);
  EXPECT_EQ(tested.out, "a.big: 1 entries ok, 4 left out\n");
  EXPECT_EQ(tested.err,
            "wza: pattern matched no entry: -i data/nothing*\n"
            "wza: pattern matched no entry: -i data/**/oom.wav\n"
            "wza: pattern matched no entry: -i **/mpty.wav\n");
}

// -n leaves a file that is there as it is and counts it apart from failures; without it
// the file is replaced, as the window does.
TEST(WzaExtract, DashNKeepsFilesThatAreThere) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(SampleSpec(2, 20, "data")).bytes);
  ASSERT_EQ(RunWza({"extract", "-q", "-d", "out", "a.big"}, folder.path.string()).exitCode, 0);
  const fs::path root = folder.path / "out" / "__a.big" / "data";
  WriteFile(root / "readme.txt", "my own edit");
  fs::remove(root / "sound" / "fx" / "boom.wav");

  const ProgramResult kept = RunWza({"extract", "-n", "-d", "out", "a.big"}, folder.path.string());
  EXPECT_EQ(kept.exitCode, 0) << kept.err;
  EXPECT_EQ(kept.err, "");
  EXPECT_TRUE(Contains(kept.out, "1 of 5 entries extracted into out")) << kept.out;
  EXPECT_TRUE(Contains(kept.out, ", 4 already there and kept\n")) << kept.out;
  EXPECT_EQ(ReadFile(root / "readme.txt"), "my own edit");
  EXPECT_EQ(ReadFile(root / "sound" / "fx" / "boom.wav"), "BOOM");

  ASSERT_EQ(RunWza({"extract", "-q", "-d", "out", "a.big"}, folder.path.string()).exitCode, 0);
  EXPECT_EQ(ReadFile(root / "readme.txt"), "read me");
}

// -p: the chosen entries' bytes, in archive order, on standard output and nowhere else;
// byte for byte on Windows too (no CR added before LF, nothing ends at ^Z).
TEST(WzaExtract, DashPWritesTheChosenEntriesToStandardOutput) {
  const std::string binary("A\r\nB\n\x1a\0C\xff", 10);
  const std::string big = std::string(200000, 'z') + "\n\r\n";
  ArchiveSpec spec;
  spec.folders = {{"", {{"one.bin", binary}, {"skip.txt", "not this"}}},
                  {"sub", {{"two.bin", big, true}, {"..\\odd.bin", "no file is made"}}}};
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(spec).bytes);
  const ProgramResult result =
      RunWza({"extract", "-p", "a.big", "-i", "**.bin"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(result.rawOut == binary + big + "no file is made") << result.rawOut.size();
  // -d and -n have no use with -p: a usage error rather than silently ignored.
  for (const char* option : {"-d", "-n"}) {
    std::vector<std::string> args = {"extract", "-p", option, "a.big"};
    if (std::string(option) == "-d") args.insert(args.begin() + 3, "out");
    const ProgramResult unused = RunWza(args, folder.path.string());
    EXPECT_EQ(unused.exitCode, 2) << option;
    EXPECT_EQ(unused.err, "wza: -p writes no files: " + std::string(option) +
                              " has no use\nTry 'wza --help'.\n");
    EXPECT_EQ(unused.rawOut, "") << option;
  }
  EXPECT_EQ(ReadTree(folder.path).size(), 1u);  // the archive alone
#ifndef _WIN32
  // A reader that goes away ends wza by SIGPIPE, silently, as it does cat and unzip -p.
  const ProgramResult closed = RunWzaInShell(
      "{ WZA extract -p a.big -i data/sub/two.bin 2>err.txt; echo $? >status.txt; } | head -c1",
      folder.path.string());
  EXPECT_EQ(closed.out, "z");
  EXPECT_EQ(ReadFile(folder.path / "status.txt"), std::to_string(128 + SIGPIPE) + "\n");
  EXPECT_EQ(ReadFile(folder.path / "err.txt"), "");
#endif
}

TEST(WzaList, JsonIsOneDocumentARealParserReads) {
  ArchiveSpec spec = SampleSpec(2, 20, "data");
  spec.folders[0].entries.push_back({"caf\xe9.txt", "x"});  // not UTF-8 as it stands
  const BuiltArchive built = BuildArchive(spec);
  TempFolder folder;
  WriteFile(folder.path / "a.big", built.bytes);
  WriteFile(folder.path / "junk.wza", "_ARCHIVE\x03");
  const ProgramResult result =
      RunWza({"list", "--json", "-x", "**/b.bin", "a.big", "junk.wza"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err.rfind("wza: junk.wza: Not supported archive", 0), 0u) << result.err;
#ifdef _WIN32
  // No parser under Wine: the Linux build reads the same document's form with one.
  EXPECT_TRUE(Contains(result.out, "\"names\": \"ansi ")) << result.out;
  EXPECT_TRUE(Contains(result.out, "{\"name\": \"data/readme.txt\", \"size\": 7")) << result.out;
#else
  WriteFile(folder.path / "list.json", result.out);
  const char* script =
      "import json, sys\n"
      "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
      "print(d['format'], '|', d['names'])\n"
      "for a in d['archives']:\n"
      "  print(a['path'], a['outcome'], a.get('version'), a.get('record_size'), a.get('alias'),\n"
      "        a.get('left_out'))\n"
      "  for e in a.get('entries', []):\n"
      "    name = bytes.fromhex(e['name_hex']) if 'name_hex' in e else e['name'].encode()\n"
      "    print(' ', name, e['size'], e['stored_size'], e['method'], e['data_offset'],\n"
      "          e['extracted'])\n";
  const ProgramResult parsed =
      RunProgram("/usr/bin/env", {"python3", "-c", script, (folder.path / "list.json").string()});
  ASSERT_EQ(parsed.exitCode, 0) << parsed.err << result.out;
  // Each entry: its stored size and data offset, as the archive writer laid them out.
  const auto stored = [&](size_t i) {
    const size_t end =
        i + 1 < built.entryDataAt.size() ? built.entryDataAt[i + 1] : built.bytes.size();
    return std::to_string(end - built.entryDataAt[i]) + " ";
  };
  const auto at = [&](size_t i) { return " " + std::to_string(built.entryDataAt[i]) + " True\n"; };
  EXPECT_EQ(parsed.out,
            "wza-list 1 | bytes\n"
            "a.big loaded 2 20 data 1\n"
            "  b'data/readme.txt' 7 " +
                stored(0) + "compressed" + at(0) + "  b'data/caf\\xe9.txt' 1 1 stored" + at(2) +
                "  b'data/art/ui/x.png' 70003 " + stored(3) + "compressed" + at(3) +
                "  b'data/sound/fx/boom.wav' 4 4 stored" + at(4) +
                "  b'data/sound/fx/empty.wav' 0 " + stored(5) + "compressed" + at(5) +
                "junk.wza not supported None None None None\n");
#endif
}

#ifndef _WIN32
// --names reads names in a code page and writes them as UTF-8. Only a "\" or "/" that is a
// character of its own separates folders: Shift-JIS names whose second byte is "\" keep it
// as part of the character, while a lone one separates as on Windows, and the "\" put
// between a folder and its files stays one even in pages that read it as "¥". A name may
// grow many times over (one TSCII byte is twelve bytes of UTF-8). A name not valid in the
// code page is named and not written; the rest are.
TEST(WzaNames, CodePagesGiveReadableNamesAndBadNamesAreReported) {
  const std::string software = "\x83\x5c\x83\x74\x83\x67";  // ソフト in CP932
  ArchiveSpec japanese;
  japanese.folders = {{"", {{"ok.txt", "ok"}, {"caf\xe9.txt", "not CP932"}}},
                      {software, {{"\x95\x5c.txt", "hyou"}}},  // 表.txt
                      {"art\\ui", {{"x.png", "x"}}},
                      {"sub/x", {{"c.bin", "c"}}}};
  ArchiveSpec western;
  western.folders = {{"", {{"caf\xe9.txt", "cafe"}, {"na\xefve.txt", "naive"}}}};
  ArchiveSpec tamil;
  tamil.folders = {{"", {{"\x82\x82\x82\x82.txt", "shri"}}}};
  TempFolder folder;
  WriteFile(folder.path / "j.big", BuildArchive(japanese).bytes);
  WriteFile(folder.path / "w.big", BuildArchive(western).bytes);
  WriteFile(folder.path / "t.big", BuildArchive(tamil).bytes);

  const Tree japaneseTree = {{"__j.big/", ""},
                             {"__j.big/data/", ""},
                             {"__j.big/data/ok.txt", "ok"},
                             {"__j.big/data/ソフト/", ""},
                             {"__j.big/data/ソフト/表.txt", "hyou"},
                             {"__j.big/data/art/", ""},
                             {"__j.big/data/art/ui/", ""},
                             {"__j.big/data/art/ui/x.png", "x"},
                             {"__j.big/data/sub/", ""},
                             {"__j.big/data/sub/x/", ""},
                             {"__j.big/data/sub/x/c.bin", "c"}};
  for (const char* page : {"cp932", "SHIFT_JIS"}) {
    const fs::path out = folder.path / page;
    const ProgramResult j =
        RunWza({"extract", "--names", page, "-d", out.string(), "j.big"}, folder.path.string());
    EXPECT_EQ(j.exitCode, 1) << page;
    EXPECT_EQ(j.err, "wza: j.big: data/caf\\xe9.txt: name not valid " + std::string(page) +
                         ", not extracted\n");
    EXPECT_EQ(ReadTree(out), japaneseTree) << page;
  }
  const ProgramResult w =
      RunWza({"extract", "--names=cp1252", "-d", "out", "w.big"}, folder.path.string());
  EXPECT_EQ(w.exitCode, 0) << w.err;
  const ProgramResult t =
      RunWza({"extract", "--names", "TSCII", "-d", "out", "t.big"}, folder.path.string());
  EXPECT_EQ(t.exitCode, 0) << t.err;
  EXPECT_EQ(ReadTree(folder.path / "out"), (Tree{{"__w.big/", ""},
                                                 {"__w.big/data/", ""},
                                                 {"__w.big/data/café.txt", "cafe"},
                                                 {"__w.big/data/naïve.txt", "naive"},
                                                 {"__t.big/", ""},
                                                 {"__t.big/data/", ""},
                                                 {"__t.big/data/ஸ்ரீஸ்ரீஸ்ரீஸ்ரீ.txt", "shri"}}));

  const ProgramResult listed = RunWza(
      {"list", "--names", "SJIS", "-i", "DATA/ソ*/*", "-i", "data/art/ui/*", "j.big"},
      folder.path.string());
  EXPECT_EQ(listed.exitCode, 0) << listed.err;
  EXPECT_TRUE(Contains(listed.out, "stored     data/ソフト/表.txt\n")) << listed.out;
  EXPECT_TRUE(Contains(listed.out, "stored     data/art/ui/x.png\n")) << listed.out;
  EXPECT_TRUE(Contains(listed.out, "2 entries, 3 left out")) << listed.out;
  const ProgramResult asUtf8 = RunWza({"list", "--names", "utf-8", "w.big"}, folder.path.string());
  EXPECT_TRUE(Contains(asUtf8.out, "data/caf\\xe9.txt  (name not converted: not extracted)\n"))
      << asUtf8.out;

  const ProgramResult unknown = RunWza({"list", "--names", "no-such-page", "w.big"});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_TRUE(Contains(unknown.err, "wza: --names no-such-page: ")) << unknown.err;
}
#endif

TEST(WzaUsage, HelpVersionAndUsageErrors) {
  const ProgramResult help = RunWza({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: wza COMMAND"), std::string::npos);
  for (const char* command : {"list", "test", "extract", "mount", "pack", "diff"}) {
    const ProgramResult commandHelp = RunWza({command, "--help"});
    EXPECT_EQ(commandHelp.exitCode, 0) << command << ": " << commandHelp.err;
    EXPECT_EQ(commandHelp.out, help.out) << command;
  }
  const ProgramResult version = RunWza({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("wza ", 0), 0u);
  EXPECT_EQ(RunWza({}).exitCode, 2);
  EXPECT_EQ(RunWza({"unpack", "a.big"}).exitCode, 2);
  EXPECT_EQ(RunWza({"extract"}).exitCode, 2);
  const ProgramResult badOption = RunWza({"list", "-z", "a.big"});
  EXPECT_EQ(badOption.exitCode, 2);
  EXPECT_NE(badOption.err.find("unknown option '-z'"), std::string::npos);
  const ProgramResult listOnly = RunWza({"test", "--json", "a.big"});
  EXPECT_EQ(listOnly.exitCode, 2);
  EXPECT_TRUE(Contains(listOnly.err, "unknown option '--json' for test")) << listOnly.err;
  EXPECT_NE(help.out.find("wza mount [-f] "), std::string::npos);
  const ProgramResult mountOne = RunWza({"mount", "a.big"});
  EXPECT_EQ(mountOne.exitCode, 2);
  EXPECT_NE(mountOne.err.find("mount needs an archive and a mount point"), std::string::npos);
#ifndef WZA_HAVE_MOUNT
  const ProgramResult mount = RunWza({"mount", "a.big", "folder"});
  EXPECT_EQ(mount.exitCode, 2);
  EXPECT_NE(mount.err.find("built without mount support"), std::string::npos) << mount.err;
#endif
  // An empty value is an unset variable more often than a choice: as much an error as none.
  const std::vector<std::vector<std::string>> empties = {
      {"extract", "-d", "", "a.big"}, {"list", "-i", "", "a.big"}, {"test", "-x", "", "a.big"},
      {"list", "--names=", "a.big"}, {"mount", "--names", "", "a.big", "folder"}};
  for (const std::vector<std::string>& args : empties) {
    const ProgramResult empty = RunWza(args);
    EXPECT_EQ(empty.exitCode, 2) << args[1];
    const std::string option = args[1].substr(0, args[1].find('='));
    EXPECT_TRUE(Contains(empty.err, "wza: " + option + " needs a")) << empty.err;
  }
  for (const char* threads : {"-j0", "-j65", "-j1x", "-j-1"}) {
    const ProgramResult bad = RunWza({"test", threads, "a.big"});
    EXPECT_EQ(bad.exitCode, 2) << threads;
    EXPECT_TRUE(Contains(bad.err, "wza: -j takes a number of threads from 1 to 64\n")) << threads;
  }
  // -j takes the next argument only when it is a number: otherwise that is an archive.
  const ProgramResult archiveAfter = RunWza({"test", "-j", "missing.big"});
  EXPECT_EQ(archiveAfter.exitCode, 2);
  EXPECT_TRUE(Contains(archiveAfter.err, "Error open file \"missing.big\"")) << archiveAfter.err;
  const ProgramResult numberAfter = RunWza({"test", "-j", "3", "missing.big"});
  EXPECT_TRUE(Contains(numberAfter.err, "Error open file \"missing.big\"")) << numberAfter.err;
  EXPECT_FALSE(Contains(numberAfter.err, "\"3\"")) << numberAfter.err;
}

}  // namespace

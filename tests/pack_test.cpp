// End-to-end tests of `wza pack` (wza.exe in the Windows build, under Wine): archives built
// by the test writer are extracted by the real wza and packed back, and what comes out is
// judged by the loader, by `wza extract` and against the test writer's own archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <mutex>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "archive/catalogue.h"
#include "pack/pack_run.h"
#include "platform/file_io.h"
#include "tests/support/archive_writer.h"
#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

namespace {

using Tree = std::map<std::string, std::string>;

// Extracts `archive` (in `folder`) with the real wza and packs the tree --like it.
ProgramResult ExtractAndPack(const fs::path& folder, const std::string& archive,
                             const std::string& packed, const std::vector<std::string>& more = {}) {
  fs::remove_all(folder / "work");
  const ProgramResult extracted =
      RunWza({"extract", "-q", "-j1", "-d", "work", archive}, folder.string());
  EXPECT_LE(extracted.exitCode, 1) << extracted.err;
  std::vector<std::string> args = {"pack", "-q", "--like", archive, "-o", packed};
  args.insert(args.end(), more.begin(), more.end());
  args.push_back((fs::path("work") / ("__" + archive)).string());
  return RunWza(args, folder.string());
}

std::vector<std::pair<std::string, ArchiveSpec>> OddArchives() {
  std::vector<std::pair<std::string, ArchiveSpec>> odd;
  ArchiveSpec spec = SampleSpec(2, 20, "data");
  spec.gap = 7;
  spec.trailing = "trailing bytes no entry covers";
  spec.namePadding = 3;
  spec.slack = 2;
  spec.nameCount = 1234;
  odd.push_back({"gaps", spec});
  spec = SampleSpec(4, 22, "data");
  spec.tablesAfterData = true;
  spec.gap = 1;
  odd.push_back({"tables after data", spec});
  spec = SampleSpec(1, 17, "data");
  spec.folders[0].entries.push_back({"again.txt", "read me", true, std::nullopt, std::nullopt, 0});
  spec.folders[2].entries.push_back({"boom.wav", "the later one", false});  // a name used twice
  spec.folders[2].entries.push_back({"..\\up.txt", "unsafe"});
  spec.folders[2].entries.push_back({"CON", "a device name"});
  spec.folders.push_back({"sound", {{"fx", "a file where a folder is"}}});
  odd.push_back({"shared, repeated, unsafe", spec});
  spec = SampleSpec(2, 20, "data");
  const std::string stream = Deflate(spec.folders[1].entries[0].data);
  spec.folders[1].entries[0].stored = stream.substr(0, stream.size() / 2);  // cut short
  spec.folders[0].entries[0].declaredSize = 100;                          // fewer than declared
  spec.folders[2].entries[0] = {"boom.wav", "BOOM", true, 2};             // longer than declared
  odd.push_back({"damaged", spec});
  spec = SampleSpec(9, 20, "data");  // unknown version: tables at absolute offsets
  spec.folders.insert(spec.folders.begin(), {"", {}});
  odd.push_back({"unknown version, empty folder", spec});
  return odd;
}

fs::path AliasFolder(const fs::path& folder) {
  return folder / "work" / "__a.big" / "data";
}

TestEntry* FindEntry(ArchiveSpec& spec, const std::string& name) {
  for (TestFolder& folder : spec.folders) {
    for (TestEntry& entry : folder.entries) {
      if (entry.name == name) return &entry;
    }
  }
  return nullptr;
}

// Changes x.png (compressed, two deflate chunks now) and b.bin (stored, shorter) in the
// extracted tree and packs it --like a.big into c.big. Every other byte must stay where the
// test writer puts it when it lays out the same entries with the new contents; the
// packer's deflated bytes stand in for x.png's, and extraction judges them.
void ExpectAChangeMovesOnlyWhatFollowsIt(const fs::path& folder, ArchiveSpec spec,
                                         const std::string& what, const char* threads) {
  std::string grown;
  for (int i = 0; grown.size() < 200000; ++i) grown += std::to_string(i * 7919 % 10007) + ' ';
  const std::string shrunk(1234, 'n');
  WriteFile(AliasFolder(folder) / "art" / "ui" / "x.png", grown);
  WriteFile(AliasFolder(folder) / "b.bin", shrunk);
  const ProgramResult packed =
      RunWza({"pack", "-q", threads, "--like", "a.big", "-o", "c.big", "work/__a.big"}, folder.string());
  ASSERT_EQ(packed.exitCode, 0) << what << ": " << packed.err;
  OpenArchive nowArchive;
  ASSERT_EQ(LoadCatalogue((folder / "c.big").string(), nowArchive), LoadOutcome::Loaded) << what;
  nowArchive.file.reset();
  const ArchiveCatalogue& now = nowArchive.catalogue;
  const std::string bytes = ReadFile(folder / "c.big");
  const auto x = std::find(now.entryNames.begin(), now.entryNames.end(), "art\\ui\\x.png");
  ASSERT_NE(x, now.entryNames.end()) << what;
  const FileEntry& entry = now.entries[static_cast<size_t>(x - now.entryNames.begin())];
  TestEntry* png = FindEntry(spec, "x.png");
  TestEntry* bin = FindEntry(spec, "b.bin");
  ASSERT_TRUE(png != nullptr && bin != nullptr) << what;
  png->data = grown;
  png->stored = bytes.substr(now.header.dataOffset + entry.dataOffset, entry.storedSize);
  bin->data = shrunk;
  EXPECT_TRUE(BuildArchive(spec).bytes == bytes) << what << " " << threads;
  fs::remove_all(folder / "again");
  ASSERT_LE(RunWza({"extract", "-q", "-d", "again", "c.big"}, folder.string()).exitCode, 1);
  EXPECT_TRUE(ReadFile(folder / "again" / "__c.big" / "data" / "art" / "ui" / "x.png") == grown) << what;
  EXPECT_EQ(ReadFile(folder / "again" / "__c.big" / "data" / "b.bin"), shrunk) << what;
}

// For every kind of archive the suites build, packing the extracted tree --like the archive
// gives the archive back, byte for byte, at any -j; and a change moves only what follows it.
TEST(WzaPack, TheExtractedTreePacksBackByteForByte) {
  std::vector<std::pair<std::string, ArchiveSpec>> archives;
  for (uint32_t version : {1u, 2u, 4u, 9u}) {
    for (uint32_t recordSize : {17u, 20u, 22u}) {
      archives.push_back({"sample v" + std::to_string(version) + " R" + std::to_string(recordSize),
                          SampleSpec(version, recordSize, "data")});
    }
  }
  for (auto& odd : OddArchives()) archives.push_back(odd);
  TempFolder folder;
  for (const auto& [what, spec] : archives) {
    BuiltArchive built = BuildArchive(spec);
    if (what == "damaged") {
      PutU32(built.bytes, built.fileAt + 3 * 20 + 8, 0x7FFFFFF0);  // boom.wav: data past the end
    }
    WriteFile(folder.path / "a.big", built.bytes);
#ifdef _WIN32
    for (const char* threads : {"-j4"}) {  // Wine starts processes slowly
#else
    for (const char* threads : {"-j1", "-j4"}) {
#endif
      const ProgramResult packed = ExtractAndPack(folder.path, "a.big", "b.big", {threads});
      EXPECT_EQ(packed.exitCode, 0) << what << ": " << packed.err;
      EXPECT_TRUE(ReadFile(folder.path / "b.big") == built.bytes) << what << " " << threads;
      if (what == "damaged") {
        EXPECT_TRUE(Contains(packed.err, "a.big: data/art/ui/x.png: damaged zlib stream, kept as it is"))
            << packed.err;
      } else {  // the damaged one has a field the writer did not put there
        ExpectAChangeMovesOnlyWhatFollowsIt(folder.path, spec, what, threads);
      }
    }
  }
}

// One file changed, one stored file changed, files added to an existing folder, to a new
// folder and right in the alias folder, one entry left out: the new archive reads back
// with every kept entry's bytes and fields as in OLD, and extracts to the changed tree.
TEST(WzaPack, AChangeAnAdditionAndALeftOutEntryKeepEverythingElse) {
  for (uint32_t recordSize : {17u, 20u, 22u}) {
    TempFolder folder;
    ArchiveSpec spec = SampleSpec(recordSize == 17 ? 1 : recordSize == 20 ? 2 : 4, recordSize, "data");
    spec.gap = 3;
    spec.trailing = "tail";
    BuiltArchive built = BuildArchive(spec);
    if (recordSize == 20) PutU32(built.bytes, built.fileAt + 4, 7);  // readme.txt: flag value 7
    WriteFile(folder.path / "a.big", built.bytes);
    ASSERT_EQ(RunWza({"extract", "-q", "-d", "work", "a.big"}, folder.path.string()).exitCode, 0);
    const fs::path root = AliasFolder(folder.path);
    WriteFile(root / "readme.txt", "read me, changed");
    WriteFile(root / "b.bin", std::string(6000, 'c'));
    WriteFile(root / "art" / "ui" / "y.png", std::string(30000, 'y'));
    fs::create_directories(root / "new" / "deep");
    WriteFile(root / "new" / "deep" / "z.txt", "zzz");
    WriteFile(root / "top.txt", "");
    std::vector<std::string> outputs;
    for (const char* threads : {"-j1", "-j4"}) {
      const ProgramResult packed =
          RunWza({"pack", threads, "--like", "a.big", "-o", "b.big", "-x", "data/sound/fx/boom.wav",
                  "work/__a.big"},
                 folder.path.string());
      ASSERT_EQ(packed.exitCode, 0) << packed.err;
      EXPECT_EQ(packed.out, "packed b.big: 2 kept, 2 replaced, 3 added, 1 left out, " +
                                std::to_string(fs::file_size(folder.path / "b.big")) + " bytes\n");
      outputs.push_back(ReadFile(folder.path / "b.big"));
    }
    EXPECT_TRUE(outputs[0] == outputs[1]) << "-j1 and -j4 differ";

    OpenArchive oldArchive;
    OpenArchive nowArchive;
    ASSERT_EQ(LoadCatalogue((folder.path / "a.big").string(), oldArchive), LoadOutcome::Loaded);
    ASSERT_EQ(LoadCatalogue((folder.path / "b.big").string(), nowArchive), LoadOutcome::Loaded);
    oldArchive.file.reset();  // Windows replaces no file that is open
    nowArchive.file.reset();
    const ArchiveCatalogue& old = oldArchive.catalogue;
    const ArchiveCatalogue& now = nowArchive.catalogue;
    EXPECT_EQ(now.header.version, old.header.version);
    EXPECT_EQ(now.recordSize, recordSize);
    EXPECT_EQ(now.header.unused172, old.header.unused172);
    const std::vector<std::string> names = {"\\readme.txt", "\\b.bin", "\\top.txt",
                                            "art\\ui\\x.png", "art\\ui\\y.png",
                                            "sound/fx\\empty.wav", "new\\deep\\z.txt"};
    EXPECT_EQ(now.entryNames, names);
    const std::string& n = outputs[0];
    const auto stored = [](const std::string& bytes, const ArchiveCatalogue& c, size_t i) {
      return bytes.substr(c.header.dataOffset + c.entries[i].dataOffset, c.entries[i].storedSize);
    };
    // Kept entries: the same record fields and stored bytes.
    for (const auto& [was, is] : {std::pair<size_t, size_t>{2, 3}, {4, 5}}) {
      EXPECT_EQ(now.entries[is].flags, old.entries[was].flags);
      EXPECT_EQ(now.entries[is].size, old.entries[was].size);
      EXPECT_TRUE(stored(n, now, is) == stored(built.bytes, old, was)) << is;
      if (recordSize == 22) {
        EXPECT_EQ(ReadU32(reinterpret_cast<const unsigned char*>(n.data()) + (now.tableBase +
                                                                              now.dataHeader.fileOffset) + is * 22 + 16),
                  0xDEADBEEFu);
      }
    }
    // Replaced ones keep their flag value: compressed stays compressed, stored stays stored.
    EXPECT_EQ(now.entries[0].flags, recordSize == 20 ? 7u : 1u);
    EXPECT_EQ(now.entries[1].flags, 0u);
    // Added ones: compressed with the flag most compressed entries have, unless storing is
    // smaller.
    EXPECT_EQ(now.entries[2].flags, 0u);
    EXPECT_EQ(now.entries[4].flags, 1u);
    EXPECT_EQ(now.entries[6].flags, 0u);
    // The header's unused bytes, the ToC, the gaps before the tables and the bytes after
    // the data stay.
    const size_t headerLength = HeaderLengthFor(old.header.version);
    EXPECT_EQ(n.substr(0, 160), built.bytes.substr(0, 160));
    EXPECT_EQ(n.substr(headerLength + 24, 3 + 138), built.bytes.substr(headerLength + 24, 3 + 138));
    EXPECT_EQ(n.substr(n.size() - 4), "tail");
    EXPECT_EQ(now.dataHeader.nameCount, 4 + 7);

    fs::remove(root / "sound" / "fx" / "boom.wav");
    const Tree changed = ReadTree(folder.path / "work" / "__a.big");
    ASSERT_EQ(RunWza({"extract", "-q", "-d", "again", "b.big"}, folder.path.string()).exitCode, 0);
    EXPECT_EQ(ReadTree(folder.path / "again" / "__b.big"), changed);
    if (recordSize != 20) continue;
    // -o may name OLD itself, by another spelling or (on Linux) through a link: it is
    // replaced whole, by the same bytes.
    fs::create_directories(folder.path / "sub");
    std::string self = "sub/../a.big";
#ifndef _WIN32
    fs::create_symlink("../a.big", folder.path / "sub" / "link.big");
    self = "sub/link.big";
#endif
    const ProgramResult replaced = RunWza(
        {"pack", "-q", "--like", "a.big", "-o", self, "-x", "data/sound/fx/boom.wav", "work/__a.big"},
        folder.path.string());
    ASSERT_EQ(replaced.exitCode, 0) << replaced.err;
    EXPECT_TRUE(ReadFile(folder.path / "a.big") == outputs[0]);
    EXPECT_TRUE(ReadFile(folder.path / self) == outputs[0]);
#ifndef _WIN32
    // A link to nothing is replaced itself, even one that points into the folder.
    fs::create_symlink("../work/__a.big/data/gone.txt", folder.path / "sub" / "nothing.big");
    const ProgramResult dangling = RunWza(
        {"pack", "-q", "--like", "a.big", "-o", "sub/nothing.big", "work/__a.big"}, folder.path.string());
    EXPECT_EQ(dangling.exitCode, 0) << dangling.err;
    EXPECT_TRUE(ReadFile(folder.path / "sub" / "nothing.big") == outputs[0]);
    EXPECT_FALSE(fs::exists(root / "gone.txt"));
#endif
  }
}

// Without --like: a new archive of version 2 and 20-byte records, exactly as the test
// writer lays one out from the same files in the same order.
TEST(WzaPack, ANewArchiveIsLaidOutAsTheRulesSay) {
  TempFolder folder;
  const fs::path root = folder.path / "__Data.big" / "data";
  fs::create_directories(root / "sound" / "fx");
  fs::create_directories(root / "art" / "ui");
  fs::create_directories(root / "empty");
  WriteFile(root / "readme.txt", "read me");
  WriteFile(root / "b.bin", std::string(5000, 'b'));
  WriteFile(root / "art" / "ui" / "x.png", std::string(70000, 'x') + "end");
  WriteFile(root / "sound" / "fx" / "boom.wav", "BOOM");
  WriteFile(root / "sound" / "fx" / "Empty.wav", "");
  const ProgramResult packed = RunWza({"pack", "__Data.big"}, folder.path.string());
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_TRUE(Contains(packed.err, "pack --like the original archive to keep them")) << packed.err;
  EXPECT_TRUE(Contains(packed.out, "packed Data.big: 0 kept, 0 replaced, 5 added, 0 left out"))
      << packed.out;

  ArchiveSpec spec;
  spec.alias = "data";
  spec.folders = {
      {"", {{"b.bin", std::string(5000, 'b'), true}, {"readme.txt", "read me"}}},
      {"art\\ui", {{"x.png", std::string(70000, 'x') + "end", true}}},
      {"sound\\fx", {{"Empty.wav", ""}, {"boom.wav", "BOOM"}}},
  };
  EXPECT_TRUE(ReadFile(folder.path / "Data.big") == BuildArchive(spec).bytes);

  // Another version and record size; the same files come out, and never over a file
  // that is there unless -o names it.
  const ProgramResult again = RunWza({"pack", "__Data.big"}, folder.path.string());
  EXPECT_EQ(again.exitCode, 2);
  EXPECT_TRUE(Contains(again.err, "Data.big: is there already; name it with -o")) << again.err;
  const ProgramResult v1 = RunWza({"pack", "-q", "-9", "--version", "1", "--record", "17", "-o",
                                   "Data.big", "__Data.big"},
                                  folder.path.string());
  ASSERT_EQ(v1.exitCode, 0) << v1.err;
  const ProgramResult listed = RunWza({"list", "Data.big"}, folder.path.string());
  EXPECT_TRUE(Contains(listed.out, "version 1, record size 17, alias \"data\", 3 folders, 5 entries"))
      << listed.out;
  ASSERT_EQ(RunWza({"extract", "-q", "-d", "out", "Data.big"}, folder.path.string()).exitCode, 0);
  Tree expected = ReadTree(folder.path / "__Data.big");
  expected.erase("data/empty/");
  EXPECT_EQ(ReadTree(folder.path / "out" / "__Data.big"), expected);
}

#ifndef _WIN32
// --names reads OLD's names in a code page and writes new ones back into it: a Shift-JIS
// folder whose second byte is "\\" takes a new file as the folder it is, and a new folder
// is named in the code page.
TEST(WzaPack, NamesGoBackIntoTheirCodePage) {
  const std::string software = "\x83\x5c\x83\x74\x83\x67";  // ソフト in CP932
  ArchiveSpec spec;
  spec.folders = {{"", {{"ok.txt", "ok"}}}, {software, {{"\x95\x5c.txt", "hyou"}}}};  // 表.txt
  TempFolder folder;
  const std::string bytes = BuildArchive(spec).bytes;
  WriteFile(folder.path / "a.big", bytes);
  ASSERT_EQ(RunWza({"extract", "-q", "--names", "cp932", "-d", "work", "a.big"}, folder.path.string())
                .exitCode,
            0);
  ASSERT_EQ(RunWza({"pack", "-q", "--names", "cp932", "--like", "a.big", "-o", "b.big", "work/__a.big"},
                   folder.path.string())
                .exitCode,
            0);
  EXPECT_TRUE(ReadFile(folder.path / "b.big") == bytes);
  WriteFile(AliasFolder(folder.path) / "ソフト" / "二.txt", "ni");
  fs::create_directories(AliasFolder(folder.path) / "新");
  WriteFile(AliasFolder(folder.path) / "新" / "追加.txt", "tsuika");
  const ProgramResult packed = RunWza(
      {"pack", "--names", "cp932", "--like", "a.big", "-o", "b.big", "work/__a.big"}, folder.path.string());
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  OpenArchive nowArchive;
  ASSERT_EQ(LoadCatalogue((folder.path / "b.big").string(), nowArchive), LoadOutcome::Loaded);
  nowArchive.file.reset();
  const ArchiveCatalogue& now = nowArchive.catalogue;
  EXPECT_EQ(now.entryNames, (std::vector<std::string>{"\\ok.txt", software + "\\\x95\x5c.txt",
                                                      software + "\\\x93\xf1.txt",
                                                      "\x90\x56\\\x92\xc7\x89\xc1.txt"}));
}
#endif

void Make(const fs::path& folder, const std::string& name, const std::string& content) {
  fs::create_directories((folder / name).parent_path());
  WriteFile(folder / name, content);
}

// A pack that must be refused: its arguments, what its message says, its exit code.
struct Refusal {
  std::vector<std::string> args;
  std::string error;
  int exitCode = 2;
};

// Archives of the test writer, patched so that their regions overlap or run past the end,
// each beside a folder that adds a file: --like refuses each change, naming why.
std::vector<Refusal> CraftedLikeRefusals(const fs::path& folder) {
  std::vector<Refusal> cases;
  const auto craft = [&](const std::string& name, const std::string& bytes, const std::string& add,
                         const std::string& error) {
    WriteFile(folder / name, bytes);
    Make(folder, "__" + name + "/" + add, "added");
    cases.push_back({{"--like", name, "-o", "out.big", "__" + name}, error});
  };
  // The last entry's data runs into the ToC that follows it.
  ArchiveSpec spec = SampleSpec(2, 20, "data");
  spec.tablesAfterData = true;
  BuiltArchive built = BuildArchive(spec);
  PutU32(built.bytes, built.fileAt + 4 * 20 + 12, 8 + 30);
  craft("tangle.big", built.bytes, "data/new.txt",
        "the data of entry 4 and the ToC overlap: it can be packed --like itself only unchanged");
  // Folder 1 takes entries 1 and 2, folder 0 entries 0 and 1: a file added to folder 0
  // would be in both.
  spec = ArchiveSpec();
  spec.folders = {{"", {{"a.txt", "A"}, {"b.txt", "B"}}}, {"sub", {{"c.txt", "C"}}}};
  built = BuildArchive(spec);
  PutU16(built.bytes, built.folderAt + 12 + 8, 1);
  craft("cover.big", built.bytes, "data/x.txt", "x.txt would fall into another folder's range");
  // The folder and entry 0 name "" at offset 9, inside entry 1's name ("b.txt" at 7), where
  // a new folder's name would go.
  spec.folders = {{"", {{"a.txt", "A"}, {"b.txt", "B"}}}};
  built = BuildArchive(spec);
  PutU32(built.bytes, built.folderAt, 9);
  PutU32(built.bytes, built.fileAt, 9);
  craft("inside.big", built.bytes, "data/new/x.txt",
        "a new folder's name would go inside the name of entry 1");
  // No data, and the last name's NUL cut off: the data would start past the end.
  spec.folders = {{"", {{"a.txt", ""}}}};
  built = BuildArchive(spec);
  built.bytes.pop_back();
  craft("past.big", built.bytes, "data/new.txt", "name would go past the end of the archive");
  // The last entry cut 2 bytes short: data added after OLD's end would be read back as its
  // missing tail, so the cut entry would read whole with bytes not its own.
  spec.folders = {{"", {{"a.txt", "A"}, {"b.txt", "bbbb"}}}};
  built = BuildArchive(spec);
  built.bytes.resize(built.entryDataAt[1] + 2);
  craft("cut.big", built.bytes, "data/new.txt",
        "data/b.txt: its stored bytes run past the end of the archive, where added data would "
        "go and read as its own: leave it out with -x");
  // Folder 0 reaches 65,535, past the file table: one more record moves it beyond.
  spec.folders = {{"", {{"a.txt", "A"}}}};
  built = BuildArchive(spec);
  PutU16(built.bytes, built.folderAt + 10, 65535);
  craft("pass.big", built.bytes, "data/new/x.txt", "folder 0's range would pass 65,535 files");
  // A folder name of 32,766 bytes over 2,048 entries: their full names add up to exactly
  // the 64 MiB the loader takes, and one more name makes the packed archive unloadable.
  spec.folders = {{std::string(32766, 'n'), {}}};
  spec.folders[0].entries.assign(2048, {"x", ""});
  craft("names.big", BuildArchive(spec).bytes, "data/new/x.txt",
        "the packed archive does not read back as planned (it does not load");
  return cases;
}

#ifndef _WIN32
// Names extract would not write, an alias holding "\\", and -o through links that end
// inside the folder (the file there would be written): refused, as a NUL or a link is.
std::vector<Refusal> NameAndLinkRefusals(const fs::path& folder) {
  std::vector<Refusal> refusals;
  const std::string unwritable = ": extract would not write this name";
  Make(folder, "__con.big/data/sub/CON", "x");
  Make(folder, "__dot.big/data/end.", "x");
  Make(folder, "__dot.big/data/a\nb.txt", "x");
  Make(folder, "__aux.big/AUX/x.txt", "x");
  Make(folder, "__alias.big/a\\b/x.txt", "x");
  refusals.push_back({{"--like", "a.big", "-o", "out.big", "__con.big"}, "sub/CON" + unwritable});
  refusals.push_back({{"-o", "out.big", "__dot.big"}, "data/end." + unwritable});
  refusals.push_back({{"-o", "out.big", "__dot.big"}, "data/a\\x0ab.txt" + unwritable});
  refusals.push_back({{"-o", "out.big", "__aux.big"}, "AUX" + unwritable});
  refusals.push_back({{"-o", "out.big", "__alias.big"}, "a\\b: a name holding \\ cannot go"});
  // -o through links that end inside the folder: the file there would be written.
  fs::create_symlink("__a.big/data/new.txt", folder / "to-new.big");
  fs::create_symlink("to-new.big", folder / "chain.big");
  refusals.push_back({{"--like", "a.big", "-o", "chain.big", "__a.big"},
                      "chain.big: lies inside the folder being packed"});
  return refusals;
}
#endif

// Every refusal names its cause, exits with 2 (1 for what cannot be read) and leaves
// nothing behind: no archive, no temporary file.
TEST(WzaPack, RefusalsNameTheCauseAndWriteNothing) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(SampleSpec(2, 20, "data")).bytes);
  ArchiveSpec many;
  many.folders = {{"", {}}};
  for (int i = 0; i < 65535; ++i) many.folders[0].entries.push_back({std::to_string(i), ""});
  WriteFile(folder.path / "many.big", BuildArchive(many).bytes);
  WriteFile(folder.path / "junk.big", "_ARCHIVE\x03");
  const auto make = [&](const std::string& name, const std::string& content) {
    const fs::path path = folder.path / name;
    fs::create_directories(path.parent_path());
    WriteFile(path, content);
  };
  make("__a.big/data/new.txt", "new");
  make("__many.big/data/one-too-many.txt", "x");
  make("__other.big/elsewhere/x.txt", "x");
  make("__two.big/data/x.txt", "x");
  make("__two.big/stray.txt", "x");
  make("plain/data/x.txt", "x");
  make("__big.big/data/huge.bin", "");
  fs::resize_file(folder.path / "__big.big" / "data" / "huge.bin", (uint64_t{1} << 32) + 1);

  make("__bigger.big/data/readme.txt", "");
  fs::resize_file(folder.path / "__bigger.big" / "data" / "readme.txt", (uint64_t{1} << 32) + 1);

  using Case = Refusal;
  std::vector<Case> cases = {
      {{"--like", "many.big", "-o", "out.big", "__many.big"},
       "the archive would hold 65536 files; it can hold 65,535"},
      {{"-o", "out.big", "__big.big"}, "huge.bin: larger than an archive entry can be (4 GiB)"},
      {{"--like", "a.big", "-o", "out.big", "__other.big"},
       "not inside the archive's alias folder \"data\""},
      {{"-o", "out.big", "__two.big"}, "the folder must hold exactly one folder"},
      {{"plain"}, "plain: not named __NAME: name the archive to write with -o"},
      {{"--like", "a.big", "-o", "__a.big/data/out.big", "__a.big"},
       "out.big: lies inside the folder being packed"},
      {{"--like", "a.big", "-x", "data/nothing", "-o", "out.big", "__a.big"},
       "pattern matched nothing: -x data/nothing"},
      {{"--like", "junk.big", "-o", "out.big", "__a.big"}, "junk.big: Not supported archive"},
      {{"--like", "a.big", "--record", "22", "__a.big"}, "--version and --record make a new archive"},
      {{"-o", "out.big", "missing"}, "missing: not a folder"},
      {{"--like", "a.big", "-o", "out.big", "__bigger.big"},
       "readme.txt: larger than an archive entry can be (4 GiB)"},
      // An empty value is an unset variable more often than a choice.
      {{"--like", "", "-o", "out.big", "__a.big"}, "--like needs an archive"},
      {{"--like", "a.big", "-x", "", "-o", "out.big", "__a.big"}, "-x needs a pattern"},
      {{"--names=", "-o", "out.big", "__a.big"}, "--names needs a code page"},
  };
  for (const Refusal& one : CraftedLikeRefusals(folder.path)) cases.push_back(one);
#ifndef _WIN32
  make("__names.big/data/\xe6\x97\xa5.txt", "a name with no form in cp1252");
  make("__slash.big/data/back\\slash.txt", "x");
  make("__yen.big/data/a\xc2\xa5" "b.txt", "Shift-JIS writes the yen sign as 0x5C, a separator");
  make("__utf16.big/data/x.txt", "x");
  make("__link.big/data/x.txt", "x");
  fs::create_symlink("x.txt", folder.path / "__link.big" / "data" / "link.txt");
  make("__fifo.big/data/x.txt", "x");
  ASSERT_EQ(::mkfifo((folder.path / "__fifo.big" / "data" / "pipe").c_str(), 0600), 0);
  cases.push_back({{"--names", "cp1252", "-o", "out.big", "__names.big"},
                   ".txt: its name cannot be written in cp1252"});
  cases.push_back({{"--names", "SHIFT_JIS", "-o", "out.big", "__yen.big"},
                   "or would separate folders"});
  cases.push_back({{"-o", "out.big", "__slash.big"}, "a name holding \\ cannot go into an archive"});
  cases.push_back({{"--names", "utf-16le", "-o", "out.big", "__utf16.big"}, "its name holds a NUL"});
  cases.push_back({{"-o", "out.big", "__link.big"}, "link.txt: a symbolic link, not followed"});
  cases.push_back({{"-o", "out.big", "__fifo.big"}, "pipe: a device, FIFO or socket, not a file"});
  for (const Refusal& one : NameAndLinkRefusals(folder.path)) cases.push_back(one);
  // What cannot be read is named, with exit 1: a file compared with its entry, a file
  // deflated into a new archive, a folder that cannot be listed. Root reads whatever the
  // mode says, so as root wza runs as nobody, whom the test folder lets in.
  const bool root = ::geteuid() == 0;
  if (!root || fs::exists("/usr/bin/setpriv")) {
    make("__locked.big/data/readme.txt", "read me, changed");
    make("__locked.big/data/art/open.txt", "x");
    make("__shut.big/data/shut/x.txt", "x");
    make("__shut.big/data/open.txt", "x");
    fs::permissions(folder.path / "__locked.big" / "data" / "readme.txt", fs::perms::none);
    fs::permissions(folder.path / "__shut.big" / "data" / "shut", fs::perms::none);
    fs::permissions(folder.path, fs::perms::all);
    cases.push_back({{"--like", "a.big", "-o", "out.big", "__locked.big"},
                     "wza: __locked.big/data/readme.txt: Permission denied", 1});
    cases.push_back({{"-o", "out.big", "__locked.big"},
                     "wza: __locked.big/data/readme.txt: Permission denied", 1});
    cases.push_back({{"-o", "out.big", "__shut.big"}, "wza: __shut.big/data/shut: Permission denied", 1});
  }
#endif
  // Names only: the folder holds a FIFO and a file of 4 GiB.
  const auto listing = [&] {
    std::vector<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(folder.path)) {
      names.push_back(item.path().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> before = listing();
  for (const Case& one : cases) {
    std::vector<std::string> args = {"pack"};
    args.insert(args.end(), one.args.begin(), one.args.end());
#ifndef _WIN32
    std::string asNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups WZA";
    for (const std::string& arg : args) asNobody += " '" + arg + "'";
    const ProgramResult result = one.exitCode == 1 && ::geteuid() == 0
                                     ? RunWzaInShell(asNobody, folder.path.string())
                                     : RunWza(args, folder.path.string());
#else
    const ProgramResult result = RunWza(args, folder.path.string());
#endif
    EXPECT_EQ(result.exitCode, one.exitCode) << one.error;
    EXPECT_TRUE(Contains(result.err, one.error)) << one.error << "\n" << result.err;
    EXPECT_EQ(result.out, "");
  }
  EXPECT_EQ(listing(), before);
  EXPECT_EQ(ReadFile(folder.path / "__a.big" / "data" / "new.txt"), "new");
}

#ifndef _WIN32
// A tmpfs mounted on a folder for the length of a test (root only).
struct SmallDisk {
  fs::path at;
  bool mounted = false;
  SmallDisk(const fs::path& where, const char* options) : at(where) {
    fs::create_directories(where);
    mounted = ::geteuid() == 0 && ::mount("tmpfs", where.c_str(), "tmpfs", 0, options) == 0;
  }
  ~SmallDisk() {
    if (mounted) ::umount2(at.c_str(), MNT_DETACH);
  }
};

// Ctrl-C (or SIGTERM) while the archive is written, and a disk that fills up: the
// temporary file is removed, no archive appears, OLD is untouched.
TEST(WzaPack, AnInterruptOrAFullDiskLeavesNoOutput) {
  TempFolder folder;
  ArchiveSpec spec;
  spec.folders = {{"", {{"small.txt", "small"}, {"big.bin", "x"}}}};
  BuiltArchive built = BuildArchive(spec);
  const uint32_t bigSize = 1u << 30;
  PutU32(built.bytes, built.fileAt + 20 + 12, bigSize);
  PutU32(built.bytes, built.fileAt + 20 + 16, bigSize);
  WriteFile(folder.path / "a.big", built.bytes);
  fs::resize_file(folder.path / "a.big", built.entryDataAt[1] + uint64_t{bigSize});  // holes
  const auto head = [&] {
    std::ifstream in(folder.path / "a.big", std::ios::binary);
    std::string bytes(4096, '\0');
    in.read(&bytes[0], 4096);
    return bytes;
  };
  const std::string old = head();
  fs::create_directories(folder.path / "__a.big" / "data");
  fs::create_directories(folder.path / "out");
  // A sparse folder: one file changed, one added that takes a while to deflate.
  WriteFile(folder.path / "__a.big" / "data" / "small.txt", "changed");
  std::string noise;
  for (uint32_t x = 1; noise.size() < (32u << 20); x = x * 1103515245u + 12345u) {
    noise += static_cast<char>(x >> 16);
  }
  WriteFile(folder.path / "__a.big" / "data" / "noise.bin", noise);
  for (int signal : {SIGINT, SIGTERM}) {
    bool sent = false;
    const ProgramResult result = RunWza(
        {"pack", "-j2", "-9", "--like", "a.big", "-o", "out/b.big", "__a.big"}, folder.path.string(),
        [&](long processId) {
          if (sent) return;
          for (const auto& item : fs::directory_iterator(folder.path / "out")) {
            std::error_code ignored;
            if (item.path().filename().string()[0] == '.' && fs::file_size(item.path(), ignored) > 0) {
              ::kill(static_cast<pid_t>(processId), signal);
              sent = true;
            }
          }
        });
    ASSERT_TRUE(sent) << result.err;
    EXPECT_EQ(result.exitCode, 128 + signal) << result.err;
    EXPECT_EQ(result.err, "wza: interrupted: nothing written\n");
    EXPECT_TRUE(fs::is_empty(folder.path / "out"));
  }
  EXPECT_EQ(fs::file_size(folder.path / "a.big"), built.entryDataAt[1] + uint64_t{bigSize});
  EXPECT_TRUE(head() == old);

  SmallDisk disk(folder.path / "small", "size=256k");
  if (!disk.mounted) GTEST_SKIP() << "mounting a small disk needs root";
  const ProgramResult full =
      RunWza({"pack", "--like", "a.big", "-o", "small/b.big", "__a.big"}, folder.path.string());
  EXPECT_EQ(full.exitCode, 2);
  EXPECT_TRUE(Contains(full.err, "wza: cannot write small/b.big: No space left on device\n"))
      << full.err;
  EXPECT_TRUE(fs::is_empty(folder.path / "small"));
}

// Sanitizers keep memory of their own: peak figures say nothing about wza's there.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define WZA_SANITIZED
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define WZA_SANITIZED
#endif

// Many files with long paths: packing, new or --like, holds each name about once, and
// takes at most 32 MiB more than extracting the same archive (at the same -j).
TEST(WzaPack, ManyLongNamesTakeLittleMoreMemoryThanExtracting) {
#ifdef WZA_SANITIZED
  GTEST_SKIP() << "built with a sanitizer";
#endif
  TempFolder folder;
  ArchiveSpec spec;
  for (int f = 0; f < 20; ++f) {
    TestFolder leaf{"textures_" + std::string(140, 'x') + "\\characters_" + std::string(40, 'y') +
                        "\\hero_" + std::to_string(100 + f),
                    {}};
    for (int i = 0; i < 1000; ++i) {
      leaf.entries.push_back(
          {"diffuse_map_" + std::to_string(1000 + i) + std::string(70, 'z') + ".dds",
           std::string(1, static_cast<char>(i))});
    }
    spec.folders.push_back(std::move(leaf));
  }
  WriteFile(folder.path / "a.big", BuildArchive(spec).bytes);
  const ProgramResult extracted =
      RunWza({"extract", "-q", "-j2", "-d", "out", "a.big"}, folder.path.string());
  ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
  ASSERT_GT(extracted.peakKiB, 0);
  const std::string tree = (fs::path("out") / "__a.big").string();
  const ProgramResult packed =
      RunWza({"pack", "-q", "-j2", "-o", "new.big", tree}, folder.path.string());
  EXPECT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_LE(packed.peakKiB, extracted.peakKiB + 32 * 1024);
  const ProgramResult like = RunWza(
      {"pack", "-q", "-j2", "--like", "a.big", "-o", "like.big", tree}, folder.path.string());
  EXPECT_EQ(like.exitCode, 0) << like.err;
  EXPECT_LE(like.peakKiB, extracted.peakKiB + 32 * 1024);
  EXPECT_EQ(ReadFile(folder.path / "like.big"), ReadFile(folder.path / "a.big"));
}

// Holds `wza` at its first line on stderr: a FIFO already full when it starts. Once it
// waits there, a new archive's note, the folder has been listed and planned and no file
// read yet.
struct FullStderr {
  fs::path fifo;
  int reader = -1;
  int writer = -1;
  explicit FullStderr(const fs::path& path) : fifo(path) {
    if (::mkfifo(path.c_str(), 0600) != 0) return;
    reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    const std::string filler(4096, '.');
    for (size_t size : {filler.size(), size_t{1}}) {  // to the last byte
      while (writer >= 0 && ::write(writer, filler.data(), size) > 0) {
      }
    }
  }
  ~FullStderr() {
    for (int fd : {reader, writer}) {
      if (fd >= 0) ::close(fd);
    }
  }
  static bool Waiting(long processId) {  // in write(2, ...)
    const std::string call = ReadFile("/proc/" + std::to_string(processId) + "/syscall");
    return call.rfind("1 0x2 ", 0) == 0;
  }
  std::string Drain() {  // what wza wrote, the filler left out
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(reader, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
    text.erase(0, std::min(text.find_first_not_of('.'), text.size()));
    return text;
  }
};

// A folder replaced by a link to one outside after the listing: no byte is read through
// it (a file of the same size there, so that no size gives it away); the file in it is
// named as changed, exit 1, nothing written.
TEST(WzaPack, AFolderSwappedForALinkAfterTheListingIsNotReadThrough) {
  TempFolder folder;
  const fs::path data = folder.path / "__a.big" / "data";
  fs::create_directories(data / "sub");
  WriteFile(data / "a.txt", "aaaa");
  WriteFile(data / "sub" / "notes.txt", "inside notes");
  fs::create_directories(folder.path / "outside");
  WriteFile(folder.path / "outside" / "notes.txt", "SECRET NOTES");
  FullStderr err(folder.path / "err.fifo");
  ASSERT_GE(err.writer, 0);
  bool swapped = false;
  std::string said;
  const ProgramResult result =
      RunWzaInShell("exec WZA pack -0 -j1 -o out.big __a.big 2>err.fifo", folder.path.string(),
                    [&](long processId) {
                      if (swapped || !FullStderr::Waiting(processId)) return;
                      fs::rename(data / "sub", folder.path / "was-sub");
                      fs::create_directory_symlink(folder.path / "outside", data / "sub");
                      swapped = true;
                      said += err.Drain();
                    });
  said += err.Drain();
  ASSERT_TRUE(swapped) << said;
  EXPECT_EQ(result.exitCode, 1) << said;
  EXPECT_TRUE(Contains(said,
                       "wza: __a.big/data/sub/notes.txt: changed since it was listed: "
                       "\"__a.big/data/sub\" is a symbolic link, not followed\n"))
      << said;
  EXPECT_FALSE(fs::exists(folder.path / "out.big"));
  for (const auto& item : fs::recursive_directory_iterator(folder.path)) {
    if (!item.is_regular_file() || item.path().parent_path() == folder.path / "outside") continue;
    EXPECT_FALSE(Contains(ReadFile(item.path()), "SECRET NOTES")) << item.path();
  }
}
#endif

#ifndef _WIN32
// Packs in this process, so that a callback of the run can change files at a set point of
// it. Windows lets no one rename over OLD or write a file that pack holds open.
PackOutcome PackHere(const fs::path& folder, const std::string& like, const std::string& output,
                     int level, const PackCallbacks& callbacks) {
  PackRequest request;
  request.folder = (folder / "work" / "__a.big").string();
  request.like = like.empty() ? "" : (folder / like).string();
  request.output = (folder / output).string();
  request.level = level;
  return PackFolder(request, callbacks);
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

// OLD renamed over once its tables were read, as a second `wza pack -o OLD` does: the
// entries kept still get the bytes of the OLD that was read, whether the writer copies them
// or the copy begun while comparing does (a folder that only changes entries).
TEST(WzaPack, OldReplacedWhileAPackRunsCannotMatter) {
  TempFolder folder;
  const ArchiveSpec spec = SampleSpec(2, 20, "data");
  WriteFile(folder.path / "a.big", BuildArchive(spec).bytes);
  ASSERT_EQ(RunWza({"extract", "-q", "-d", "work", "a.big"}, folder.path.string()).exitCode, 0);
  ArchiveSpec other = spec;  // what the second pack wrote: all that follows b.bin moved
  FindEntry(other, "b.bin")->data = std::string(20000, 'B');
  const std::string replacement = BuildArchive(other).bytes;
  for (const bool adding : {false, true}) {
    const std::string what = adding ? "a file added" : "changes only";
    WriteFile(folder.path / "a.big", BuildArchive(spec).bytes);
    WriteFile(folder.path / "other.big", replacement);
    fs::remove(folder.path / "b.big");
    fs::remove_all(folder.path / "again");
    WriteFile(AliasFolder(folder.path) / "sound" / "fx" / "boom.wav", "BANG!");
    if (adding) WriteFile(AliasFolder(folder.path) / "new.txt", "new");
    std::once_flag renamed;
    PackCallbacks callbacks;
    callbacks.interrupted = [&] {  // first asked just after OLD was loaded
      std::call_once(renamed, [&] { fs::rename(folder.path / "other.big", folder.path / "a.big"); });
      return false;
    };
    const PackOutcome outcome = PackHere(folder.path, "a.big", "b.big", 6, callbacks);
    ASSERT_EQ(outcome.result, PackResult::Written) << what << ": " << Lines(outcome.problems);
    ASSERT_TRUE(ReadFile(folder.path / "a.big") == replacement) << what;
    if (!adding) {
      ArchiveSpec changed = spec;
      FindEntry(changed, "boom.wav")->data = "BANG!";
      EXPECT_TRUE(ReadFile(folder.path / "b.big") == BuildArchive(changed).bytes) << what;
    }
    ASSERT_EQ(RunWza({"extract", "-q", "-d", "again", "b.big"}, folder.path.string()).exitCode, 0)
        << what;
    EXPECT_EQ(ReadTree(folder.path / "again" / "__b.big"), ReadTree(folder.path / "work" / "__a.big"))
        << what;
  }
}

// A file that grows after it was listed, while it waits to be packed, deflated or stored,
// new or replacing an entry: it is named, the run exits with 1 and writes nothing; packed
// to its listed size it would go in cut short.
TEST(WzaPack, AFileThatGrowsWhilePackedIsNamed) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(SampleSpec(2, 20, "data")).bytes);
  ASSERT_EQ(RunWza({"extract", "-q", "-d", "work", "a.big"}, folder.path.string()).exitCode, 0);
  const fs::path png = AliasFolder(folder.path) / "art" / "ui" / "x.png";  // compressed in a.big
  const fs::path bin = AliasFolder(folder.path) / "b.bin";                 // stored in a.big
  std::string text;
  for (int i = 0; text.size() < 300000; ++i) text += std::to_string(i * 7919 % 10007) + ' ';
  const auto grow = [&] {
    for (const fs::path& path : {png, bin}) {
      std::ofstream(path, std::ios::binary | std::ios::app) << "and more";
    }
  };
  for (const auto& [like, level] : {std::pair<std::string, int>{"a.big", 6}, {"", 9}, {"", 0}}) {
    const std::string what = (like.empty() ? "new, -" : "--like, -") + std::to_string(level);
    fs::remove(folder.path / "b.big");
    WriteFile(png, text);
    WriteFile(bin, text.substr(0, 6000));
    std::once_flag grown;
    PackCallbacks callbacks;
    // Grown while the entries are compared (--like) or once the new archive is laid out:
    // after the listing, before the writer reads a byte.
    callbacks.progress = [&](const char* phase, uint64_t, uint64_t) {
      if (std::string(phase) == "comparing") std::call_once(grown, grow);
    };
    callbacks.note = [&](const std::string&) { std::call_once(grown, grow); };
    const PackOutcome outcome = PackHere(folder.path, like, "b.big", level, callbacks);
    EXPECT_EQ(outcome.result, PackResult::FilesUnreadable) << what << ": " << Lines(outcome.problems);
    for (const fs::path& path : {png, bin}) {
      EXPECT_TRUE(Contains(Lines(outcome.problems), path.string() + ": file changed while packed\n"))
          << what << ": " << Lines(outcome.problems);
    }
    EXPECT_FALSE(fs::exists(folder.path / "b.big")) << what;
    for (const auto& item : fs::directory_iterator(folder.path)) {
      EXPECT_NE(item.path().filename().string()[0], '.') << what << ": " << item.path();
    }
  }
}
#endif

}  // namespace

// Damaged and malicious archives against the real `wza` (wza.exe under Wine): whatever an
// archive holds, wza must not crash or hang, must write nothing outside the destination,
// must still write the harmless entries beside the bad ones, and must say what it refused.
#include <gtest/gtest.h>

#include <algorithm>

#include "extract/safe_name.h"
#include "tests/support/archive_writer.h"
#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

namespace {

using Tree = std::map<std::string, std::string>;

// The working folder of a test: archives go to in/, wza extracts to dest/. Anything else
// that appears in the folder, or next to it, got out of the destination.
struct Workbench {
  TempFolder folder;
  std::string In(const std::string& name) const { return "in/" + name; }
  void Put(const std::string& name, const std::string& bytes) {
    fs::create_directories(folder.path / "in");
    WriteFile(folder.path / "in" / name, bytes);
  }
  ProgramResult Run(std::vector<std::string> args) { return RunWza(args, folder.path.string()); }
  // What wza wrote below dest/; nothing at all when it did not even make the folder.
  Tree Dest() const {
    return fs::exists(folder.path / "dest") ? ReadTree(folder.path / "dest") : Tree();
  }
  void ExpectNothingOutsideDest() const {
    for (const auto& item : fs::directory_iterator(folder.path)) {
      const std::string name = item.path().filename().string();
      EXPECT_TRUE(name == "in" || name == "dest") << "written outside the destination: " << name;
    }
    for (const auto& item : fs::directory_iterator(folder.path / "in")) {
      EXPECT_TRUE(item.is_regular_file()) << "written among the archives: " << item.path();
    }
    const fs::path parent = folder.path.parent_path();
    for (const char* probe : {"wza-escape-probe.txt", "up.txt", "up2.txt", "Windows"}) {
      EXPECT_FALSE(fs::exists(parent / probe)) << probe;
      EXPECT_FALSE(fs::exists(parent.parent_path() / probe)) << probe;
    }
  }
};

ArchiveSpec OneFolder(const std::vector<TestEntry>& entries, const std::string& alias = "data") {
  ArchiveSpec spec;
  spec.alias = alias;
  spec.folders = {{"", entries}};
  return spec;
}

// --- names ---

TEST(HostileNames, AreRefusedOneByOneWhileTheirSiblingsAreWritten) {
  Workbench bench;
  ArchiveSpec spec;
  spec.folders = {
      {"",
       {{"COM1", "x"},
        {"com1.log", "x"},
        {"LPT9", "x"},
        {"Aux.txt", "x"},
        {"conin$", "x"},
        {"prn.tar.gz", "x"},
        {"space ", "x"},
        {"dots...", "x"},
        {"", "x"},
        {"file.txt::$DATA", "x"},
        {"C:x.txt", "x"},
        {"c:\\probe.txt", "x"},
        {"..\\..\\..\\..\\wza-escape-probe.txt", "x"},
        {"ok.txt", "fine"}}},
      {"sub", {{"", "no file name"}}},
      {"dir.", {{"in-dotted.txt", "x"}}},
      {"dir ", {{"in-spaced.txt", "x"}}},
      {"a\\..\\..", {{"up2.txt", "x"}}},
      {"a/./b", {{"dot.txt", "x"}}},
      {"tab\there", {{"ctl.txt", "x"}}},
      // Leading and doubled separators only double the one after the root: harmless.
      {"\\\\server\\share", {{"unc.txt", "unc"}}},
      {"/rooted", {{"r.txt", "rooted"}}},
      // Only the part before the first NUL becomes a path.
      {"nest", {{std::string("cut\0..\\..\\wza-escape-probe.txt", 30), "cut"}}},
  };
  bench.Put("names.big", BuildArchive(spec).bytes);
  const size_t unsafe = 19;
  const size_t total = 23;

  const ProgramResult list = bench.Run({"list", bench.In("names.big")});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_EQ(CountOf(list.out, "(unsafe name: not extracted)"), unsafe) << list.out;
  EXPECT_TRUE(Contains(list.out, " data/ok.txt\n")) << list.out;

  const ProgramResult test = bench.Run({"test", bench.In("names.big")});
  EXPECT_EQ(test.exitCode, 1);
  EXPECT_EQ(CountOf(test.err, ": unsafe name, not extracted\n"), unsafe) << test.err;
  EXPECT_TRUE(Contains(test.out, std::to_string(unsafe) + " of " + std::to_string(total) +
                                     " entries with an unsafe name\n"))
      << test.out;

  const ProgramResult extract = bench.Run({"extract", "-d", "dest", bench.In("names.big")});
  EXPECT_EQ(extract.exitCode, 1);
  EXPECT_EQ(CountOf(extract.err, "\n"), unsafe) << extract.err;
  EXPECT_EQ(CountOf(extract.err, ": unsafe name, not extracted\n"), unsafe) << extract.err;
  for (const char* shown :
       {"in/names.big: data/COM1: ", "in/names.big: data/space : ", "in/names.big: data/sub: ",
        "in/names.big: data/dir./in-dotted.txt: ", "in/names.big: data/C:x.txt: "}) {
    EXPECT_TRUE(Contains(extract.err, shown)) << shown << "\n" << extract.err;
  }
  EXPECT_TRUE(Contains(extract.out, "4 of 23 entries extracted")) << extract.out;
  const Tree expected = {{"__names.big/", ""},
                         {"__names.big/data/", ""},
                         {"__names.big/data/ok.txt", "fine"},
                         {"__names.big/data/server/", ""},
                         {"__names.big/data/server/share/", ""},
                         {"__names.big/data/server/share/unc.txt", "unc"},
                         {"__names.big/data/rooted/", ""},
                         {"__names.big/data/rooted/r.txt", "rooted"},
                         {"__names.big/data/nest/", ""},
                         {"__names.big/data/nest/cut", "cut"}};
  EXPECT_EQ(bench.Dest(), expected);
  bench.ExpectNothingOutsideDest();
}

TEST(HostileNames, NamesThousandsOfFoldersDeepAreRefusedQuickly) {
  // Each new folder level costs a creation call along the whole path: 16,000 levels in
  // each of 40 names kept wza (and wza.exe under Wine far longer) busy for minutes.
  std::string deep;
  for (int i = 0; i < 16000; ++i) deep += "a/";
  std::string doubled(16000, '\\');
  ArchiveSpec spec;
  spec.folders = {{"", {}}};
  for (char c = 'b'; c < 'b' + 20; ++c) {
    spec.folders[0].entries.push_back({std::string(1, c) + "/" + deep + "x", "x"});
    spec.folders[0].entries.push_back({std::string(1, c) + doubled + "y", "y"});
  }
  std::string limit;
  // The folder's empty name gives each entry a leading separator: one empty component.
  for (size_t i = 2; i < kMaxNameComponents; ++i) limit += "l/";
  spec.folders[0].entries.push_back({limit + "ok.txt", "fine"});
  spec.folders[0].entries.push_back({"l/" + limit + "over.txt", "x"});
  Workbench bench;
  bench.Put("deep.big", BuildArchive(spec).bytes);
  const ProgramResult result = bench.Run({"extract", "-q", "-d", "dest", bench.In("deep.big")});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(CountOf(result.err, ": unsafe name, not extracted\n"), 41u);
  EXPECT_TRUE(Contains(result.err, "over.txt: unsafe name, not extracted\n"));
  EXPECT_EQ(ReadFile(bench.folder.path / "dest" / "__deep.big" / "data" / (limit + "ok.txt")),
            "fine");
  bench.ExpectNothingOutsideDest();
}

TEST(HostileNames, AnAliasThatLeavesTheDestinationWritesNothingOfItsArchive) {
  Workbench bench;
  const std::vector<std::string> aliases = {"..", "..\\..", "C:", "c:\\", "CON", "a:b", "up."};
  std::vector<std::string> args = {"extract", "-q", "-d", "dest"};
  for (size_t i = 0; i < aliases.size(); ++i) {
    const std::string name = "alias" + std::to_string(i) + ".big";
    bench.Put(name, BuildArchive(OneFolder({{"up.txt", "x"}, {"b.txt", "y"}}, aliases[i])).bytes);
    args.push_back(bench.In(name));
  }
  bench.Put("good.big", BuildArchive(OneFolder({{"ok.txt", "fine"}})).bytes);
  args.push_back(bench.In("good.big"));
  const ProgramResult result = bench.Run(args);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(CountOf(result.err, ": unsafe name, not extracted\n"), 2 * aliases.size())
      << result.err;
  EXPECT_EQ(
      bench.Dest(),
      (Tree{{"__good.big/", ""}, {"__good.big/data/", ""}, {"__good.big/data/ok.txt", "fine"}}));
  bench.ExpectNothingOutsideDest();
}

// Names that would clear the screen, retitle the terminal or overprint the line reach it
// escaped, in every command and message; so does a path given on the command line.
TEST(HostileNames, ControlBytesAreShownEscapedWhereverANameIsPrinted) {
  std::vector<TestEntry> entries = {{"\x1b[2J\x1b[Hclear", "x"},
                                    {"title\x1b]0;pwned\x07", "x"},
                                    {"over\rok.txt", "x"},
                                    {"del\x7f", "x"},
                                    {"ok.txt", "fine"}};
  // Refused names: every command names them.
  const std::vector<std::string> refused = {"data/\\x1b[2J\\x1b[Hclear",
                                            "data/title\\x1b]0;pwned\\x07", "data/over\\x0dok.txt",
                                            "al\\x1b[31mias/a.txt", "gone\\x1b[2J.big"};
  std::vector<std::string> listed = {"data/del\\x7f"};  // DEL makes a file; only list shows it
  std::string archive = "names.big";
#ifndef _WIN32
  // A terminal reading UTF-8 takes the encoded C1 CSI as a control too, and the direction
  // override would turn what follows around; a stray byte is no character at all.
  entries.push_back(
      {"csi\xc2\x9b"
       "31m",
       "x"});
  entries.push_back({"rlo\xe2\x80\xae", "x"});
  entries.push_back({"stray\xff", "x"});
  entries.push_back({"caf\xc3\xa9.txt", "x"});
  listed.insert(listed.end(), {"data/csi\\xc2\\x9b31m", "data/rlo\\xe2\\x80\\xae",
                               "data/stray\\xff", "data/caf\xc3\xa9.txt"});
  archive = "bell\x07.big";  // Windows allows no control bytes in file names
#endif
  Workbench bench;
  bench.Put(archive, BuildArchive(OneFolder(entries)).bytes);
  bench.Put("alias.big", BuildArchive(OneFolder({{"a.txt", "x"}}, "al\x1b[31mias")).bytes);

  for (const char* command : {"list", "test", "extract"}) {
    std::vector<std::string> args = {command, "-d", "dest"};
    if (std::string(command) != "extract") args.resize(1);
    args.insert(args.end(),
                {bench.In(archive), bench.In("alias.big"), bench.In("gone\x1b[2J.big")});
    const ProgramResult result = bench.Run(args);
    EXPECT_NE(result.exitCode, 0) << command;
    std::string all = result.out + result.err;
    for (const std::string& name : refused) {
      EXPECT_TRUE(Contains(all, name)) << command << ": " << name << "\n" << all;
    }
    if (std::string(command) == "list") {
      for (const std::string& name : listed) {
        EXPECT_TRUE(Contains(all, name)) << command << ": " << name << "\n" << all;
      }
    }
#ifndef _WIN32
    EXPECT_TRUE(Contains(all, "in/bell\\x07.big")) << command << ": " << all;
    // The one character beyond ASCII that is shown as it is.
    for (size_t at; (at = all.find("caf\xc3\xa9")) != std::string::npos;) all.erase(at, 5);
#endif
    for (char c : all) {
      const auto byte = static_cast<unsigned char>(c);
#ifdef _WIN32
      const bool printable = byte >= 0x20 && byte != 0x7f;
#else
      const bool printable = byte >= 0x20 && byte < 0x7f;
#endif
      EXPECT_TRUE(c == '\n' || printable) << command << ": byte " << int(byte) << " in\n" << all;
    }
  }
}

// --- tables, entries and counts beyond the file ---

struct Damage {
  const char* name;
  std::string bytes;
  const char* detail;  // what wza names after "Damaged archive"
};

TEST(HostileTables, TablesPastTheEndMakeTheArchiveDamaged) {
  ArchiveSpec spec = OneFolder({{"a.txt", "alpha"}, {"b.txt", "bravo"}});
  spec.folders.push_back({"sub", {{"c.txt", "charlie"}}});
  const BuiltArchive built = BuildArchive(spec);
  const auto patched = [&](std::initializer_list<std::pair<size_t, uint32_t>> u32s,
                           std::initializer_list<std::pair<size_t, uint16_t>> u16s = {}) {
    std::string bytes = built.bytes;
    for (const auto& [at, value] : u32s) PutU32(bytes, at, value);
    for (const auto& [at, value] : u16s) PutU16(bytes, at, value);
    return bytes;
  };
  const size_t tables = built.dataHeaderAt;
  const uint32_t fileRel = built.fileAt - built.tableBase;
  const std::vector<Damage> damages = {
      {"toc-wraps.big", patched({{tables + 0, 0xFFFFFFFFu}}), "the ToC table lies outside"},
      {"toc-count.big", patched({}, {{tables + 4, 65535}}), "the ToC table lies outside"},
      {"folders-far.big", patched({{tables + 6, 0x7FFFFFF0u}}), "the folder table lies outside"},
      {"folder-count.big", patched({}, {{tables + 10, 65535}}), "the folder table lies outside"},
      {"files-far.big", patched({{tables + 12, 0xFFFFFF00u}, {tables + 18, 0xFFFFFF00u + 3 * 20}}),
       "the file table lies outside"},
      // 65,535 records of 20 bytes: the name table is moved to keep the record size.
      {"file-count.big", patched({{tables + 18, fileRel + 65535u * 20}}, {{tables + 16, 65535}}),
       "the file table lies outside"},
      {"name-far.big", patched({{built.fileAt + 20, 0x10000000u}}), "a name lies outside"},
      {"data-offset.big", patched({{176, 0xFFFFFFF0u}}), "a name lies outside"},
      {"cut-header.big", built.bytes.substr(0, 190), "the header is cut short"},
  };
  Workbench bench;
  std::vector<std::string> args = {"extract", "-q", "-d", "dest"};
  for (const Damage& damage : damages) {
    bench.Put(damage.name, damage.bytes);
    args.push_back(bench.In(damage.name));
  }
  ProgramResult alone = bench.Run(args);
  EXPECT_EQ(alone.exitCode, 2) << alone.err;  // nothing could be read
  EXPECT_EQ(CountOf(alone.err, "\n"), damages.size()) << alone.err;
  for (const Damage& damage : damages) {
    const std::string line =
        std::string("wza: Damaged archive \"in/") + damage.name + "\": " + damage.detail;
    EXPECT_TRUE(Contains(alone.err, line)) << line << "\n" << alone.err;
  }
  EXPECT_FALSE(fs::exists(bench.folder.path / "dest")) << "made for no archive";

  bench.Put("good.big", built.bytes);
  args.push_back(bench.In("good.big"));
  const ProgramResult mixed = bench.Run(args);
  EXPECT_EQ(mixed.exitCode, 1);
  EXPECT_EQ(bench.Dest().count("__good.big/data/sub/c.txt"), 1u);
  EXPECT_EQ(bench.Dest().size(), 6u);  // 3 folders, 3 files: nothing of the damaged ones

  for (const char* command : {"list", "test"}) {
    std::vector<std::string> reading(args.begin() + 4, args.end());
    reading.insert(reading.begin(), command);
    const ProgramResult read = bench.Run(reading);
    EXPECT_EQ(read.exitCode, 1) << command;
    EXPECT_EQ(CountOf(read.err, "wza: Damaged archive "), damages.size()) << command << read.err;
  }
  bench.ExpectNothingOutsideDest();
}

TEST(HostileTables, EntriesWhoseDataLiesPastTheEndAreSkippedAlone) {
  ArchiveSpec spec = OneFolder({{"offset-far.bin", "x"},
                                {"wraps.bin", "x"},
                                {"one-too-many.bin", "x"},
                                {"ok.txt", "fine"},
                                {"bomb-far.bin", std::string(1000, 'z'), true},
                                {"last.txt", "last"}});
  BuiltArchive built = BuildArchive(spec);
  const auto record = [&](size_t entry, size_t field) { return built.fileAt + entry * 20 + field; };
  PutU32(built.bytes, record(0, 8), 0x7FFFFFFFu);  // data offset
  // Offset + stored size wraps round 32 bits to a place inside the file.
  PutU32(built.bytes, record(1, 8), 0xFFFFFF00u);
  PutU32(built.bytes, record(1, 12), 0x00000200u);
  PutU32(built.bytes, record(1, 16), 0x00000200u);
  // Ends one byte after the file does.
  const uint32_t size = static_cast<uint32_t>(built.bytes.size());
  PutU32(built.bytes, record(2, 8), size - built.dataOffset - 4);
  PutU32(built.bytes, record(2, 12), 5);
  PutU32(built.bytes, record(2, 16), 5);
  PutU32(built.bytes, record(4, 12), 0xFFFFFFF0u);  // compressed, stored size past the end
  PutU32(built.bytes, record(4, 16), 0xFFFFFFF0u);

  Workbench bench;
  bench.Put("far.big", built.bytes);
  const ProgramResult list = bench.Run({"list", bench.In("far.big")});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_TRUE(Contains(list.out, "  4294967280   4294967280  compressed data/bomb-far.bin"))
      << list.out;

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"test", bench.In("far.big")},
        std::vector<std::string>{"extract", "-q", "-d", "dest", bench.In("far.big")}}) {
    const ProgramResult result = bench.Run(args);
    EXPECT_EQ(result.exitCode, 1) << args[0];
    EXPECT_EQ(CountOf(result.err, "\n"), 4u) << args[0] << ": " << result.err;
    for (const char* name : {"offset-far.bin", "wraps.bin", "one-too-many.bin", "bomb-far.bin"}) {
      // Both show the name below the archive's folder, alias first.
      const std::string shown = std::string("data/") + name;
      EXPECT_TRUE(
          Contains(result.err, "wza: in/far.big: " + shown + ": data lies outside the archive\n"))
          << args[0] << ": " << name;
    }
  }
  EXPECT_EQ(bench.Dest(), (Tree{{"__far.big/", ""},
                                {"__far.big/data/", ""},
                                {"__far.big/data/ok.txt", "fine"},
                                {"__far.big/data/last.txt", "last"}}));
  bench.ExpectNothingOutsideDest();
}

// Every table at its largest: 65,535 ToC entries, folders and files, all read and listed.
TEST(HostileCounts, FullTablesOf65535RecordsLoad) {
  ArchiveSpec spec;
  spec.tocCount = 65535;
  for (int f = 0; f < 65535; ++f) {
    spec.folders.push_back({"f" + std::to_string(f % 7), {{std::to_string(f), ""}}});
  }
  spec.folders[65534].entries[0] = {"last.txt", "the last one"};
  Workbench bench;
  bench.Put("full.big", BuildArchive(spec).bytes);
  const ProgramResult list = bench.Run({"list", bench.In("full.big")});
  EXPECT_EQ(list.exitCode, 0) << list.err;
  EXPECT_TRUE(Contains(list.out, "65535 folders, 65535 entries")) << list.out.substr(0, 300);
  EXPECT_EQ(CountOf(list.out, "\n"), 65535u + 5);
  EXPECT_TRUE(Contains(list.out, "stored     data/f" + std::to_string(65533 % 7) + "/65533\n"));

  const ProgramResult test = bench.Run({"test", bench.In("full.big")});
  EXPECT_EQ(test.exitCode, 0) << test.err.substr(0, 300);
  EXPECT_TRUE(Contains(test.out, "full.big: 65535 entries ok")) << test.out;
}

TEST(HostileCounts, FolderIndexesAtTheirLimitsAreClampedToTheFileTable) {
  ArchiveSpec spec;
  spec.folders = {{"a", {{"1.txt", "1"}, {"2.txt", "2"}}}, {"b", {{"3.txt", "3"}}}};
  BuiltArchive built = BuildArchive(spec);
  // Folder a reaches to entry 65,535; folder b starts at 65,535 and ends before it starts.
  PutU16(built.bytes, built.folderAt + 10, 65535);
  PutU16(built.bytes, built.folderAt + 12 + 8, 65535);
  PutU16(built.bytes, built.folderAt + 12 + 10, 1);
  Workbench bench;
  bench.Put("clamp.big", built.bytes);
  const ProgramResult result = bench.Run({"extract", "-q", "-d", "dest", bench.In("clamp.big")});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(bench.Dest(), (Tree{{"__clamp.big/", ""},
                                {"__clamp.big/data/", ""},
                                {"__clamp.big/data/a/", ""},
                                {"__clamp.big/data/a/1.txt", "1"},
                                {"__clamp.big/data/a/2.txt", "2"},
                                {"__clamp.big/data/a/3.txt", "3"}}));
  bench.ExpectNothingOutsideDest();
}

TEST(HostileFolders, OverlappingRangesNestAndAnEscapingOneIsRefused) {
  ArchiveSpec spec;
  spec.folders = {{"x", {{"1.txt", "1"}, {"2.txt", "2"}, {"3.txt", "3"}}},
                  {"y", {{"4.txt", "4"}}},
                  {"..", {{"5.txt", "5"}}}};
  BuiltArchive built = BuildArchive(spec);
  PutU16(built.bytes, built.folderAt + 12 + 8, 1);  // y covers 1..3 as well
  PutU16(built.bytes, built.folderAt + 24 + 8, 2);  // .. covers 2..4
  Workbench bench;
  bench.Put("overlap.big", built.bytes);
  const ProgramResult result = bench.Run({"extract", "-d", "dest", bench.In("overlap.big")});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(CountOf(result.err, ": unsafe name, not extracted\n"), 3u) << result.err;
  EXPECT_TRUE(Contains(result.out, "2 of 5 entries extracted")) << result.out;
  EXPECT_EQ(bench.Dest(), (Tree{{"__overlap.big/", ""},
                                {"__overlap.big/data/", ""},
                                {"__overlap.big/data/x/", ""},
                                {"__overlap.big/data/x/1.txt", "1"},
                                {"__overlap.big/data/y/", ""},
                                {"__overlap.big/data/y/x/", ""},
                                {"__overlap.big/data/y/x/2.txt", "2"}}));
  bench.ExpectNothingOutsideDest();
}

TEST(HostileFolders, RangesThatMultiplyNamesBeyondReasonAreRefused) {
  // 65,535 folders each covering all 65,535 entries: billions of bytes of names.
  ArchiveSpec spec;
  for (int f = 0; f < 65535; ++f) spec.folders.push_back({"d", {{"e", ""}}});
  BuiltArchive built = BuildArchive(spec);
  for (size_t f = 0; f < 65535; ++f) {
    PutU16(built.bytes, built.folderAt + f * 12 + 8, 0);
    PutU16(built.bytes, built.folderAt + f * 12 + 10, 65535);
  }
  Workbench bench;
  bench.Put("multiply.big", built.bytes);
  const ProgramResult result = bench.Run({"extract", "-d", "dest", bench.In("multiply.big")});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err,
            "wza: Damaged archive \"in/multiply.big\": the folder ranges overlap beyond reason\n");
  EXPECT_EQ(bench.Dest(), Tree());
}

TEST(HostileFolders, NameRangesOverlappingEachOtherCannotExhaustMemory) {
  // Name offsets that take turns between 0 and 32,769 give every other folder and file a
  // name of 32 KiB out of the same bytes: 2 GiB of names from a 2 MiB archive, more than a
  // 32-bit process can hold.
  ArchiveSpec spec;
  for (int f = 0; f < 65535; ++f) spec.folders.push_back({"d", {{"e", ""}}});
  spec.folders[0].name = std::string(33000, 'n');
  BuiltArchive built = BuildArchive(spec);
  for (size_t i = 0; i < 65535; ++i) {
    const uint32_t offset = i % 2 == 0 ? 0 : 32769;
    PutU32(built.bytes, built.folderAt + i * 12, offset);
    PutU32(built.bytes, built.fileAt + i * 20, offset);
  }
  Workbench bench;
  bench.Put("names.big", built.bytes);
  const ProgramResult result = bench.Run({"extract", "-d", "dest", bench.In("names.big")});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.err,
            "wza: Damaged archive \"in/names.big\": the names add up to more than 64 MiB\n");
  EXPECT_EQ(bench.Dest(), Tree());
}

#ifndef _WIN32
// One entry below 2,047 folders whose names are the same 32 KiB of bytes (folders taking
// turns with empty ones): a name of 64 MiB, all the loader lets names add up to, from an
// archive of some 86 KB. Matching a pattern against it took (pattern + 1) x (name + 1)
// bytes, 1.6 GB; --json held every archive's document to the end (four such took 1.3 GB). Under a limit of 1 GB
// (none under AddressSanitizer, which reserves far more), each command needs memory of
// the order of the name's length only, whatever the pattern or the number of archives;
// under a limit too small even for that, the archive fails with a message, never an abort.
TEST(HostileNames, ANameOf64MiBNeedsMemoryOfItsLengthOnlyAndRunningShortIsReported) {
  ArchiveSpec spec;
  for (int f = 0; f < 4094; ++f) spec.folders.push_back({"", {}});
  spec.folders[0].name = std::string(32768, 'n');
  spec.folders.back().entries = {{"e.wav", "x"}};
  BuiltArchive built = BuildArchive(spec);
  for (size_t f = 0; f < 4094; ++f) {
    PutU32(built.bytes, built.folderAt + f * 12, f % 2 == 0 ? 0 : 32769);
    PutU16(built.bytes, built.folderAt + f * 12 + 8, 0);  // every folder covers the entry
    PutU16(built.bytes, built.folderAt + f * 12 + 10, 1);
  }
  Workbench bench;
  bench.Put("long.big", built.bytes);
  const auto limited = [&](const std::string& kilobytes, const std::string& command) {
    std::string limit = "ulimit -v " + kilobytes + " && ";
#ifdef __SANITIZE_ADDRESS__
    limit.clear();
#endif
    return RunWzaInShell(limit + "WZA " + command, bench.folder.path.string());
  };
  const std::string unmatched =
      "wza: pattern matched no entry: -i data/sound/**/*.wav\n"
      "wza: pattern matched no entry: -i **/x*\n";
  for (const char* command : {"list", "extract -d dest"}) {
    const ProgramResult chosen = limited(
        "1000000", std::string(command) + " -i 'data/sound/**/*.wav' -i '**/x*' in/long.big");
    EXPECT_EQ(chosen.exitCode, 1) << command;
    EXPECT_EQ(chosen.err, unmatched) << command;
  }
  EXPECT_EQ(bench.Dest(), Tree());
#ifndef __SANITIZE_ADDRESS__
  const std::string two = " in/long.big in/long.big";
  const ProgramResult json = limited("1000000", "list --json" + two + two + " > /dev/null");
  EXPECT_EQ(json.exitCode, 0);
  EXPECT_EQ(json.err, "");
  for (const char* command : {"list", "test", "extract -d dest", "extract -p", "list --json"}) {
    const ProgramResult shortOfMemory = limited("150000", command + two);
    EXPECT_EQ(shortOfMemory.exitCode, 2) << command;
    EXPECT_EQ(CountOf(shortOfMemory.err, "wza: Not enough memory for archive \"in/long.big\": "),
              2u)
        << command << "\n" << shortOfMemory.err;
  }
#endif
  bench.ExpectNothingOutsideDest();
}
#endif

// --- zlib bombs ---

TEST(HostileData, AZlibBombWritesNoMoreThanItDeclaresAndNeedsNoBufferOfItsSize) {
  const std::string zeros(32u << 20, '\0');
  const std::string bomb = Deflate(zeros, 9);  // 32 MiB from some 32 KiB
  ASSERT_LT(bomb.size(), 64u << 10);
  ArchiveSpec spec = OneFolder({
      {"claims-4gib.bin", "", true, 0xFFFFFFFFu, bomb},
      {"claims-1mib.bin", "", true, 1u << 20, bomb},
      {"claims-4gib-garbage.bin", "", true, 0xFFFFFFFFu, std::string(100, '\xFF')},
      {"stored-claims-4gib.bin", "", false, 0xFFFFFFFFu, std::string("abc")},
      {"ok.txt", "fine"},
  });
  Workbench bench;
  bench.Put("bomb.big", BuildArchive(spec).bytes);

  const ProgramResult test = bench.Run({"test", bench.In("bomb.big")});
  EXPECT_EQ(test.exitCode, 1);
  EXPECT_EQ(CountOf(test.err, "\n"), 4u) << test.err;

  const ProgramResult result = bench.Run({"extract", "-q", "-d", "dest", bench.In("bomb.big")});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(Contains(
      result.err, "wza: in/bomb.big: data/claims-4gib.bin: fewer bytes than its declared size\n"))
      << result.err;
  EXPECT_TRUE(Contains(
      result.err, "wza: in/bomb.big: data/claims-1mib.bin: more data than its declared size\n"));
  EXPECT_TRUE(Contains(result.err,
                       "wza: in/bomb.big: data/claims-4gib-garbage.bin: damaged zlib stream\n"));
  EXPECT_TRUE(Contains(
      result.err, "wza: in/bomb.big: data/stored-claims-4gib.bin: fewer bytes than its declared"));
  const fs::path out = bench.folder.path / "dest" / "__bomb.big" / "data";
  EXPECT_EQ(fs::file_size(out / "claims-4gib.bin"), zeros.size());
  EXPECT_EQ(fs::file_size(out / "claims-1mib.bin"), 1u << 20);
  EXPECT_EQ(fs::file_size(out / "claims-4gib-garbage.bin"), 0u);
  EXPECT_EQ(ReadFile(out / "stored-claims-4gib.bin"), "abc");
  EXPECT_EQ(ReadFile(out / "ok.txt"), "fine");
  bench.ExpectNothingOutsideDest();
}

// --- truncated, empty and non-archives ---

TEST(HostileFiles, AnArchiveCutAtEveryLengthIsReportedOrSalvaged) {
  ArchiveSpec spec = OneFolder({{"a.txt", "alpha"}, {"z.bin", std::string(300, 'z'), true}});
  spec.folders.push_back({"sub", {{"last.txt", "the last entry"}}});
  const BuiltArchive built = BuildArchive(spec);
  Workbench bench;
  std::vector<std::string> args = {"extract", "-q", "-d", "dest"};
  for (size_t length = 0; length < built.bytes.size(); ++length) {
    const std::string name = "cut" + std::to_string(length) + ".big";
    bench.Put(name, built.bytes.substr(0, length));
    args.push_back(bench.In(name));
  }
  const ProgramResult result = bench.Run(args);
  EXPECT_EQ(result.exitCode, 1);
  const Tree dest = bench.Dest();
  for (size_t length = 0; length < built.bytes.size(); ++length) {
    const std::string name = "cut" + std::to_string(length) + ".big";
    const std::string shown = "in/" + name;
    // Every cut loses something, and wza says so: the archive or at least one entry.
    EXPECT_TRUE(Contains(result.err, "wza: " + shown + ": Not supported archive") ||
                Contains(result.err, "wza: Damaged archive \"" + shown + "\"") ||
                Contains(result.err, "wza: " + shown + ": "))
        << name;
    if (length < 12) {
      EXPECT_TRUE(Contains(result.err, "wza: " + shown + ": Not supported archive")) << name;
    } else if (length + 1 < built.dataOffset) {  // the last name runs to the data's byte before
      EXPECT_TRUE(Contains(result.err, "wza: Damaged archive \"" + shown + "\"")) << name;
    }
    // Entries whose bytes are all there come out whole.
    const std::string root = "__" + name + "/data/";
    if (length >= built.entryDataAt[1]) {
      EXPECT_EQ(dest.count(root + "a.txt") ? dest.at(root + "a.txt") : "", "alpha") << name;
    }
    if (length < built.entryDataAt[2]) {
      EXPECT_EQ(dest.count(root + "z.bin"), 0u) << name;
    }
  }
  bench.ExpectNothingOutsideDest();
}

TEST(HostileFiles, EmptyFilesAndFoldersAreNoArchives) {
  Workbench bench;
  bench.Put("empty.big", "");
  fs::create_directories(bench.folder.path / "in" / "folder.big");
  bench.Put("good.big", BuildArchive(OneFolder({{"ok.txt", "fine"}})).bytes);
  for (const char* command : {"list", "test", "extract"}) {
    std::vector<std::string> args = {command, bench.In("empty.big")};
    if (std::string(command) == "extract") args = {command, "-d", "dest", bench.In("empty.big")};
    const ProgramResult empty = bench.Run(args);
    EXPECT_EQ(empty.exitCode, 2) << command;
    EXPECT_EQ(empty.err.rfind("wza: in/empty.big: Not supported archive", 0), 0u)
        << command << ": " << empty.err;

    args.back() = bench.In("folder.big");
    const ProgramResult folder = bench.Run(args);
    EXPECT_EQ(folder.exitCode, 2) << command;
    EXPECT_EQ(folder.err.rfind("wza: Error open file \"in/folder.big\": ", 0), 0u)
        << command << ": " << folder.err;
    EXPECT_GT(folder.err.size(), std::string("wza: Error open file \"in/folder.big\": \n").size());

    args.back() = bench.In("empty.big");
    args.push_back(bench.In("folder.big"));
    args.push_back(bench.In("good.big"));
    const ProgramResult mixed = bench.Run(args);
    EXPECT_EQ(mixed.exitCode, 1) << command << ": " << mixed.err;
    EXPECT_EQ(CountOf(mixed.err, "\n"), 2u) << command << ": " << mixed.err;
  }
  EXPECT_EQ(
      bench.Dest(),
      (Tree{{"__good.big/", ""}, {"__good.big/data/", ""}, {"__good.big/data/ok.txt", "fine"}}));
  EXPECT_TRUE(fs::is_directory(bench.folder.path / "in" / "folder.big"));
  EXPECT_TRUE(fs::is_empty(bench.folder.path / "in" / "folder.big"));
}

}  // namespace

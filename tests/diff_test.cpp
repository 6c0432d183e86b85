// End-to-end tests of `wza diff` (wza.exe in the Windows build, under Wine), on pairs of
// archives the tests' own writer builds.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <utility>

#include "tests/support/archive_writer.h"
#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

namespace {

std::string Letters(size_t size, uint32_t seed) {
  std::string text;
  for (uint32_t x = seed; text.size() < size; x = x * 1103515245u + 12345u) {
    text += static_cast<char>('a' + (x >> 16) % 26);
  }
  return text;
}

// OLD and NEW of one alias, as a patch leaves them: an entry changed, one added, one
// removed, one moved to another folder, one stored before and compressed now, one sharing
// another's stored bytes, a name used twice (the later entry stands for it), a name with a
// control byte, and an entry damaged in NEW and one damaged differently in both.
std::pair<ArchiveSpec, ArchiveSpec> PatchPair() {
  const std::string moved = std::string(70000, 'x') + "end";
  const std::string sound = Letters(20000, 7);
  const std::string stream = Deflate(sound);
  ArchiveSpec older;
  older.folders = {{"",
                    {{"readme.txt", "read me", true},
                     {"same.bin", std::string(5000, 'b')},
                     {"copy.bin", std::string(5000, 'b'), false, std::nullopt, std::nullopt, 1},
                     {"changed.txt", "old text", true},
                     {"removed.txt", "bye"},
                     {"packed.dat", Letters(3000, 1)},
                     {"twice.txt", "first", true},
                     {"twice.txt", "second", true}}},
                   {"art", {{"moved.png", moved, true}}},
                   {"sound",
                    {{"damaged.wav", sound, true},
                     {"broken.wav", sound, true, std::nullopt, stream.substr(0, 1000)}}}};
  ArchiveSpec newer;
  newer.folders = {{"",
                    {{"readme.txt", "read me", true},
                     {"same.bin", std::string(5000, 'b')},
                     {"copy.bin", std::string(5000, 'b'), false, std::nullopt, std::nullopt, 1},
                     {"changed.txt", "new text", true},
                     {"added.txt", "hello"},
                     {"packed.dat", Letters(3000, 1), true},
                     {"twice.txt", "other", true},
                     {"twice.txt", "second", true},
                     {"odd\x01.txt", "odd"}}},
                   {"gfx", {{"moved.png", moved, true}}},
                   {"sound",
                    {{"damaged.wav", sound, true, std::nullopt, stream.substr(0, 2000)},
                     {"broken.wav", sound, true, std::nullopt, stream.substr(0, 3000)}}}};
  return {older, newer};
}

const std::string kDifferences =
    "M data/changed.txt\n"
    "A data/added.txt\n"
    "A data/odd\\x01.txt\n"
    "R data/art/moved.png -> data/gfx/moved.png\n"
    "! data/sound/damaged.wav: new: damaged zlib stream\n"
    "! data/sound/broken.wav: old: damaged zlib stream; new: damaged zlib stream\n"
    "D data/removed.txt\n";

const std::string kAllLines =
    "= data/readme.txt\n"
    "= data/same.bin\n"
    "= data/copy.bin\n"
    "M data/changed.txt\n"
    "A data/added.txt\n"
    "= data/packed.dat (stored differently: was stored, now compressed)\n"
    "= data/twice.txt\n"
    "A data/odd\\x01.txt\n"
    "R data/art/moved.png -> data/gfx/moved.png\n"
    "! data/sound/damaged.wav: new: damaged zlib stream\n"
    "! data/sound/broken.wav: old: damaged zlib stream; new: damaged zlib stream\n"
    "D data/removed.txt\n";

// The lines of `diff` in order of their text, a `!` line by its name alone; `mirrored`: as
// the other way round would give them, A and D swapped and moves reversed.
std::vector<std::string> SortedLines(const std::string& output, bool mirrored) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    const std::string name = line.substr(2);
    const size_t arrow = name.find(" -> ");
    if (line[0] == '!') {
      line = line.substr(0, line.find(": "));
    } else if (mirrored && (line[0] == 'A' || line[0] == 'D')) {
      line = (line[0] == 'A' ? "D " : "A ") + name;
    } else if (mirrored && line[0] == 'R') {
      line = "R " + name.substr(arrow + 4) + " -> " + name.substr(0, arrow);
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// Every version and record size on either side, and OLD and NEW of different ones: the
// same lines, in NEW's order and then OLD's removals, at any number of threads.
TEST(WzaDiff, NamesEachDifferenceForEveryVersionAndRecordSize) {
  const uint32_t versions[] = {1, 2, 4};
  const uint32_t records[] = {17, 20, 22};
  for (size_t k = 0; k < 9; ++k) {
    auto [older, newer] = PatchPair();
    older.version = versions[k / 3];
    older.recordSize = records[k % 3];
    newer.version = versions[(k + 1) % 3];
    newer.recordSize = records[(k / 3 + k + 2) % 3];
    TempFolder folder;
    WriteFile(folder.path / "old.big", BuildArchive(older).bytes);
    WriteFile(folder.path / "new.wza", BuildArchive(newer).bytes);
    const std::string pair = "version " + std::to_string(older.version) + "/" +
                             std::to_string(older.recordSize) + " to " +
                             std::to_string(newer.version) + "/" + std::to_string(newer.recordSize);
    const ProgramResult one = RunWza({"diff", "-j1", "old.big", "new.wza"}, folder.path.string());
    EXPECT_EQ(one.exitCode, 1) << pair << one.err;
    EXPECT_EQ(one.err, "") << pair;
    EXPECT_EQ(one.out, kDifferences) << pair;
    for (const char* threads : {"-j1", "-j4"}) {
      const ProgramResult all =
          RunWza({"diff", threads, "-v", "old.big", "new.wza"}, folder.path.string());
      EXPECT_EQ(all.exitCode, 1) << pair << threads;
      EXPECT_EQ(all.out, kAllLines) << pair << threads;
    }
  }
}

// `diff B A` lists what `diff A B` does the other way round; an archive against itself,
// or against a copy, shows nothing and exits 0; -q prints nothing and keeps the status.
TEST(WzaDiff, MirrorsAndFindsNothingBetweenCopies) {
  const auto [older, newer] = PatchPair();
  TempFolder folder;
  WriteFile(folder.path / "old.big", BuildArchive(older).bytes);
  WriteFile(folder.path / "new.big", BuildArchive(newer).bytes);
  WriteFile(folder.path / "copy.big", BuildArchive(newer).bytes);
  const ProgramResult back = RunWza({"diff", "new.big", "old.big"}, folder.path.string());
  EXPECT_EQ(back.exitCode, 1) << back.err;
  EXPECT_EQ(SortedLines(back.out, true), SortedLines(kDifferences, false)) << back.out;
  EXPECT_TRUE(Contains(back.out, "! data/sound/damaged.wav: old: damaged zlib stream\n"))
      << back.out;

  const ProgramResult same = RunWza({"diff", "new.big", "copy.big"}, folder.path.string());
  EXPECT_EQ(same.exitCode, 0) << same.err;
  EXPECT_EQ(same.out, "");
  const ProgramResult itself = RunWza({"diff", "-v", "old.big", "old.big"}, folder.path.string());
  EXPECT_EQ(itself.exitCode, 0) << itself.err;
  EXPECT_EQ(CountOf(itself.out, "= data/"), 10u) << itself.out;
  EXPECT_EQ(CountOf(itself.out, "\n"), 10u) << itself.out;
  for (const char* pair : {"copy.big", "old.big"}) {
    const ProgramResult quiet = RunWza({"diff", "-q", "-v", "new.big", pair}, folder.path.string());
    EXPECT_EQ(quiet.exitCode, pair == std::string("copy.big") ? 0 : 1) << pair;
    EXPECT_EQ(quiet.out + quiet.err, "") << pair;
  }
}

// -i and -x choose entries of both archives as extract does; a pattern that chooses
// nothing, an archive that does not load and a usage error are trouble: exit 2.
TEST(WzaDiff, ChoosesAsExtractAndExitsTwoOnTrouble) {
  const auto [older, newer] = PatchPair();
  TempFolder folder;
  WriteFile(folder.path / "old.big", BuildArchive(older).bytes);
  WriteFile(folder.path / "new.big", BuildArchive(newer).bytes);
  WriteFile(folder.path / "junk.wza", "_ARCHIVE\x03");
  const auto diff = [&](const std::vector<std::string>& args) {
    std::vector<std::string> all = {"diff"};
    all.insert(all.end(), args.begin(), args.end());
    return RunWza(all, folder.path.string());
  };
  const ProgramResult unmoved =
      diff({"-x", "**/MOVED.png", "-x", "data/sound/*", "old.big", "new.big"});
  EXPECT_EQ(unmoved.exitCode, 1) << unmoved.err;
  EXPECT_EQ(unmoved.out,
            "M data/changed.txt\nA data/added.txt\nA data/odd\\x01.txt\nD data/removed.txt\n");
  const ProgramResult art =
      diff({"-i", "data/art/**", "-i", "data/*.txt", "-x", "**/t*", "old.big", "new.big"});
  EXPECT_EQ(art.out,
            "M data/changed.txt\nA data/added.txt\nA data/odd\\x01.txt\nD data/removed.txt\n"
            "D data/art/moved.png\n");
  const ProgramResult nothing = diff({"-i", "data/none/*", "-v", "old.big", "new.big"});
  EXPECT_EQ(nothing.exitCode, 2);
  EXPECT_EQ(nothing.out, "");
  EXPECT_EQ(nothing.err, "wza: pattern matched no entry: -i data/none/*\n");

  const ProgramResult junk = diff({"old.big", "junk.wza"});
  EXPECT_EQ(junk.exitCode, 2);
  EXPECT_EQ(junk.out, "");
  EXPECT_EQ(junk.err.rfind("wza: junk.wza: Not supported archive", 0), 0u) << junk.err;
  const ProgramResult missing = diff({"-q", "missing.big", "new.big"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_TRUE(Contains(missing.err, "Error open file \"missing.big\"")) << missing.err;
  for (const std::vector<std::string>& usage :
       std::vector<std::vector<std::string>>{{"old.big"},
                                             {"-n", "old.big", "new.big"},
                                             {"a", "b", "c"},
                                             {"-j0", "old.big", "new.big"}}) {
    const ProgramResult bad = diff(usage);
    EXPECT_EQ(bad.exitCode, 2) << usage[0];
    EXPECT_TRUE(Contains(bad.err, "Try 'wza --help'.")) << bad.err;
  }
}

// --json: one document, names written as `list --json` writes them, each kind with its
// names and sizes; the same at any number of threads.
TEST(WzaDiff, JsonIsOneDocumentARealParserReads) {
  auto [older, newer] = PatchPair();
  newer.folders[0].entries.push_back({"caf\xe9.txt", "x"});  // not UTF-8 as it stands
  TempFolder folder;
  WriteFile(folder.path / "old.big", BuildArchive(older).bytes);
  WriteFile(folder.path / "new.big", BuildArchive(newer).bytes);
  const ProgramResult result =
      RunWza({"diff", "--json", "-v", "-j1", "old.big", "new.big"}, folder.path.string());
  EXPECT_EQ(result.exitCode, 1) << result.err;
  const ProgramResult threaded =
      RunWza({"diff", "--json", "-v", "-j4", "old.big", "new.big"}, folder.path.string());
  EXPECT_EQ(threaded.out, result.out);
#ifdef _WIN32
  // No parser under Wine: the Linux build reads the same document's form with one.
  EXPECT_TRUE(Contains(result.out, "\"format\": \"wza-diff 1\"")) << result.out;
  EXPECT_TRUE(Contains(result.out,
                       "{\"kind\": \"moved\", \"name\": \"data/gfx/moved.png\", "
                       "\"old_name\": \"data/art/moved.png\""))
      << result.out;
#else
  WriteFile(folder.path / "diff.json", result.out);
  const char* script =
      "import json, sys\n"
      "d = json.load(open(sys.argv[1], encoding='utf-8'))\n"
      "print(d['format'], d['names'], d['old'], d['new'])\n"
      "for e in d['differences']:\n"
      "  name = bytes.fromhex(e['name_hex']) if 'name_hex' in e else e['name'].encode()\n"
      "  print(e['kind'], name, e.get('old_name'), e.get('old_size'), e.get('old_method'),\n"
      "        e.get('new_size'), e.get('new_method'), e.get('stored_alike'), e.get('why'))\n";
  const ProgramResult parsed =
      RunProgram("/usr/bin/env", {"python3", "-c", script, (folder.path / "diff.json").string()});
  ASSERT_EQ(parsed.exitCode, 0) << parsed.err << result.out;
  EXPECT_EQ(parsed.out,
            "wza-diff 1 bytes old.big new.big\n"
            "same b'data/readme.txt' None 7 compressed 7 compressed True None\n"
            "same b'data/same.bin' None 5000 stored 5000 stored True None\n"
            "same b'data/copy.bin' None 5000 stored 5000 stored True None\n"
            "changed b'data/changed.txt' None 8 compressed 8 compressed None None\n"
            "added b'data/added.txt' None None None 5 stored None None\n"
            "same b'data/packed.dat' None 3000 stored 3000 compressed False None\n"
            "same b'data/twice.txt' None 6 compressed 6 compressed True None\n"
            "added b'data/odd\\x01.txt' None None None 3 stored None None\n"
            "added b'data/caf\\xe9.txt' None None None 1 stored None None\n"
            "moved b'data/gfx/moved.png' data/art/moved.png 70003 compressed 70003 compressed "
            "None None\n"
            "unreadable b'data/sound/damaged.wav' None 20000 compressed 20000 compressed None "
            "new: damaged zlib stream\n"
            "unreadable b'data/sound/broken.wav' None 20000 compressed 20000 compressed None "
            "old: damaged zlib stream; new: damaged zlib stream\n"
            "removed b'data/removed.txt' None 3 stored None None None None\n");
#endif
}

}  // namespace

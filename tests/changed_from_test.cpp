// `wza extract NEW --changed-from OLD` end to end (wza.exe under Wine in the Windows builds):
// the kit holds only what changed, and `wza pack --like OLD` of the kit gives an archive
// with NEW's content, judged by extracting both with the real wza.
#include <gtest/gtest.h>

#include "tests/support/archive_writer.h"
#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

namespace {

using Tree = std::map<std::string, std::string>;

// The sample, plus an entry NEW drops and, where names are bytes, one whose name --names
// rewrites.
ArchiveSpec OldSpec() {
  ArchiveSpec spec = SampleSpec(2, 20, "data");
  spec.folders[0].entries.push_back({"old.txt", "only in the old one", true});
#ifndef _WIN32
  spec.folders[0].entries.push_back({"caf\xe9.txt", "the same in both", false});
#endif
  return spec;
}

// Entries NEW holds as OLD does: b.bin, x.png, empty.wav and, where it is there, café.txt.
#ifndef _WIN32
constexpr size_t kUnchanged = 4;
#else
constexpr size_t kUnchanged = 3;
#endif

// readme.txt and the stored boom.wav changed, new.wav added, old.txt removed; x.png the same
// content stored instead of compressed, empty.wav deflated at another level: both the same.
ArchiveSpec NewSpec() {
  ArchiveSpec spec = OldSpec();
  spec.level = 1;
  std::vector<TestEntry>& top = spec.folders[0].entries;
  top[0].data = "read me, patched";
  top.erase(top.begin() + 2);
  spec.folders[1].entries[0].compressed = false;
  spec.folders[2].entries[0].data = "BOOM, louder";
  spec.folders[2].entries.push_back({"new.wav", "added", true});
  return spec;
}

// What `wza extract` writes for `archive`, below its __NAME folder.
Tree ExtractedTree(const fs::path& folder, const std::string& archive) {
  const fs::path out = folder / ("all-" + archive);
  fs::remove_all(out);
  const ProgramResult extracted =
      RunWza({"extract", "-q", "-d", out.string(), archive}, folder.string());
  EXPECT_EQ(extracted.exitCode, 0) << archive << ": " << extracted.err;
  return ReadTree(out / ("__" + archive));
}

struct Round {
  std::vector<std::string> extractOptions;
  std::string summary;
  std::vector<std::string> packOptions;  // -x of what the kit does not say to remove
  const Tree& packed;
};

// extract b.big --changed-from a.big into kit/, then pack kit/ --like a.big into c.big.
void RunRound(const fs::path& folder, const Round& round, const Tree& kit) {
  fs::remove_all(folder / "kit");
  std::vector<std::string> extract = {"extract", "b.big", "--changed-from", "a.big", "-d", "kit"};
  extract.insert(extract.end(), round.extractOptions.begin(), round.extractOptions.end());
  const ProgramResult made = RunWza(extract, folder.string());
  EXPECT_EQ(made.exitCode, 0) << made.err;
  EXPECT_EQ(made.out, round.summary);
  EXPECT_EQ(ReadTree(folder / "kit"), kit) << round.summary;

  std::vector<std::string> pack = {"pack", "-q", "--like", "a.big", "-o", "c.big"};
  pack.insert(pack.end(), round.packOptions.begin(), round.packOptions.end());
  pack.push_back((fs::path("kit") / "__b.big").string());
  const ProgramResult packed = RunWza(pack, folder.string());
  ASSERT_EQ(packed.exitCode, 0) << packed.err;
  EXPECT_EQ(ExtractedTree(folder, "c.big"), round.packed) << round.summary;
}

TEST(WzaChangedFrom, AKitOfTheChangesPackedLikeTheOldArchiveGivesTheNewContent) {
  TempFolder folder;
  WriteFile(folder.path / "a.big", BuildArchive(OldSpec()).bytes);
  WriteFile(folder.path / "b.big", BuildArchive(NewSpec()).bytes);
  const Tree newTree = ExtractedTree(folder.path, "b.big");
  Tree newAndRemoved = newTree;
  newAndRemoved["data/old.txt"] = "only in the old one";
  const Tree kit = {{"__b.big/", ""},
                    {"__b.big/data/", ""},
                    {"__b.big/data/readme.txt", "read me, patched"},
                    {"__b.big/data/sound/", ""},
                    {"__b.big/data/sound/fx/", ""},
                    {"__b.big/data/sound/fx/boom.wav", "BOOM, louder"},
                    {"__b.big/data/sound/fx/new.wav", "added"}};
  const std::string into = std::string(" entries extracted into kit") +
                           static_cast<char>(fs::path::preferred_separator) + ", ";
  const std::vector<Round> rounds = {
      {{"-j1"}, "3 of 3" + into + std::to_string(kUnchanged) + " left out as unchanged\n", {},
       newAndRemoved},
      {{"-j", "4", "-x", "data/art/**"},
       "3 of 3 chosen" + into + std::to_string(kUnchanged - 1) + " left out as unchanged, 1 left out\n",
       {"-x", "data/old.txt"}, newTree},
  };
  for (const Round& round : rounds) RunRound(folder.path, round, kit);

  // -p writes the changed entries' bytes alone; with --names too, as entries are matched by
  // the names as stored.
  const std::string changedBytes = "read me, patched" "BOOM, louder" "added";
  const ProgramResult piped = RunWza({"extract", "-p", "b.big", "--changed-from", "a.big"},
                                     folder.path.string());
  EXPECT_EQ(piped.exitCode, 0) << piped.err;
  EXPECT_EQ(piped.rawOut, changedBytes);
#ifndef _WIN32
  const ProgramResult named = RunWza(
      {"extract", "-p", "--names", "cp1252", "b.big", "--changed-from=a.big"}, folder.path.string());
  EXPECT_EQ(named.rawOut, changedBytes) << named.err;
  fs::remove_all(folder.path / "kit");
  const ProgramResult namedKit = RunWza(
      {"extract", "-q", "--names", "cp1252", "b.big", "--changed-from", "a.big", "-d", "kit"},
      folder.path.string());
  EXPECT_EQ(namedKit.exitCode, 0) << namedKit.err;
  EXPECT_EQ(ReadTree(folder.path / "kit"), kit);
#endif

  // An OLD that does not load stops the run before anything is written.
  const ProgramResult missing = RunWza(
      {"extract", "b.big", "--changed-from", "missing.big", "-d", "none"}, folder.path.string());
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_TRUE(Contains(missing.err, "missing.big")) << missing.err;
  EXPECT_EQ(missing.out, "");
  EXPECT_FALSE(fs::exists(folder.path / "none"));
}

}  // namespace

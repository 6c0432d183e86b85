#include "archive/catalogue.h"

#include <gtest/gtest.h>

#include "tests/support/archive_writer.h"
#include "tests/support/test_files.h"

namespace {

ArchiveSpec ThreeFolders(uint32_t version, uint32_t recordSize) {
  ArchiveSpec spec;
  spec.version = version;
  spec.recordSize = recordSize;
  spec.alias = "data";
  spec.folders = {
      {"", {{"a.txt", "alpha", false}, {"b.txt", "bravo", true}}},
      {"art\\ui", {{"x.png", std::string(300, 'x'), true}}},
      {"sound/fx", {{"boom.wav", "BOOM", false}}},
  };
  return spec;
}

struct Loaded {
  TempFolder folder;
  OpenArchive archive;
  ArchiveCatalogue& catalogue = archive.catalogue;
  LoadOutcome outcome = LoadOutcome::OpenFailed;
  std::string detail;
};

void LoadBytes(Loaded& loaded, const std::string& bytes) {
  const fs::path path = loaded.folder.path / "a.big";
  WriteFile(path, bytes);
  loaded.outcome = LoadCatalogue(path.string(), loaded.archive, &loaded.detail);
}

class EveryLayout : public testing::TestWithParam<std::tuple<uint32_t, uint32_t>> {};

TEST_P(EveryLayout, ReadsTablesNamesAndEntries) {
  const auto [version, recordSize] = GetParam();
  const ArchiveSpec spec = ThreeFolders(version, recordSize);
  const BuiltArchive built = BuildArchive(spec);
  Loaded loaded;
  LoadBytes(loaded, built.bytes);
  ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded) << loaded.detail;
  const ArchiveCatalogue& c = loaded.catalogue;
  EXPECT_EQ(c.header.version, version);
  EXPECT_EQ(c.tableBase, built.tableBase);
  EXPECT_EQ(c.recordSize, recordSize);
  EXPECT_EQ(c.header.dataOffset, built.dataOffset);
  EXPECT_EQ(c.alias, "data");
  EXPECT_EQ(c.folderNames, (std::vector<std::string>{"\\", "art\\ui\\", "sound/fx\\"}));
  EXPECT_EQ(c.entryNames, (std::vector<std::string>{"\\a.txt", "\\b.txt", "art\\ui\\x.png",
                                                    "sound/fx\\boom.wav"}));
  ASSERT_EQ(c.entries.size(), 4u);
  EXPECT_EQ(c.entries[0].flags, 0u);
  EXPECT_NE(c.entries[1].flags, 0u);
  EXPECT_EQ(c.entries[2].size, 300u);
  EXPECT_EQ(c.entries[3].storedSize, 4u);
  EXPECT_EQ(c.entries[3].dataOffset + c.header.dataOffset, built.entryDataAt[3]);
  EXPECT_TRUE(loaded.archive.file != nullptr);
  // Where the loader found the tables, kept for pack: each name runs up to the next one,
  // the last file name up to the entry data.
  EXPECT_EQ(c.at.headerEnd, built.dataHeaderAt + kDataHeaderLength);
  EXPECT_EQ(c.at.toc, built.tocAt);
  EXPECT_EQ(c.at.folders, built.folderAt);
  EXPECT_EQ(c.at.files, built.fileAt);
  EXPECT_EQ(c.at.fileTableEnd, built.fileAt + 4u * recordSize);
  EXPECT_EQ(c.at.names, built.nameAt);
  EXPECT_EQ(c.at.data, built.dataOffset);
  ASSERT_EQ(c.folderNameSpans.size(), 3u);
  ASSERT_EQ(c.fileNameSpans.size(), 4u);
  EXPECT_EQ(c.folderNameSpans[0].start, built.nameAt);
  EXPECT_EQ(c.folderNameSpans[1].end - c.folderNameSpans[1].start, sizeof "art\\ui");
  EXPECT_EQ(c.folderNameSpans[2].end, c.fileNameSpans[0].start);
  EXPECT_EQ(c.fileNameSpans[3].end - c.fileNameSpans[3].start, sizeof "boom.wav");
  EXPECT_EQ(c.fileNameSpans[3].end, built.dataOffset);
}

INSTANTIATE_TEST_SUITE_P(VersionsAndRecordSizes, EveryLayout,
                         testing::Combine(testing::Values(1u, 2u, 4u, 5u, 0u),
                                          testing::Values(17u, 20u, 22u)));

TEST(LoadCatalogue, RejectsWhatIsNoArchive) {
  Loaded version3;
  ArchiveSpec spec = ThreeFolders(3, 20);
  LoadBytes(version3, BuildArchive(spec).bytes);
  EXPECT_EQ(version3.outcome, LoadOutcome::NotSupported);
  EXPECT_FALSE(version3.archive.file);

  Loaded lowerCase;
  std::string bytes = BuildArchive(ThreeFolders(2, 20)).bytes;
  bytes[1] = 'a';
  LoadBytes(lowerCase, bytes);
  EXPECT_EQ(lowerCase.outcome, LoadOutcome::NotSupported);

  Loaded empty;
  LoadBytes(empty, "");
  EXPECT_EQ(empty.outcome, LoadOutcome::NotSupported);

  Loaded missing;
  missing.outcome =
      LoadCatalogue((missing.folder.path / "none.wza").string(), missing.archive, &missing.detail);
  EXPECT_EQ(missing.outcome, LoadOutcome::OpenFailed);
  EXPECT_FALSE(missing.detail.empty());

  Loaded folder;
  folder.outcome = LoadCatalogue(folder.folder.path.string(), folder.archive);
  EXPECT_EQ(folder.outcome, LoadOutcome::OpenFailed);
}

TEST(LoadCatalogue, SkipsArchivesWithoutEntriesOrWithUnknownRecords) {
  ArchiveSpec spec = ThreeFolders(2, 20);
  spec.folders.clear();
  Loaded none;
  LoadBytes(none, BuildArchive(spec).bytes);
  EXPECT_EQ(none.outcome, LoadOutcome::NoEntries);
  EXPECT_FALSE(none.archive.file);

  // Three records in 66 bytes are 22 bytes each; in 64 bytes, 21 (remainder dropped).
  ArchiveSpec three;
  three.recordSize = 22;
  three.folders = {{"d", {{"1", "1"}, {"2", "2"}, {"3", "3"}}}};
  BuiltArchive built = BuildArchive(three);
  Loaded ok;
  LoadBytes(ok, built.bytes);
  EXPECT_EQ(ok.outcome, LoadOutcome::Loaded);
  Loaded odd;
  PutU32(built.bytes, built.dataHeaderAt + 18, built.fileAt - built.tableBase + 64);
  LoadBytes(odd, built.bytes);
  EXPECT_EQ(odd.outcome, LoadOutcome::UnrecognisedRecordSize);
}

TEST(LoadCatalogue, JoinsFolderNamesOnlyToTheEntriesTheyCover) {
  ArchiveSpec spec;
  spec.folders = {
      {"", {{"a", "1"}, {"b", "2"}}}, {"art\\ui", {{"c", "3"}, {"d", "4"}}}, {"x", {{"e", "5"}}}};
  BuiltArchive built = BuildArchive(spec);
  // Folder 2 now also covers entry 3, and folder 0 covers nothing.
  PutU16(built.bytes, built.folderAt + 2 * 12 + 8, 3);
  PutU16(built.bytes, built.folderAt + 0 * 12 + 10, 0);
  Loaded loaded;
  LoadBytes(loaded, built.bytes);
  ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded);
  EXPECT_EQ(loaded.catalogue.entryNames,
            (std::vector<std::string>{"a", "b", "art\\ui\\c", "x\\art\\ui\\d", "x\\e"}));
}

TEST(LoadCatalogue, CutsNamesAtTheirFirstNul) {
  ArchiveSpec spec;
  spec.namePadding = 3;  // three zero bytes before the data join the last name
  spec.folders = {{"f", {{"one", "1"}, {std::string("two\0x\\y", 7), "2"}, {"last", "3"}}}};
  Loaded loaded;
  LoadBytes(loaded, BuildArchive(spec).bytes);
  ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded);
  EXPECT_EQ(loaded.catalogue.entryNames, (std::vector<std::string>{"f\\one", "f\\two", "f\\last"}));
}

TEST(LoadCatalogue, FolderNamesOutOfOrderAreEmpty) {
  ArchiveSpec spec;
  spec.folders = {{"first", {{"a", "1"}}}, {"second", {{"b", "2"}}}};
  BuiltArchive built = BuildArchive(spec);
  // Folder 1's name offset now lies before folder 0's: folder 0's length is negative.
  PutU32(built.bytes, built.folderAt + 12, 0);
  PutU32(built.bytes, built.folderAt, 3);
  Loaded loaded;
  LoadBytes(loaded, built.bytes);
  ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded);
  EXPECT_EQ(loaded.catalogue.folderNames[0], "\\");
}

TEST(LoadCatalogue, ReadsFlagsOfEachRecordSizeAsTheyAre) {
  ArchiveSpec spec;
  spec.recordSize = 17;
  spec.folders = {{"", {{"a", "A"}}}};
  BuiltArchive built = BuildArchive(spec);
  built.bytes[built.fileAt + 4] = '\x80';  // one flag byte; the next already is the data offset
  Loaded loaded;
  LoadBytes(loaded, built.bytes);
  ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded);
  EXPECT_EQ(loaded.catalogue.entries[0].flags, 0x80u);
  EXPECT_EQ(loaded.catalogue.entries[0].dataOffset, 0u);
}

TEST(LoadCatalogue, TablesOutsideTheFileMakeItDamaged) {
  const BuiltArchive built = BuildArchive(ThreeFolders(2, 20));
  const auto damaged = [&](size_t at, uint32_t value) {
    std::string bytes = built.bytes;
    PutU32(bytes, at, value);
    Loaded loaded;
    LoadBytes(loaded, bytes);
    EXPECT_FALSE(loaded.archive.file);
    return loaded.outcome;
  };
  EXPECT_EQ(damaged(built.dataHeaderAt + 0, 0xFFFFFF00u), LoadOutcome::Damaged);  // ToC
  EXPECT_EQ(damaged(built.dataHeaderAt + 6, 0x7FFFFFF0u), LoadOutcome::Damaged);  // folders
  EXPECT_EQ(damaged(built.fileAt + 20, 0x10000000u), LoadOutcome::Damaged);       // a name
  EXPECT_EQ(damaged(176, 0xFFFFFFF0u), LoadOutcome::Damaged);  // last name runs to the data

  // A table of no records is inside any file, wherever its offset points.
  ArchiveSpec bare = ThreeFolders(2, 20);
  bare.tocCount = 0;
  std::string bytes = BuildArchive(bare).bytes;
  PutU32(bytes, built.dataHeaderAt + 0, 0xFFFFFF00u);
  Loaded noToc;
  LoadBytes(noToc, bytes);
  EXPECT_EQ(noToc.outcome, LoadOutcome::Loaded) << noToc.detail;
  EXPECT_EQ(noToc.catalogue.alias, "");
  bytes = built.bytes;
  PutU32(bytes, built.dataHeaderAt + 6, 0x7FFFFFF0u);
  PutU16(bytes, built.dataHeaderAt + 10, 0);
  Loaded noFolders;
  LoadBytes(noFolders, bytes);
  EXPECT_EQ(noFolders.outcome, LoadOutcome::Loaded) << noFolders.detail;
  EXPECT_EQ(noFolders.catalogue.entryNames,
            (std::vector<std::string>{"a.txt", "b.txt", "x.png", "boom.wav"}));

  Loaded truncated;
  LoadBytes(truncated, built.bytes.substr(0, 190));
  EXPECT_EQ(truncated.outcome, LoadOutcome::Damaged);
  Loaded tablesCut;
  LoadBytes(tablesCut, built.bytes.substr(0, built.fileAt + 10));
  EXPECT_EQ(tablesCut.outcome, LoadOutcome::Damaged);
}

TEST(LoadCatalogue, KeepsNothingOfThePreviousArchive) {
  Loaded loaded;
  LoadBytes(loaded, BuildArchive(ThreeFolders(2, 20)).bytes);
  ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded);
  ArchiveSpec other;
  other.tocCount = 0;
  other.folders = {{"", {{"only", "1"}}}};
  BuiltArchive built = BuildArchive(other);
  loaded.archive.file.reset();  // Windows keeps an open file from being replaced
  LoadBytes(loaded, built.bytes);
  ASSERT_EQ(loaded.outcome, LoadOutcome::Loaded);
  EXPECT_EQ(loaded.catalogue.alias, "");
  EXPECT_EQ(loaded.catalogue.entryNames, std::vector<std::string>{"\\only"});

  loaded.archive.file.reset();
  LoadBytes(loaded, built.bytes.substr(0, 100));
  EXPECT_EQ(loaded.outcome, LoadOutcome::Damaged);
  EXPECT_TRUE(loaded.catalogue.entries.empty());
  EXPECT_TRUE(loaded.catalogue.entryNames.empty());
}

TEST(LoadCatalogue, RefusesFolderRangesThatMultiplyNames) {
  // 300 folders with long names all covering all 300 entries: 300 x 300 x 1000 bytes.
  ArchiveSpec spec;
  for (int f = 0; f < 300; ++f) {
    spec.folders.push_back({std::string(1000, 'f'), {{"e" + std::to_string(f), "x"}}});
  }
  BuiltArchive built = BuildArchive(spec);
  for (int f = 0; f < 300; ++f) {
    PutU16(built.bytes, built.folderAt + f * 12 + 8, 0);
    PutU16(built.bytes, built.folderAt + f * 12 + 10, 300);
  }
  Loaded loaded;
  LoadBytes(loaded, built.bytes);
  EXPECT_EQ(loaded.outcome, LoadOutcome::Damaged);
}

TEST(LoadOutcomeMessage, UsesTheWindowsTexts) {
  EXPECT_EQ(LoadOutcomeMessage(LoadOutcome::OpenFailed, "C:\\a.big"),
            "Error open file \"C:\\a.big\"");
  EXPECT_EQ(LoadOutcomeMessage(LoadOutcome::NotSupported, "x"), "Not supported archive");
  EXPECT_EQ(LoadOutcomeMessage(LoadOutcome::Damaged, "x.big"), "Damaged archive \"x.big\"");
  EXPECT_EQ(LoadOutcomeMessage(LoadOutcome::NoEntries, "x"), "");
}

}  // namespace

#include "extract/entry_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "extract/safe_name.h"
#include "tests/support/archive_writer.h"
#include "tests/support/test_files.h"

namespace {

std::string Noise(size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  // Half noise, half runs, so that deflate has something to do and streams are long.
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>((i / 64) % 2 == 0 ? random() & 0xFF : 'a' + (i / 64) % 26);
  }
  return bytes;
}

struct Extraction {
  TempFolder folder;
  OpenArchive archive;
  ArchiveCatalogue& catalogue = archive.catalogue;
  EntryWorkspace workspace;
  std::string root;

  explicit Extraction(const ArchiveSpec& spec) : Extraction(BuildArchive(spec).bytes) {}
  explicit Extraction(const std::string& bytes) {
    WriteFile(folder.path / "a.big", bytes);
    EXPECT_EQ(LoadCatalogue((folder.path / "a.big").string(), archive), LoadOutcome::Loaded);
    root = (folder.path / "out").string() + static_cast<char>(fs::path::preferred_separator);
  }
  EntryResult Extract(size_t index) { return ExtractEntry(archive, index, root, "", workspace); }
  std::string Output(const std::string& relative) {
    return ReadFile(folder.path / "out" / relative);
  }
  bool Exists(const std::string& relative) { return fs::exists(folder.path / "out" / relative); }
};

TEST(ExtractEntry, WritesStoredAndCompressedEntries) {
  ArchiveSpec spec;
  const std::string big = Noise(3 * kBlockSize + 123, 1);
  spec.folders = {{"", {{"ten.bin", "0123456789"}, {"empty.bin", "", true}}},
                  {"sub\\deep/er", {{"x.bin", big, true}, {"y.bin", big, false}}}};
  Extraction run(spec);
  for (size_t i = 0; i < 4; ++i) {
    const EntryResult result = run.Extract(i);
    EXPECT_TRUE(result.Complete()) << i << ": " << DescribeEntryStatus(result);
    EXPECT_EQ(result.bytesRead, run.catalogue.entries[i].storedSize);
  }
  EXPECT_EQ(run.Output("ten.bin"), "0123456789");
  EXPECT_TRUE(run.Exists("empty.bin"));
  EXPECT_EQ(run.Output("empty.bin"), "");
  EXPECT_EQ(run.Output("sub/deep/er/x.bin"), big);
  EXPECT_EQ(run.Output("sub/deep/er/y.bin"), big);
}

TEST(ExtractEntry, SalvagesACutStreamAndSaysItIsIncomplete) {
  const std::string data = Noise(20000, 2);
  const std::string stream = Deflate(data);
  ArchiveSpec spec;
  spec.folders = {
      {"", {{"cut.bin", data, true, std::nullopt, stream.substr(0, stream.size() / 2)}}}};
  Extraction run(spec);
  const EntryResult result = run.Extract(0);
  EXPECT_EQ(result.status, EntryStatus::StreamDamaged);
  const std::string written = run.Output("cut.bin");
  EXPECT_GT(written.size(), 0u);
  EXPECT_LT(written.size(), data.size());
  EXPECT_EQ(written, data.substr(0, written.size()));
}

// The streamed form must write exactly what one inflate call over the whole entry gives,
// the salvage of damaged streams included, with zlib alone and with the faster inflate.
TEST(ExtractEntry, StreamedBytesEqualTheOneShotInflate) {
  const std::string data = Noise(50000, 3);
  const std::string good = Deflate(data, 9);
  std::string flipped = good;
  flipped[flipped.size() / 3] ^= 0x55;
  std::string badTrailer = good;
  badTrailer.back() ^= 1;
  struct Case {
    const char* what;
    std::string stored;
    uint32_t size;
  };
  const std::vector<Case> cases = {
      {"whole", good, 50000},
      {"cut", good.substr(0, good.size() / 2), 50000},
      {"flipped byte", flipped, 50000},
      {"bad trailer", badTrailer, 50000},
      {"trailing garbage", good + "garbage", 50000},
      {"declared smaller", good, 30000},
      {"declared exact minus one", good, 49999},
      {"declared larger", good, 60000},
      {"declared zero", good, 0},
      {"not zlib", "this is no zlib stream at all", 100},
  };
  for (const bool fast : {false, true}) {
    for (const Case& c : cases) {
      ArchiveSpec spec;
      spec.folders = {{"", {{"e", data, true, c.size, c.stored}}}};
      Extraction run(spec);
      run.workspace.decode.blockSize = 97;  // many blocks, odd boundaries
      run.workspace.decode.fastInflate = fast;
      const EntryResult streamed = run.Extract(0);
      std::vector<unsigned char> output(c.size + 1);
      const InflateResult oneShot =
          InflateEntry(reinterpret_cast<const unsigned char*>(c.stored.data()), c.stored.size(),
                       output.data(), c.size);
      const std::string expected(reinterpret_cast<const char*>(output.data()), oneShot.produced);
      EXPECT_EQ(run.Output("e"), expected) << c.what << ", fast " << fast;
      EXPECT_EQ(streamed.Complete(), oneShot.streamEnded && oneShot.produced == c.size) << c.what;
      // A whole stream declared too small is told from a damaged one.
      const bool overlong = c.size < data.size() && c.stored == good;
      EXPECT_EQ(oneShot.moreData, overlong) << c.what;
      EXPECT_EQ(streamed.status == EntryStatus::Overlong, overlong) << c.what << ", fast " << fast;
      // Reading may stop once the declared size is out, never go beyond the stored bytes.
      EXPECT_LE(streamed.bytesRead, c.stored.size()) << c.what;
      // Whole streams of the declared size, and nothing else, are the faster inflate's.
      const bool whole = c.size == data.size() && c.stored.compare(0, good.size(), good) == 0;
      const bool faster = WholeInflateAvailable() || FastInflateAvailable();
      EXPECT_EQ(run.workspace.decode.fastEntries, fast && faster && whole) << c.what;
    }
  }
}

// Salvage is zlib's whichever inflate runs (libdeflate on the entry held whole, or ISA-L
// streaming it): cut at many lengths, damaged at many places, declared a byte short or
// long, or with a header zlib reads its own way, every entry gives zlib's bytes, status and
// read count. Only whole streams are the faster ones'.
TEST(DecodeEntry, TheFasterInflateLeavesCutAndDamagedStreamsToZlib) {
  // Text of words, rich in matches: the two inflates part ways on it most often.
  std::mt19937 random(5);
  std::string data;
  while (data.size() < 60000) data += std::string("the quick brown fox ").substr(random() % 20, 3);
  const std::string good = Deflate(data, 5);
  std::vector<TestEntry> entries = {{"whole", data, true, std::nullopt, good},
                                    {"short", data, true, 59999, good},
                                    {"long", data, true, 60001, good},
                                    {"garbage", data, true, std::nullopt, good + "garbage"}};
  std::string smallWindow = good;  // a 1 KiB window declared: zlib holds it to that
  smallWindow[0] = 0x28;
  smallWindow[1] = static_cast<char>(31 - (0x28 * 256) % 31);
  entries.push_back({"small window", data, true, std::nullopt, smallWindow});
  for (size_t cut = 0; cut < good.size(); cut += 1 + cut / 12) {
    entries.push_back(
        {"cut " + std::to_string(cut), data, true, std::nullopt, good.substr(0, cut)});
  }
  for (size_t at = 0; at < good.size(); at += 1 + at / 3) {
    std::string damaged = good;
    damaged[at] = static_cast<char>(damaged[at] ^ (1 << (at % 8)));
    entries.push_back({"flip " + std::to_string(at), data, true, std::nullopt, damaged});
  }
  ArchiveSpec spec;
  spec.folders = {{"", entries}};
  Extraction run(spec);
  for (const size_t blockSize : {size_t{4096}, kBlockSize}) {
    DecodeWorkspace zlibOnly;
    zlibOnly.fastInflate = false;
    zlibOnly.blockSize = blockSize;
    DecodeWorkspace held;  // every entry fits the whole budget
    held.blockSize = blockSize;
    DecodeWorkspace streamed;
    streamed.blockSize = blockSize;
    streamed.wholeBudget = 0;
    DecodeWorkspace heldNoRestart;  // libdeflate hands on nothing it may have to take back
    heldNoRestart.blockSize = blockSize;
    uint64_t whole = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      std::string bytes[4];
      EntryResult result[4];
      DecodeWorkspace* workspaces[4] = {&zlibOnly, &held, &streamed, &heldNoRestart};
      for (int k = 0; k < 4; ++k) {
        std::string& out = bytes[k];
        const EntryRestart restart = [&] { return out.clear(), true; };
        result[k] = DecodeEntry(
            run.archive, i, *workspaces[k],
            [&](const unsigned char* p, size_t n) {
              return out.append(reinterpret_cast<const char*>(p), n), true;
            },
            k == 3 ? nullptr : restart);
      }
      const std::string what = entries[i].name + ", blocks of " + std::to_string(blockSize);
      for (int k = 1; k < 4; ++k) {
        EXPECT_TRUE(bytes[k] == bytes[0]) << what << ", " << k;
        EXPECT_EQ(result[k].status, result[0].status) << what << ", " << k;
        EXPECT_EQ(result[k].bytesRead, result[0].bytesRead) << what << ", " << k;
      }
      whole += result[0].Complete() ? 1 : 0;
    }
    EXPECT_EQ(zlibOnly.fastEntries, 0u);
    // Whole streams (and only those) are the faster ones': at least "whole" and "garbage".
    EXPECT_LE(held.fastEntries, whole);
    EXPECT_GE(held.fastEntries, WholeInflateAvailable() || FastInflateAvailable() ? 2u : 0u);
    EXPECT_LE(streamed.fastEntries, whole);
    EXPECT_GE(streamed.fastEntries, FastInflateAvailable() ? 2u : 0u);
    EXPECT_LE(heldNoRestart.fastEntries, whole);
    EXPECT_GE(heldNoRestart.fastEntries, WholeInflateAvailable() ? 2u : 0u);
  }
}

TEST(ExtractEntry, WritesOnlyTheStoredBytesOfAnOverdeclaredStoredEntry) {
  ArchiveSpec spec;
  spec.folders = {{"", {{"short.bin", "abc", false, 1000}, {"long.bin", "abcdef", false, 2}}}};
  Extraction run(spec);
  EXPECT_EQ(run.Extract(0).status, EntryStatus::SizeMismatch);
  EXPECT_EQ(run.Output("short.bin"), "abc");
  EXPECT_TRUE(run.Extract(1).Complete());
  EXPECT_EQ(run.Output("long.bin"), "ab");
}

TEST(ExtractEntry, RefusesUnsafeNamesAndDataOutsideTheFile) {
  ArchiveSpec spec;
  spec.folders = {{"", {{"..\\escape.txt", "no"}, {"ok.txt", "yes"}, {"far.txt", "far"}}}};
  BuiltArchive built = BuildArchive(spec);
  PutU32(built.bytes, built.fileAt + 2 * 20 + 8, 0x7FFFFFFF);  // far.txt's data offset
  Extraction run(built.bytes);
  EXPECT_EQ(run.Extract(0).status, EntryStatus::UnsafeName);
  EXPECT_TRUE(run.Extract(1).Complete());
  EXPECT_EQ(run.Extract(2).status, EntryStatus::DataOutsideFile);
  EXPECT_FALSE(fs::exists(run.folder.path / "escape.txt"));
  EXPECT_FALSE(run.Exists("far.txt"));
  EXPECT_EQ(run.Output("ok.txt"), "yes");
}

TEST(ExtractEntry, ReplacesExistingFilesAndReportsWhatCannotBeCreated) {
  ArchiveSpec spec;
  spec.folders = {{"", {{"a.txt", "new"}}}, {"blocked", {{"b.txt", "b"}}}};
  Extraction run(spec);
  fs::create_directories(run.folder.path / "out");
  WriteFile(run.folder.path / "out" / "a.txt", "an older and longer text");
  WriteFile(run.folder.path / "out" / "blocked", "a file where a folder should be");
  EXPECT_TRUE(run.Extract(0).Complete());
  EXPECT_EQ(run.Output("a.txt"), "new");
  const EntryResult blocked = run.Extract(1);
  EXPECT_EQ(blocked.status, EntryStatus::CreateFailed);
  EXPECT_FALSE(blocked.systemError.empty());
  EXPECT_NE(DescribeEntryStatus(blocked).find("cannot create file: "), std::string::npos);
}

// The folders on the way are made, doubled separators and all, and stay open: an entry in
// the folder of the last one reaches it without a walk, one in a sibling folder walks only
// the part that differs, and a path of over 1,024 characters below the root is made too.
TEST(ReachFolder, MakesTheFoldersOnTheWayAndHoldsThemOpen) {
  TempFolder folder;
  const std::string root = folder.Root();
  const std::string sep(1, platform::kPathSeparator);
  OutputFolders held;
  std::string error;
  const std::string first = ToNativeSeparators("a\\b//c\\\\file.bin");
  platform::Folder* c = ReachFolder(held, root, first, FileNameAt(first), &error);
  ASSERT_NE(c, nullptr) << error;
  EXPECT_TRUE(fs::is_directory(folder.path / "a" / "b" / "c"));
  EXPECT_FALSE(fs::exists(folder.path / "a" / "b" / "c" / "file.bin"));
  EXPECT_EQ(held.names, (std::vector<std::string>{"a", "b", "c"}));
  platform::Folder* const b = held.open[1].get();
  EXPECT_EQ(ReachFolder(held, root, first, FileNameAt(first), &error), c);

  const std::string sibling = "a" + sep + "b" + sep + "d" + sep + "other.bin";
  ASSERT_NE(ReachFolder(held, root, sibling, FileNameAt(sibling), &error), nullptr) << error;
  EXPECT_EQ(held.open[1].get(), b);
  EXPECT_TRUE(fs::is_directory(folder.path / "a" / "b" / "d"));

  std::string longPath;
  for (int level = 0; level < 10; ++level) longPath += std::string(150, 'a' + level) + sep;
  ASSERT_NE(ReachFolder(held, root, longPath + "x", longPath.size(), &error), nullptr) << error;
  EXPECT_TRUE(platform::IsFolder(root + longPath));

  // A way hundreds of folders deep keeps few of them open, and still reaches its siblings.
  std::string deep;
  for (int level = 0; level < 300; ++level) deep += "d" + sep;
  for (const char* last : {"x", "y"}) {
    const std::string way = deep + last + sep;
    ASSERT_NE(ReachFolder(held, root, way + "f", way.size(), &error), nullptr) << error;
    EXPECT_TRUE(platform::IsFolder(root + way));
  }
  EXPECT_LT(
      std::count_if(held.open.begin(), held.open.end(), [](const auto& f) { return f != nullptr; }),
      40);
}

}  // namespace

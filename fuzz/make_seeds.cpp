// Writes the fuzz targets' seeds, one folder each: FOLDER/archive holds small archives of
// every layout the loader knows plus a few damaged and hostile ones, all built by the tests'
// archive writer (for every target that reads whole archives); FOLDER/decode single entries'
// stored bytes, whole, cut and flushed into many blocks; FOLDER/patterns and FOLDER/names
// the inputs of the pattern and name targets. The seeds made to catch one kind of fault
// (names cut one byte off, a JSON escape, a case fold, a layout's slack, a write above the
// destination) are also kept in fuzz/regressions/NAME, where fuzz/mutants.sh replays them.
#include <zlib.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/pack_change.h"
#include "tests/support/archive_writer.h"

namespace fs = std::filesystem;

namespace {

ArchiveSpec Sample(uint32_t version, uint32_t recordSize) {
  ArchiveSpec spec;
  spec.version = version;
  spec.recordSize = recordSize;
  spec.alias = "data";
  spec.folders = {
      {"", {{"readme.txt", "read me", true}, {"b.bin", std::string(40, 'b'), false}}},
      {"art\\ui", {{"x.png", std::string(3000, 'x') + "end", true}}},
      {"sound/fx", {{"boom.wav", "BOOM", false}, {"empty.wav", "", true}}},
  };
  return spec;
}

using Seeds = std::vector<std::pair<std::string, std::string>>;

void WriteSeeds(const fs::path& folder, const Seeds& seeds) {
  fs::create_directories(folder);
  for (const auto& [name, bytes] : seeds) {
    std::ofstream out(folder / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::printf("%zu seeds in %s\n", seeds.size(), folder.string().c_str());
}

// A zlib stream of many small blocks (a full flush every `every` bytes), for the mount's
// resume points.
std::string DeflateInBlocks(const std::string& data, size_t every, int level) {
  z_stream stream{};
  deflateInit(&stream, level);
  std::string out(compressBound(static_cast<uLong>(data.size())) + data.size() / every * 16 + 64,
                  '\0');
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  for (size_t at = 0; at <= data.size(); at += every) {
    const size_t length = std::min(every, data.size() - std::min(at, data.size()));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
    stream.avail_in = static_cast<uInt>(length);
    deflate(&stream, at + every > data.size() ? Z_FINISH : Z_FULL_FLUSH);
  }
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// The decode target's head: flags (bit 0: compressed), block sizes, the declared size and
// a seed, then the stored bytes.
std::string EntryInput(bool compressed, size_t declared, const std::string& stored) {
  std::string input(8, '\0');
  input[0] = static_cast<char>(compressed ? 0x0B : 0x0A);
  input[1] = 3;
  input[2] = 0x42;
  PutU32(input, 3, static_cast<uint32_t>(declared));
  return input + stored;
}

Seeds DecodeSeeds() {
  std::string text;
  for (int i = 0; text.size() < 3000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + " ";
  const std::string whole = Deflate(text);
  const std::string blocks = DeflateInBlocks(text, 300, 6);
  return {
      {"whole", EntryInput(true, text.size(), whole)},
      {"blocks", EntryInput(true, text.size(), blocks)},
      {"stored-blocks", EntryInput(true, text.size(), DeflateInBlocks(text, 500, 0))},
      {"cut", EntryInput(true, text.size(), blocks.substr(0, blocks.size() / 2))},
      {"overlong", EntryInput(true, text.size() / 2, whole)},
      {"short", EntryInput(true, text.size() + 10, whole)},
      {"zeros", EntryInput(true, 60000, Deflate(std::string(60000, '\0'), 9))},
      {"stored", EntryInput(false, 100, text.substr(0, 120))},
      {"stored-short", EntryInput(false, 200, text.substr(0, 120))},
  };
}

// The diff target: a 4-byte head saying where the second archive starts, then both.
std::string DiffInput(const ArchiveSpec& older, const ArchiveSpec& newer) {
  const std::string a = BuildArchive(older).bytes;
  std::string input(4, '\0');
  PutU32(input, 0, static_cast<uint32_t>(a.size()));
  return input + a + BuildArchive(newer).bytes;
}

// OLD and NEW as a patch makes them: an entry changed, one added, one removed, one moved to
// another folder, one stored where it was compressed, one damaged, a name used twice.
Seeds DiffSeeds() {
  Seeds seeds;
  for (uint32_t version : {1u, 2u, 4u, 7u}) {
    for (uint32_t recordSize : {17u, 20u, 22u}) {
      ArchiveSpec older = Sample(version, recordSize);
      ArchiveSpec newer = older;
      newer.folders[0].entries[0].data = "read me again";
      newer.folders[1].entries[0].compressed = false;
      newer.folders[2].entries.push_back({"new.wav", "NEW", true});
      newer.folders[2].entries.erase(newer.folders[2].entries.begin());
      newer.folders[1].entries.push_back({"boom.wav", "BOOM", true});
      newer.level = 1 + version % 9;
      const std::string name = "v" + std::to_string(version) + "-r" + std::to_string(recordSize);
      seeds.emplace_back(name + "-patch", DiffInput(older, newer));
      seeds.emplace_back(name + "-same", DiffInput(older, older));
    }
  }
  ArchiveSpec older = Sample(2, 20);
  ArchiveSpec newer = older;
  const std::string stream = Deflate(std::string(2000, 'q'));
  newer.folders[0].entries[0].stored = stream.substr(0, stream.size() / 2);
  newer.folders[0].entries[1].declaredSize = 100;
  newer.folders[2].entries.push_back({"boom.wav", "BOOM twice", false});
  newer.folders[2].entries.push_back({"copy", "", true, std::nullopt, std::nullopt, size_t{1}});
  seeds.emplace_back("damaged-twice-shared", DiffInput(older, newer));
  seeds.emplace_back("damaged-twice-shared-back", DiffInput(newer, older));
  ArchiveSpec big = older;
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "row " + std::to_string(i % 97) + "\n";
  big.folders[1].entries[0].data = text;
  ArchiveSpec bigChanged = big;
  bigChanged.folders[1].entries[0].data[150000] = '#';
  bigChanged.level = 9;
  seeds.emplace_back("large-changed-late", DiffInput(big, bigChanged));
  return seeds;
}

// The pattern target: pattern, NUL, name.
Seeds PatternSeeds() {
  const char* pairs[][2] = {
      {"data/**/*.txt", "data/a/b/readme.txt"}, {"**/x?.png", "art/ui/x\xc3\xa9.png"},
      {"data\\art\\*", "data/art/ui"},     {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
      {"a/**/b", "a/x/y/b"},                  {"**", ""},
      {"**/", "a/"},                          {"?", "\xf0\x9f\x98\x80"},
      // Both sides of every case-folding edge: A-Z folds, @ [ ` { do not.
      {"Z", "z"},                             {"z", "Z"},
      {"A*", "a/b"},                          {"*Z", "aZz"},
      {"@[`{", "@[`{"},                       {"@[", "`{"},
      {"`{", "@["},                           {"ZEBRA/*.TXT", "zebra/a.txt"},
      {"azAZ", "AZaz"},
  };
  Seeds seeds;
  for (const auto& pair : pairs) {
    seeds.push_back({"p" + std::to_string(seeds.size()), std::string(pair[0]) + '\0' + pair[1]});
  }
  return seeds;
}

// The name target: the code page's number in a list, then the name's bytes.
Seeds NameSeeds() {
  const auto seed = [](char codePage, const std::string& name) {
    return std::string(1, codePage) + name;
  };
  return {
      {"cp932-yen", seed(1, "\x95\x5c\\..\\x.txt")},
      {"cp1252", seed(0, "art\\\xe9t\xe9/a\x80" "b.txt")},
      {"utf8", seed(5, "d\xc3\xa9j\xc3\xa0/vu\xff.txt")},
      {"cp936", seed(2, "\x81\x5c\\CON\\a:b")},
      {"bytes", seed(15, "..\\up\x01\x7f.txt ")},
  };
}

// The name table's NULs made bytes of a name: each name then ends only where the next
// one's offset says, as some writers leave them.
std::string WithoutNuls(const BuiltArchive& built) {
  std::string bytes = built.bytes;
  for (uint32_t at = built.nameAt; at < built.dataOffset; ++at) {
    if (bytes[at] == '\0') bytes[at] = '|';
  }
  return bytes;
}

// The catalogue target's own: names with no NUL after them, folders of one character.
void AddNameEndSeeds(Seeds& seeds) {
  seeds.emplace_back("names-no-nul.big", WithoutNuls(BuildArchive(Sample(2, 20))));
  ArchiveSpec single;
  single.version = 4;
  single.recordSize = 22;
  single.folders = {{"a", {{"1", "one"}, {"b.txt", "bee"}}}, {"b", {{"c", "c", true}}},
                    {"c\\d", {{"e", ""}}}};
  seeds.emplace_back("one-char-folders.big", BuildArchive(single).bytes);
  seeds.emplace_back("one-char-folders-no-nul.big", WithoutNuls(BuildArchive(single)));
}

// Names at the edges of UTF-8 (the last code point before the surrogates, the first one,
// the last and first past U+10FFFF, an overlong three-byte and two-byte form) and holding
// every control byte, listed as JSON under every code page (the last byte picks it).
void AddJsonSeeds(Seeds& seeds) {
  std::string controls = "c";
  for (char c = 1; c < 0x20; ++c) controls += c;
  controls += "\x7f";
  ArchiveSpec spec;
  spec.alias = "al\x1f\x7f";
  spec.folders = {
      {"utf8\x01", {{"\xed\x9f\xbf", "1"}, {"\xed\xa0\x80", "2"}, {"\xf4\x8f\xbf\xbf", "3"},
                    {"\xf4\x90\x80\x80", "4"}, {"\xe0\x9f\xbf", "5"}, {"\xc0\x80", "6"}}},
      {"ctl", {{controls, "7"}, {std::string("\x1f\0\x1e", 3), "8"}, {"\x7f", "9"}}},
  };
  for (int codePage = 0; codePage < 8; ++codePage) {
    spec.trailing = std::string(1, static_cast<char>(codePage));
    seeds.emplace_back("utf8-edges-" + std::to_string(codePage) + ".big", BuildArchive(spec).bytes);
  }
}

// A layout seed as it is, and once for each change the pack target makes to its tree: the
// same archive but for a header byte no reader looks at, picked so that the target packs
// it changed in that way.
void AddLayout(Seeds& seeds, const std::string& name, const std::string& bytes) {
  seeds.emplace_back(name + ".big", bytes);
  bool made[kPackChanges] = {};
  int left = kPackChanges;
  std::string varied = bytes;
  for (int value = 0; value < 65536 && left > 0; ++value) {
    varied[20] = static_cast<char>(value);
    varied[21] = static_cast<char>(value >> 8);
    const uint64_t choice =
        PackChoice(reinterpret_cast<const uint8_t*>(varied.data()), varied.size());
    if (!PacksChanged(choice) || made[PackChange(choice)]) continue;
    made[PackChange(choice)] = true;
    --left;
    seeds.emplace_back(name + "-changed-" + std::to_string(PackChange(choice)) + ".big", varied);
  }
}

// Every odd layout the tests' writer makes, for pack --like: slack after the file table of
// each size a loader allows (fewer bytes than records), gaps between the tables, bytes
// after the data, the tables after the data.
void AddLayoutSeeds(Seeds& seeds) {
  const uint32_t records = 5;
  const uint32_t recordSizes[] = {17, 20, 22};
  for (uint32_t slack = 0; slack < records; ++slack) {
    ArchiveSpec spec = Sample(slack % 2 == 0 ? 2 : 4, recordSizes[slack % 3]);
    spec.slack = slack;
    AddLayout(seeds, "slack-" + std::to_string(slack), BuildArchive(spec).bytes);
  }
  ArchiveSpec odd = Sample(2, 20);
  odd.gap = 7;
  AddLayout(seeds, "gaps", BuildArchive(odd).bytes);
  odd.gap = 0;
  odd.trailing = "trailing bytes no entry covers";
  AddLayout(seeds, "trailing", BuildArchive(odd).bytes);
  odd.trailing.clear();
  odd.tablesAfterData = true;
  AddLayout(seeds, "tables-after-data", BuildArchive(odd).bytes);
  odd = Sample(1, 17);
  odd.gap = 3;
  odd.slack = 4;
  odd.trailing = "tail";
  odd.tablesAfterData = true;
  AddLayout(seeds, "all-odd", BuildArchive(odd).bytes);
}

// Names that climb out with "/" as well as "\", by chains of every length up to past the
// archive target's work folder.
void AddClimbingSeeds(Seeds& seeds) {
  ArchiveSpec spec;
  spec.folders = {{"", {}}, {"f/../..", {{"up-folder.txt", "f"}}}};
  std::string climb;
  for (int depth = 1; depth <= 7; ++depth) {
    climb += "../";
    spec.folders[0].entries.push_back({"a/" + climb + "up" + std::to_string(depth), "u"});
    spec.folders[0].entries.push_back({"b\\..\\" + climb + "mixed" + std::to_string(depth), "m"});
  }
  seeds.emplace_back("climbing-names.big", BuildArchive(spec).bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const fs::path folder = argv[1];
  WriteSeeds(folder / "decode", DecodeSeeds());
  WriteSeeds(folder / "diff", DiffSeeds());
  WriteSeeds(folder / "patterns", PatternSeeds());
  WriteSeeds(folder / "names", NameSeeds());
  Seeds seeds;
  for (uint32_t version : {1u, 2u, 4u, 7u}) {
    for (uint32_t recordSize : {17u, 20u, 22u}) {
      seeds.emplace_back("v" + std::to_string(version) + "-r" + std::to_string(recordSize) + ".big",
                         BuildArchive(Sample(version, recordSize)).bytes);
    }
  }

  ArchiveSpec hostile;
  hostile.alias = "data";
  hostile.namePadding = 3;
  hostile.folders = {
      {"", {{"..\\up.txt", "x"}, {"CON", "x"}, {"a:b", "x"}, {"ok.txt", "ok"}}},
      {"..", {{"z", "x"}}},
      {"deep\\er/est", {{std::string("cut\0..\\x", 9), "cut", true}}},
  };
  seeds.emplace_back("hostile-names.big", BuildArchive(hostile).bytes);

  ArchiveSpec overlap;
  overlap.folders = {{"x", {{"1", "1"}, {"2", "2"}}}, {"y", {{"3", "3"}}}};
  BuiltArchive overlapped = BuildArchive(overlap);
  PutU16(overlapped.bytes, overlapped.folderAt + 12 + 8, 0);
  seeds.emplace_back("overlap.big", overlapped.bytes);

  ArchiveSpec damaged = Sample(2, 20);
  const std::string stream = Deflate(std::string(2000, 'q'));
  damaged.folders[0].entries[0].stored = stream.substr(0, stream.size() / 2);
  damaged.folders[0].entries[1].declaredSize = 100000;
  damaged.folders[2].entries[1].declaredSize = 0xFFFFFFFFu;
  seeds.emplace_back("damaged-entries.big", BuildArchive(damaged).bytes);

  ArchiveSpec bomb;
  bomb.folders = {{"", {{"bomb", std::string(1 << 20, '\0'), true, 0xFFFFFFFFu}}}};
  seeds.emplace_back("bomb.big", BuildArchive(bomb).bytes);

  ArchiveSpec noToc = Sample(4, 22);
  noToc.tocCount = 0;
  seeds.emplace_back("no-toc.big", BuildArchive(noToc).bytes);

  const std::string whole = BuildArchive(Sample(2, 17)).bytes;
  seeds.emplace_back("cut-tables.big", whole.substr(0, 260));
  seeds.emplace_back("cut-data.big", whole.substr(0, whole.size() - 10));
  seeds.emplace_back("version3.big", std::string("_ARCHIVE\x03\0\0\0", 12));
  AddNameEndSeeds(seeds);
  AddJsonSeeds(seeds);
  AddLayoutSeeds(seeds);
  AddClimbingSeeds(seeds);

  WriteSeeds(folder / "archive", seeds);
  return 0;
}

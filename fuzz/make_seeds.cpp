// Writes the fuzz targets' seeds, one folder each: FOLDER/archive holds small archives of
// every layout the loader knows plus a few damaged and hostile ones, all built by the tests'
// archive writer (for every target that reads whole archives); FOLDER/decode single entries'
// stored bytes, whole, cut and flushed into many blocks; FOLDER/patterns and FOLDER/names
// the inputs of the pattern and name targets.
#include <zlib.h>

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

// The pattern target: pattern, NUL, name.
Seeds PatternSeeds() {
  const char* pairs[][2] = {
      {"data/**/*.txt", "data/a/b/readme.txt"}, {"**/x?.png", "art/ui/x\xc3\xa9.png"},
      {"data\\art\\*", "data/art/ui"},     {"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaa"},
      {"a/**/b", "a/x/y/b"},                  {"**", ""},
      {"**/", "a/"},                          {"?", "\xf0\x9f\x98\x80"},
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const fs::path folder = argv[1];
  WriteSeeds(folder / "decode", DecodeSeeds());
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

  WriteSeeds(folder / "archive", seeds);
  return 0;
}

// Writes the fuzzer's seed corpus: small archives of every layout the loader knows, plus
// a few damaged and hostile ones, all built by the tests' archive writer.
#include <cstdio>
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds FOLDER\n");
    return 2;
  }
  const fs::path folder = argv[1];
  fs::create_directories(folder);
  std::vector<std::pair<std::string, std::string>> seeds;
  for (uint32_t version : {1u, 2u, 4u, 7u}) {
    for (uint32_t recordSize : {17u, 20u, 22u}) {
      seeds.emplace_back("v" + std::to_string(version) + "-r" + std::to_string(recordSize),
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
  seeds.emplace_back("hostile-names", BuildArchive(hostile).bytes);

  ArchiveSpec overlap;
  overlap.folders = {{"x", {{"1", "1"}, {"2", "2"}}}, {"y", {{"3", "3"}}}};
  BuiltArchive overlapped = BuildArchive(overlap);
  PutU16(overlapped.bytes, overlapped.folderAt + 12 + 8, 0);
  seeds.emplace_back("overlap", overlapped.bytes);

  ArchiveSpec damaged = Sample(2, 20);
  const std::string stream = Deflate(std::string(2000, 'q'));
  damaged.folders[0].entries[0].stored = stream.substr(0, stream.size() / 2);
  damaged.folders[0].entries[1].declaredSize = 100000;
  damaged.folders[2].entries[1].declaredSize = 0xFFFFFFFFu;
  seeds.emplace_back("damaged-entries", BuildArchive(damaged).bytes);

  ArchiveSpec bomb;
  bomb.folders = {{"", {{"bomb", std::string(1 << 20, '\0'), true, 0xFFFFFFFFu}}}};
  seeds.emplace_back("bomb", BuildArchive(bomb).bytes);

  ArchiveSpec noToc = Sample(4, 22);
  noToc.tocCount = 0;
  seeds.emplace_back("no-toc", BuildArchive(noToc).bytes);

  const std::string whole = BuildArchive(Sample(2, 17)).bytes;
  seeds.emplace_back("cut-tables", whole.substr(0, 260));
  seeds.emplace_back("cut-data", whole.substr(0, whole.size() - 10));
  seeds.emplace_back("version3", std::string("_ARCHIVE\x03\0\0\0", 12));

  for (const auto& [name, bytes] : seeds) {
    std::ofstream out(folder / (name + ".big"), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::printf("%zu seeds in %s\n", seeds.size(), folder.string().c_str());
  return 0;
}

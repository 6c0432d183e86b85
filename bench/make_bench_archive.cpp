// Writes the benchmark's archives straight to disk, one entry at a time, so that archives
// of hundreds of MB (or one 1 GiB entry) are made without holding them in memory.
//
//   wza_bench_make large ARCHIVE MANIFEST   ~20,000 entries in a few hundred folders
//   wza_bench_make small ARCHIVE MANIFEST   20,000 small entries (median 1.7 KiB), half stored
//   wza_bench_make single ARCHIVE [MANIFEST]  one compressed entry of 1 GiB: record data
//   wza_bench_make single-text ARCHIVE [MANIFEST]  the same of text, at zlib's usual level
//   wza_bench_make catalogue ARCHIVE [MANIFEST]  65,535 tiny entries (catalogue loading)
//   wza_bench_make pack-tree ARCHIVE MANIFEST   ~20,000 entries of ~150 MB (wza pack)
//   wza_bench_make pack-like ARCHIVE MANIFEST   ~20,000 entries, an archive of ~1 GiB
//
// The manifest lists each entry as the floor loop reads it: compressed flag, absolute data
// position, stored size, size and the path wza writes it to below its destination.
#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kHeaderLength = 180;  // version 2
constexpr uint32_t kRecordSize = 20;
constexpr int kLevel = 6;  // the zip of the same files is made with -6 too
constexpr size_t kChunk = 1u << 20;

enum class Content { Text, Records, Noise };

struct PlannedEntry {
  std::string name;  // within its folder
  Content content = Content::Text;
  bool compressed = true;
  uint32_t size = 0;
  uint64_t seed = 0;
  int level = kLevel;
  // Filled in while the data is written.
  uint32_t dataOffset = 0;
  uint32_t storedSize = 0;
};

struct PlannedFolder {
  std::string name;  // "\"-separated, as game archives store them
  std::vector<PlannedEntry> entries;
};

struct Random {
  uint64_t state;
  uint64_t Next() {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
  }
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
  // Log-uniform in [low, high): many small values, a few large ones.
  uint32_t LogUniform(uint32_t low, uint32_t high) {
    const double unit = static_cast<double>(Next() >> 11) / 9007199254740992.0;
    const double value = low * std::pow(static_cast<double>(high) / low, unit);
    return static_cast<uint32_t>(value);
  }
};

// Makes an entry's content block by block, the same bytes every time for a seed.
struct ContentSource {
  Content content;
  Random random;
  uint64_t counter = 0;
  const std::vector<std::string>* words;

  void Fill(unsigned char* out, size_t length) {
    size_t at = 0;
    switch (content) {
      case Content::Text:  // word soup, about 3:1 at level 6
        while (at < length) {
          const uint64_t r = random.Next();
          // Skewed towards the first words, like real text.
          const size_t index = ((r & 1023) * ((r >> 10) & 1023)) >> 10;
          const std::string& word = (*words)[index];
          for (size_t i = 0; i < word.size() && at < length; ++i) out[at++] = word[i];
          if (at < length) out[at++] = (r >> 40) % 13 == 0 ? '\n' : ' ';
        }
        break;
      case Content::Records:  // fixed records with a little noise, like mesh or table data
        while (at < length) {
          unsigned char record[16];
          const uint64_t r = random.Next();
          const uint32_t index = static_cast<uint32_t>(counter++);
          std::memcpy(record, &index, 4);
          std::memcpy(record + 4, "\x00\x00\x80\x3f", 4);
          const uint64_t noisy = r & 0x0000FFFF00FF00FFull;
          std::memcpy(record + 8, &noisy, 8);
          for (size_t i = 0; i < 16 && at < length; ++i) out[at++] = record[i];
        }
        break;
      case Content::Noise:  // already compressed media: stored as it is
        while (at < length) {
          const uint64_t r = random.Next();
          for (size_t i = 0; i < 8 && at < length; ++i)
            out[at++] = static_cast<unsigned char>(r >> (8 * i));
        }
        break;
    }
  }
};

std::vector<std::string> MakeWords() {
  Random random{0x5eed};
  std::vector<std::string> words(1024);
  for (std::string& word : words) {
    const uint32_t length = 2 + random.Below(9);
    for (uint32_t i = 0; i < length; ++i) word += static_cast<char>('a' + random.Below(26));
  }
  return words;
}

bool Fail(const char* what) {
  std::perror(what);
  return false;
}

void AppendU16(std::string& bytes, uint16_t value) {
  bytes.push_back(static_cast<char>(value & 0xFF));
  bytes.push_back(static_cast<char>(value >> 8));
}

void AppendU32(std::string& bytes, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(value >> shift));
}

// Writes one entry's data at the file's current end, deflating it on the way when asked.
bool WriteEntryData(std::FILE* file, PlannedEntry& entry, const std::vector<std::string>& words,
                    uint64_t& position) {
  if (position > UINT32_MAX) return Fail("archive beyond 4 GiB");
  entry.dataOffset = static_cast<uint32_t>(position);  // made relative by the caller
  ContentSource source{entry.content, Random{entry.seed | 1}, 0, &words};
  // Kept between entries: zeroing fresh megabytes for each small entry costs more than the rest.
  static std::vector<unsigned char> in(kChunk);
  static std::vector<unsigned char> out(kChunk);
  z_stream stream{};
  if (entry.compressed && deflateInit(&stream, entry.level) != Z_OK) return Fail("deflateInit");
  uint64_t left = entry.size;
  uint64_t stored = 0;
  do {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(left, kChunk));
    source.Fill(in.data(), length);
    left -= length;
    if (!entry.compressed) {
      if (std::fwrite(in.data(), 1, length, file) != length) return Fail("write");
      stored += length;
      continue;
    }
    stream.next_in = in.data();
    stream.avail_in = static_cast<uInt>(length);
    const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      deflate(&stream, flush);
      const size_t produced = out.size() - stream.avail_out;
      if (std::fwrite(out.data(), 1, produced, file) != produced) return Fail("write");
      stored += produced;
    } while (stream.avail_out == 0);
  } while (left > 0);
  if (entry.compressed) deflateEnd(&stream);
  if (stored > UINT32_MAX) return Fail("entry beyond 4 GiB");
  entry.storedSize = static_cast<uint32_t>(stored);
  position += stored;
  return true;
}

// Lays out the tables, streams the data after them, then goes back and writes the tables.
bool WriteArchive(const std::string& path, const std::string& alias,
                  std::vector<PlannedFolder>& folders, const std::string& manifestPath) {
  std::string names;
  std::vector<uint32_t> folderNameAt;
  std::vector<uint32_t> fileNameAt;
  size_t fileCount = 0;
  for (const PlannedFolder& folder : folders) {
    folderNameAt.push_back(static_cast<uint32_t>(names.size()));
    names += folder.name;
    names.push_back('\0');
    fileCount += folder.entries.size();
  }
  for (const PlannedFolder& folder : folders) {
    for (const PlannedEntry& entry : folder.entries) {
      fileNameAt.push_back(static_cast<uint32_t>(names.size()));
      names += entry.name;
      names.push_back('\0');
    }
  }
  if (fileCount == 0 || fileCount > 65535 || folders.size() > 65535) return Fail("entry count");

  const uint32_t tocAt = kHeaderLength + 24;
  const uint32_t folderAt = tocAt + 138;
  const uint32_t fileAt = folderAt + static_cast<uint32_t>(folders.size()) * 12;
  const uint32_t nameAt = fileAt + static_cast<uint32_t>(fileCount) * kRecordSize;
  const uint32_t dataOffset = nameAt + static_cast<uint32_t>(names.size());

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return Fail(path.c_str());
  std::vector<char> buffer(4u << 20);
  std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
  if (std::fseek(file, dataOffset, SEEK_SET) != 0) return Fail("seek");
  const std::vector<std::string> words = MakeWords();
  uint64_t position = dataOffset;
  for (PlannedFolder& folder : folders) {
    for (PlannedEntry& entry : folder.entries) {
      if (!WriteEntryData(file, entry, words, position)) return false;
      entry.dataOffset -= dataOffset;
    }
  }

  // The tables lie one after the other, so they are written in one pass.
  std::string tables(kHeaderLength, '\0');
  tables.replace(0, 8, "_ARCHIVE");
  tables[8] = 2;  // version
  for (int i = 0; i < 4; ++i) tables[176 + i] = static_cast<char>(dataOffset >> (8 * i));
  AppendU32(tables, tocAt - kHeaderLength);
  AppendU16(tables, 1);
  AppendU32(tables, folderAt - kHeaderLength);
  AppendU16(tables, static_cast<uint16_t>(folders.size()));
  AppendU32(tables, fileAt - kHeaderLength);
  AppendU16(tables, static_cast<uint16_t>(fileCount));
  AppendU32(tables, nameAt - kHeaderLength);
  AppendU16(tables, static_cast<uint16_t>(folders.size() + fileCount));
  std::string toc(138, '\0');
  toc.replace(0, std::min<size_t>(alias.size(), 64), alias.substr(0, 64));
  tables += toc;
  size_t first = 0;
  for (size_t f = 0; f < folders.size(); ++f) {
    AppendU32(tables, folderNameAt[f]);
    AppendU32(tables, 0);
    AppendU16(tables, static_cast<uint16_t>(first));
    first += folders[f].entries.size();
    AppendU16(tables, static_cast<uint16_t>(first));
  }
  size_t index = 0;
  for (const PlannedFolder& folder : folders) {
    for (const PlannedEntry& entry : folder.entries) {
      AppendU32(tables, fileNameAt[index++]);
      AppendU32(tables, entry.compressed ? 1 : 0);
      AppendU32(tables, entry.dataOffset);
      AppendU32(tables, entry.storedSize);
      AppendU32(tables, entry.size);
    }
  }
  tables += names;
  if (tables.size() != dataOffset) return Fail("table layout");
  if (std::fseek(file, 0, SEEK_SET) != 0 ||
      std::fwrite(tables.data(), 1, tables.size(), file) != tables.size()) {
    return Fail("write tables");
  }
  if (std::fclose(file) != 0) return Fail("close");

  if (manifestPath.empty()) return true;
  std::FILE* manifest = std::fopen(manifestPath.c_str(), "w");
  if (manifest == nullptr) return Fail(manifestPath.c_str());
  const std::string base =
      std::string("__") + path.substr(path.find_last_of('/') + 1) + "/" + alias + "/";
  for (const PlannedFolder& folder : folders) {
    std::string folderPath = folder.name;
    for (char& c : folderPath) {
      if (c == '\\') c = '/';
    }
    if (!folderPath.empty()) folderPath += '/';
    for (const PlannedEntry& entry : folder.entries) {
      std::fprintf(manifest, "%d %" PRIu64 " %" PRIu32 " %" PRIu32 " %s%s%s\n",
                   entry.compressed ? 1 : 0, static_cast<uint64_t>(dataOffset) + entry.dataOffset,
                   entry.storedSize, entry.size, base.c_str(), folderPath.c_str(),
                   entry.name.c_str());
    }
  }
  return std::fclose(manifest) == 0 || Fail("close manifest");
}

std::string Numbered(const char* prefix, uint32_t n, int width) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%0*u", prefix, width, n);
  return text;
}

// Leaf folders below a few top folders, `perGroup` leaves to a group: art\group00\pack000...
std::vector<PlannedFolder> LeafFolders(uint32_t count, uint32_t perGroup) {
  static const char* const kTop[] = {"art", "sound", "data", "maps", "ui", "scripts"};
  std::vector<PlannedFolder> folders(count);
  for (uint32_t f = 0; f < count; ++f) {
    folders[f].name = std::string(kTop[f % 6]) + "\\" + Numbered("group", f / perGroup, 2) + "\\" +
                      Numbered("pack", f, 3);
  }
  return folders;
}

// A game-like tree: a few top folders, a few hundred leaf folders, ~20,000 entries. Most
// are small; a hundred are of some MB and eight of tens of MB. About a fifth are media
// stored as they are (.ogg, which the zip stores too); the rest are deflated.
std::vector<PlannedFolder> PlanLarge() {
  Random random{0xB16A4C417Eull};
  const uint32_t leafCount = 320;
  const uint32_t entryCount = 20000;
  std::vector<PlannedFolder> folders = LeafFolders(leafCount, 24);
  for (uint32_t i = 0; i < entryCount; ++i) {
    PlannedEntry entry;
    entry.seed = random.Next();
    const uint32_t pick = random.Below(100);
    if (pick < 20) {
      entry.content = Content::Noise;
      entry.compressed = false;
      entry.name = Numbered("sfx", i, 5) + ".ogg";
    } else if (pick < 60) {
      entry.content = Content::Records;
      entry.name = Numbered("mesh", i, 5) + ".bin";
    } else {
      entry.content = Content::Text;
      entry.name = Numbered("text", i, 5) + ".xml";
    }
    if (i % 2500 == 1234) {
      entry.size = 10000000 + random.Below(30000000);  // tens of MB
    } else if (i % 200 == 17) {
      entry.size = random.LogUniform(256 << 10, 4 << 20);
    } else {
      entry.size = random.LogUniform(64, 48 << 10);
    }
    folders[random.Below(leafCount)].entries.push_back(entry);
  }
  return folders;
}

// Entry i of a mix of stored media (.ogg), records (.bin) and text (.xml), in the given
// percentages; its size is the caller's.
PlannedEntry MixedEntry(Random& random, uint32_t i, uint32_t mediaPercent,
                        uint32_t recordsPercent) {
  PlannedEntry entry;
  entry.seed = random.Next();
  const uint32_t pick = random.Below(100);
  const bool media = pick < mediaPercent;
  const bool records = !media && pick < mediaPercent + recordsPercent;
  entry.content = media ? Content::Noise : records ? Content::Records : Content::Text;
  entry.compressed = !media;
  entry.name = Numbered(media     ? "sfx"
                        : records ? "mesh"
                                  : "text",
                        i, 5) +
               (media     ? ".ogg"
                : records ? ".bin"
                          : ".xml");
  return entry;
}

// What most game archives hold: 20,000 small entries (median about 1.7 KiB, mean about
// 7.5 KiB) in 300 folders, half stored media and half deflated, so that the cost of each
// entry's handling shows beside the inflating.
std::vector<PlannedFolder> PlanSmall() {
  Random random{0x5A11ull};
  const uint32_t leafCount = 300;
  std::vector<PlannedFolder> folders = LeafFolders(leafCount, 25);
  for (uint32_t i = 0; i < 20000; ++i) {
    PlannedEntry entry = MixedEntry(random, i, 50, 25);
    entry.size = random.LogUniform(56, 53000);
    folders[random.Below(leafCount)].entries.push_back(entry);
  }
  return folders;
}

// `wza pack`'s trees: `scale` 1 gives ~20,000 files of about 150 MB in all (the new archive
// target); `scale` 14 an archive of about 1 GiB of many entries (the --like targets).
std::vector<PlannedFolder> PlanPack(uint32_t scale) {
  Random random{0x9AC4ull + scale};
  const uint32_t leafCount = 320;
  std::vector<PlannedFolder> folders = LeafFolders(leafCount, 24);
  for (uint32_t i = 0; i < 20000; ++i) {
    PlannedEntry entry = MixedEntry(random, i, 20, 40);
    if (i % 2500 == 1234) {
      entry.size = scale * (2000000 + random.Below(4000000));
    } else if (i % 200 == 17) {
      entry.size = scale * random.LogUniform(64 << 10, 1 << 20);
    } else {
      entry.size = scale * random.LogUniform(64, 24 << 10);
    }
    folders[random.Below(leafCount)].entries.push_back(entry);
  }
  return folders;
}

// Record data is full of short matches and literals, where faster inflates gain least;
// text is where they gain most. Records are made at level 1, quick to make; text at 6.
std::vector<PlannedFolder> PlanSingle(Content content) {
  PlannedEntry entry;
  entry.name = "huge.bin";
  entry.content = content;
  entry.size = 1u << 30;
  entry.seed = 42;
  entry.level = content == Content::Records ? 1 : kLevel;
  return {{"", {entry}}};
}

// 1,024 text entries of 1 MiB at level 1: inflating is the work, in entries that each fit
// a decoder's whole-buffer budget.
std::vector<PlannedFolder> PlanMiBEntries() {
  std::vector<PlannedFolder> folders(8);
  for (uint32_t i = 0; i < 1024; ++i) {
    PlannedEntry entry;
    entry.name = Numbered("text_", i, 4) + ".txt";
    entry.size = 1u << 20;
    entry.seed = 1000 + i;
    entry.level = 1;
    folders[i / 128].name = Numbered("part", i / 128, 1);
    folders[i / 128].entries.push_back(entry);
  }
  return folders;
}

std::vector<PlannedFolder> PlanCatalogue() {
  Random random{0xCA7A10Cull};
  std::vector<PlannedFolder> folders(512);
  for (uint32_t f = 0; f < folders.size(); ++f) {
    folders[f].name = "levels\\" + Numbered("zone", f / 32, 2) + "\\" + Numbered("props", f, 3);
  }
  for (uint32_t i = 0; i < 65535; ++i) {
    PlannedEntry entry;
    entry.name = Numbered("prop_variant_", i, 5) + ".cfg";
    entry.compressed = false;
    entry.content = Content::Text;
    entry.size = random.Below(32);
    entry.seed = random.Next();
    folders[i * folders.size() / 65535].entries.push_back(entry);
  }
  return folders;
}

// Many long names: 65,000 one-byte entries in 65 leaf folders, paths of about 300 bytes
// (what `wza pack` must hold about once each).
std::vector<PlannedFolder> PlanNames() {
  std::vector<PlannedFolder> folders(65);
  for (uint32_t f = 0; f < folders.size(); ++f) {
    folders[f].name = "textures_" + std::string(140, 'x') + "\\characters_" + std::string(40, 'y') +
                      "\\" + Numbered("hero_", f, 3);
    for (uint32_t i = 0; i < 1000; ++i) {
      PlannedEntry entry;
      entry.name = Numbered("diffuse_map_", i, 4) + std::string(70, 'z') + ".dds";
      entry.compressed = false;
      entry.size = 1;
      entry.seed = f * 1000 + i;
      folders[f].entries.push_back(entry);
    }
  }
  return folders;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[1] : "";
  if ((mode == "large" || mode == "small") && argc == 4) {
    std::vector<PlannedFolder> folders = mode == "large" ? PlanLarge() : PlanSmall();
    return WriteArchive(argv[2], "data", folders, argv[3]) ? 0 : 1;
  }
  if ((mode == "single" || mode == "single-text") && (argc == 3 || argc == 4)) {
    std::vector<PlannedFolder> folders =
        PlanSingle(mode == "single" ? Content::Records : Content::Text);
    return WriteArchive(argv[2], "data", folders, argc == 4 ? argv[3] : "") ? 0 : 1;
  }
  if ((mode == "pack-tree" || mode == "pack-like") && argc == 4) {
    std::vector<PlannedFolder> folders = PlanPack(mode == "pack-tree" ? 1 : 14);
    return WriteArchive(argv[2], "data", folders, argv[3]) ? 0 : 1;
  }
  if (mode == "pack-names" && (argc == 3 || argc == 4)) {
    std::vector<PlannedFolder> folders = PlanNames();
    return WriteArchive(argv[2], "data", folders, argc == 4 ? argv[3] : "") ? 0 : 1;
  }
  if (mode == "mib-entries" && (argc == 3 || argc == 4)) {
    std::vector<PlannedFolder> folders = PlanMiBEntries();
    return WriteArchive(argv[2], "data", folders, argc == 4 ? argv[3] : "") ? 0 : 1;
  }
  if (mode == "catalogue" && (argc == 3 || argc == 4)) {
    std::vector<PlannedFolder> folders = PlanCatalogue();
    return WriteArchive(argv[2], "data", folders, argc == 4 ? argv[3] : "") ? 0 : 1;
  }
  std::fprintf(
      stderr,
      "usage: wza_bench_make large|small ARCHIVE MANIFEST | single[-text] ARCHIVE [MANIFEST] | "
      "catalogue ARCHIVE [MANIFEST] | pack-tree|pack-like ARCHIVE MANIFEST | "
      "pack-names ARCHIVE [MANIFEST] | mib-entries ARCHIVE [MANIFEST]\n");
  return 2;
}

// libFuzzer target: the bytes of one archive (its last byte also picks a code page for the
// names), loaded from memory and listed as `wza list --json` lists it. The document must
// parse as JSON by a real parser, and every text in it must give back the archive's bytes
// exactly: as the string itself when they are UTF-8, through its "_hex" member when not.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "archive/catalogue.h"
#include "cli/json_listing.h"
#include "extract/safe_name.h"
#include "fuzz/fuzz_check.h"
#include "names/entry_pattern.h"
#include "names/name_encoding.h"
#include "platform/memory_file.h"

namespace {

using Json = nlohmann::json;

const char* const kCodePages[] = {"", "cp1252", "cp932", "utf-8", "cp936", "cp437", "", ""};

const NameEncoding& EncodingFor(uint8_t choice) {
  static std::map<size_t, std::unique_ptr<NameEncoding>> opened;
  const size_t index = choice % (sizeof kCodePages / sizeof kCodePages[0]);
  auto& encoding = opened[index];
  if (!encoding) {
    encoding = std::make_unique<NameEncoding>();
    std::string error;
    OpenNameEncoding(kCodePages[index], *encoding, &error);
  }
  return *encoding;
}

// The document as it is written to a stream.
std::string Listing(const std::string& encoding, const std::string& path,
                    const ArchiveCatalogue& catalogue, const std::vector<bool>& notConverted) {
  char* buffer = nullptr;
  size_t length = 0;
  std::FILE* out = open_memstream(&buffer, &length);
  FUZZ_CHECK(out != nullptr);
  JsonListing listing;
  BeginJsonListing(listing, out, encoding);
  JsonArchive refused;
  refused.path = path + ".old";
  refused.outcome = "damaged";
  refused.reason = "no: " + catalogue.alias;
  BeginJsonArchive(listing, refused);
  EndJsonArchive(listing);
  JsonArchive archive;
  archive.path = path;
  archive.outcome = "loaded";
  archive.version = catalogue.header.version;
  archive.recordSize = catalogue.recordSize;
  archive.alias = catalogue.alias;
  BeginJsonArchive(listing, archive);
  for (size_t i = 0; i < catalogue.entries.size(); ++i) {
    const bool failed = !notConverted.empty() && notConverted[i];
    JsonEntry entry;
    entry.name = ShownName(catalogue.alias + "\\" + catalogue.entryNames[i]);
    if (failed) entry.nameError = "not valid " + encoding;
    entry.size = catalogue.entries[i].size;
    entry.storedSize = catalogue.entries[i].storedSize;
    entry.compressed = catalogue.entries[i].flags != 0;
    entry.dataOffset = static_cast<uint64_t>(catalogue.header.dataOffset) + catalogue.entries[i].dataOffset;
    entry.extracted = !failed && IsSafeRelativePath(catalogue.entryNames[i], true);
    AddJsonEntry(listing, entry);
  }
  EndJsonArchive(listing);
  EndJsonListing(listing);
  std::fclose(out);
  std::string document(buffer, length);
  std::free(buffer);
  return document;
}

std::string FromHex(const std::string& hex) {
  FUZZ_CHECK(hex.size() % 2 == 0);
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// The member `key` of `object` gives back `bytes`.
void CheckText(const Json& object, const std::string& key, const std::string& bytes) {
  FUZZ_CHECK(object.contains(key) && object[key].is_string());
  const bool hex = object.contains(key + "_hex");
  FUZZ_CHECK(hex != FuzzIsUtf8(bytes));
  if (hex) {
    FUZZ_CHECK(FromHex(object[key + "_hex"].get<std::string>()) == bytes);
    FUZZ_CHECK(FuzzIsUtf8(object[key].get<std::string>()));
  } else {
    FUZZ_CHECK(object[key].get<std::string>() == bytes);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  platform::SetMemoryFile("a.big", data, size);
  OpenArchive loaded;
  if (LoadCatalogue("a.big", loaded) != LoadOutcome::Loaded) return 0;
  ArchiveCatalogue& catalogue = loaded.catalogue;
  const NameEncoding& encoding = EncodingFor(data[size - 1]);
  const std::vector<bool> notConverted = ConvertCatalogueNames(encoding, catalogue);
  const std::string path = "dir/" + catalogue.alias + ".big";
  const std::string document = Listing(NamesReadAs(encoding), path, catalogue, notConverted);

  const Json parsed = Json::parse(document, nullptr, false);
  FUZZ_CHECK(!parsed.is_discarded());
  CheckText(parsed, "names", NamesReadAs(encoding));
  const Json& archives = parsed["archives"];
  FUZZ_CHECK(archives.is_array() && archives.size() == 2);
  CheckText(archives[0], "reason", "no: " + catalogue.alias);
  const Json& archive = archives[1];
  CheckText(archive, "path", path);
  CheckText(archive, "alias", catalogue.alias);
  FUZZ_CHECK(archive["record_size"].get<uint32_t>() == catalogue.recordSize);
  const Json& entries = archive["entries"];
  FUZZ_CHECK(entries.is_array() && entries.size() == catalogue.entries.size());
  for (size_t i = 0; i < catalogue.entries.size(); ++i) {
    CheckText(entries[i], "name", ShownName(catalogue.alias + "\\" + catalogue.entryNames[i]));
    FUZZ_CHECK(entries[i]["size"].get<uint32_t>() == catalogue.entries[i].size);
  }
  return 0;
}

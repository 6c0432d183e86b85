// libFuzzer target: a code page (one byte, its place in a list) and an entry name's bytes.
// The name is converted whole and, split at its first NUL into a folder's name and an
// entry's own, as a catalogue's names are. A converted name must be UTF-8, must hold no
// separator its bytes did not have, and if it passes the name-safety check it must hold no
// ".." component, NUL or control byte: whatever the code page makes of the bytes, it can
// never add a way out of the destination.
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "archive/catalogue.h"
#include "extract/safe_name.h"
#include "fuzz/fuzz_check.h"
#include "names/name_encoding.h"

namespace {

const char* const kCodePages[] = {
    "cp1252", "cp932",  "cp936", "cp949",      "cp950",      "utf-8",    "cp437",   "cp1251",
    "cp1250", "cp1255", "cp874", "iso-8859-1", "big5-hkscs", "gb18030",  "cp1258",  "",
};

const NameEncoding* EncodingFor(uint8_t choice) {
  static std::map<uint8_t, std::unique_ptr<NameEncoding>> opened;
  const uint8_t index = choice % (sizeof kCodePages / sizeof kCodePages[0]);
  auto& encoding = opened[index];
  if (!encoding) {
    encoding = std::make_unique<NameEncoding>();
    std::string error;
    if (!OpenNameEncoding(kCodePages[index], *encoding, &error)) encoding->codePage = "?";
  }
  return encoding->codePage == "?" ? nullptr : encoding.get();
}

size_t Separators(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += c == '/' || c == '\\';
  return count;
}

// What a name that passes IsSafeRelativePath may never hold.
void CheckSafe(const std::string& name) {
  if (!IsSafeRelativePath(name, true)) return;
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '/' && name[i] != '\\') {
      FUZZ_CHECK(static_cast<unsigned char>(name[i]) >= 0x20);
      continue;
    }
    FUZZ_CHECK(name.compare(start, i - start, "..") != 0);
    start = i + 1;
  }
  FUZZ_CHECK(!name.empty() && name.back() != '/' && name.back() != '\\');
}

void CheckConverted(const NameEncoding& encoding, const std::string& bytes,
                    const std::string& text) {
  if (!encoding.codePage.empty()) FUZZ_CHECK(FuzzIsUtf8(text));
  FUZZ_CHECK(text.find('\0') == std::string::npos);
  FUZZ_CHECK(Separators(text) <= Separators(bytes));
  CheckSafe(text);
}

// The name as a catalogue holds it: a folder (ending in "\") and the entry's own name.
void CheckCatalogue(const NameEncoding& encoding, const std::string& folder,
                    const std::string& own) {
  ArchiveCatalogue catalogue;
  catalogue.alias = "data";
  catalogue.folders = {FolderEntry{0, 0, 1}};
  catalogue.folderNames = {folder + "\\"};
  catalogue.entries = {FileEntry{}};
  catalogue.fileNames = {own};
  FUZZ_CHECK(JoinEntryNames(catalogue));
  const std::string before = catalogue.entryNames[0];
  const std::vector<bool> failed = ConvertCatalogueNames(encoding, catalogue);
  if (!failed.empty() && failed[0]) {
    FUZZ_CHECK(catalogue.entryNames[0] == before);
    return;
  }
  CheckConverted(encoding, before, catalogue.entryNames[0]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const NameEncoding* encoding = EncodingFor(data[0]);
  if (encoding == nullptr) return 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t cut = input.find('\0');
  const std::string whole = input.substr(0, cut);  // names are cut at a NUL when loaded
  std::string text;
  if (ConvertName(*encoding, whole, text)) CheckConverted(*encoding, whole, text);
  CheckSafe(whole);
  if (cut != std::string::npos) {
    const std::string own = input.substr(cut + 1);
    CheckCatalogue(*encoding, whole, own.substr(0, own.find('\0')));
  }
  return 0;
}

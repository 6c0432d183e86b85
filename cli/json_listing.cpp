#include "cli/json_listing.h"

#include <cstdio>

#include "names/printable_text.h"

namespace {

constexpr const char* kStringsNote =
    "UTF-8; a text that is not valid UTF-8 has U+FFFD for each byte that is not, and its "
    "exact bytes in hex in a member of the same name ending in _hex";

// "text" as a JSON string; *valid tells whether it was valid UTF-8.
std::string Quoted(const std::string& text, bool* valid) {
  std::string out = "\"";
  *valid = true;
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8CharacterLength(text, i);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      *valid = false;
      ++i;
    } else if (byte == '"' || byte == '\\') {
      out += '\\';
      out += text[i++];
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
      ++i;
    } else {
      out.append(text, i, length);
      i += length;
    }
  }
  return out + "\"";
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (char c : bytes) {
    hex += kDigits[static_cast<unsigned char>(c) >> 4];
    hex += kDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

// "key": "text", and "key_hex": "..." after it when the text is not valid UTF-8.
std::string TextMember(const std::string& key, const std::string& text) {
  bool valid = true;
  std::string member = "\"" + key + "\": " + Quoted(text, &valid);
  if (!valid) member += ", \"" + key + "_hex\": \"" + Hex(text) + "\"";
  return member;
}

std::string Number(const std::string& key, uint64_t value) {
  return "\"" + key + "\": " + std::to_string(value);
}

std::string EntryObject(const JsonEntry& entry) {
  std::string object = "{" + TextMember("name", entry.name);
  if (!entry.nameError.empty()) object += ", " + TextMember("name_error", entry.nameError);
  object += ", " + Number("size", entry.size) + ", " + Number("stored_size", entry.storedSize) +
            ", \"method\": \"" + (entry.compressed ? "compressed" : "stored") + "\", " +
            Number("data_offset", entry.dataOffset) +
            ", \"extracted\": " + (entry.extracted ? "true" : "false") + "}";
  return object;
}

std::string ArchiveObject(const JsonArchive& archive) {
  std::string object =
      "    {" + TextMember("path", archive.path) + ", " + TextMember("outcome", archive.outcome);
  if (!archive.reason.empty()) object += ", " + TextMember("reason", archive.reason);
  if (archive.outcome != "loaded") return object + "}";
  object += ", " + Number("version", archive.version) + ", " +
            Number("record_size", archive.recordSize) + ", " + TextMember("alias", archive.alias) +
            ", " + Number("left_out", archive.leftOut) + ",\n     \"entries\": [";
  for (size_t i = 0; i < archive.entries.size(); ++i) {
    object += (i == 0 ? "\n      " : ",\n      ") + EntryObject(archive.entries[i]);
  }
  return object + "]}";
}

}  // namespace

std::string JsonListing(const std::string& nameEncoding, const std::vector<JsonArchive>& archives) {
  std::string document = "{\n  \"format\": \"wza-list 1\",\n  \"strings\": \"" +
                         std::string(kStringsNote) + "\",\n  " + TextMember("names", nameEncoding) +
                         ",\n  \"archives\": [";
  for (size_t i = 0; i < archives.size(); ++i) {
    document += (i == 0 ? "\n" : ",\n") + ArchiveObject(archives[i]);
  }
  return document + "]\n}\n";
}

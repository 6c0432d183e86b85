#include "cli/json_listing.h"

#include "names/printable_text.h"

namespace {

constexpr const char* kStringsNote =
    "UTF-8; a text that is not valid UTF-8 has U+FFFD for each byte that is not, and its "
    "exact bytes in hex in a member of the same name ending in _hex";
constexpr size_t kPieceSize = 64u << 10;
constexpr char kDigits[] = "0123456789abcdef";

void Put(JsonListing& listing, const char* text, size_t length) {
  if (listing.pending.size() + length > kPieceSize) {
    std::fwrite(listing.pending.data(), 1, listing.pending.size(), listing.out);
    listing.pending.clear();
    if (length >= kPieceSize) {
      std::fwrite(text, 1, length, listing.out);
      return;
    }
  }
  listing.pending.append(text, length);
}

void Put(JsonListing& listing, const std::string& text) {
  Put(listing, text.data(), text.size());
}

bool IsPlain(unsigned char byte) {
  return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
}

// "text" as a JSON string; false when it was not valid UTF-8. Runs of plain characters go
// out whole: names may be megabytes long.
bool PutQuoted(JsonListing& listing, const std::string& text) {
  Put(listing, "\"", 1);
  bool valid = true;
  for (size_t i = 0; i < text.size();) {
    size_t plain = i;
    while (plain < text.size() && IsPlain(static_cast<unsigned char>(text[plain]))) ++plain;
    if (plain > i) {
      Put(listing, text.data() + i, plain - i);
      i = plain;
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8CharacterLength(text, i);
    if (length == 0) {
      Put(listing, "\xEF\xBF\xBD", 3);  // U+FFFD
      valid = false;
      ++i;
    } else if (byte == '"' || byte == '\\') {
      const char escaped[] = {'\\', text[i++]};
      Put(listing, escaped, 2);
    } else if (byte < 0x20 || byte == 0x7F) {
      const char escaped[] = {'\\', 'u', '0', '0', kDigits[byte >> 4], kDigits[byte & 0xF]};
      Put(listing, escaped, sizeof escaped);
      ++i;
    } else {
      Put(listing, text.data() + i, length);
      i += length;
    }
  }
  Put(listing, "\"", 1);
  return valid;
}

void PutHex(JsonListing& listing, const std::string& bytes) {
  for (char c : bytes) {
    const char hex[] = {kDigits[static_cast<unsigned char>(c) >> 4],
                        kDigits[static_cast<unsigned char>(c) & 0xF]};
    Put(listing, hex, 2);
  }
}

// "key": "text", and "key_hex": "..." after it when the text is not valid UTF-8.
void PutText(JsonListing& listing, const std::string& key, const std::string& text) {
  Put(listing, "\"" + key + "\": ");
  if (PutQuoted(listing, text)) return;
  Put(listing, ", \"" + key + "_hex\": \"");
  PutHex(listing, text);
  Put(listing, "\"", 1);
}

void PutNumber(JsonListing& listing, const std::string& key, uint64_t value) {
  Put(listing, "\"" + key + "\": " + std::to_string(value));
}

}  // namespace

void BeginJsonListing(JsonListing& listing, std::FILE* out, const std::string& nameEncoding) {
  listing = JsonListing();
  listing.out = out;
  Put(listing, "{\n  \"format\": \"wza-list 1\",\n  \"strings\": \"" + std::string(kStringsNote) +
                   "\",\n  ");
  PutText(listing, "names", nameEncoding);
  Put(listing, ",\n  \"archives\": [");
}

void BeginJsonArchive(JsonListing& listing, const JsonArchive& archive) {
  Put(listing, listing.archives++ == 0 ? "\n    {" : ",\n    {");
  PutText(listing, "path", archive.path);
  Put(listing, ", ");
  PutText(listing, "outcome", archive.outcome);
  if (!archive.reason.empty()) {
    Put(listing, ", ");
    PutText(listing, "reason", archive.reason);
  }
  listing.entries = 0;
  listing.loaded = archive.outcome == "loaded";
  if (!listing.loaded) return;
  Put(listing, ", ");
  PutNumber(listing, "version", archive.version);
  Put(listing, ", ");
  PutNumber(listing, "record_size", archive.recordSize);
  Put(listing, ", ");
  PutText(listing, "alias", archive.alias);
  Put(listing, ", ");
  PutNumber(listing, "left_out", archive.leftOut);
  Put(listing, ",\n     \"entries\": [");
}

void AddJsonEntry(JsonListing& listing, const JsonEntry& entry) {
  Put(listing, listing.entries++ == 0 ? "\n      {" : ",\n      {");
  PutText(listing, "name", entry.name);
  if (!entry.nameError.empty()) {
    Put(listing, ", ");
    PutText(listing, "name_error", entry.nameError);
  }
  Put(listing, ", ");
  PutNumber(listing, "size", entry.size);
  Put(listing, ", ");
  PutNumber(listing, "stored_size", entry.storedSize);
  Put(listing, std::string(", \"method\": \"") + (entry.compressed ? "compressed" : "stored") +
                   "\", ");
  PutNumber(listing, "data_offset", entry.dataOffset);
  Put(listing, std::string(", \"extracted\": ") + (entry.extracted ? "true" : "false") + "}");
}

void EndJsonArchive(JsonListing& listing) {
  Put(listing, listing.loaded ? "]}" : "}");
}

void EndJsonListing(JsonListing& listing) {
  Put(listing, "]\n}\n");
  std::fwrite(listing.pending.data(), 1, listing.pending.size(), listing.out);
  listing.pending.clear();
}

#include "cli/json_listing.h"

void BeginJsonListing(JsonListing& listing, std::FILE* out, const std::string& nameEncoding) {
  listing = JsonListing();
  JsonWriter& json = listing.writer;
  json.out = out;
  PutJson(json, "{\n  \"format\": \"wza-list 1\",\n  \"strings\": \"" +
                    std::string(kJsonStringsNote) + "\",\n  ");
  PutJsonText(json, "names", nameEncoding);
  PutJson(json, ",\n  \"archives\": [");
}

void BeginJsonArchive(JsonListing& listing, const JsonArchive& archive) {
  JsonWriter& json = listing.writer;
  PutJson(json, listing.archives++ == 0 ? "\n    {" : ",\n    {");
  PutJsonText(json, "path", archive.path);
  PutJson(json, ", ");
  PutJsonText(json, "outcome", archive.outcome);
  if (!archive.reason.empty()) {
    PutJson(json, ", ");
    PutJsonText(json, "reason", archive.reason);
  }
  listing.entries = 0;
  listing.loaded = archive.outcome == "loaded";
  if (!listing.loaded) return;
  PutJson(json, ", ");
  PutJsonNumber(json, "version", archive.version);
  PutJson(json, ", ");
  PutJsonNumber(json, "record_size", archive.recordSize);
  PutJson(json, ", ");
  PutJsonText(json, "alias", archive.alias);
  PutJson(json, ", ");
  PutJsonNumber(json, "left_out", archive.leftOut);
  PutJson(json, ",\n     \"entries\": [");
}

void AddJsonEntry(JsonListing& listing, const JsonEntry& entry) {
  JsonWriter& json = listing.writer;
  PutJson(json, listing.entries++ == 0 ? "\n      {" : ",\n      {");
  PutJsonText(json, "name", entry.name);
  if (!entry.nameError.empty()) {
    PutJson(json, ", ");
    PutJsonText(json, "name_error", entry.nameError);
  }
  PutJson(json, ", ");
  PutJsonNumber(json, "size", entry.size);
  PutJson(json, ", ");
  PutJsonNumber(json, "stored_size", entry.storedSize);
  PutJson(json,
          std::string(", \"method\": \"") + (entry.compressed ? "compressed" : "stored") + "\", ");
  PutJsonNumber(json, "data_offset", entry.dataOffset);
  PutJson(json, std::string(", \"extracted\": ") + (entry.extracted ? "true" : "false") + "}");
}

void EndJsonArchive(JsonListing& listing) {
  PutJson(listing.writer, listing.loaded ? "]}" : "}");
}

void EndJsonListing(JsonListing& listing) {
  PutJson(listing.writer, "]\n}\n");
  FlushJson(listing.writer);
}

// `wza list --json`: one JSON document for the whole run, written as it is made: each
// entry's object goes out as soon as it is complete (cli/json_writer.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/json_writer.h"

struct JsonEntry {
  std::string name;       // as wza shows it: alias first, "/" between components
  std::string nameError;  // why the name could not be converted, if it could not
  uint32_t size = 0;
  uint32_t storedSize = 0;
  bool compressed = false;
  uint64_t dataOffset = 0;  // from the start of the archive file
  bool extracted = true;    // false: its name is unsafe and extract leaves it out
};

// An archive's members but its entries.
struct JsonArchive {
  std::string path;
  std::string outcome;  // "loaded", or why it was not
  std::string reason;   // the system's or the loader's detail, if any
  uint32_t version = 0;
  uint32_t recordSize = 0;
  std::string alias;
  uint64_t leftOut = 0;  // entries not chosen by -i and -x
};

// The document being written.
struct JsonListing {
  JsonWriter writer;
  size_t archives = 0;
  size_t entries = 0;   // of the archive being written
  bool loaded = false;  // the archive being written has entries to follow
};

// Starts the document: the name encoding in force ("bytes" or the --names code page).
void BeginJsonListing(JsonListing& listing, std::FILE* out, const std::string& nameEncoding);
// Starts an archive's object; a loaded one (outcome "loaded") then takes its entries.
void BeginJsonArchive(JsonListing& listing, const JsonArchive& archive);
void AddJsonEntry(JsonListing& listing, const JsonEntry& entry);
void EndJsonArchive(JsonListing& listing);
void EndJsonListing(JsonListing& listing);

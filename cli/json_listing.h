// `wza list --json`: one JSON document for the whole run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// JSON strings must be UTF-8, archive names need not be: a text that is not valid UTF-8 is
// written with U+FFFD for each byte that is not, and its exact bytes follow in a member of
// the same name with "_hex" appended (two lowercase hex digits a byte). The document says
// so itself, in its "strings" member.
struct JsonEntry {
  std::string name;       // as wza shows it: alias first, "/" between components
  std::string nameError;  // why the name could not be converted, if it could not
  uint32_t size = 0;
  uint32_t storedSize = 0;
  bool compressed = false;
  uint64_t dataOffset = 0;  // from the start of the archive file
  bool extracted = true;    // false: its name is unsafe and extract leaves it out
};

struct JsonArchive {
  std::string path;
  std::string outcome;  // "loaded", or why it was not
  std::string reason;   // the system's or the loader's detail, if any
  uint32_t version = 0;
  uint32_t recordSize = 0;
  std::string alias;
  std::vector<JsonEntry> entries;
  uint64_t leftOut = 0;  // entries not chosen by -i and -x
};

// The document: the name encoding in force ("bytes" or the --names code page) and the
// archives in the order given.
std::string JsonListing(const std::string& nameEncoding, const std::vector<JsonArchive>& archives);

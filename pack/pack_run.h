// `wza pack` as one call: a folder laid out as `wza extract` writes an archive, packed into
// an archive --like OLD or as a new one. Prints nothing: what happens comes back in the
// outcome and through the callbacks. A fuzz target packs the extraction of an archive
// --like it with one call, too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "names/entry_pattern.h"

struct PackRequest {
  std::string folder;  // FOLDER
  std::string like;    // OLD, or "" for a new archive
  std::string output;  // "" for FOLDER's archive name beside it (never replacing a file)
  EntryPatterns* patterns = nullptr;  // -x: left out
  std::string codePage;               // --names (Linux)
  int level = 6;
  uint32_t version = 2;      // new archives only
  uint32_t recordSize = 20;  // new archives only
  size_t workers = 1;
};

struct PackCallbacks {
  std::function<void(const std::string& line)> note;  // damaged entries kept, warnings
  std::function<void(const char* phase, uint64_t done, uint64_t total)> progress;
  std::function<bool()> interrupted;  // safe to call from any thread
};

// How a run ended: in every case but Written nothing is written.
enum class PackResult { Written, FilesUnreadable, Refused };

struct PackOutcome {
  PackResult result = PackResult::Written;  // Refused: or the writing failed
  bool interrupted = false;
  std::vector<std::string> problems;  // one line each, nothing written
  std::string output;
  size_t kept = 0;
  size_t replaced = 0;
  size_t added = 0;
  size_t leftOut = 0;
  uint64_t size = 0;
};

PackOutcome PackFolder(const PackRequest& request, const PackCallbacks& callbacks);

// FOLDER's archive beside it: "work/__Data.big" gives "work/Data.big"; false for a folder
// not named __NAME.
bool DefaultOutput(const std::string& folder, std::string& output);

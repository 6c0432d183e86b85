// What a packed archive holds: which of OLD's entries are kept, replaced or left out,
// which files are added, into which folders, in which order. Where the bytes then go is
// the layout's concern (like_layout.h, new_layout.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "names/entry_pattern.h"
#include "names/name_encoding.h"
#include "pack/entry_compare.h"
#include "pack/source_tree.h"

enum class Fate { Kept, Replaced, LeftOut };

// How the bytes of a file become an entry's stored bytes.
enum class DataMode {
  Deflate,  // one zlib stream
  Store,    // as they are
  Smaller,  // deflated unless storing them is smaller
};

struct AddedFile {
  size_t source = 0;    // into SourceTree::files
  std::string name;     // the name recorded in the archive (code page bytes)
  size_t folder = 0;    // into the new folder table (OLD's folders first)
  size_t anchor = 0;    // OLD file index it goes before (the file count: the end)
};

struct PackPlan {
  // By OLD entry.
  std::vector<Fate> fates;
  std::vector<size_t> sources;  // the file a replaced entry takes its bytes from
  std::vector<std::string> keptDamaged;  // "NAME: what is wrong" for damaged entries kept
  // Added files in the order they go into the file table.
  std::vector<AddedFile> added;
  std::vector<std::string> newFolders;  // names (bytes) of folders after OLD's
  uint32_t newFlags = 1;                // for added files that are compressed
  size_t leftOutFiles = 0;              // files of the folder -x left out
  bool Changes() const;
};

// What the plan is made from. Names the user sees are converted by --names (on Windows the
// ANSI code page); `back` converts new names into the archive's code page.
struct PlanInput {
  const ArchiveCatalogue* old = nullptr;  // raw names as loaded
  std::string alias;                      // converted
  bool aliasConverted = true;
  const std::vector<std::string>* entryNames = nullptr;  // converted full names
  std::vector<bool> notConverted;         // by entry; empty: all were
  std::vector<std::string> folderNames;   // converted, without the trailing "\"; "" + flag
  std::vector<bool> folderNotConverted;
  const SourceTree* tree = nullptr;
  const NameEncodingBack* back = nullptr;
  EntryPatterns* patterns = nullptr;  // -x
};

// The comparisons the plan needs before it can be made: each entry that has a file in the
// folder (the last entry of each name, as extraction writes it) and is not left out.
struct Claims {
  std::vector<size_t> fileOf;          // by entry: SourceTree file index, or npos
  std::vector<bool> leftOut;           // by entry
  std::vector<bool> claimed;           // by source file
  std::vector<EntryFilePair> pairs;  // to compare, in entry order
};
constexpr size_t kNoFile = static_cast<size_t>(-1);

// What keeps a plan from being written: refusals (exit 2) and files that could not be
// read (exit 1), each "PATH: why".
struct PlanProblems {
  std::vector<std::string> refused;
  std::vector<std::string> unreadable;
};

// Which files stand for which entries; files outside the alias folder are refused.
Claims ClaimFiles(const PlanInput& input, PlanProblems& problems);

// The plan from the claims and their comparisons; names that cannot go into the archive
// and counts beyond its limits are refused.
PackPlan MakePlan(const PlanInput& input, const Claims& claims,
                  const std::vector<Comparison>& comparisons, PlanProblems& problems);

// Checks a new file's name and gives its components in the archive's code page; false,
// with the refusal added, when it cannot go into an archive.
bool ArchiveComponents(const SourceTree& tree, const SourceFile& file, size_t skip,
                       const NameEncodingBack& back, PathComponents& bytes, PlanProblems& problems);

// Whether a new name can go into an archive as it is, and whether extract would write a
// file of it (`name` "/"-separated); false, with the refusal naming `path`, when not.
bool NameFitsAnArchive(const std::string& name, const std::string& path, PlanProblems& problems);
bool ExtractWouldWrite(const std::string& name, const std::string& path, bool mustNameFile,
                       PlanProblems& problems);

// Helpers shared with the new-archive plan.
// The key two paths of one file share as the file system tells paths apart.
std::string PathKey(const PathComponents& components);
// A name split at "\" and "/", empty components left out.
PathComponents SplitName(const std::string& name);
// The components with `separator` between them.
std::string Joined(const PathComponents& components, char separator);

// One extraction run over a list of archives: the logic both the window and `wza extract`
// drive, through a record of callbacks.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "extract/entry_file.h"

// Whether a chosen entry is left out as unchanged, asked before it is written, on the
// thread that extracts it (a worker, with that worker's workspace). Safe from any thread.
using UnchangedTest =
    std::function<bool(OpenArchive& archive, size_t entry, DecodeWorkspace& workspace)>;

struct RunCallbacks {
  // Before each archive is loaded; its index in the list.
  std::function<void(size_t archive)> selectArchive;
  // The two bars in percent; called only when one of them changes.
  std::function<void(int current, int total)> setBars;
  // After each entry, so the caller can keep its window alive.
  std::function<void()> pump;
  // An archive that could not be loaded (every outcome but Loaded), or that ran out of
  // memory while its entries were gone through (OutOfMemory).
  std::function<void(const std::string& path, LoadOutcome outcome, const std::string& detail)>
      reportArchive;
  // A loaded archive that is not extracted because an earlier one of the same file name
  // (`earlier`) was extracted into the same `folder`. Optional.
  std::function<void(const std::string& path, const std::string& earlier,
                     const std::string& folder)>
      reportClash;
  // Tested before each entry; false stops the writing of entries for the rest of the run.
  std::function<bool()> shouldContinue;
  // Optional, for Ctrl-C and the like: tested before each entry and between the blocks of
  // one. True ends the run at once: the entry being written is removed (it counts as
  // failed) and no further archive is opened. With workers it is asked on their threads
  // too, so it must be safe to call from any thread.
  std::function<bool()> interrupted;
  // After each entry, with its name below the archive's folder (alias, "\", full name) and
  // what became of it. Optional.
  std::function<void(const std::string& path, const std::string& name, const EntryResult& result)>
      entryDone;
  // Optional: called once an archive is loaded, before renameEntries (the names still as
  // the loader built them). It returns the test of its entries below, or null for none.
  std::function<UnchangedTest(const ArchiveCatalogue& catalogue)> unchangedIn;
  // Optional: called once an archive is loaded, before its entries. It may rewrite the
  // alias and the entry names (into another encoding); it returns, by entry, whether a name
  // could not be rewritten (empty: all could). Such an entry is chosen by the name it has
  // and, if chosen, not written: it fails with NameNotConverted.
  std::function<std::vector<bool>(ArchiveCatalogue& catalogue)> renameEntries;
  // Optional: whether the entry of this name (alias, "\", full name, as entryDone gets it)
  // is extracted at all. An entry left out counts neither as extracted nor as failed.
  std::function<bool(const std::string& name)> chosen;
  // Not a callback: an existing file is kept (EntryStatus::Exists, counted as kept).
  bool keepExisting = false;
};

struct RunSummary {
  uint64_t entriesAttempted = 0;  // entries of loaded archives the run got to, plus damaged ones
  uint64_t entriesFailed = 0;     // of those, the ones not written completely
  uint64_t entriesKept = 0;       // of those, not written because a file was there (Exists)
  uint64_t entriesLeftOut = 0;    // entries of loaded archives that were not chosen
  uint64_t entriesUnchanged = 0;  // chosen, and left out by RunCallbacks::unchangedIn's test:
                                  // neither extracted nor failed
  size_t archivesNotLoaded = 0;   // open failures, unsupported and damaged archives, and
                                  // those that did not fit in memory
  size_t archivesSkipped = 0;     // unrecognised record size: skipped without a message
  size_t archivesClashing = 0;    // not extracted: an earlier one had the same file name
  bool aborted = false;
  bool interrupted = false;  // ended by RunCallbacks::interrupted
};

// The text with a separator added unless it already ends with one: "/", and on Windows
// "\" as well.
std::string WithTrailingSeparator(const std::string& path);

// The part of a path after its last "/"; on Windows after its last "\", "/" or ":".
std::string FileNameOf(const std::string& path);

// Where an archive's entries go: destination + "__" + archive file name + separator,
// followed by the alias and a separator once the archive is loaded.
std::string ArchiveFolderFor(const std::string& destination, const std::string& archivePath);

// trunc(part / whole * 100), computed as the tool always has: in the x87 extended format,
// quotient and product each rounded to nearest. So 53 of 100 gives 52. A whole of 0 gives 0.
// A part beyond the whole gives 100: entries may share stored bytes, so a run can read
// more than its archives hold.
int PercentOf(uint64_t part, uint64_t whole);

// Extracts every archive in turn into its folder below `destination` (which ends with a
// separator). `totalBytes` is the sum of the archives' sizes, for the total bar. Of two
// archives of the same file name (v1/data.big, v2/data.big) only the first loaded one is
// extracted: the second would write over it in the same folder. The second is reported
// and skipped, and the run goes on.
// With `workers` above 1, that many threads extract the entries of each archive side by
// side; the callbacks are still called on the calling thread only, in entry order, with
// the same results as one at a time. The archives themselves are taken one after the other.
RunSummary RunArchives(const std::vector<std::string>& archivePaths, const std::string& destination,
                       uint64_t totalBytes, const RunCallbacks& callbacks, size_t workers = 1);

// Whether archives of `totalBytes` fit in the free clusters of a drive, counted in whole
// clusters by truncating division (total / sectors per cluster / bytes per sector), so a
// total one byte short of a cluster does not count that cluster. Equal fits.
bool FitsInFreeClusters(uint64_t totalBytes, uint32_t sectorsPerCluster, uint32_t bytesPerSector,
                        uint64_t freeClusters);

// "Done", followed by a blank line and "N of M entries could not be extracted." when
// some entries did not come out whole, and a line for archives skipped for their names.
std::string DoneMessage(const RunSummary& summary);

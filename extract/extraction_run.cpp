#include "extract/extraction_run.h"

#include <new>
#include <unordered_map>

#include "extract/parallel_run.h"
#include "extract/safe_name.h"
#include "platform/file_io.h"

namespace {

// Keeps the bars' last values so the caller hears only of changes.
struct Bars {
  const RunCallbacks& callbacks;
  int current = 0;  // the idle window's bars read 0
  int total = 0;

  void Set(int newCurrent, int newTotal) {
    if (newCurrent == current && newTotal == total) return;
    current = newCurrent;
    total = newTotal;
    if (callbacks.setBars) callbacks.setBars(current, total);
  }
};

// An archive's folder as the file system tells folders apart.
std::string FolderKey(const std::string& archivePath) {
  std::string key = FileNameOf(archivePath);
  if (platform::kNamesIgnoreCase) {
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return key;
}

// What an archive that did not load costs the run.
void CountNotLoaded(LoadOutcome outcome, const ArchiveCatalogue& catalogue, RunSummary& summary) {
  if (outcome == LoadOutcome::UnrecognisedRecordSize) ++summary.archivesSkipped;
  if (outcome == LoadOutcome::OpenFailed || outcome == LoadOutcome::NotSupported ||
      outcome == LoadOutcome::Damaged || outcome == LoadOutcome::OutOfMemory) {
    ++summary.archivesNotLoaded;
  }
  // A damaged archive's entries are all lost: count them (at least one) as failed.
  if (outcome == LoadOutcome::Damaged) {
    const uint64_t lost = catalogue.dataHeader.fileCount > 0 ? catalogue.dataHeader.fileCount : 1;
    summary.entriesAttempted += lost;
    summary.entriesFailed += lost;
  }
}

// What one run keeps from archive to archive.
struct Run {
  const RunCallbacks& callbacks;
  uint64_t totalBytes = 0;
  RunSummary summary;
  Bars bars{callbacks};
  uint64_t bytesDone = 0;
  EntryWorkspace workspace;  // for entries extracted on the calling thread
  EntryPoolPtr pool;         // the threads, when there are workers

  Run(const RunCallbacks& given, uint64_t total) : callbacks(given), totalBytes(total) {}

  bool Interrupted() {
    summary.interrupted = summary.interrupted || (callbacks.interrupted && callbacks.interrupted());
    return summary.interrupted;
  }
  // Tested before each entry is begun.
  bool GoOn() {
    if (Interrupted()) return false;
    if (summary.aborted || (callbacks.shouldContinue && !callbacks.shouldContinue())) {
      summary.aborted = true;
      return false;
    }
    return true;
  }
};

// The bars and the pump after entry `j`, which read `bytesRead` of the archive.
void Progressed(Run& run, const ArchiveCatalogue& catalogue, size_t j, uint64_t bytesRead) {
  run.bytesDone += bytesRead;
  run.bars.Set(PercentOf(j, catalogue.entries.size()), PercentOf(run.bytesDone, run.totalBytes));
  if (run.callbacks.pump) run.callbacks.pump();
}

// After each entry, in entry order and on the calling thread whatever the workers.
void EntryDone(Run& run, const std::string& path, const ArchiveCatalogue& catalogue, size_t j,
               const EntryResult& result) {
  RunSummary& summary = run.summary;
  ++summary.entriesAttempted;
  if (result.status == EntryStatus::Exists) {
    ++summary.entriesKept;  // kept as it was: not written, and not failed either
  } else if (!result.Complete()) {
    ++summary.entriesFailed;
  }
  // Workers may notice an interrupt after the last entry was handed out.
  if (result.status == EntryStatus::Interrupted) summary.interrupted = true;
  if (run.callbacks.entryDone) {
    run.callbacks.entryDone(path, catalogue.alias + '\\' + catalogue.entryNames[j], result);
  }
  Progressed(run, catalogue, j, result.bytesRead);
}

// Writes the entries of a loaded archive below its folder.
void ExtractEntries(Run& run, const std::string& path, OpenArchive& archive,
                    const std::string& destination) {
  ArchiveCatalogue& catalogue = archive.catalogue;
  const RunCallbacks& callbacks = run.callbacks;
  // Before the names are rewritten: the test may match entries by the names as loaded.
  const UnchangedTest unchanged = callbacks.unchangedIn ? callbacks.unchangedIn(catalogue) : nullptr;
  const std::vector<bool> notConverted =
      callbacks.renameEntries ? callbacks.renameEntries(catalogue) : std::vector<bool>();
  // Chosen here, on this thread, before any worker starts: the choice notes what matched.
  std::vector<bool> chosen(catalogue.entries.size(), true);
  for (size_t j = 0; callbacks.chosen && j < chosen.size(); ++j) {
    chosen[j] = callbacks.chosen(catalogue.alias + '\\' + catalogue.entryNames[j]);
  }
  // Below the destination: the archive's folder and the alias, where no link is followed.
  const std::string outputFolder =
      ArchiveFolderFor("", path) + ToNativeSeparators(catalogue.alias) + platform::kPathSeparator;
  // The alias becomes a folder too: one that would leave the destination writes nothing.
  const bool aliasSafe = IsSafeRelativePath(catalogue.alias, false);
  // Set by the thread that tests entry j, read once j is reported.
  std::vector<char> leftUnchanged(unchanged ? catalogue.entries.size() : 0, 0);
  EntryBatch batch;
  batch.count = catalogue.entries.size();
  batch.work = [&](size_t j, EntryWorkspace& own) {
    EntryResult result;
    if (!chosen[j]) return result;
    if (unchanged && unchanged(archive, j, own.decode)) {
      leftUnchanged[j] = 1;
      result.bytesRead = catalogue.entries[j].storedSize;
      return result;
    }
    own.keepExisting = callbacks.keepExisting;
    if (j < notConverted.size() && notConverted[j]) {
      result.status = EntryStatus::NameNotConverted;
    } else if (aliasSafe) {
      result = ExtractEntry(archive, j, destination, outputFolder, own);
    } else {
      result.status = EntryStatus::UnsafeName;
    }
    return result;
  };
  // Below the output root, which every entry shares.
  batch.pathOf = [&](size_t j) {
    return chosen[j] ? ToNativeSeparators(catalogue.entryNames[j]) : std::string();
  };
  batch.goOn = [&] { return run.GoOn(); };
  batch.report = [&](size_t j, const EntryResult& result) {
    if (!chosen[j]) {
      ++run.summary.entriesLeftOut;
    } else if (!leftUnchanged.empty() && leftUnchanged[j]) {
      ++run.summary.entriesUnchanged;
      Progressed(run, catalogue, j, result.bytesRead);
    } else {
      EntryDone(run, path, catalogue, j, result);
    }
  };
  RunBatch(run.pool.get(), run.workspace, batch);
}

// An archive whose names, or the work on them, do not fit in memory fails alone: what it
// held is let go of and the run goes on with the next one.
void ExtractLoaded(Run& run, const std::string& path, OpenArchive& archive,
                   const std::string& destination) {
  try {
    ExtractEntries(run, path, archive, destination);
  } catch (const std::bad_alloc&) {
    archive = OpenArchive();
    ++run.summary.archivesNotLoaded;
    if (run.callbacks.reportArchive) {
      run.callbacks.reportArchive(path, LoadOutcome::OutOfMemory,
                                  "going through its entries");
    }
  }
}

}  // namespace

std::string WithTrailingSeparator(const std::string& path) {
  if (!path.empty() && platform::IsPathSeparator(path.back())) return path;
  return path + platform::kPathSeparator;
}

std::string FileNameOf(const std::string& path) {
  const size_t cut = path.find_last_of(platform::kFileNameCuts);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string ArchiveFolderFor(const std::string& destination, const std::string& archivePath) {
  return destination + "__" + FileNameOf(archivePath) + platform::kPathSeparator;
}

int PercentOf(uint64_t part, uint64_t whole) {
  if (whole == 0) return 0;
  const long double quotient = static_cast<long double>(part) / static_cast<long double>(whole);
  const long double percent = quotient * 100.0L;
  return percent >= 100.0L ? 100 : static_cast<int>(percent);
}

RunSummary RunArchives(const std::vector<std::string>& archivePaths, const std::string& destination,
                       uint64_t totalBytes, const RunCallbacks& callbacks, size_t workers) {
  Run run{callbacks, totalBytes};
  run.workspace.interrupted = callbacks.interrupted;
  run.workspace.keepExisting = callbacks.keepExisting;
  if (workers > 1) {
    run.pool = StartEntryPool(workers, callbacks.interrupted);
  }
  OpenArchive archive;
  std::unordered_map<std::string, std::string> extracted;  // folder key -> archive
  for (size_t k = 0; k < archivePaths.size() && !run.Interrupted(); ++k) {
    const std::string& path = archivePaths[k];
    run.bars.Set(0, run.bars.total);
    if (callbacks.selectArchive) callbacks.selectArchive(k);

    std::string detail;
    const LoadOutcome outcome = LoadCatalogue(path, archive, &detail);
    if (outcome != LoadOutcome::Loaded) {
      CountNotLoaded(outcome, archive.catalogue, run.summary);
      if (callbacks.reportArchive) callbacks.reportArchive(path, outcome, detail);
      continue;
    }
    const auto taken = extracted.emplace(FolderKey(path), path);
    if (!taken.second) {
      ++run.summary.archivesClashing;
      if (callbacks.reportClash) {
        callbacks.reportClash(path, taken.first->second, ArchiveFolderFor(destination, path));
      }
    } else {
      ExtractLoaded(run, path, archive, destination);
    }
    archive.file.reset();
  }
  return run.summary;
}

bool FitsInFreeClusters(uint64_t totalBytes, uint32_t sectorsPerCluster, uint32_t bytesPerSector,
                        uint64_t freeClusters) {
  if (sectorsPerCluster == 0 || bytesPerSector == 0) return true;  // nothing known to compare
  return totalBytes / sectorsPerCluster / bytesPerSector <= freeClusters;
}

std::string DoneMessage(const RunSummary& summary) {
  std::string message = "Done";
  if (summary.entriesFailed > 0 || summary.archivesClashing > 0) message += "\n";
  if (summary.entriesFailed > 0) {
    message += "\n" + std::to_string(summary.entriesFailed) + " of " +
               std::to_string(summary.entriesAttempted) + " entries could not be extracted.";
  }
  if (summary.archivesClashing == 1) {
    message += "\n1 archive was not extracted: an earlier one of the same name went to its folder.";
  } else if (summary.archivesClashing > 1) {
    message +=
        "\n" + std::to_string(summary.archivesClashing) +
        " archives were not extracted: earlier ones of the same names went to their folders.";
  }
  return message;
}

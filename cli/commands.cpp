#include "cli/commands.h"

#include <cinttypes>
#include <cstdio>

#include "archive/catalogue.h"
#include "cli/printable_text.h"
#include "cli/progress_line.h"
#include "extract/destination.h"
#include "extract/entry_extract.h"
#include "extract/extraction_run.h"
#include "extract/parallel_run.h"
#include "extract/safe_name.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"

namespace {

// The entry's path below the archive's folder as it is written: alias first, "/" between
// components, the empty components of doubled separators left out.
std::string DisplayName(const std::string& alias, const std::string& name) {
  std::string shown;
  std::string component;
  const std::string whole = alias + "/" + name;
  for (size_t i = 0; i <= whole.size(); ++i) {
    if (i == whole.size() || whole[i] == '\\' || whole[i] == '/') {
      if (!component.empty()) {
        if (!shown.empty()) shown += '/';
        shown += component;
      }
      component.clear();
    } else {
      component += whole[i];
    }
  }
  return shown;
}

// One line on stderr. Whatever it names goes through PrintableText: names and paths come
// from archives and command lines, and may hold bytes that drive the terminal.
void PrintError(const std::string& message) {
  std::fprintf(stderr, "wza: %s\n", PrintableText(message).c_str());
}

void ReportLoadFailure(const std::string& path, LoadOutcome outcome, const std::string& detail) {
  std::string message = LoadOutcomeMessage(outcome, path);
  if (outcome == LoadOutcome::NotSupported) message = path + ": " + message;
  if (outcome == LoadOutcome::UnrecognisedRecordSize) message = path + ": skipped";
  if (message.empty()) return;
  if (!detail.empty()) message += ": " + detail;
  PrintError(message);
}

// Tallies what happened to each archive for the exit code.
struct Tally {
  size_t archives = 0;
  size_t notLoaded = 0;
  size_t skipped = 0;
  uint64_t entriesFailed = 0;

  int ExitCode() const {
    if (archives > 0 && notLoaded == archives) return kExitFailed;
    return notLoaded + skipped > 0 || entriesFailed > 0 ? kExitPartial : kExitOk;
  }
};

// Loads an archive for list and test; reports and tallies what keeps it from loading.
bool LoadForReading(const std::string& path, ArchiveCatalogue& catalogue, Tally& tally) {
  ++tally.archives;
  std::string detail;
  const LoadOutcome outcome = LoadCatalogue(path, catalogue, &detail);
  if (outcome == LoadOutcome::Loaded) return true;
  if (outcome == LoadOutcome::NoEntries) {
    std::printf("%s: no entries\n", PrintableText(path).c_str());
    return false;
  }
  if (outcome == LoadOutcome::UnrecognisedRecordSize) {
    ++tally.skipped;
  } else {
    ++tally.notLoaded;
  }
  ReportLoadFailure(path, outcome, detail);
  return false;
}

// "a.big: 5 entries ok", or how many are damaged and how many have a name that is not
// extracted: those are intact, and are not called damaged.
std::string TestSummary(const std::string& path, size_t entries, uint64_t damaged,
                        uint64_t unsafe) {
  const std::string shown = PrintableText(path) + ": ";
  const std::string of = " of " + std::to_string(entries) + " entries ";
  if (damaged == 0 && unsafe == 0) return shown + std::to_string(entries) + " entries ok";
  if (unsafe == 0) return shown + std::to_string(damaged) + of + "damaged";
  if (damaged == 0) return shown + std::to_string(unsafe) + of + "with an unsafe name";
  return shown + std::to_string(damaged) + of + "damaged, " + std::to_string(unsafe) +
         " with an unsafe name";
}

}  // namespace

int ListArchives(const CliOptions& options) {
  Tally tally;
  ArchiveCatalogue catalogue;
  for (const std::string& path : options.archives) {
    if (!LoadForReading(path, catalogue, tally)) continue;
    std::printf("Archive: %s\n", PrintableText(path).c_str());
    std::printf(
        "version %" PRIu32 ", record size %" PRIu32 ", alias \"%s\", %zu folders, %zu entries\n",
        catalogue.header.version, catalogue.recordSize, PrintableText(catalogue.alias).c_str(),
        catalogue.folders.size(), catalogue.entries.size());
    std::printf("%12s %12s  %-10s %s\n", "Size", "Stored", "Method", "Name");
    uint64_t size = 0;
    uint64_t stored = 0;
    for (size_t i = 0; i < catalogue.entries.size(); ++i) {
      const FileEntry& entry = catalogue.entries[i];
      size += entry.size;
      stored += entry.storedSize;
      const bool safe = IsSafeRelativePath(catalogue.alias, false) &&
                        IsSafeRelativePath(catalogue.entryNames[i], true);
      std::printf("%12" PRIu32 " %12" PRIu32 "  %-10s %s%s\n", entry.size, entry.storedSize,
                  entry.flags == 0 ? "stored" : "compressed",
                  PrintableText(DisplayName(catalogue.alias, catalogue.entryNames[i])).c_str(),
                  safe ? "" : "  (unsafe name: not extracted)");
    }
    std::printf("%12" PRIu64 " %12" PRIu64 "  %-10s %zu entries\n\n", size, stored, "",
                catalogue.entries.size());
  }
  return tally.ExitCode();
}

int TestArchives(const CliOptions& options) {
  Tally tally;
  ArchiveCatalogue catalogue;
  EntryWorkspace workspace;
  const EntryPoolPtr pool = options.workers > 1
                                ? StartEntryPool(options.workers, workspace.madeFolders, nullptr)
                                : nullptr;
  for (const std::string& path : options.archives) {
    if (!LoadForReading(path, catalogue, tally)) continue;
    const bool aliasSafe = IsSafeRelativePath(catalogue.alias, false);
    uint64_t damaged = 0;
    uint64_t unsafe = 0;
    EntryBatch batch;
    batch.count = catalogue.entries.size();
    batch.work = [&](size_t i, EntryWorkspace& own) {
      const auto discard = [](const unsigned char*, size_t) { return true; };
      EntryResult result = DecodeEntry(catalogue, i, own, discard, [] { return true; });
      if (result.Complete() && !(aliasSafe && IsSafeRelativePath(catalogue.entryNames[i], true))) {
        result.status = EntryStatus::UnsafeName;
      }
      return result;
    };
    batch.report = [&](size_t i, const EntryResult& result) {
      if (result.Complete()) return;
      ++(result.status == EntryStatus::UnsafeName ? unsafe : damaged);
      PrintError(path + ": " + DisplayName(catalogue.alias, catalogue.entryNames[i]) + ": " +
                 DescribeEntryStatus(result));
    };
    RunBatch(pool.get(), workspace, batch);
    tally.entriesFailed += damaged + unsafe;
    if (!options.quiet) {
      std::printf("%s\n", TestSummary(path, catalogue.entries.size(), damaged, unsafe).c_str());
    }
    catalogue.file.reset();
  }
  return tally.ExitCode();
}

int ExtractArchives(const CliOptions& options) {
  const std::string problem = DestinationProblem(options.destination);
  if (!problem.empty()) {
    PrintError(problem);
    return kExitFailed;
  }
  // Like unzip -d, the destination is made if needed: by the first entry written, so that a
  // run that reads no archive leaves nothing behind.
  const std::string destination = WithTrailingSeparator(options.destination);

  uint64_t totalBytes = 0;
  for (const std::string& path : options.archives) {
    uint64_t size = 0;
    if (platform::FileSizeAt(path, size)) totalBytes += size;
  }

  ProgressLine progress;
  progress.enabled = !options.quiet && StderrIsTerminal();
  Tally tally;
  tally.archives = options.archives.size();
  RunCallbacks callbacks;
  callbacks.selectArchive = [&](size_t k) { progress.label = PrintableText(options.archives[k]); };
  callbacks.setBars = [&](int, int total) { DrawProgress(progress, total); };
  callbacks.reportArchive = [&](const std::string& path, LoadOutcome outcome,
                                const std::string& detail) {
    if (outcome == LoadOutcome::NoEntries) return;
    ClearProgress(progress);
    ReportLoadFailure(path, outcome, detail);
  };
  callbacks.reportClash = [&](const std::string& path, const std::string& earlier,
                              const std::string& folder) {
    ClearProgress(progress);
    PrintError(path + ": not extracted, same name as " + earlier + ": both would go to " + folder);
  };
  callbacks.entryDone = [&](const std::string& path, const std::string& name,
                            const EntryResult& result) {
    if (result.Complete()) return;
    ClearProgress(progress);
    PrintError(path + ": " + DisplayName("", name) + ": " + DescribeEntryStatus(result));
  };
  // Ctrl-C stops the run between two blocks instead of leaving half a file.
  platform::CatchInterrupts();
  callbacks.interrupted = platform::Interrupted;
  const RunSummary summary =
      RunArchives(options.archives, destination, totalBytes, callbacks, options.workers);
  ClearProgress(progress);
  if (summary.interrupted) {
    const uint64_t extracted = summary.entriesAttempted - summary.entriesFailed;
    PrintError("interrupted after extracting " + std::to_string(extracted) +
               (extracted == 1 ? " entry" : " entries") + " into " + destination);
    return platform::InterruptExitCode();
  }

  tally.notLoaded = summary.archivesNotLoaded;
  tally.skipped = summary.archivesSkipped + summary.archivesClashing;
  tally.entriesFailed = summary.entriesFailed;
  if (!options.quiet) {
    std::printf("%" PRIu64 " of %" PRIu64 " entries extracted into %s\n",
                summary.entriesAttempted - summary.entriesFailed, summary.entriesAttempted,
                PrintableText(destination).c_str());
  }
  return tally.ExitCode();
}

#include "cli/commands.h"

#include <cinttypes>
#include <cstdio>
#include <functional>
#include <new>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "archive/catalogue.h"
#include "cli/changed_from.h"
#include "cli/json_listing.h"
#include "cli/progress_line.h"
#include "cli/shown_entries.h"
#include "extract/destination.h"
#include "extract/entry_file.h"
#include "extract/extraction_run.h"
#include "extract/parallel_run.h"
#include "extract/safe_name.h"
#include "names/printable_text.h"
#include "platform/file_io.h"
#include "platform/interrupt.h"

namespace {

void ReportLoadFailure(const std::string& path, LoadOutcome outcome, const std::string& detail) {
  PrintError(LoadFailureLine(path, outcome, detail, "skipped"));
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

// Loads an archive for list, test and extract -p; reports and tallies what keeps it from
// loading. An archive without entries is noted on `notes` (none: not at all).
LoadOutcome LoadForReading(const std::string& path, OpenArchive& archive, Tally& tally,
                           std::FILE* notes, std::string* detail = nullptr) {
  ++tally.archives;
  std::string reason;
  const LoadOutcome outcome = LoadCatalogue(path, archive, &reason);
  if (detail != nullptr) *detail = reason;
  if (outcome == LoadOutcome::Loaded) return outcome;
  if (outcome == LoadOutcome::NoEntries) {
    if (notes != nullptr) std::fprintf(notes, "%s: no entries\n", PrintableText(path).c_str());
    return outcome;
  }
  if (outcome == LoadOutcome::UnrecognisedRecordSize) {
    ++tally.skipped;
  } else {
    ++tally.notLoaded;
  }
  ReportLoadFailure(path, outcome, reason);
  return outcome;
}

// Called with a loaded archive before its names are converted.
using BeforeShown = std::function<void(const ArchiveCatalogue& catalogue)>;

// Loads an archive and shows its entries (LoadForReading, ShowEntries). Names that do not
// fit in memory, or the work on them, fail this archive alone: what it held is let go of.
LoadOutcome LoadShown(CliOptions& options, const std::string& path, OpenArchive& archive,
                      Tally& tally, std::FILE* notes, ShownEntries& shown,
                      std::string* detail = nullptr, const BeforeShown& beforeShown = nullptr) {
  shown = ShownEntries();
  const LoadOutcome outcome = LoadForReading(path, archive, tally, notes, detail);
  if (outcome != LoadOutcome::Loaded) return outcome;
  try {
    if (beforeShown) beforeShown(archive.catalogue);
    shown = ShowEntries(options.names, options.patterns, archive.catalogue);
    return outcome;
  } catch (const std::bad_alloc&) {
    archive = OpenArchive();
    shown = ShownEntries();
  }
  ++tally.notLoaded;
  const std::string reason = "going through its entries";
  if (detail != nullptr) *detail = reason;
  ReportLoadFailure(path, LoadOutcome::OutOfMemory, reason);
  return LoadOutcome::OutOfMemory;
}

// Why an entry did not come out whole; a name that was not converted names its code page.
std::string EntryProblem(const CliOptions& options, const EntryResult& result) {
  if (result.status == EntryStatus::NameNotConverted) {
    return "name not valid " + options.names.codePage + ", not extracted";
  }
  return DescribeEntryStatus(result);
}

// Patterns that matched no entry of any archive are named, and make a clean run partial.
int WithPatternsReported(const CliOptions& options, int exitCode) {
  const std::vector<std::string> unmatched = UnmatchedPatterns(options.patterns);
  for (const std::string& pattern : unmatched) PrintError("pattern matched no entry: " + pattern);
  return !unmatched.empty() && exitCode == kExitOk ? kExitPartial : exitCode;
}

std::string LeftOut(uint64_t count) {
  return count == 0 ? "" : ", " + std::to_string(count) + " left out";
}

// "a.big: 5 entries ok", or how many are damaged and how many have a name that is not
// extracted: those are intact, and are not called damaged. Entries -i and -x left out
// are counted last.
std::string TestSummary(const std::string& path, size_t entries, uint64_t damaged, uint64_t unsafe,
                        uint64_t leftOut) {
  const std::string of = " of " + std::to_string(entries) + " entries ";
  std::string counts;
  if (damaged == 0 && unsafe == 0) {
    counts = std::to_string(entries) + " entries ok";
  } else if (unsafe == 0) {
    counts = std::to_string(damaged) + of + "damaged";
  } else if (damaged == 0) {
    counts = std::to_string(unsafe) + of + "with an unsafe name";
  } else {
    counts = std::to_string(damaged) + of + "damaged, " + std::to_string(unsafe) +
             " with an unsafe name";
  }
  return PrintableText(path) + ": " + counts + LeftOut(leftOut);
}

const char* OutcomeText(LoadOutcome outcome) {
  switch (outcome) {
    case LoadOutcome::Loaded:
      return "loaded";
    case LoadOutcome::OpenFailed:
      return "cannot be opened";
    case LoadOutcome::NotSupported:
      return "not supported";
    case LoadOutcome::NoEntries:
      return "no entries";
    case LoadOutcome::UnrecognisedRecordSize:
      return "unrecognised record size";
    case LoadOutcome::Damaged:
      return "damaged";
    case LoadOutcome::OutOfMemory:
      return "not enough memory";
  }
  return "unknown";
}

bool SafeToExtract(const ArchiveCatalogue& catalogue, size_t index) {
  return IsSafeRelativePath(catalogue.alias, false) &&
         IsSafeRelativePath(catalogue.entryNames[index], true);
}

void PrintListing(const std::string& path, const ArchiveCatalogue& catalogue,
                  const ShownEntries& shown) {
  std::printf("Archive: %s\n", PrintableText(path).c_str());
  std::printf(
      "version %" PRIu32 ", record size %" PRIu32 ", alias \"%s\", %zu folders, %zu entries\n",
      catalogue.header.version, catalogue.recordSize, PrintableText(catalogue.alias).c_str(),
      catalogue.folders.size(), catalogue.entries.size());
  std::printf("%12s %12s  %-10s %s\n", "Size", "Stored", "Method", "Name");
  uint64_t size = 0;
  uint64_t stored = 0;
  for (size_t i = 0; i < catalogue.entries.size(); ++i) {
    if (!shown.chosen[i]) continue;
    const FileEntry& entry = catalogue.entries[i];
    size += entry.size;
    stored += entry.storedSize;
    const char* mark = NotConverted(shown, i)         ? "  (name not converted: not extracted)"
                       : !SafeToExtract(catalogue, i) ? "  (unsafe name: not extracted)"
                                                      : "";
    std::printf("%12" PRIu32 " %12" PRIu32 "  %-10s %s%s\n", entry.size, entry.storedSize,
                entry.flags == 0 ? "stored" : "compressed", PrintableText(shown.names[i]).c_str(),
                mark);
  }
  std::printf("%12" PRIu64 " %12" PRIu64 "  %-10s %zu entries%s\n\n", size, stored, "",
              catalogue.entries.size() - static_cast<size_t>(shown.leftOut),
              LeftOut(shown.leftOut).c_str());
}

// One archive's object of the JSON listing, its entries written one by one.
void ListAsJson(JsonListing& listing, const std::string& path, LoadOutcome outcome,
                const std::string& detail, const ArchiveCatalogue& catalogue,
                const ShownEntries& shown, const CliOptions& options) {
  JsonArchive archive;
  archive.path = AsUtf8(path);
  archive.outcome = OutcomeText(outcome);
  archive.reason = detail;
  if (outcome == LoadOutcome::Loaded) {
    archive.version = catalogue.header.version;
    archive.recordSize = catalogue.recordSize;
    archive.alias = AsUtf8(catalogue.alias);
    archive.leftOut = shown.leftOut;
  }
  BeginJsonArchive(listing, archive);
  for (size_t i = 0; outcome == LoadOutcome::Loaded && i < catalogue.entries.size(); ++i) {
    if (!shown.chosen[i]) continue;
    const FileEntry& entry = catalogue.entries[i];
    JsonEntry listed;
    listed.name = AsUtf8(shown.names[i]);
    if (NotConverted(shown, i)) listed.nameError = "not valid " + options.names.codePage;
    listed.size = entry.size;
    listed.storedSize = entry.storedSize;
    listed.compressed = entry.flags != 0;
    listed.dataOffset = static_cast<uint64_t>(catalogue.header.dataOffset) + entry.dataOffset;
    listed.extracted = !NotConverted(shown, i) && SafeToExtract(catalogue, i);
    AddJsonEntry(listing, listed);
  }
  EndJsonArchive(listing);
}

// Writes to standard output as they are: no line-end translation on Windows either.
void MakeStandardOutputBinary() {
#ifdef _WIN32
  std::fflush(stdout);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
}

bool WriteToStandardOutput(const unsigned char* data, size_t length) {
  return std::fwrite(data, 1, length, stdout) == length;
}

// "3 of 3 entries extracted into out/", with what -n kept and -i and -x left out.
std::string ExtractSummary(const RunSummary& summary, const CliOptions& options,
                           const std::string& destination) {
  const uint64_t extracted = summary.entriesAttempted - summary.entriesFailed - summary.entriesKept;
  std::string line = std::to_string(extracted) + " of " + std::to_string(summary.entriesAttempted) +
                     (HasPatterns(options.patterns) ? " chosen" : "") + " entries extracted into " +
                     PrintableText(destination);
  if (options.keepExisting)
    line += ", " + std::to_string(summary.entriesKept) + " already there and kept";
  if (!options.changedFrom.empty())
    line += ", " + std::to_string(summary.entriesUnchanged) + " left out as unchanged";
  return line + LeftOut(summary.entriesLeftOut);
}

// What `wza extract` does at each step of the run: the bar, the messages, and the names
// and choices of --names, -i, -x and -n.
RunCallbacks ExtractCallbacks(CliOptions& options, ProgressLine& progress) {
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
    if (result.Complete() || result.status == EntryStatus::Exists) return;
    ClearProgress(progress);
    PrintError(path + ": " + ShownName(name) + ": " + EntryProblem(options, result));
  };
  if (options.names.converter) {
    callbacks.renameEntries = [&](ArchiveCatalogue& catalogue) {
      return ConvertCatalogueNames(options.names, catalogue);
    };
  }
  if (HasPatterns(options.patterns)) {
    callbacks.chosen = [&](const std::string& name) {
      return IsChosen(options.patterns, ShownName(name));
    };
  }
  callbacks.keepExisting = options.keepExisting;
  return callbacks;
}

int ExtractToStandardOutput(CliOptions& options, ChangedFrom* changedFrom) {
  MakeStandardOutputBinary();
  Tally tally;
  OpenArchive archive;
  const ArchiveCatalogue& catalogue = archive.catalogue;
  EntryWorkspace workspace;
  ShownEntries shown;
  UnchangedTest unchanged;
  const BeforeShown matchNames = [&](const ArchiveCatalogue& loaded) {
    unchanged = UnchangedTestFor(*changedFrom, loaded);
  };
  for (const std::string& path : options.archives) {
    if (LoadShown(options, path, archive, tally, stderr, shown, nullptr,
                  changedFrom ? matchNames : nullptr) != LoadOutcome::Loaded) {
      continue;
    }
    for (size_t i = 0; i < catalogue.entries.size(); ++i) {
      if (!shown.chosen[i] || (unchanged && unchanged(archive, i, workspace.decode))) continue;
      // No file is made, so a name that could not be one is no reason to hold the bytes back.
      const EntryResult result = DecodeEntry(archive, i, workspace.decode, WriteToStandardOutput);
      // The reader went away or the disk is full: main says so once the stream is closed.
      if (result.status == EntryStatus::WriteFailed) return kExitFailed;
      if (result.Complete()) continue;
      ++tally.entriesFailed;
      PrintError(path + ": " + shown.names[i] + ": " + EntryProblem(options, result));
    }
    archive.file.reset();
  }
  return WithPatternsReported(options, tally.ExitCode());
}

}  // namespace

int ListArchives(CliOptions& options) {
  Tally tally;
  OpenArchive archive;
  const ArchiveCatalogue& catalogue = archive.catalogue;
  ShownEntries shown;
  JsonListing json;
  if (options.json) BeginJsonListing(json, stdout, NamesReadAs(options.names));
  for (const std::string& path : options.archives) {
    std::string detail;
    const LoadOutcome outcome =
        LoadShown(options, path, archive, tally, options.json ? nullptr : stdout, shown, &detail);
    if (options.json) {
      ListAsJson(json, path, outcome, detail, catalogue, shown, options);
    } else if (outcome == LoadOutcome::Loaded) {
      PrintListing(path, catalogue, shown);
    }
    archive.file.reset();
  }
  if (options.json) EndJsonListing(json);
  return WithPatternsReported(options, tally.ExitCode());
}

int TestArchives(CliOptions& options) {
  Tally tally;
  OpenArchive archive;
  const ArchiveCatalogue& catalogue = archive.catalogue;
  EntryWorkspace workspace;
  const EntryPoolPtr pool =
      options.workers > 1 ? StartEntryPool(options.workers, nullptr) : nullptr;
  ShownEntries shown;
  for (const std::string& path : options.archives) {
    if (LoadShown(options, path, archive, tally, stdout, shown) != LoadOutcome::Loaded) continue;
    uint64_t damaged = 0;
    uint64_t unsafe = 0;
    EntryBatch batch;
    batch.count = catalogue.entries.size();
    batch.work = [&](size_t i, EntryWorkspace& own) {
      EntryResult result;
      if (!shown.chosen[i]) return result;
      const auto discard = [](const unsigned char*, size_t) { return true; };
      result = DecodeEntry(archive, i, own.decode, discard, [] { return true; });
      if (result.Complete() && NotConverted(shown, i)) {
        result.status = EntryStatus::NameNotConverted;
      } else if (result.Complete() && !SafeToExtract(catalogue, i)) {
        result.status = EntryStatus::UnsafeName;
      }
      return result;
    };
    batch.report = [&](size_t i, const EntryResult& result) {
      if (!shown.chosen[i] || result.Complete()) return;
      const bool badName = result.status == EntryStatus::UnsafeName ||
                           result.status == EntryStatus::NameNotConverted;
      ++(badName ? unsafe : damaged);
      PrintError(path + ": " + shown.names[i] + ": " + EntryProblem(options, result));
    };
    RunBatch(pool.get(), workspace, batch);
    tally.entriesFailed += damaged + unsafe;
    if (!options.quiet) {
      const size_t chosen = catalogue.entries.size() - static_cast<size_t>(shown.leftOut);
      std::printf("%s\n", TestSummary(path, chosen, damaged, unsafe, shown.leftOut).c_str());
    }
    archive.file.reset();
  }
  return WithPatternsReported(options, tally.ExitCode());
}

int ExtractArchives(CliOptions& options) {
  const std::string problem =
      options.toStandardOutput ? std::string() : DestinationProblem(options.destination);
  if (!problem.empty()) {
    PrintError(problem);
    return kExitFailed;
  }
  // Loaded once for every archive; one that does not load extracts nothing at all.
  ChangedFrom old;
  ChangedFrom* changedFrom = options.changedFrom.empty() ? nullptr : &old;
  if (changedFrom && !LoadChangedFrom(options.changedFrom, old)) return kExitFailed;
  if (options.toStandardOutput) return ExtractToStandardOutput(options, changedFrom);
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
  RunCallbacks callbacks = ExtractCallbacks(options, progress);
  if (changedFrom) {
    callbacks.unchangedIn = [&](const ArchiveCatalogue& catalogue) {
      return UnchangedTestFor(*changedFrom, catalogue);
    };
  }
  // Ctrl-C stops the run between two blocks instead of leaving half a file.
  platform::CatchInterrupts();
  callbacks.interrupted = platform::Interrupted;
  const RunSummary summary =
      RunArchives(options.archives, destination, totalBytes, callbacks, options.workers);
  ClearProgress(progress);
  if (summary.interrupted) {
    const uint64_t extracted =
        summary.entriesAttempted - summary.entriesFailed - summary.entriesKept;
    PrintError("interrupted after extracting " + std::to_string(extracted) +
               (extracted == 1 ? " entry" : " entries") + " into " + destination);
    return platform::InterruptExitCode();
  }

  tally.notLoaded = summary.archivesNotLoaded;
  tally.skipped = summary.archivesSkipped + summary.archivesClashing;
  tally.entriesFailed = summary.entriesFailed;
  if (!options.quiet) std::printf("%s\n", ExtractSummary(summary, options, destination).c_str());
  return WithPatternsReported(options, tally.ExitCode());
}

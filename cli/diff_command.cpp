#include "cli/diff_command.h"

#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/json_writer.h"
#include "cli/option_values.h"
#include "cli/shown_entries.h"
#include "decode/archive_diff.h"
#include "extract/pair_runner.h"
#include "names/printable_text.h"
#include "platform/interrupt.h"

namespace {

struct DiffOptions {
  std::vector<std::string> archives;  // OLD and NEW
  bool quiet = false;
  bool verbose = false;  // -v: the entries with the same content too
  bool json = false;
  EntryPatterns patterns;
  NameEncoding names;
  size_t workers = 1;
};

// One option at argv[i]; "" when it is fine, else what is wrong.
std::string ParseOption(const std::string& arg, int argc, char** argv, int& i,
                        DiffOptions& options) {
  if (IsQuiet(arg)) {
    options.quiet = true;
  } else if (IsHelp(arg)) {
    return kHelpShown;
  } else if (arg == "-v") {
    options.verbose = true;
  } else if (arg == "--json") {
    options.json = true;
  } else if (IsWorkers(arg)) {
    return TakeWorkers(arg, argc, argv, i, options.workers);
  } else if (TakesValue(arg, "-i") || TakesValue(arg, "-x")) {
    return TakePattern(arg, argc, argv, i, options.patterns);
  } else if (TakesValue(arg, "--names")) {
    return TakeNames(arg, argc, argv, i, options.names);
  } else {
    return "unknown option '" + arg + "' for diff";
  }
  return "";
}

std::string ParseDiffOptions(int argc, char** argv, DiffOptions& options) {
  const std::string problem = WalkArguments(
      argc, argv, options.archives,
      [&](const std::string& arg, int& i) { return ParseOption(arg, argc, argv, i, options); });
  if (!problem.empty()) return problem;
  if (options.archives.size() != 2) return "diff takes two archives, OLD and NEW";
  return "";
}

// One archive of the two, its entries as `list` shows them.
struct DiffSide {
  std::string path;
  OpenArchive archive;
  ShownEntries shown;
};

// Entries are matched by the bytes of their names: --names converts a copy, which names
// are shown and chosen by.
ShownEntries ShowSide(DiffOptions& options, ArchiveCatalogue& catalogue) {
  if (!options.names.converter) return ShowEntries(options.names, options.patterns, catalogue);
  ArchiveCatalogue converted = catalogue;
  return ShowEntries(options.names, options.patterns, converted);
}

// False, with its line on stderr, for an archive that does not load. One without entries
// is compared as empty.
bool LoadSide(DiffOptions& options, DiffSide& side) {
  std::string detail;
  const LoadOutcome outcome = LoadCatalogue(side.path, side.archive, &detail);
  if (outcome != LoadOutcome::Loaded && outcome != LoadOutcome::NoEntries) {
    PrintError(LoadFailureLine(side.path, outcome, detail));
    return false;
  }
  side.shown = ShowSide(options, side.archive.catalogue);
  return true;
}

struct DiffSides {
  DiffSide older;
  DiffSide newer;
};

// "old: damaged zlib stream", "new: ...", or both, for an entry not whole on a side.
std::string WhyUnreadable(const PairComparison& comparison) {
  std::string why;
  if (!comparison.oldResult.Complete()) why = "old: " + DescribeEntryStatus(comparison.oldResult);
  if (!comparison.newResult.Complete()) {
    why += (why.empty() ? "new: " : "; new: ") + DescribeEntryStatus(comparison.newResult);
  }
  return why;
}

// For the same content: how the two store it, when not alike ("" when alike).
std::string StoredNote(const DiffSides& sides, const DiffLine& line) {
  if (line.comparison.storedAlike) return "";
  const bool wasCompressed = sides.older.archive.catalogue.entries[line.oldEntry].flags != 0;
  const bool isCompressed = sides.newer.archive.catalogue.entries[line.newEntry].flags != 0;
  if (wasCompressed && isCompressed) return "compressed differently";
  if (wasCompressed) return "stored differently: was compressed, now stored";
  if (isCompressed) return "stored differently: was stored, now compressed";
  return "stored differently";
}

const std::string& OldName(const DiffSides& sides, const DiffLine& line) {
  return sides.older.shown.names[line.oldEntry];
}
const std::string& NewName(const DiffSides& sides, const DiffLine& line) {
  return sides.newer.shown.names[line.newEntry];
}

std::string TextLine(const DiffSides& sides, const DiffLine& line) {
  switch (line.kind) {
    case DiffKind::Same: {
      const std::string note = StoredNote(sides, line);
      return "= " + NewName(sides, line) + (note.empty() ? "" : " (" + note + ")");
    }
    case DiffKind::Changed:
      return "M " + NewName(sides, line);
    case DiffKind::Added:
      return "A " + NewName(sides, line);
    case DiffKind::Removed:
      return "D " + OldName(sides, line);
    case DiffKind::Moved:
      return "R " + OldName(sides, line) + " -> " + NewName(sides, line);
    case DiffKind::Unreadable:
      return "! " + NewName(sides, line) + ": " + WhyUnreadable(line.comparison);
  }
  return "";
}

const char* KindWord(DiffKind kind) {
  switch (kind) {
    case DiffKind::Same:
      return "same";
    case DiffKind::Changed:
      return "changed";
    case DiffKind::Added:
      return "added";
    case DiffKind::Removed:
      return "removed";
    case DiffKind::Moved:
      return "moved";
    case DiffKind::Unreadable:
      return "unreadable";
  }
  return "";
}

// One side's size and method: "old_size": N, "old_method": "compressed".
void PutSide(JsonWriter& json, const char* side, const FileEntry& entry) {
  PutJson(json, ", ");
  PutJsonNumber(json, std::string(side) + "_size", entry.size);
  PutJson(json, std::string(", \"") + side + "_method\": \"" +
                    (entry.flags != 0 ? "compressed" : "stored") + "\"");
}

void PutDifference(JsonWriter& json, const DiffSides& sides, const DiffLine& line, bool first) {
  PutJson(json, std::string(first ? "\n    {" : ",\n    {") + "\"kind\": \"" + KindWord(line.kind) +
                    "\", ");
  const bool removed = line.kind == DiffKind::Removed;
  PutJsonText(json, "name", AsUtf8(removed ? OldName(sides, line) : NewName(sides, line)));
  if (line.kind == DiffKind::Moved) {
    PutJson(json, ", ");
    PutJsonText(json, "old_name", AsUtf8(OldName(sides, line)));
  }
  if (line.oldEntry != kNoEntry) {
    PutSide(json, "old", sides.older.archive.catalogue.entries[line.oldEntry]);
  }
  if (line.newEntry != kNoEntry) {
    PutSide(json, "new", sides.newer.archive.catalogue.entries[line.newEntry]);
  }
  if (line.kind == DiffKind::Same) {
    PutJson(json,
            std::string(", \"stored_alike\": ") + (line.comparison.storedAlike ? "true" : "false"));
  }
  if (line.kind == DiffKind::Unreadable) {
    PutJson(json, ", ");
    PutJsonText(json, "why", WhyUnreadable(line.comparison));
  }
  PutJson(json, "}");
}

void PrintJson(const DiffOptions& options, const DiffSides& sides, const DiffOutcome& outcome) {
  JsonWriter json;
  json.out = stdout;
  PutJson(json, "{\n  \"format\": \"wza-diff 1\",\n  \"strings\": \"" +
                    std::string(kJsonStringsNote) + "\",\n  ");
  PutJsonText(json, "names", NamesReadAs(options.names));
  PutJson(json, ",\n  ");
  PutJsonText(json, "old", AsUtf8(sides.older.path));
  PutJson(json, ",\n  ");
  PutJsonText(json, "new", AsUtf8(sides.newer.path));
  PutJson(json, ",\n  \"differences\": [");
  bool first = true;
  for (const DiffLine& line : outcome.lines) {
    if (line.kind == DiffKind::Same && !options.verbose) continue;
    PutDifference(json, sides, line, first);
    first = false;
  }
  PutJson(json, "]\n}\n");
  FlushJson(json);
}

void PrintLines(const DiffOptions& options, const DiffSides& sides, const DiffOutcome& outcome) {
  for (const DiffLine& line : outcome.lines) {
    if (line.kind == DiffKind::Same && !options.verbose) continue;
    // Names come from the archives: printed as `list` prints them, escapes and all.
    std::printf("%s\n", PrintableText(TextLine(sides, line)).c_str());
  }
}

// Compares the two loaded archives' chosen entries on the runner's threads.
DiffOutcome Compare(const DiffOptions& options, DiffSides& sides) {
  DiffChoice choice;
  if (HasPatterns(options.patterns)) {
    choice.oldChosen = [&](size_t entry) { return sides.older.shown.chosen[entry]; };
    choice.newChosen = [&](size_t entry) { return sides.newer.shown.chosen[entry]; };
  }
  // Ctrl-C stops the comparison between two entries.
  platform::CatchInterrupts();
  const JobRunner run = StartPairRunner(options.workers, platform::Interrupted);
  HeldBudget held;
  held.left = kHeldMost;
  return DiffArchives(sides.older.archive, sides.newer.archive, choice, run, &held);
}

}  // namespace

int DiffCommand(int argc, char** argv) {
  DiffOptions options;
  options.workers = AllCores();
  const std::string problem = ParseDiffOptions(argc, argv, options);
  if (problem == kHelpShown) return kHelpAsked;
  if (!problem.empty()) return UsageError(problem);

  DiffSides sides;
  sides.older.path = options.archives[0];
  sides.newer.path = options.archives[1];
  const bool oldLoaded = LoadSide(options, sides.older);
  if (!LoadSide(options, sides.newer) || !oldLoaded) return kExitFailed;

  const DiffOutcome outcome = Compare(options, sides);
  if (!outcome.completed) {
    PrintError("interrupted before the comparison ended: nothing shown");
    return platform::InterruptExitCode();
  }
  if (!options.quiet && options.json) PrintJson(options, sides, outcome);
  if (!options.quiet && !options.json) PrintLines(options, sides, outcome);

  bool differs = false;
  for (const DiffLine& line : outcome.lines) differs = differs || line.kind != DiffKind::Same;
  // A pattern that chose nothing in either archive leaves the answer open: trouble.
  const std::vector<std::string> unmatched = UnmatchedPatterns(options.patterns);
  for (const std::string& pattern : unmatched) PrintError("pattern matched no entry: " + pattern);
  if (!unmatched.empty()) return kExitFailed;
  return differs ? kExitDiffers : kExitOk;
}

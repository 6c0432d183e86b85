#include "pack/pack_run.h"

#include "archive/catalogue.h"
#include "names/name_encoding.h"
#include "pack/early_copy.h"
#include "pack/entry_compare.h"
#include "pack/like_layout.h"
#include "pack/new_layout.h"
#include "pack/pack_plan.h"
#include "pack/pack_writer.h"
#include "pack/source_tree.h"
#include "platform/file_io.h"

namespace {

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && platform::IsPathSeparator(path.back())) path.pop_back();
  return path;
}

PackOutcome Refused(PackOutcome outcome, std::vector<std::string> problems, PackResult result) {
  outcome.result = result;
  outcome.problems.insert(outcome.problems.end(), problems.begin(), problems.end());
  return outcome;
}

PackOutcome Refused(PackOutcome outcome, const std::string& problem) {
  return Refused(std::move(outcome), {problem}, PackResult::Refused);
}

// A link named as the output (to OLD, say) has the file it finally leads to replaced; a
// link to nothing is itself replaced.
std::string WrittenPath(const std::string& output) {
  std::string target;
  return platform::LinkTarget(output, target) ? target : output;
}

// Refusals about the output, before anything is read.
std::string OutputProblem(const std::string& folder, const std::string& output, bool named) {
  const platform::PathKind kind = platform::KindAt(output);
  if (kind == platform::PathKind::Folder) return output + ": is a folder";
  if (!named && kind != platform::PathKind::Missing) {
    return output + ": is there already; name it with -o to replace it";
  }
  std::string inside;
  std::string around;
  // Judged by where the archive will really be written, not by where the link to it is.
  const std::string written = WrittenPath(output);
  const size_t cut = written.find_last_of(platform::kPathSeparators);
  const std::string outputFolder = cut == std::string::npos ? "."
                                   : cut == 0               ? "/"
                                                            : written.substr(0, cut);
  if (platform::ResolvedPath(folder, inside) && platform::ResolvedPath(outputFolder, around)) {
    const std::string sep(1, platform::kPathSeparator);
    if (around == inside || around.rfind(inside + (inside.back() == sep[0] ? "" : sep), 0) == 0) {
      return output + ": lies inside the folder being packed";
    }
  }
  return "";
}

// Names as the user sees them, by --names (the raw catalogue is kept for the tables).
struct ConvertedNames {
  std::string alias;
  bool aliasConverted = true;
  bool entriesConverted = false;       // else OLD's names are the entries' names
  std::vector<std::string> converted;  // the entries' names, when --names converts them
  std::vector<bool> notConverted;
  std::vector<std::string> folderNames;
  std::vector<bool> folderNotConverted;
};

// Without --names OLD's names are taken as they are, not copied.
void ConvertEntryNames(const ArchiveCatalogue& old, const NameEncoding& encoding,
                       ConvertedNames& names) {
  names.alias = old.alias;
  if (!encoding.converter) return;
  ArchiveCatalogue copy = old;
  names.notConverted = ConvertCatalogueNames(encoding, copy);
  names.alias = copy.alias;
  names.converted = std::move(copy.entryNames);
  names.entriesConverted = true;
}

ConvertedNames ConvertNames(const ArchiveCatalogue& old, const NameEncoding& encoding) {
  ConvertedNames names;
  ConvertEntryNames(old, encoding, names);
  std::string converted;
  names.aliasConverted = ConvertName(encoding, old.alias, converted);
  for (const std::string& name : old.folderNames) {
    const std::string bare = name.substr(0, name.size() - 1);
    const bool ok = ConvertName(encoding, bare, converted);
    names.folderNames.push_back(ok ? converted : bare);
    names.folderNotConverted.push_back(!ok);
  }
  return names;
}

// What one run of pack holds, from the request to the archive written.
struct PackRun {
  const PackRequest& request;
  const PackCallbacks& callbacks;
  PackOutcome outcome;
  std::string folder;
  NameEncoding forward;
  NameEncodingBack back;
  SourceTree tree;
  Layout layout;
  OpenArchive old;
  // The new archive's file when it is made before the plan, to copy OLD into early.
  TemporaryOutput temporary;
  std::vector<CopiedRange> copied;
};

bool Interrupted(PackRun& run) {
  if (run.callbacks.interrupted && run.callbacks.interrupted()) run.outcome.interrupted = true;
  return run.outcome.interrupted;
}

std::vector<std::string> UnmatchedExcludes(const PackRequest& request) {
  return request.patterns != nullptr ? UnmatchedPatterns(*request.patterns)
                                     : std::vector<std::string>();
}

std::string WrittenPath(const PackRun& run) {
  return WrittenPath(run.outcome.output);
}

void DropTemporary(PackRun& run) {
  if (run.temporary.path.empty()) return;
  run.temporary.file.reset();
  platform::RemoveTemporary(run.temporary.path);
  run.temporary.path.clear();
}

// Starts copying OLD into the new archive beside the comparing, where that can be done.
EarlyCopyPtr StartCopying(PackRun& run, const Claims& claims) {
  std::string error;  // the writer tries again, and says why
  if (!EarlyCopyPays(run.old.catalogue, claims) ||
      !CreateTemporaryOutput(WrittenPath(run), run.temporary, error)) {
    return nullptr;
  }
  EarlyCopyInput input;
  input.old = &run.old.catalogue;
  input.oldFile = run.old.file.get();
  input.claims = &claims;
  input.tree = &run.tree;
  input.out = run.temporary.file.get();
  input.level = run.request.level;
  input.interrupted = run.callbacks.interrupted;
  EarlyCopyPtr copy = StartEarlyCopy(input);
  if (!copy) DropTemporary(run);
  return copy;
}

// Compares the claimed entries with their files, copying OLD early beside it where that
// pays; false when interrupted, with the outcome set.
bool CompareClaimed(PackRun& run, const Claims& claims, std::vector<Comparison>& comparisons) {
  uint64_t total = 0;
  for (const EntryFilePair& pair : claims.pairs) {
    total += run.old.catalogue.entries[pair.entry].storedSize;
  }
  EarlyCopyPtr early = StartCopying(run, claims);
  CompareCallbacks callbacks;
  callbacks.progress = [&](uint64_t read) {
    if (run.callbacks.progress) run.callbacks.progress("comparing", read, total);
  };
  if (early) {
    callbacks.compared = [&](size_t i, const Comparison& result) {
      EntryCompared(*early, i, result);
    };
  }
  callbacks.interrupted = run.callbacks.interrupted;
  if (!CompareEntries(run.old, run.tree, claims.pairs, run.request.workers, comparisons,
                      callbacks)) {
    FinishEarlyCopy(std::move(early), true);
    run.outcome.interrupted = true;
    return false;
  }
  run.copied = FinishEarlyCopy(std::move(early), false);
  return true;
}

// What --like OLD makes of the folder: claims, comparisons and the plan. The names and
// comparisons are let go once the plan is made. False with the outcome set.
bool PlanFromFolder(PackRun& run, PackPlan& plan) {
  const ConvertedNames names = ConvertNames(run.old.catalogue, run.forward);
  PlanInput input;
  input.old = &run.old.catalogue;
  input.alias = names.alias;
  input.aliasConverted = names.aliasConverted;
  input.entryNames = names.entriesConverted ? &names.converted : &run.old.catalogue.entryNames;
  input.notConverted = names.notConverted;
  input.folderNames = names.folderNames;
  input.folderNotConverted = names.folderNotConverted;
  input.tree = &run.tree;
  input.back = &run.back;
  input.patterns = run.request.patterns;
  PlanProblems problems;
  const Claims claims = ClaimFiles(input, problems);
  if (!problems.refused.empty()) {
    run.outcome = Refused(std::move(run.outcome), problems.refused, PackResult::Refused);
    return false;
  }
  std::vector<Comparison> comparisons;
  if (!CompareClaimed(run, claims, comparisons)) return false;
  plan = MakePlan(input, claims, comparisons, problems);
  for (const std::string& pattern : UnmatchedExcludes(run.request)) {
    problems.refused.push_back("pattern matched nothing: " + pattern);
  }
  if (!problems.refused.empty() || !problems.unreadable.empty()) {
    std::vector<std::string> all = problems.unreadable;
    all.insert(all.end(), problems.refused.begin(), problems.refused.end());
    run.outcome =
        Refused(std::move(run.outcome), all,
                problems.refused.empty() ? PackResult::FilesUnreadable : PackResult::Refused);
    return false;
  }
  return true;
}

// Plans and lays out the archive --like OLD; false with the outcome set.
bool PlanLike(PackRun& run) {
  PackPlan plan;
  if (!PlanFromFolder(run, plan)) return false;
  std::string problem;
  if (!LayoutLike(run.old, plan, run.tree, run.layout, problem)) {
    run.outcome = Refused(std::move(run.outcome), problem);
    return false;
  }
  for (const std::string& damaged : plan.keptDamaged) {
    if (run.callbacks.note)
      run.callbacks.note(run.request.like + ": " + damaged + ", kept as it is");
  }
  for (size_t k = 0; k < plan.fates.size(); ++k) {
    ++(plan.fates[k] == Fate::Kept       ? run.outcome.kept
       : plan.fates[k] == Fate::Replaced ? run.outcome.replaced
                                         : run.outcome.leftOut);
  }
  run.outcome.added = plan.added.size();
  run.outcome.leftOut += plan.leftOutFiles;
  return true;
}

bool PlanNew(PackRun& run) {
  NewArchiveInput input;
  input.tree = &run.tree;
  input.back = &run.back;
  input.patterns = run.request.patterns;
  input.version = run.request.version;
  input.recordSize = run.request.recordSize;
  NewArchiveCounts counts;
  PlanProblems problems;
  const bool laidOut = LayoutNew(input, run.layout, counts, problems);
  for (const std::string& pattern : UnmatchedExcludes(run.request)) {
    problems.refused.push_back("pattern matched nothing: " + pattern);
  }
  if (!laidOut || !problems.refused.empty()) {
    run.outcome = Refused(std::move(run.outcome), problems.refused, PackResult::Refused);
    return false;
  }
  run.outcome.added = counts.added;
  run.outcome.leftOut = counts.leftOut;
  if (run.callbacks.note) {
    run.callbacks.note(
        "note: a new archive leaves zero every field wza does not know the use of; a game may "
        "check them: pack --like the original archive to keep them");
  }
  return true;
}

bool Prepare(PackRun& run) {
  const PackRequest& request = run.request;
  if (platform::KindAt(run.folder) != platform::PathKind::Folder) {
    run.outcome = Refused(std::move(run.outcome), run.folder + ": not a folder");
    return false;
  }
  const bool named = !request.output.empty();
  run.outcome.output = request.output;
  if (!named && !DefaultOutput(run.folder, run.outcome.output)) {
    run.outcome = Refused(std::move(run.outcome),
                          run.folder + ": not named __NAME: name the archive to write with -o");
    return false;
  }
  const std::string outputProblem = OutputProblem(run.folder, run.outcome.output, named);
  if (!outputProblem.empty()) {
    run.outcome = Refused(std::move(run.outcome), outputProblem);
    return false;
  }
  std::string reason;
  if (!request.codePage.empty() && (!OpenNameEncoding(request.codePage, run.forward, &reason) ||
                                    !OpenNameEncodingBack(request.codePage, run.back, &reason))) {
    run.outcome = Refused(std::move(run.outcome), "--names " + request.codePage + ": " + reason);
    return false;
  }
  if (!request.like.empty()) {
    const LoadOutcome loaded = LoadCatalogue(request.like, run.old, &reason);
    if (loaded != LoadOutcome::Loaded) {
      const std::string line = LoadFailureLine(request.like, loaded, reason);
      run.outcome = Refused(std::move(run.outcome), line + "; it cannot be packed --like");
      return false;
    }
  }
  run.tree = ScanSourceFolder(run.folder, run.callbacks.interrupted);
  if (Interrupted(run)) return false;
  if (!run.tree.refused.empty()) {
    run.outcome = Refused(std::move(run.outcome), run.tree.refused, PackResult::Refused);
    return false;
  }
  if (!run.tree.unreadable.empty()) {
    run.outcome = Refused(std::move(run.outcome), run.tree.unreadable, PackResult::FilesUnreadable);
    return false;
  }
  return true;
}

}  // namespace

bool DefaultOutput(const std::string& folder, std::string& output) {
  const std::string trimmed = WithoutTrailingSeparators(folder);
  const size_t cut = trimmed.find_last_of(platform::kPathSeparators);
  const std::string name = cut == std::string::npos ? trimmed : trimmed.substr(cut + 1);
  if (name.size() <= 2 || name.compare(0, 2, "__") != 0) return false;
  output = (cut == std::string::npos ? std::string() : trimmed.substr(0, cut + 1)) + name.substr(2);
  return true;
}

namespace {

PackOutcome Pack(PackRun& run) {
  const PackRequest& request = run.request;
  const PackCallbacks& callbacks = run.callbacks;
  if (!Prepare(run)) return run.outcome;
  const bool planned = request.like.empty() ? PlanNew(run) : PlanLike(run);
  if (!planned || Interrupted(run)) return run.outcome;

  WriteRequest write;
  write.output = WrittenPath(run);
  write.temporary = &run.temporary;
  write.copied = &run.copied;
  write.old = request.like;
  write.oldFile = run.old.file.get();
  write.tree = &run.tree;
  write.level = request.level;
  write.workers = request.workers;
  write.interrupted = callbacks.interrupted;
  write.progress = [&](uint64_t done, uint64_t total) {
    if (callbacks.progress) callbacks.progress("writing", done, total);
  };
  write.beforeRename = [&] { run.old.file.reset(); };
  const WriteOutcome written = WriteArchive(run.layout, write);
  if (written.interrupted) {
    run.outcome.interrupted = true;
    return run.outcome;
  }
  if (!written.unreadable.empty()) {
    return Refused(std::move(run.outcome), written.unreadable, PackResult::FilesUnreadable);
  }
  if (!written.written) return Refused(std::move(run.outcome), written.error);
  run.outcome.size = written.size;
  run.outcome.result = PackResult::Written;
  return run.outcome;
}

}  // namespace

PackOutcome PackFolder(const PackRequest& request, const PackCallbacks& callbacks) {
  PackRun run{request, callbacks, {}, WithoutTrailingSeparators(request.folder), {}, {}, {}, {},
              {},      {},        {}};
  PackOutcome outcome = Pack(run);
  DropTemporary(run);  // made for copying early and never handed to the writer
  return outcome;
}

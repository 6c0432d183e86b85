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
  const std::string outputFolder = cut == std::string::npos ? "." : cut == 0 ? "/" : written.substr(0, cut);
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

bool Interrupted(PackRun& work) {
  if (work.callbacks.interrupted && work.callbacks.interrupted()) work.outcome.interrupted = true;
  return work.outcome.interrupted;
}

std::vector<std::string> UnmatchedExcludes(const PackRequest& request) {
  return request.patterns != nullptr ? UnmatchedPatterns(*request.patterns)
                                     : std::vector<std::string>();
}

std::string WrittenPath(const PackRun& work) {
  return WrittenPath(work.outcome.output);
}

void DropTemporary(PackRun& work) {
  if (work.temporary.path.empty()) return;
  work.temporary.file.reset();
  platform::RemoveTemporary(work.temporary.path);
  work.temporary.path.clear();
}

// Starts copying OLD into the new archive beside the comparing, where that can be done.
EarlyCopyPtr StartCopying(PackRun& work, const Claims& claims) {
  std::string error;  // the writer tries again, and says why
  if (!EarlyCopyPays(work.old.catalogue, claims) ||
      !CreateTemporaryOutput(WrittenPath(work), work.temporary, error)) {
    return nullptr;
  }
  EarlyCopyInput input;
  input.old = &work.old.catalogue;
  input.oldFile = work.old.file.get();
  input.claims = &claims;
  input.tree = &work.tree;
  input.out = work.temporary.file.get();
  input.level = work.request.level;
  input.interrupted = work.callbacks.interrupted;
  EarlyCopyPtr copy = StartEarlyCopy(input);
  if (!copy) DropTemporary(work);
  return copy;
}

// What --like OLD makes of the folder: claims, comparisons and the plan. The names and
// comparisons are let go once the plan is made. False with the outcome set.
bool PlanFromFolder(PackRun& work, PackPlan& plan) {
  const ConvertedNames names = ConvertNames(work.old.catalogue, work.forward);
  PlanInput input;
  input.old = &work.old.catalogue;
  input.alias = names.alias;
  input.aliasConverted = names.aliasConverted;
  input.entryNames = names.entriesConverted ? &names.converted : &work.old.catalogue.entryNames;
  input.notConverted = names.notConverted;
  input.folderNames = names.folderNames;
  input.folderNotConverted = names.folderNotConverted;
  input.tree = &work.tree;
  input.back = &work.back;
  input.patterns = work.request.patterns;
  PlanProblems problems;
  const Claims claims = ClaimFiles(input, problems);
  if (!problems.refused.empty()) {
    work.outcome = Refused(std::move(work.outcome), problems.refused, PackResult::Refused);
    return false;
  }
  std::vector<Comparison> comparisons;
  uint64_t total = 0;
  for (const ComparisonWork& one : claims.work) total += work.old.catalogue.entries[one.entry].storedSize;
  EarlyCopyPtr early = StartCopying(work, claims);
  CompareCallbacks callbacks;
  callbacks.progress = [&](uint64_t read) {
    if (work.callbacks.progress) work.callbacks.progress("comparing", read, total);
  };
  if (early) {
    callbacks.compared = [&](size_t i, const Comparison& result) { EntryCompared(*early, i, result); };
  }
  callbacks.interrupted = work.callbacks.interrupted;
  if (!CompareEntries(work.old, work.tree, claims.work, work.request.workers, comparisons,
                      callbacks)) {
    FinishEarlyCopy(std::move(early), true);
    work.outcome.interrupted = true;
    return false;
  }
  work.copied = FinishEarlyCopy(std::move(early), false);
  plan = MakePlan(input, claims, comparisons, problems);
  for (const std::string& pattern : UnmatchedExcludes(work.request)) {
    problems.refused.push_back("pattern matched nothing: " + pattern);
  }
  if (!problems.refused.empty() || !problems.unreadable.empty()) {
    std::vector<std::string> all = problems.unreadable;
    all.insert(all.end(), problems.refused.begin(), problems.refused.end());
    work.outcome = Refused(std::move(work.outcome), all,
                           problems.refused.empty() ? PackResult::FilesUnreadable
                                                    : PackResult::Refused);
    return false;
  }
  return true;
}

// Plans and lays out the archive --like OLD; false with the outcome set.
bool PlanLike(PackRun& work) {
  PackPlan plan;
  if (!PlanFromFolder(work, plan)) return false;
  std::string problem;
  if (!LayoutLike(work.old, plan, work.tree, work.layout, problem)) {
    work.outcome = Refused(std::move(work.outcome), problem);
    return false;
  }
  for (const std::string& damaged : plan.keptDamaged) {
    if (work.callbacks.note) work.callbacks.note(work.request.like + ": " + damaged + ", kept as it is");
  }
  for (size_t k = 0; k < plan.fates.size(); ++k) {
    ++(plan.fates[k] == Fate::Kept ? work.outcome.kept
       : plan.fates[k] == Fate::Replaced ? work.outcome.replaced
                                         : work.outcome.leftOut);
  }
  work.outcome.added = plan.added.size();
  work.outcome.leftOut += plan.leftOutFiles;
  return true;
}

bool PlanNew(PackRun& work) {
  NewArchiveInput input;
  input.tree = &work.tree;
  input.back = &work.back;
  input.patterns = work.request.patterns;
  input.version = work.request.version;
  input.recordSize = work.request.recordSize;
  NewArchiveCounts counts;
  PlanProblems problems;
  const bool laidOut = LayoutNew(input, work.layout, counts, problems);
  for (const std::string& pattern : UnmatchedExcludes(work.request)) {
    problems.refused.push_back("pattern matched nothing: " + pattern);
  }
  if (!laidOut || !problems.refused.empty()) {
    work.outcome = Refused(std::move(work.outcome), problems.refused, PackResult::Refused);
    return false;
  }
  work.outcome.added = counts.added;
  work.outcome.leftOut = counts.leftOut;
  if (work.callbacks.note) {
    work.callbacks.note(
        "note: a new archive leaves zero every field wza does not know the use of; a game may "
        "check them: pack --like the original archive to keep them");
  }
  return true;
}

bool Prepare(PackRun& work) {
  const PackRequest& request = work.request;
  if (platform::KindAt(work.folder) != platform::PathKind::Folder) {
    work.outcome = Refused(std::move(work.outcome), work.folder + ": not a folder");
    return false;
  }
  const bool named = !request.output.empty();
  work.outcome.output = request.output;
  if (!named && !DefaultOutput(work.folder, work.outcome.output)) {
    work.outcome = Refused(std::move(work.outcome),
                           work.folder + ": not named __NAME: name the archive to write with -o");
    return false;
  }
  const std::string outputProblem = OutputProblem(work.folder, work.outcome.output, named);
  if (!outputProblem.empty()) {
    work.outcome = Refused(std::move(work.outcome), outputProblem);
    return false;
  }
  std::string reason;
  if (!request.codePage.empty() && (!OpenNameEncoding(request.codePage, work.forward, &reason) ||
                                    !OpenNameEncodingBack(request.codePage, work.back, &reason))) {
    work.outcome = Refused(std::move(work.outcome), "--names " + request.codePage + ": " + reason);
    return false;
  }
  if (!request.like.empty()) {
    const LoadOutcome loaded = LoadCatalogue(request.like, work.old, &reason);
    if (loaded != LoadOutcome::Loaded) {
      const std::string line = LoadFailureLine(request.like, loaded, reason);
      work.outcome = Refused(std::move(work.outcome), line + "; it cannot be packed --like");
      return false;
    }
  }
  work.tree = ScanSourceFolder(work.folder, work.callbacks.interrupted);
  if (Interrupted(work)) return false;
  if (!work.tree.refused.empty()) {
    work.outcome = Refused(std::move(work.outcome), work.tree.refused, PackResult::Refused);
    return false;
  }
  if (!work.tree.unreadable.empty()) {
    work.outcome =
        Refused(std::move(work.outcome), work.tree.unreadable, PackResult::FilesUnreadable);
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

PackOutcome Pack(PackRun& work) {
  const PackRequest& request = work.request;
  const PackCallbacks& callbacks = work.callbacks;
  if (!Prepare(work)) return work.outcome;
  const bool planned = request.like.empty() ? PlanNew(work) : PlanLike(work);
  if (!planned || Interrupted(work)) return work.outcome;

  WriteRequest write;
  write.output = WrittenPath(work);
  write.temporary = &work.temporary;
  write.copied = &work.copied;
  write.old = request.like;
  write.oldFile = work.old.file.get();
  write.tree = &work.tree;
  write.level = request.level;
  write.workers = request.workers;
  write.interrupted = callbacks.interrupted;
  write.progress = [&](uint64_t done, uint64_t total) {
    if (callbacks.progress) callbacks.progress("writing", done, total);
  };
  write.beforeRename = [&] { work.old.file.reset(); };
  const WriteOutcome written = WriteArchive(work.layout, write);
  if (written.interrupted) {
    work.outcome.interrupted = true;
    return work.outcome;
  }
  if (!written.unreadable.empty()) {
    return Refused(std::move(work.outcome), written.unreadable, PackResult::FilesUnreadable);
  }
  if (!written.written) return Refused(std::move(work.outcome), written.error);
  work.outcome.size = written.size;
  work.outcome.result = PackResult::Written;
  return work.outcome;
}

}  // namespace

PackOutcome PackFolder(const PackRequest& request, const PackCallbacks& callbacks) {
  PackRun work{request, callbacks, {}, WithoutTrailingSeparators(request.folder), {}, {}, {}, {},
               {}, {}, {}};
  PackOutcome outcome = Pack(work);
  DropTemporary(work);  // made for copying early and never handed to the writer
  return outcome;
}

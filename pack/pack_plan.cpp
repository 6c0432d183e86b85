#include "pack/pack_plan.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "decode/entry_decode.h"
#include "extract/safe_name.h"
#include "platform/file_io.h"

namespace {

bool StartsWith(const PathComponents& path, const PathComponents& prefix) {
  if (prefix.size() > path.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (PathKey({path[i]}) != PathKey({prefix[i]})) return false;
  }
  return true;
}

// The flag value most of OLD's compressed entries have (the smaller of equals), else 1.
uint32_t MostUsedFlags(const ArchiveCatalogue& old) {
  std::map<uint32_t, size_t> counts;
  for (const FileEntry& entry : old.entries) {
    if (entry.flags != 0) ++counts[entry.flags];
  }
  uint32_t best = 1;
  size_t most = 0;
  for (const auto& [flags, count] : counts) {
    if (count > most) {
      best = flags;
      most = count;
    }
  }
  return best;
}

// "/" when OLD's folder names use it more than "\", else "\".
char FolderSeparator(const PlanInput& input) {
  size_t slashes = 0;
  size_t backslashes = 0;
  for (const std::string& name : input.folderNames) {
    slashes += static_cast<size_t>(std::count(name.begin(), name.end(), '/'));
    backslashes += static_cast<size_t>(std::count(name.begin(), name.end(), '\\'));
  }
  return slashes > backslashes ? '/' : '\\';
}

bool FitsAnEntry(const SourceTree& tree, const SourceFile& file, PlanProblems& problems) {
  if (file.size <= UINT32_MAX) return true;
  problems.refused.push_back(SourcePath(tree, file) + ": larger than an archive entry can be (4 GiB)");
  return false;
}

bool AliasUsable(const PlanInput& input) {
  return input.aliasConverted && IsSafeRelativePath(input.alias, false);
}

// An entry by the hash of its path's key: no key is held, and equal hashes are told apart
// by putting the keys together again.
struct KeyedEntry {
  size_t hash = 0;
  size_t entry = 0;
};

std::string EntryKey(const PlanInput& input, const PathComponents& alias, size_t j) {
  PathComponents path = alias;
  const PathComponents own = SplitName((*input.entryNames)[j]);
  path.insert(path.end(), own.begin(), own.end());
  return PathKey(path);
}

// As extraction writes them: of entries of one path the later one's bytes are in the file.
// One whose data lies outside the archive writes nothing, leaving an earlier one's there.
// Sorted by hash, and of one hash by entry.
std::vector<KeyedEntry> LastOfEachPath(const PlanInput& input, const PathComponents& alias,
                                       bool aliasUsable) {
  std::vector<KeyedEntry> keyed;
  const ArchiveCatalogue& old = *input.old;
  for (size_t j = 0; j < old.entries.size() && aliasUsable; ++j) {
    const bool converted = j >= input.notConverted.size() || !input.notConverted[j];
    if (!converted || !IsSafeRelativePath((*input.entryNames)[j], true)) continue;
    if (!EntryDataInsideFile(old, old.entries[j])) continue;
    keyed.push_back({std::hash<std::string>()(EntryKey(input, alias, j)), j});
  }
  std::sort(keyed.begin(), keyed.end(), [](const KeyedEntry& a, const KeyedEntry& b) {
    return a.hash != b.hash ? a.hash < b.hash : a.entry < b.entry;
  });
  return keyed;
}

// The last entry whose path has `key`, or kNoFile.
size_t EntryAt(const PlanInput& input, const PathComponents& alias,
               const std::vector<KeyedEntry>& keyed, const std::string& key) {
  const size_t hash = std::hash<std::string>()(key);
  auto at = std::upper_bound(keyed.begin(), keyed.end(), hash,
                             [](size_t h, const KeyedEntry& k) { return h < k.hash; });
  while (at != keyed.begin() && (at - 1)->hash == hash) {
    --at;
    if (EntryKey(input, alias, at->entry) == key) return at->entry;
  }
  return kNoFile;
}

}  // namespace

bool PackPlan::Changes() const {
  return !added.empty() ||
         std::any_of(fates.begin(), fates.end(), [](Fate fate) { return fate != Fate::Kept; });
}

std::string Joined(const PathComponents& components, char separator) {
  std::string joined;
  for (size_t i = 0; i < components.size(); ++i) {
    if (i > 0) joined += separator;
    joined += components[i];
  }
  return joined;
}

std::string PathKey(const PathComponents& components) {
  std::string key = Joined(components, '/');
  if (platform::kNamesIgnoreCase) {
    for (char& c : key) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return key;
}

PathComponents SplitName(const std::string& name) {
  PathComponents components;
  std::string component;
  for (char c : name) {
    if (c == '\\' || c == '/') {
      if (!component.empty()) components.push_back(std::move(component));
      component.clear();
    } else {
      component += c;
    }
  }
  if (!component.empty()) components.push_back(std::move(component));
  return components;
}

bool NameFitsAnArchive(const std::string& name, const std::string& path, PlanProblems& problems) {
  // On Linux "\\" is a character of a name; in an archive it separates folders.
  if (name.find('\\') == std::string::npos) return true;
  problems.refused.push_back(path + ": a name holding \\ cannot go into an archive");
  return false;
}

bool ExtractWouldWrite(const std::string& name, const std::string& path, bool mustNameFile,
                       PlanProblems& problems) {
  if (IsSafeRelativePath(name, mustNameFile)) return true;
  problems.refused.push_back(path + ": extract would not write this name (a device name "
                                    "such as CON, a name ending in a dot or a space, a control "
                                    "character or one of :<>\"|?*)");
  return false;
}

bool ArchiveComponents(const SourceTree& tree, const SourceFile& file, size_t skip,
                       const NameEncodingBack& back, PathComponents& bytes,
                       PlanProblems& problems) {
  bytes.clear();
  const PathComponents components = FileComponents(tree, file);
  const std::string path = SourcePath(tree, file);
  std::string shown;  // as extract sees the name once it is converted back
  for (size_t i = skip; i < components.size(); ++i) {
    const std::string& component = components[i];
    if (!NameFitsAnArchive(component, path, problems)) return false;
    std::string converted;
    if (!ConvertNameBack(back, component, converted)) {
      problems.refused.push_back(path + ": its name cannot be written in " +
                                 back.codePage +
                                 " (a character has no form there, or would separate folders)");
      return false;
    }
    if (converted.find('\0') != std::string::npos) {
      problems.refused.push_back(path + ": its name holds a NUL in " + back.codePage);
      return false;
    }
    bytes.push_back(converted);
    shown += (i > skip ? "/" : "") + component;
  }
  return ExtractWouldWrite(shown, path, true, problems) && FitsAnEntry(tree, file, problems);
}

Claims ClaimFiles(const PlanInput& input, PlanProblems& problems) {
  const ArchiveCatalogue& old = *input.old;
  const SourceTree& tree = *input.tree;
  Claims claims;
  const size_t count = old.entries.size();
  claims.fileOf.assign(count, kNoFile);
  claims.leftOut.assign(count, false);
  claims.claimed.assign(tree.files.size(), false);

  const PathComponents alias = SplitName(input.alias);
  const bool aliasUsable = AliasUsable(input);
  const std::string shownAlias = Joined(alias, '/');
  for (size_t d = 1; d < tree.folders.size(); ++d) {
    const PathComponents folder = FolderComponents(tree, d);
    if (aliasUsable && (StartsWith(folder, alias) || StartsWith(alias, folder))) continue;
    problems.refused.push_back(Joined(folder, '/') + ": not inside the archive's alias folder \"" +
                               shownAlias + "\"");
  }
  const std::vector<KeyedEntry> lastOfPath = LastOfEachPath(input, alias, aliasUsable);
  for (size_t f = 0; f < tree.files.size(); ++f) {
    const PathComponents components = FileComponents(tree, tree.files[f]);
    if (!aliasUsable || components.size() <= alias.size() || !StartsWith(components, alias)) {
      problems.refused.push_back(SourcePath(tree, tree.files[f]) +
                                 ": not inside the archive's alias folder \"" + shownAlias + "\"");
      continue;
    }
    // The first file of a path stands for its entry.
    const size_t j = EntryAt(input, alias, lastOfPath, PathKey(components));
    if (j == kNoFile || claims.fileOf[j] != kNoFile) continue;
    claims.fileOf[j] = f;
    claims.claimed[f] = true;
  }
  for (size_t j = 0; j < count; ++j) {
    if (input.patterns != nullptr) {
      claims.leftOut[j] =
          !IsChosen(*input.patterns, ShownName(input.alias + '\\' + (*input.entryNames)[j]));
    }
    if (claims.leftOut[j] || claims.fileOf[j] == kNoFile) continue;
    const SourceFile& file = tree.files[claims.fileOf[j]];
    // No entry is that large, so it would replace one: refused before anything is written.
    if (!FitsAnEntry(tree, file, problems)) continue;
    claims.pairs.push_back({j, claims.fileOf[j], file.size});
  }
  return claims;
}

namespace {

struct FolderChoice {
  std::unordered_map<std::string, size_t> oldByKey;  // first OLD folder of each path
  std::map<PathComponents, PathComponents> newByBytes;  // new folder bytes -> its key path
};

FolderChoice OldFolders(const PlanInput& input) {
  FolderChoice choice;
  for (size_t i = 0; i < input.folderNames.size(); ++i) {
    if (i < input.folderNotConverted.size() && input.folderNotConverted[i]) continue;
    choice.oldByKey.emplace(PathKey(SplitName(input.folderNames[i])), i);
  }
  return choice;
}

void SetFates(const PlanInput& input, const Claims& claims,
              const std::vector<Comparison>& comparisons, PackPlan& plan, PlanProblems& problems) {
  const size_t count = input.old->entries.size();
  plan.fates.assign(count, Fate::Kept);
  plan.sources.assign(count, kNoFile);
  for (size_t j = 0; j < count; ++j) {
    if (claims.leftOut[j]) plan.fates[j] = Fate::LeftOut;
  }
  for (size_t w = 0; w < claims.pairs.size(); ++w) {
    const size_t j = claims.pairs[w].entry;
    const Comparison& comparison = comparisons[w];
    if (comparison.sameness == Sameness::Unreadable) {
      problems.unreadable.push_back(
          SourcePath(*input.tree, input.tree->files[claims.pairs[w].file]) + ": " +
          comparison.error);
    } else if (comparison.sameness == Sameness::Differs) {
      plan.fates[j] = Fate::Replaced;
      plan.sources[j] = claims.fileOf[j];
    } else if (!comparison.decoded.Complete()) {
      plan.keptDamaged.push_back(ShownName(input.alias + '\\' + (*input.entryNames)[j]) + ": " +
                                 DescribeEntryStatus(comparison.decoded));
    }
  }
}

// Two added files of one name, and counts past the tables' limits.
void CheckAdded(const PackPlan& plan, const ArchiveCatalogue& old, const SourceTree& tree,
                PlanProblems& problems) {
  for (size_t i = 1; i < plan.added.size(); ++i) {
    const AddedFile& a = plan.added[i - 1];
    const AddedFile& b = plan.added[i];
    if (a.folder == b.folder && a.name == b.name) {
      problems.refused.push_back(SourcePath(tree, tree.files[b.source]) +
                                 ": has the same name in the archive as " +
                                 SourcePath(tree, tree.files[a.source]));
    }
  }
  const size_t kept = static_cast<size_t>(std::count_if(plan.fates.begin(), plan.fates.end(),
                                                        [](Fate f) { return f != Fate::LeftOut; }));
  const size_t files = kept + plan.added.size();
  if (files > kMaxCount) {
    problems.refused.push_back("the archive would hold " + std::to_string(files) +
                               " files; it can hold 65,535");
  }
  if (files == 0) problems.refused.push_back("no entry would be left in the archive");
  const size_t folderCount = old.folders.size() + plan.newFolders.size();
  if (folderCount > kMaxCount) {
    problems.refused.push_back("the archive would hold " + std::to_string(folderCount) +
                               " folders; it can hold 65,535");
  }
}

// A file to add, before the new folders are numbered.
struct PendingFile {
  size_t source;
  std::string name;
  size_t oldFolder;  // kNoFile for a new one
  PathComponents newFolderBytes;
};

// The files no entry claimed that go in (not left out by -x, names that can go into the
// archive), each with OLD's folder it joins or the new folder it makes.
std::vector<PendingFile> PendingFiles(const PlanInput& input, const Claims& claims,
                                      FolderChoice& folders, PackPlan& plan,
                                      PlanProblems& problems) {
  const SourceTree& tree = *input.tree;
  const size_t aliasLength = SplitName(input.alias).size();
  std::vector<PendingFile> pending;
  for (size_t f = 0; f < tree.files.size(); ++f) {
    if (claims.claimed[f]) continue;
    const SourceFile& file = tree.files[f];
    const PathComponents components = FileComponents(tree, file);
    if (components.size() <= aliasLength) continue;  // refused when claimed
    if (input.patterns != nullptr && !IsChosen(*input.patterns, Joined(components, '/'))) {
      ++plan.leftOutFiles;
      continue;
    }
    PathComponents bytes;
    if (!ArchiveComponents(tree, file, aliasLength, *input.back, bytes, problems)) continue;
    const PathComponents folderPath(components.begin() + aliasLength, components.end() - 1);
    PendingFile added{f, bytes.back(), kNoFile, {}};
    bytes.pop_back();
    const auto found = folders.oldByKey.find(PathKey(folderPath));
    if (found != folders.oldByKey.end()) {
      added.oldFolder = found->second;
    } else {
      added.newFolderBytes = bytes;
      folders.newByBytes.emplace(bytes, folderPath);
    }
    pending.push_back(std::move(added));
  }
  return pending;
}

}  // namespace

PackPlan MakePlan(const PlanInput& input, const Claims& claims,
                  const std::vector<Comparison>& comparisons, PlanProblems& problems) {
  const ArchiveCatalogue& old = *input.old;
  PackPlan plan;
  SetFates(input, claims, comparisons, plan, problems);
  plan.newFlags = MostUsedFlags(old);

  const size_t fileCount = old.entries.size();
  FolderChoice folders = OldFolders(input);
  const std::vector<PendingFile> pending = PendingFiles(input, claims, folders, plan, problems);
  // New folders after OLD's, sorted by their components: parents first.
  std::map<PathComponents, size_t> newIndex;
  for (const auto& [bytes, path] : folders.newByBytes) {
    newIndex[bytes] = old.folders.size() + plan.newFolders.size();
    plan.newFolders.push_back(Joined(bytes, FolderSeparator(input)));
  }
  for (const PendingFile& one : pending) {
    AddedFile added;
    added.source = one.source;
    added.name = one.name;
    if (one.oldFolder != kNoFile) {
      added.folder = one.oldFolder;
      added.anchor = std::min<size_t>(old.folders[one.oldFolder].endFile, fileCount);
    } else {
      added.folder = newIndex[one.newFolderBytes];
      added.anchor = fileCount;
    }
    plan.added.push_back(std::move(added));
  }
  std::sort(plan.added.begin(), plan.added.end(), [](const AddedFile& a, const AddedFile& b) {
    if (a.anchor != b.anchor) return a.anchor < b.anchor;
    if (a.folder != b.folder) return a.folder < b.folder;
    return a.name < b.name;
  });
  CheckAdded(plan, *input.old, *input.tree, problems);
  return plan;
}

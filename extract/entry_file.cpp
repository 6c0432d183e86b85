#include "extract/entry_file.h"

#include "extract/safe_name.h"

namespace {

// Why no file was made, as the entry's status.
EntryStatus StatusOf(platform::Creation creation) {
  switch (creation) {
    case platform::Creation::Made:
      return EntryStatus::Complete;
    case platform::Creation::Kept:
      return EntryStatus::Exists;
    case platform::Creation::IsKeepFile:
      return EntryStatus::IsTheArchive;
    case platform::Creation::Failed:
      break;
  }
  return EntryStatus::CreateFailed;
}

// An entry's file, open for writing, and the folder it is in.
struct OutputFile {
  platform::Folder* folder = nullptr;
  std::string name;
  platform::FilePtr file;
};

// Opens the file of the entry at `below` (relative to the destination). Without a file,
// `result` says why.
OutputFile CreateOutput(OpenArchive& archive, const std::string& destination,
                        const std::string& below, EntryWorkspace& workspace, EntryResult& result) {
  OutputFile out;
  const size_t nameAt = FileNameAt(below);
  out.folder =
      ReachFolder(workspace.outputFolders, destination, below, nameAt, &result.systemError);
  if (out.folder == nullptr) {
    result.status = EntryStatus::CreateFailed;
    return out;
  }
  // An archive can hold an entry of its own name and lie just where that entry goes:
  // writing the file would cut the archive short under the reading of it.
  platform::CreateRules rules;
  rules.keepExisting = workspace.keepExisting;
  rules.keep = archive.file.get();
  platform::Creation creation = platform::Creation::Failed;
  out.name = below.substr(nameAt);
  out.file = platform::CreateFileIn(*out.folder, out.name, rules, creation, &result.systemError);
  if (!out.file) {
    result.status = StatusOf(creation);
    if (result.status != EntryStatus::CreateFailed) result.systemError.clear();
  }
  return out;
}

// An entry stopped half way: a file that looks like any other must not stay behind.
EntryResult RemovePartialFile(OutputFile out, uint64_t bytesRead) {
  out.file.reset();
  EntryResult result;
  result.bytesRead = bytesRead;
  result.status = EntryStatus::Interrupted;
  platform::RemoveFileIn(*out.folder, out.name, &result.systemError);
  return result;
}

}  // namespace

EntryResult ExtractEntry(OpenArchive& archive, size_t index, const std::string& destination,
                         const std::string& outputFolder, EntryWorkspace& workspace) {
  const ArchiveCatalogue& catalogue = archive.catalogue;
  EntryResult result;
  const std::string& name = catalogue.entryNames[index];
  if (!IsSafeRelativePath(name, true)) {
    result.status = EntryStatus::UnsafeName;
    return result;
  }
  if (!EntryDataInsideFile(catalogue, catalogue.entries[index])) {
    result.status = EntryStatus::DataOutsideFile;
    return result;
  }
  OutputFile out = CreateOutput(archive, destination, outputFolder + ToNativeSeparators(name),
                                workspace, result);
  if (!out.file) return result;
  std::string writeError;
  bool stopped = false;
  const auto write = [&](const unsigned char* data, size_t length) {
    stopped = workspace.interrupted && workspace.interrupted();
    return !stopped && platform::WriteAll(*out.file, data, length, &writeError);
  };
  const auto restart = [&] { return platform::StartOver(*out.file, &writeError); };
  result = DecodeEntry(archive, index, workspace.decode, write, restart);
  // A read or write the interrupt cut short is the interrupt's doing, not the entry's.
  stopped = stopped || (!result.Complete() && workspace.interrupted && workspace.interrupted());
  if (stopped) return RemovePartialFile(std::move(out), result.bytesRead);
  if (result.status == EntryStatus::WriteFailed) result.systemError = writeError;
  return result;
}

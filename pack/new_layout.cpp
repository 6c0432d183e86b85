#include "pack/new_layout.h"

#include <algorithm>
#include <map>
#include <memory>

namespace {

struct NewFile {
  std::string name;  // bytes
  size_t source = 0;
};

using Folders = std::map<PathComponents, std::vector<NewFile>>;

// The folder's one top folder, the alias; false with the refusal.
bool AliasOf(const NewArchiveInput& input, std::string& alias, PlanProblems& problems) {
  const SourceTree& tree = *input.tree;
  std::vector<std::string> tops;
  for (size_t d = 1; d < tree.folders.size(); ++d) {
    if (tree.folders[d].depth == 1) tops.emplace_back(NameOf(tree, tree.folders[d].name));
  }
  bool filesOnTop = false;
  for (const SourceFile& file : tree.files) filesOnTop = filesOnTop || file.folder == 0;
  if (tops.size() != 1 || filesOnTop) {
    problems.refused.push_back(
        "the folder must hold exactly one folder, the alias folder, and nothing else (it holds " +
        std::to_string(tops.size()) + (tops.size() == 1 ? " folder" : " folders") +
        (filesOnTop ? " and files)" : ")"));
    return false;
  }
  if (!NameFitsAnArchive(tops[0], tops[0], problems) ||
      !ExtractWouldWrite(tops[0], tops[0], false, problems)) {
    return false;
  }
  if (!ConvertNameBack(*input.back, tops[0], alias)) {
    problems.refused.push_back(tops[0] + ": the alias has no form in " + input.back->codePage);
    return false;
  }
  if (alias.size() > kAliasLength || alias.find('\0') != std::string::npos) {
    problems.refused.push_back(tops[0] + ": the alias must be at most 64 bytes, without NUL");
    return false;
  }
  return true;
}

bool GatherFiles(const NewArchiveInput& input, Folders& folders, NewArchiveCounts& counts,
                 PlanProblems& problems) {
  const SourceTree& tree = *input.tree;
  for (size_t f = 0; f < tree.files.size(); ++f) {
    const SourceFile& file = tree.files[f];
    if (file.folder == 0) continue;  // refused: only the alias folder may be there
    std::string shown;
    for (const std::string& component : FileComponents(tree, file)) {
      shown += (shown.empty() ? "" : "/") + component;
    }
    if (input.patterns != nullptr && !IsChosen(*input.patterns, shown)) {
      ++counts.leftOut;
      continue;
    }
    PathComponents bytes;
    if (!ArchiveComponents(tree, file, 1, *input.back, bytes, problems)) continue;
    const std::string name = bytes.back();
    bytes.pop_back();
    folders[bytes].push_back({name, f});
  }
  size_t files = 0;
  for (auto& [folder, list] : folders) {
    std::sort(list.begin(), list.end(),
              [](const NewFile& a, const NewFile& b) { return a.name < b.name; });
    for (size_t i = 1; i < list.size(); ++i) {
      if (list[i].name == list[i - 1].name) {
        problems.refused.push_back(SourcePath(tree, tree.files[list[i].source]) +
                                   ": has the same name in the archive as " +
                                   SourcePath(tree, tree.files[list[i - 1].source]));
      }
    }
    files += list.size();
  }
  counts.added = files;
  if (files == 0) problems.refused.push_back("the folder holds no file to pack");
  if (files > kMaxCount || folders.size() + files > kMaxCount) {
    problems.refused.push_back("the archive would hold " + std::to_string(files) + " files in " +
                               std::to_string(folders.size()) +
                               " folders; it can hold 65,535 names");
  }
  return problems.refused.empty();
}

// Where a new archive's tables lie, and what its header holds.
struct NewShape {
  uint32_t version = 2;
  uint32_t recordSize = 20;
  uint64_t headerLength = 0;
  uint64_t base = 0;
  uint64_t tocAt = 0;
  uint64_t foldersAt = 0;
  uint64_t filesAt = 0;
  uint64_t namesAt = 0;
  uint64_t dataOffset = 0;
  std::string alias;
};

// A data piece for each file, and the tables as planned; gives the name table.
std::string LayOutFiles(const Folders& folders, Layout& layout, ExpectedTables& expected) {
  std::string names;
  for (const auto& [folder, list] : folders) {
    FolderEntry entry;
    entry.nameOffset = static_cast<uint32_t>(names.size());
    entry.firstFile = static_cast<uint16_t>(expected.entries.size());
    entry.endFile = static_cast<uint16_t>(entry.firstFile + list.size());
    expected.folders.push_back(entry);
    expected.folderNames.push_back(Joined(folder, '\\'));
    names += Joined(folder, '\\') + '\0';
    for (const NewFile& file : list) {
      expected.entries.push_back(FileEntry());
      expected.entryNameHashes.push_back(NameHash(Joined(folder, '\\') + '\\' + file.name));
      Piece piece;
      piece.kind = PieceKind::Data;
      piece.index = static_cast<uint32_t>(layout.jobs.size());
      layout.jobs.push_back({file.source, DataMode::Smaller});
      layout.pieces.push_back(piece);
    }
  }
  size_t p = 0;
  for (const auto& [folder, list] : folders) {
    for (const NewFile& file : list) {
      expected.entries[p++].nameOffset = static_cast<uint32_t>(names.size());
      names += file.name + '\0';
    }
  }
  return names;
}

// The header and tables, once the data's places are known; `tables` as planned.
bool FinishNew(const NewShape& shape, const std::vector<DataResult>& data,
               std::vector<Patch>& patches, ExpectedTables& tables, std::string& problem) {
  std::string image(static_cast<size_t>(shape.namesAt), '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(&image[0]);
  ArchiveHeader header;
  header.version = shape.version;
  header.dataOffset = static_cast<uint32_t>(shape.dataOffset);
  EncodeArchiveHeader(bytes, header);
  DataHeader dataHeader;
  dataHeader.tocOffset = static_cast<uint32_t>(shape.tocAt - shape.base);
  dataHeader.tocCount = 1;
  dataHeader.folderOffset = static_cast<uint32_t>(shape.foldersAt - shape.base);
  dataHeader.folderCount = static_cast<uint16_t>(tables.folders.size());
  dataHeader.fileOffset = static_cast<uint32_t>(shape.filesAt - shape.base);
  dataHeader.fileCount = static_cast<uint16_t>(tables.entries.size());
  dataHeader.nameOffset = static_cast<uint32_t>(shape.namesAt - shape.base);
  dataHeader.nameCount = static_cast<uint16_t>(tables.folders.size() + tables.entries.size());
  EncodeDataHeader(bytes + shape.headerLength, dataHeader);
  EncodeTocAlias(bytes + shape.tocAt, shape.alias);
  for (size_t i = 0; i < tables.folders.size(); ++i) {
    EncodeFolderEntry(bytes + shape.foldersAt + i * kFolderEntryLength, tables.folders[i]);
  }
  for (size_t p = 0; p < tables.entries.size(); ++p) {
    FileEntry& entry = tables.entries[p];
    const DataResult& result = data[p];
    if (result.offset - shape.dataOffset > UINT32_MAX || result.storedSize > UINT32_MAX) {
      problem = TooLarge("an entry's position or size");
      return false;
    }
    entry.flags = result.compressed ? 1 : 0;
    entry.dataOffset = static_cast<uint32_t>(result.offset - shape.dataOffset);
    entry.storedSize = static_cast<uint32_t>(result.storedSize);
    entry.size = static_cast<uint32_t>(result.size);
    EncodeFileEntry(bytes + shape.filesAt + p * shape.recordSize, shape.recordSize, entry);
  }
  patches.push_back({0, image});
  return true;
}

// The tables and names come first, and are filled in once the data's places are known.
void PutTablesFirst(const NewShape& shape, std::string names, Layout& layout) {
  const size_t namesLength = names.size();
  layout.bytes.resize(2);
  layout.bytes[0].assign(static_cast<size_t>(shape.namesAt), '\0');
  layout.bytes[1] = std::move(names);
  Piece head;
  head.kind = PieceKind::Bytes;
  head.length = shape.namesAt;
  Piece nameTable;
  nameTable.kind = PieceKind::Bytes;
  nameTable.index = 1;
  nameTable.length = namesLength;
  layout.pieces.insert(layout.pieces.begin(), {head, nameTable});
}

}  // namespace

bool LayoutNew(const NewArchiveInput& input, Layout& layout, NewArchiveCounts& counts,
               PlanProblems& problems) {
  layout = Layout();
  NewShape shape;
  Folders folders;
  const bool aliasFine = AliasOf(input, shape.alias, problems);
  const bool filesFine = GatherFiles(input, folders, counts, problems);
  if (!aliasFine || !filesFine) return false;
  shape.version = input.version;
  shape.recordSize = input.recordSize;
  shape.headerLength = HeaderLengthFor(shape.version);
  shape.base = TableBaseFor(shape.version);
  shape.tocAt = shape.headerLength + kDataHeaderLength;
  shape.foldersAt = shape.tocAt + kTocEntryLength;
  shape.filesAt = shape.foldersAt + folders.size() * kFolderEntryLength;
  shape.namesAt = shape.filesAt + uint64_t{shape.recordSize} * counts.added;

  auto expected = std::make_shared<ExpectedTables>();
  expected->version = shape.version;
  expected->recordSize = shape.recordSize;
  std::string names = LayOutFiles(folders, layout, *expected);
  shape.dataOffset = shape.namesAt + names.size();
  PutTablesFirst(shape, std::move(names), layout);
  layout.finish = [shape, expected](
                      const std::vector<uint64_t>&, const std::vector<DataResult>& data,
                      std::vector<Patch>& patches, ExpectedTables& tables, std::string& problem) {
    tables = std::move(*expected);  // asked for once
    return FinishNew(shape, data, patches, tables, problem);
  };
  return true;
}

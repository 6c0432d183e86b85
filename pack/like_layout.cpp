#include "pack/like_layout.h"

#include "pack/like_builder.h"
#include "pack/like_pieces.h"
#include "pack/like_placement.h"
#include "pack/like_records.h"
#include "pack/like_tables.h"

using namespace like;

namespace {

// Room for what is put in, as counted: the events each record makes at most (an added
// file five, OLD's two) and the tables' own; the bytes of new records, names and folders.
void Reserve(Builder& b) {
  const PackPlan& plan = b.plan;
  b.events.reserve(8 + b.shape.folderCount + 2 * plan.newFolders.size() + 2 * b.records.size() +
                   3 * plan.added.size());
  size_t bytes = plan.newFolders.size() * kFolderEntryLength;
  for (const std::string& name : plan.newFolders) bytes += name.size() + 1;
  for (const AddedFile& added : plan.added) bytes += added.name.size() + 1 + b.shape.recordSize;
  b.layout.bytes.emplace_back().reserve(bytes);
}

}  // namespace

bool LayoutLike(OpenArchive& archive, const PackPlan& plan, const SourceTree& tree, Layout& layout,
                std::string& problem) {
  layout = Layout();
  ArchiveCatalogue& old = archive.catalogue;
  Builder b{old, *archive.file, plan, tree, layout, ShapeOf(old), {}, {}, {}, {}, {}, {}, {}};
  const Regions regions = RegionsOf(b);
  if (plan.Changes()) {
    const std::string tangle = Tangle(regions.structural, regions.data);
    if (!tangle.empty()) {
      problem = "in this archive " + tangle +
                " overlap: it can be packed --like itself only unchanged";
      return false;
    }
  }
  OrderRecords(b);
  std::vector<FolderEntry> ranges;
  if (!FolderRanges(b, ranges, problem)) return false;
  if (plan.Changes() && !CheckCoverage(b, ranges, problem)) return false;

  Reserve(b);
  Marks marks;
  marks.data = b.Mark(b.shape.data, kDataOffset);
  marks.names = b.Mark(b.shape.names, kNameTableStart);
  marks.files = b.Mark(b.shape.files, kFileTableStart);
  if (old.dataHeader.tocCount > 0) marks.toc = b.Mark(b.shape.toc, kStart);
  if (!PlaceFolders(b, regions, marks, problem)) return false;
  const size_t count = b.records.size();
  marks.fileName.assign(count, kNoFile);
  marks.fileData.assign(count, kNoFile);
  marks.job.assign(count, kNoFile);
  for (size_t p = 0; p < count; ++p) {
    const bool placed = b.records[p].added ? PlaceAdded(b, regions, p, marks, problem)
                                           : PlaceOld(b, regions, p, marks, problem);
    if (!placed) return false;
  }
  b.drops = Drops(b, regions.data, regions.keptData);
  layout.finish = Finisher(b, std::move(ranges), std::move(marks));
  // The tables to check keep the names' hashes: OLD's names are let go before the pieces
  // are made, not held beside the new archive's when it is read back.
  old.entryNames = std::vector<std::string>();
  old.fileNames = std::vector<std::string>();
  BuildPieces(b);
  return true;
}

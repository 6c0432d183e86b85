#include "pack/entry_compare.h"

#include <algorithm>
#include <cstring>

#include "extract/parallel_run.h"
#include "platform/file_io.h"

namespace {

// The most bytes extraction can write for an entry: a file longer than that differs
// without the entry being read at all.
uint64_t MostBytesWritten(const FileEntry& entry) {
  return entry.flags == 0 ? std::min(entry.storedSize, entry.size) : entry.size;
}

Comparison CompareOne(OpenArchive& archive, const SourceTree& tree, const EntryFilePair& pair,
                      EntryWorkspace& workspace) {
  const ArchiveCatalogue& catalogue = archive.catalogue;
  Comparison comparison;
  const FileEntry& entry = catalogue.entries[pair.entry];
  SourceReader reader;
  platform::FilePtr file = OpenSourceFile(tree, pair.file, reader, &comparison.error);
  uint64_t length = 0;
  if (!file || !platform::FileLength(*file, length)) {
    if (comparison.error.empty()) comparison.error = "its length cannot be read";
    comparison.sameness = Sameness::Unreadable;
    return comparison;
  }
  // Extraction writes no file for an entry whose data lies outside the archive.
  if (length > MostBytesWritten(entry) || !EntryDataInsideFile(catalogue, entry)) {
    comparison.sameness = Sameness::Differs;
    return comparison;
  }
  // The file is read in small pieces: a buffer per thread as large as the inflate blocks
  // would cost as much memory again at high -j.
  constexpr size_t kPiece = 64u << 10;
  thread_local std::vector<unsigned char> own(kPiece);
  uint64_t at = 0;
  bool same = true;
  bool unreadable = false;
  // The sink never stops the entry: the faster inflate may hand bytes of a damaged stream
  // that zlib, which then decides, would not give; only the bytes that stand are judged.
  const EntrySink compare = [&](const unsigned char* data, size_t count) {
    if (same && !unreadable) {
      if (at + count > length) same = false;
      for (size_t done = 0; same && !unreadable && done < count; done += kPiece) {
        const size_t piece = std::min(kPiece, count - done);
        if (platform::ReadAt(*file, at + done, own.data(), piece) != piece) {
          unreadable = true;
        } else if (std::memcmp(own.data(), data + done, piece) != 0) {
          same = false;
        }
      }
    }
    at += count;
    return true;
  };
  const EntryRestart restart = [&] {
    at = 0;
    same = true;
    unreadable = false;
    return true;
  };
  comparison.decoded = DecodeEntry(archive, pair.entry, workspace.decode, compare, restart);
  if (comparison.decoded.status == EntryStatus::OutOfMemory) {
    comparison.sameness = Sameness::Unreadable;
    comparison.error = "out of memory while comparing";
  } else if (unreadable) {
    comparison.sameness = Sameness::Unreadable;
    comparison.error = "file changed or could not be read while compared";
  } else {
    comparison.sameness = same && at == length ? Sameness::Same : Sameness::Differs;
  }
  return comparison;
}

}  // namespace

bool CompareEntries(OpenArchive& archive, const SourceTree& tree,
                    const std::vector<EntryFilePair>& pairs, size_t workers,
                    std::vector<Comparison>& results, const CompareCallbacks& callbacks) {
  results.assign(pairs.size(), Comparison());
  workers = std::min(workers, kMaxCompareThreads);
  const std::function<bool()>& interrupted = callbacks.interrupted;
  EntryWorkspace workspace;
  workspace.interrupted = interrupted;
  const EntryPoolPtr pool = workers > 1 ? StartEntryPool(workers, interrupted) : nullptr;
  uint64_t read = 0;
  bool stopped = false;
  EntryBatch batch;
  batch.count = pairs.size();
  batch.work = [&](size_t i, EntryWorkspace& own) {
    results[i] = CompareOne(archive, tree, pairs[i], own);
    return results[i].decoded;
  };
  batch.goOn = [&] {
    stopped = stopped || (interrupted && interrupted());
    return !stopped;
  };
  batch.report = [&](size_t i, const EntryResult& result) {
    read += result.bytesRead;
    if (callbacks.compared) callbacks.compared(i, results[i]);
    if (callbacks.progress) callbacks.progress(read);
  };
  RunBatch(pool.get(), workspace, batch);
  return !stopped && !(interrupted && interrupted());
}

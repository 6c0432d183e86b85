#include "pack/pack_writer.h"

#include <zlib.h>

#include <algorithm>

#include "archive/catalogue.h"
#include "pack/chunked_deflate.h"
#include "platform/file_io.h"

namespace {

// OLD's ranges are copied in pieces of this size, so that an interrupt is seen soon.
constexpr uint64_t kCopyStep = 64u << 20;
constexpr size_t kGather = 1u << 20;

struct Writer {
  Layout& layout;
  const WriteRequest& request;
  platform::FilePtr out;
  platform::FilePtr old;
  DeflatePipelinePtr deflating;
  WriteOutcome outcome;
  uint64_t offset = 0;
  uint64_t done = 0;
  uint64_t total = 0;
  std::vector<uint64_t> landed;  // by mark: where it fell in the new archive
  std::vector<DataResult> results;
  // Small pieces (names, the data of small files) are gathered here and written together.
  std::vector<unsigned char> pending;
  uint64_t pendingAt = 0;
  // OLD's ranges that follow each other (split only by marks) are copied in one go.
  uint64_t copyFrom = 0;
  uint64_t copyTo = 0;
  uint64_t copyLength = 0;
  SourceReader reader;  // for files stored as they are

  bool Flush() {
    if (pending.empty()) return true;
    if (!platform::WriteAt(*out, pendingAt, pending.data(), pending.size(), &outcome.error)) {
      outcome.error = "cannot write " + request.output + ": " + outcome.error;
      return false;
    }
    pending.clear();
    return true;
  }
  bool Stopped() {
    if (request.interrupted && request.interrupted()) outcome.interrupted = true;
    return outcome.interrupted || !outcome.error.empty();
  }
  void Progress(uint64_t bytes) {
    done += bytes;
    if (request.progress) request.progress(done, total);
  }
  bool Write(const void* data, size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    if (pending.empty()) pendingAt = offset;
    if (pending.size() + length > kGather && !Flush()) return false;
    if (pending.empty()) pendingAt = offset;
    if (length >= kGather) {
      if (!platform::WriteAt(*out, offset, bytes, length, &outcome.error)) {
        outcome.error = "cannot write " + request.output + ": " + outcome.error;
        return false;
      }
    } else {
      pending.insert(pending.end(), bytes, bytes + length);
    }
    offset += length;
    return true;
  }
};

const SourceFile& SourceOf(const Writer& w, size_t job) {
  return w.request.tree->files[w.layout.jobs[job].source];
}

std::vector<DeflateSource> DeflateSources(const Layout& layout, const WriteRequest& request) {
  std::vector<DeflateSource> sources;
  for (const Piece& piece : layout.pieces) {
    if (piece.kind != PieceKind::Data) continue;
    const DataJob& job = layout.jobs[piece.index];
    if (job.mode == DataMode::Store) continue;
    sources.push_back(
        {job.source, request.tree->files[job.source].size, job.mode == DataMode::Smaller});
  }
  return sources;
}

// OLD's range, less what was copied to the same place while the entries were compared.
bool FlushCopy(Writer& w) {
  if (!w.Flush()) return false;
  for (uint64_t at = 0; at < w.copyLength;) {
    if (w.Stopped()) return false;
    uint64_t step = std::min(kCopyStep, w.copyLength - at);
    if (w.request.copied != nullptr) {
      const CopiedRun run = CopiedRunAt(*w.request.copied, w.copyFrom + at, w.copyTo + at);
      step = std::min(step, run.length);
      if (run.copied) {
        w.Progress(step);
        at += step;
        continue;
      }
    }
    std::string error;
    if (!platform::CopyBetween(*w.old, w.copyFrom + at, *w.out, w.copyTo + at, step, &error)) {
      w.outcome.error = "cannot write " + w.request.output + ": " + error;
      return false;
    }
    w.Progress(step);
    at += step;
  }
  w.copyLength = 0;
  return true;
}

// OLD's range goes after the one before it when it continues it, else starts a new copy.
bool CopyOld(Writer& w, const Piece& piece) {
  const bool continues =
      w.copyLength > 0 && w.copyFrom + w.copyLength == piece.from && w.copyTo + w.copyLength == w.offset;
  if (!continues) {
    if (!FlushCopy(w)) return false;
    w.copyFrom = piece.from;
    w.copyTo = w.offset;
  }
  w.copyLength += piece.length;
  w.offset += piece.length;
  return true;
}

bool CopySource(Writer& w, size_t job, uint64_t& copied) {
  if (!w.Flush()) return false;
  const SourceTree& tree = *w.request.tree;
  const SourceFile& file = SourceOf(w, job);
  std::string error;
  platform::FilePtr source = OpenSourceFile(tree, w.layout.jobs[job].source, w.reader, &error);
  if (!source || !EndsAsListed(*source, file.size)) {
    w.outcome.unreadable.push_back(SourcePath(tree, file) + ": " +
                                   (error.empty() ? kChangedWhilePacked : error));
    return true;  // goes on, so that every such file is named
  }
  const uint64_t length = file.size;
  for (uint64_t at = 0; at < length; at += kCopyStep) {
    if (w.Stopped()) return false;
    const uint64_t step = std::min(kCopyStep, length - at);
    if (!platform::CopyBetween(*source, at, *w.out, w.offset + at, step, &error)) {
      w.outcome.error = "cannot write " + w.request.output + ": " + error;
      return false;
    }
  }
  if (!EndsAsListed(*source, file.size)) {
    w.outcome.unreadable.push_back(SourcePath(tree, file) + ": " + kChangedWhilePacked);
    return true;
  }
  copied = length;
  return true;
}

// One job's data through the deflating threads: header, chunks, Adler-32; or stored.
bool WriteDeflated(Writer& w, size_t job, DataResult& result) {
  const SourceFile& file = SourceOf(w, job);
  const bool smaller = w.layout.jobs[job].mode == DataMode::Smaller;
  const uint64_t chunks = ChunksOf(file.size);
  const uint64_t start = w.offset;
  uLong adler = 1;
  bool failed = false;
  for (uint64_t c = 0; c < chunks; ++c) {
    DeflatedChunk chunk;
    if (!NextDeflatedChunk(*w.deflating, chunk)) {
      w.outcome.interrupted = true;
      return false;
    }
    if (chunk.failed) {
      if (!failed)
        w.outcome.unreadable.push_back(SourcePath(*w.request.tree, file) + ": " + chunk.error);
      failed = true;
      continue;
    }
    if (failed) continue;
    if (chunk.stored) {
      if (!w.Write(chunk.bytes.data(), chunk.bytes.size())) return false;
      result.compressed = false;
      result.storedSize = result.size = file.size;
      return true;
    }
    if (c == 0) {
      const std::string header = ZlibHeader(w.request.level);
      if (!w.Write(header.data(), header.size())) return false;
    }
    if (!w.Write(chunk.bytes.data(), chunk.bytes.size())) return false;
    adler = adler32_combine(adler, chunk.adler, static_cast<z_off_t>(chunk.inputLength));
    w.Progress(chunk.inputLength);
  }
  if (failed) return true;
  const unsigned char trailer[4] = {static_cast<unsigned char>(adler >> 24),
                                    static_cast<unsigned char>(adler >> 16),
                                    static_cast<unsigned char>(adler >> 8),
                                    static_cast<unsigned char>(adler)};
  if (!w.Write(trailer, sizeof trailer)) return false;
  result.compressed = true;
  result.storedSize = w.offset - start;
  result.size = file.size;
  if (smaller && file.size < result.storedSize) {
    // Deflated, it came out larger: the file goes in as it is instead.
    if (!w.Flush()) return false;
    w.offset = start;
    uint64_t copied = 0;
    if (!CopySource(w, job, copied)) return false;
    w.offset += copied;
    result.compressed = false;
    result.storedSize = copied;
  }
  return true;
}

bool WriteData(Writer& w, size_t job) {
  DataResult& result = w.results[job];
  result.offset = w.offset;
  if (w.layout.jobs[job].mode != DataMode::Store) return WriteDeflated(w, job, result);
  uint64_t copied = 0;
  if (!CopySource(w, job, copied)) return false;
  w.offset += copied;
  w.Progress(copied);
  result.storedSize = result.size = copied;
  return true;
}

bool WritePieces(Writer& w) {
  for (const Piece& piece : w.layout.pieces) {
    if (w.Stopped()) return false;
    switch (piece.kind) {
      case PieceKind::Old:
        if (!CopyOld(w, piece)) return false;
        break;
      case PieceKind::Bytes: {
        if (!FlushCopy(w)) return false;
        const std::string& bytes = w.layout.bytes[piece.index];
        const size_t length = static_cast<size_t>(piece.length);
        if (!w.Write(bytes.data() + piece.from, length)) return false;
        w.Progress(length);
        break;
      }
      case PieceKind::Data:
        if (!FlushCopy(w) || !WriteData(w, piece.index)) return false;
        break;
      case PieceKind::Mark:
        w.landed[piece.index] = w.offset + piece.from;
        break;
    }
  }
  return !w.Stopped() && FlushCopy(w) && w.Flush();
}

uint64_t TotalBytes(const Layout& layout, const WriteRequest& request) {
  uint64_t total = 0;
  for (const Piece& piece : layout.pieces) {
    if (piece.kind == PieceKind::Old || piece.kind == PieceKind::Bytes) total += piece.length;
    if (piece.kind == PieceKind::Data) total += request.tree->files[layout.jobs[piece.index].source].size;
  }
  return total;
}

std::string FolderOf(const std::string& path) {
  const size_t cut = path.find_last_of(platform::kPathSeparators);
  if (cut == std::string::npos) return ".";
  return cut == 0 ? path.substr(0, 1) : path.substr(0, cut);
}

std::string NameOf(const std::string& path) {
  const size_t cut = path.find_last_of(platform::kPathSeparators);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

// Everything after the pieces: the tables, the disk, the check, the name.
bool Finish(Writer& w, const std::string& temporary) {
  std::vector<Patch> patches;
  ExpectedTables expected;
  std::string problem;
  if (!w.layout.finish(w.landed, w.results, patches, expected, problem)) {
    w.outcome.error = problem;
    return false;
  }
  std::string error;
  bool ok = platform::SetFileLength(*w.out, w.offset, &error);
  for (const Patch& patch : patches) {
    ok = ok && platform::WriteAt(*w.out, patch.at, patch.bytes.data(), patch.bytes.size(), &error);
  }
  ok = ok && platform::FlushToDisk(*w.out, &error);
  w.out.reset();
  w.old.reset();
  // Written: the pieces are let go before the archive is loaded again to be checked.
  w.layout.pieces = std::vector<Piece>();
  w.layout.bytes = std::vector<std::string>();
  w.layout.jobs = std::vector<DataJob>();
  if (!ok) {
    w.outcome.error = "cannot write " + w.request.output + ": " + error;
    return false;
  }
  if (!ReadsBackAsPlanned(temporary, expected, problem)) {
    w.outcome.error = "the packed archive does not read back as planned (" + problem +
                      "): this archive's layout cannot take the change";
    return false;
  }
  if (w.Stopped()) return false;
  if (w.request.beforeRename) w.request.beforeRename();
  if (!platform::PrepareToReplace(temporary, w.request.output, &error) ||
      !platform::RenameOver(temporary, w.request.output, &error)) {
    w.outcome.error = "cannot write " + w.request.output + ": " + error;
    return false;
  }
  // Until the folder is on disk too, a power cut could bring the old file back, or none.
  if (!platform::FlushFolder(FolderOf(w.request.output), &error)) {
    w.outcome.error = w.request.output + ": written, but its folder cannot be flushed to disk (" +
                      error + "): a power cut may still undo it";
    return false;
  }
  return true;
}

}  // namespace

bool CreateTemporaryOutput(const std::string& output, TemporaryOutput& temporary,
                           std::string& error) {
  temporary.file = platform::CreateHiddenFile(FolderOf(output), NameOf(output), temporary.path, &error);
  return temporary.file != nullptr;
}

WriteOutcome WriteArchive(Layout& layout, const WriteRequest& request) {
  Writer w{layout, request, nullptr, nullptr, nullptr, {}, 0, 0, 0, {}, {}, {}, 0, 0, 0, 0, {}};
  w.landed.assign(layout.markCount, 0);
  w.pending.reserve(kGather);
  w.results.assign(layout.jobs.size(), DataResult());
  w.total = TotalBytes(layout, request);
  TemporaryOutput own;
  TemporaryOutput& made = request.temporary != nullptr ? *request.temporary : own;
  std::string error;
  if (!made.file && !CreateTemporaryOutput(request.output, made, error)) {
    w.outcome.error = "cannot write " + request.output + ": " + error;
    return w.outcome;
  }
  // From here on the file is this function's to rename or remove.
  w.out = std::move(made.file);
  const std::string temporary = std::move(made.path);
  made.path.clear();
  if (request.oldFile != nullptr) {
    w.old = platform::ShareOpenFile(*request.oldFile, &error);
    if (!w.old) w.outcome.error = "cannot read " + request.old + ": " + error;
  }
  if (w.outcome.error.empty()) {
    w.deflating = StartDeflating(*request.tree, DeflateSources(layout, request), request.level,
                                 request.workers, request.interrupted);
    if (WritePieces(w) && w.outcome.unreadable.empty()) {
      w.deflating.reset();
      w.outcome.written = Finish(w, temporary);
    }
  }
  w.deflating.reset();
  w.out.reset();
  w.old.reset();
  if (!w.outcome.written) {
    platform::RemoveTemporary(temporary);
    return w.outcome;
  }
  w.outcome.size = w.offset;
  return w.outcome;
}

bool ReadsBackAsPlanned(const std::string& path, const ExpectedTables& expected,
                        std::string& problem) {
  OpenArchive archive;
  std::string detail;
  const LoadOutcome outcome = LoadCatalogue(path, archive, &detail);
  archive.file.reset();
  const ArchiveCatalogue& loaded = archive.catalogue;
  if (outcome != LoadOutcome::Loaded) {
    problem = "it does not load" + (detail.empty() ? std::string() : ": " + detail);
    return false;
  }
  if (loaded.header.version != expected.version || loaded.recordSize != expected.recordSize ||
      loaded.folders.size() != expected.folders.size() ||
      loaded.entries.size() != expected.entries.size()) {
    problem = "its version, record size or counts differ";
    return false;
  }
  for (size_t i = 0; i < loaded.folders.size(); ++i) {
    const FolderEntry& a = loaded.folders[i];
    const FolderEntry& b = expected.folders[i];
    if (a.nameOffset != b.nameOffset || a.firstFile != b.firstFile || a.endFile != b.endFile ||
        loaded.folderNames[i] != expected.folderNames[i] + '\\') {
      problem = "folder " + std::to_string(i) + " differs";
      return false;
    }
  }
  for (size_t j = 0; j < loaded.entries.size(); ++j) {
    const FileEntry& a = loaded.entries[j];
    const FileEntry& b = expected.entries[j];
    if (a.nameOffset != b.nameOffset || a.flags != b.flags || a.dataOffset != b.dataOffset ||
        a.storedSize != b.storedSize || a.size != b.size ||
        NameHash(loaded.entryNames[j]) != expected.entryNameHashes[j]) {
      problem = "entry " + std::to_string(j) + " differs";
      return false;
    }
  }
  return true;
}

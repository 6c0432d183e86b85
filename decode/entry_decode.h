// The bytes of one entry of a loaded catalogue: stored, or inflated by zlib, ISA-L or
// libdeflate, with what a damaged stream still gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "decode/fast_inflate.h"
#include "decode/whole_inflate.h"

enum class EntryStatus {
  Complete,
  UnsafeName,       // would leave the output root or cannot be a file name; not written
  DataOutsideFile,  // the stored bytes do not lie inside the archive; not written
  ShortRead,        // the archive delivered fewer bytes than it holds
  StreamDamaged,    // the zlib stream did not reach its end
  Overlong,         // the stream holds more than the declared size; only that much is written
  SizeMismatch,     // fewer bytes than the declared size came out
  IsTheArchive,     // the output file is the archive being read; not written
  CreateFailed,     // the output file could not be created
  WriteFailed,
  OutOfMemory,
  Interrupted,       // stopped between two blocks; the partial file is removed
  Exists,            // something (not a folder) is there already and is kept (keepExisting)
  NameNotConverted,  // the name is not valid in the code page it is read in; not written
};

struct EntryResult {
  uint64_t bytesRead = 0;  // what the archive delivered, for the run's progress
  EntryStatus status = EntryStatus::Complete;
  std::string systemError;  // the system's reason for CreateFailed and WriteFailed, and
                            // for an Interrupted entry whose partial file could not go
  bool Complete() const { return status == EntryStatus::Complete; }
};

// One line saying why an entry is incomplete, e.g. "cannot create file: Permission denied".
std::string DescribeEntryStatus(const EntryResult& result);

// The bytes extraction writes for an intact entry: a stored entry's declared size is cut
// to the bytes it actually stores.
uint64_t ShownSize(const FileEntry& entry);

// Whether an entry's stored bytes lie inside the archive file; those of one that does not
// are never read.
bool EntryDataInsideFile(const ArchiveCatalogue& catalogue, const FileEntry& entry);

// Blocks an entry is streamed through: memory stays bounded whatever the entry's size.
constexpr size_t kBlockSize = 1u << 20;

// An entry whose stored bytes and declared size together fit this is inflated whole in
// memory (by libdeflate, where the build has it); a larger one streams through the blocks.
constexpr size_t kWholeBudget = 8u << 20;

// What the entries decoded one after another share: the stream blocks, allocated once.
// Threads decoding side by side each have a workspace of their own.
struct DecodeWorkspace {
  std::vector<unsigned char> input;
  std::vector<unsigned char> output;
  size_t blockSize = kBlockSize;  // smaller in tests, to force the streamed path
  bool fastInflate = true;  // the faster inflates where the build has them; false: zlib alone
  FastInflatePtr fast;
  size_t wholeBudget = kWholeBudget;
  WholeInflatePtr whole;
  std::unique_ptr<unsigned char[]> wholeBuffer;  // grown, never shrunk: stored bytes, then output
  size_t wholeCapacity = 0;
  uint64_t fastEntries = 0;  // entries whose bytes a faster inflate gave
};

// Whether DecodeEntry inflates this (compressed) entry held whole, by libdeflate; one that
// does not fit streams, through ISA-L first where the build has it.
bool FitsWhole(const FileEntry& entry, const DecodeWorkspace& workspace);

struct InflateResult {
  size_t produced = 0;
  bool streamEnded = false;  // inflate reached Z_STREAM_END
  bool moreData = false;     // the room was filled and the stream still had bytes to give
};

// Inflates one zlib stream in a single call with Z_FINISH. A damaged, cut or over-long
// stream yields exactly the bytes produced before inflate stopped. When the room is filled
// before the stream ends, one more byte is asked for (and dropped) to tell an over-long
// stream from a damaged one.
InflateResult InflateEntry(const unsigned char* input, size_t storedSize, unsigned char* output,
                           size_t size);

// Called with each block of an entry's extracted bytes; returns false to stop.
using EntrySink = std::function<bool(const unsigned char* data, size_t length)>;
// Takes back every byte the sink was given, so the entry can be handed on again from its
// start; false when it cannot.
using EntryRestart = std::function<bool()>;

// Reads entry `index` and hands its bytes to `sink`: stored bytes as they are, compressed
// ones inflated. At most the declared size is handed on. Sets every status but the
// name and file ones; a sink that fails (or cannot restart) gives WriteFailed. With
// workspace.fastInflate an entry within the whole budget is inflated by libdeflate first,
// and (given `restart`) a larger one is streamed by ISA-L first, where the build has them.
// Whenever their bytes could differ from zlib's, zlib inflates the entry (anew).
EntryResult DecodeEntry(OpenArchive& archive, size_t index, DecodeWorkspace& workspace,
                        const EntrySink& sink, const EntryRestart& restart = nullptr);

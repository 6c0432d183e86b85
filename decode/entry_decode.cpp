#include "decode/entry_decode.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace {

// zlib's own inflateInit, with the library version the tool was made against.
int StartInflate(z_stream& stream) {
  stream = z_stream();
  return inflateInit_(&stream, "1.2.2", static_cast<int>(sizeof(z_stream)));
}

EntryStatus StatusAfterInflate(bool shortRead, bool ended, bool moreData, uint64_t written,
                               uint64_t size) {
  if (shortRead) return EntryStatus::ShortRead;
  if (moreData) return EntryStatus::Overlong;
  if (!ended) return EntryStatus::StreamDamaged;
  if (written < size) return EntryStatus::SizeMismatch;
  return EntryStatus::Complete;
}

bool EnsureBlocks(DecodeWorkspace& workspace) {
  try {
    workspace.input.resize(workspace.blockSize);
    workspace.output.resize(workspace.blockSize);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

EntryResult DecodeStored(OpenArchive& archive, uint64_t start, const FileEntry& entry,
                         DecodeWorkspace& workspace, const EntrySink& sink) {
  EntryResult result;
  // Only the bytes actually stored are written: a declared size beyond them is not
  // made up with zeros, and the entry counts as incomplete.
  uint64_t left = std::min<uint64_t>(entry.storedSize, entry.size);
  while (left > 0) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, workspace.blockSize));
    const size_t got =
        platform::ReadAt(*archive.file, start + result.bytesRead, workspace.input.data(), want);
    result.bytesRead += got;
    left -= got;
    if (got > 0 && !sink(workspace.input.data(), got)) {
      result.status = EntryStatus::WriteFailed;
      return result;
    }
    if (got < want) {
      result.status = EntryStatus::ShortRead;
      return result;
    }
  }
  if (entry.size > entry.storedSize) result.status = EntryStatus::SizeMismatch;
  return result;
}

EntryResult DecodeInOnePiece(OpenArchive& archive, uint64_t start, const FileEntry& entry,
                             DecodeWorkspace& workspace, const EntrySink& sink) {
  EntryResult result;
  const size_t got =
      platform::ReadAt(*archive.file, start, workspace.input.data(), entry.storedSize);
  result.bytesRead = got;
  const InflateResult inflated =
      InflateEntry(workspace.input.data(), got, workspace.output.data(), entry.size);
  if (inflated.produced > 0 && !sink(workspace.output.data(), inflated.produced)) {
    result.status = EntryStatus::WriteFailed;
    return result;
  }
  result.status = StatusAfterInflate(got < entry.storedSize, inflated.streamEnded,
                                     inflated.moreData, inflated.produced, entry.size);
  return result;
}

// The streamed form of InflateEntry: the same bytes, through fixed-size blocks.
EntryResult DecodeStreamed(OpenArchive& archive, uint64_t start, const FileEntry& entry,
                           DecodeWorkspace& workspace, const EntrySink& sink) {
  EntryResult result;
  z_stream stream;
  if (StartInflate(stream) != Z_OK) {
    result.status = EntryStatus::OutOfMemory;
    return result;
  }
  uint64_t storedLeft = entry.storedSize;
  uint64_t written = 0;
  bool ended = false;
  bool shortRead = false;
  bool moreData = false;
  unsigned char spare = 0;  // once the declared size is out: room for one byte that is dropped
  for (;;) {
    if (stream.avail_in == 0 && storedLeft > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(storedLeft, workspace.blockSize));
      const size_t got =
          platform::ReadAt(*archive.file, start + result.bytesRead, workspace.input.data(), want);
      result.bytesRead += got;
      storedLeft -= got;
      if (got < want) {
        shortRead = true;
        storedLeft = 0;
      }
      stream.next_in = workspace.input.data();
      stream.avail_in = static_cast<uInt>(got);
    }
    const uInt room =
        static_cast<uInt>(std::min<uint64_t>(entry.size - written, workspace.blockSize));
    const uInt inBefore = stream.avail_in;
    stream.next_out = room > 0 ? workspace.output.data() : &spare;
    stream.avail_out = room > 0 ? room : 1;
    const int code = inflate(&stream, Z_NO_FLUSH);
    if (room == 0 && stream.avail_out == 0) {
      moreData = true;
      break;
    }
    const uInt produced = room > 0 ? room - stream.avail_out : 0;
    if (produced > 0 && !sink(workspace.output.data(), produced)) {
      inflateEnd(&stream);
      result.status = EntryStatus::WriteFailed;
      return result;
    }
    written += produced;
    if (code == Z_STREAM_END) {
      ended = true;
      break;
    }
    if (code != Z_OK && code != Z_BUF_ERROR) break;  // damaged data
    const bool moved = produced > 0 || stream.avail_in < inBefore;
    // Stuck: either the declared size is used up, or the stored bytes are.
    if (!moved && (stream.avail_in > 0 || storedLeft == 0)) break;
  }
  inflateEnd(&stream);
  result.status = StatusAfterInflate(shortRead, ended, moreData, written, entry.size);
  return result;
}

struct FastOutcome {
  EntryResult result;
  bool kept = false;   // the result stands: a whole stream, or a sink that failed
  bool wrote = false;  // bytes went to the sink
};

// The faster inflate over the same blocks as DecodeStreamed. Its bytes stand only for a
// stream that ends, checksum and all, with exactly the declared size: any other stream is
// left to zlib, which alone decides what is salvaged and how the entry is reported.
FastOutcome DecodeFast(OpenArchive& archive, uint64_t start, const FileEntry& entry,
                       DecodeWorkspace& workspace, const EntrySink& sink) {
  FastOutcome fast;
  EntryResult& result = fast.result;
  if (!StartFastInflate(workspace.fast)) return fast;
  uint64_t storedLeft = entry.storedSize;
  uint64_t written = 0;
  const unsigned char* input = nullptr;
  size_t inputLeft = 0;
  unsigned char spare = 0;  // once the declared size is out: does the stream go on?
  for (;;) {
    if (inputLeft == 0 && storedLeft > 0) {
      const size_t want = static_cast<size_t>(std::min<uint64_t>(storedLeft, workspace.blockSize));
      const size_t got =
          platform::ReadAt(*archive.file, start + result.bytesRead, workspace.input.data(), want);
      const bool first = result.bytesRead == 0;
      result.bytesRead += got;
      storedLeft -= got;
      if (got < want) return fast;
      if (first && !FastInflateTakes(workspace.input.data(), got)) return fast;
      input = workspace.input.data();
      inputLeft = got;
    }
    const size_t room =
        static_cast<size_t>(std::min<uint64_t>(entry.size - written, workspace.blockSize));
    unsigned char* const out = room > 0 ? workspace.output.data() : &spare;
    unsigned char* next = out;
    size_t left = room > 0 ? room : 1;
    const size_t inBefore = inputLeft;
    const FastStep step = FastInflate(*workspace.fast, input, inputLeft, next, left);
    const size_t produced = static_cast<size_t>(next - out);
    if (room == 0 && produced > 0) return fast;  // over-long
    if (produced > 0) {
      fast.wrote = true;
      if (!sink(out, produced)) {
        result.status = EntryStatus::WriteFailed;
        fast.kept = true;
        return fast;
      }
    }
    written += produced;
    if (step == FastStep::Ended) {
      fast.kept = written == entry.size;
      workspace.fastEntries += fast.kept ? 1 : 0;
      return fast;
    }
    if (step == FastStep::Failed) return fast;
    if (produced == 0 && inputLeft == inBefore && (inputLeft > 0 || storedLeft == 0)) {
      return fast;  // stuck: a cut stream
    }
  }
}

// Room for an entry's stored bytes followed by its output, kept for the entries after it.
unsigned char* WholeRoom(DecodeWorkspace& workspace, size_t length) {
  if (workspace.wholeCapacity < length) {
    workspace.wholeBuffer.reset();  // the old one goes first: never both at once
    workspace.wholeBuffer.reset(new (std::nothrow) unsigned char[length]);
    workspace.wholeCapacity = workspace.wholeBuffer ? length : 0;
  }
  return workspace.wholeBuffer.get();
}


// libdeflate over the entry held whole. Nothing reaches the sink unless the stream was
// whole and of exactly the declared size, so any other entry is zlib's as if this had not
// run, and no restart is needed.
FastOutcome DecodeWhole(OpenArchive& archive, uint64_t start, const FileEntry& entry,
                        DecodeWorkspace& workspace, const EntrySink& sink) {
  FastOutcome whole;
  const size_t stored = static_cast<size_t>(entry.storedSize);
  const size_t size = static_cast<size_t>(entry.size);
  unsigned char* const input = WholeRoom(workspace, std::max<size_t>(stored + size, 1));
  if (input == nullptr) return whole;
  const size_t got = platform::ReadAt(*archive.file, start, input, stored);
  if (got < stored || !FastInflateTakes(input, got)) return whole;
  unsigned char* const output = input + stored;
  if (!InflateWhole(workspace.whole, input, got, output, size)) return whole;
  whole.kept = true;
  whole.result.bytesRead = got;
  ++workspace.fastEntries;
  if (size > 0 && !sink(output, size)) whole.result.status = EntryStatus::WriteFailed;
  return whole;
}

}  // namespace

bool FitsWhole(const FileEntry& entry, const DecodeWorkspace& workspace) {
  return workspace.fastInflate && WholeInflateAvailable() &&
         uint64_t{entry.storedSize} + entry.size <= workspace.wholeBudget;
}

uint64_t ShownSize(const FileEntry& entry) {
  return entry.flags == 0 ? std::min(entry.storedSize, entry.size) : entry.size;
}

bool EntryDataInsideFile(const ArchiveCatalogue& catalogue, const FileEntry& entry) {
  const uint64_t start = EntryDataStart(catalogue, entry);
  return start <= catalogue.fileLength && entry.storedSize <= catalogue.fileLength - start;
}

std::string DescribeEntryStatus(const EntryResult& result) {
  // In EntryStatus's order; the three that carry the system's reason are spelled below.
  static const char* const kTexts[] = {
      "ok", "unsafe name, not extracted", "data lies outside the archive",
      "archive read cut short", "damaged zlib stream", "more data than its declared size",
      "fewer bytes than its declared size", "not written: it is the archive being read",
      "", "", "out of memory", "", "already there, kept",
      "name not valid in its code page, not extracted"};
  const size_t index = static_cast<size_t>(result.status);
  switch (result.status) {
    case EntryStatus::CreateFailed:
      return "cannot create file: " + result.systemError;
    case EntryStatus::WriteFailed:
      return "cannot write file: " + result.systemError;
    case EntryStatus::Interrupted:
      return result.systemError.empty()
                 ? "interrupted, partial file removed"
                 : "interrupted, partial file left behind: " + result.systemError;
    default:
      return index < sizeof kTexts / sizeof *kTexts ? kTexts[index] : "unknown failure";
  }
}

InflateResult InflateEntry(const unsigned char* input, size_t storedSize, unsigned char* output,
                           size_t size) {
  InflateResult result;
  unsigned char none = 0;  // zlib wants an output pointer even for no room
  z_stream stream;
  if (StartInflate(stream) != Z_OK) return result;
  stream.next_in = const_cast<unsigned char*>(input);
  stream.avail_in = static_cast<uInt>(storedSize);
  stream.next_out = output != nullptr ? output : &none;
  stream.avail_out = static_cast<uInt>(size);
  result.streamEnded = inflate(&stream, Z_FINISH) == Z_STREAM_END;
  result.produced = size - stream.avail_out;
  if (!result.streamEnded && stream.avail_out == 0) {
    unsigned char spare = 0;
    stream.next_out = &spare;
    stream.avail_out = 1;
    inflate(&stream, Z_FINISH);
    result.moreData = stream.avail_out == 0;
  }
  inflateEnd(&stream);
  return result;
}

EntryResult DecodeEntry(OpenArchive& archive, size_t index, DecodeWorkspace& workspace,
                        const EntrySink& sink, const EntryRestart& restart) {
  const ArchiveCatalogue& catalogue = archive.catalogue;
  EntryResult result;
  const FileEntry& entry = catalogue.entries[index];
  const uint64_t start = EntryDataStart(catalogue, entry);
  if (!EntryDataInsideFile(catalogue, entry)) {
    result.status = EntryStatus::DataOutsideFile;
    return result;
  }
  if (!EnsureBlocks(workspace)) {
    result.status = EntryStatus::OutOfMemory;
    return result;
  }
  if (entry.flags == 0) return DecodeStored(archive, start, entry, workspace, sink);
  // Small entries are libdeflate's, larger ones stream through ISA-L: whichever has the
  // entry, a stream it does not give whole is left to zlib below.
  if (FitsWhole(entry, workspace)) {
    FastOutcome whole = DecodeWhole(archive, start, entry, workspace, sink);
    if (whole.kept) return whole.result;
  } else if (workspace.fastInflate && restart && FastInflateAvailable()) {
    FastOutcome fast = DecodeFast(archive, start, entry, workspace, sink);
    if (fast.kept) return fast.result;
    if (fast.wrote && !restart()) {
      fast.result.status = EntryStatus::WriteFailed;
      return fast.result;
    }
  }
  if (entry.storedSize <= workspace.blockSize && entry.size <= workspace.blockSize) {
    return DecodeInOnePiece(archive, start, entry, workspace, sink);
  }
  return DecodeStreamed(archive, start, entry, workspace, sink);
}

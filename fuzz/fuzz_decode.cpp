// libFuzzer target: one entry's stored bytes, decoded every way the tool has. The input is
// an 8-byte head (flags, the block sizes to use, the declared size, a seed for the reads'
// offsets) and then the stored bytes. The one-shot inflate decides: the streamed inflate,
// the faster inflates (libdeflate on the entry held whole, with and without a restart, at
// the declared size and at the size the stream has; ISA-L streaming in one block and in
// small ones) and the mount's reader, read at random offsets through its resume points and
// then from start to end, must give the same bytes and the same verdict, salvaged bytes of
// a damaged stream included (a faster inflate may call whole a verified stream whose code
// zlib refuses).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "decode/entry_decode.h"
#include "decode/entry_reader.h"
#include "fuzz/fuzz_check.h"
#include "platform/memory_file.h"

namespace {

constexpr size_t kHead = 8;
constexpr uint32_t kMaxDeclared = 1u << 16;  // room for the one-shot inflate, bounded time

struct Decoded {
  std::string bytes;
  EntryResult result;
};

Decoded Decode(OpenArchive& archive, DecodeWorkspace& workspace, bool restartable) {
  Decoded decoded;
  const EntrySink sink = [&](const unsigned char* data, size_t length) {
    decoded.bytes.append(reinterpret_cast<const char*>(data), length);
    return true;
  };
  const EntryRestart restart = [&] {
    decoded.bytes.clear();
    return true;
  };
  decoded.result = DecodeEntry(archive, 0, workspace, sink, restartable ? restart : nullptr);
  return decoded;
}

// `wholeBudget` 0: entries stream (through ISA-L when `fast`), none is held whole.
DecodeWorkspace& Workspace(size_t blockSize, bool fast, size_t wholeBudget = 0) {
  static std::vector<std::unique_ptr<DecodeWorkspace>> kept;
  for (auto& workspace : kept) {
    if (workspace->blockSize == blockSize && workspace->fastInflate == fast &&
        workspace->wholeBudget == wholeBudget) {
      return *workspace;
    }
  }
  kept.push_back(std::make_unique<DecodeWorkspace>());
  kept.back()->blockSize = blockSize;
  kept.back()->fastInflate = fast;
  kept.back()->wholeBudget = wholeBudget;
  return *kept.back();
}

void CheckSame(const Decoded& one, const Decoded& other) {
  FUZZ_CHECK(one.bytes == other.bytes);
  FUZZ_CHECK(one.result.status == other.result.status);
}

// A faster inflate against zlib. One difference is accepted: ISA-L decodes a dynamic block
// whose Huffman code is incomplete, and libdeflate one that declares or uses the length
// and distance codes deflate leaves unused, which zlib refuses. Then the faster inflate's "whole"
// stands only for a stream that reached its end with its checksum right and exactly the
// declared size, and zlib's salvage must be the start of those bytes.
// Says whether the faster inflate took such a stream.
bool CheckFast(const Decoded& truth, const Decoded& fast, uint32_t declared, bool oneBlock) {
  if (!truth.result.Complete() && fast.result.Complete()) {
    FUZZ_CHECK(truth.result.status == EntryStatus::StreamDamaged);
    FUZZ_CHECK(fast.bytes.size() == declared);
    FUZZ_CHECK(fast.bytes.compare(0, truth.bytes.size(), truth.bytes) == 0);
    return true;
  }
  CheckSame(truth, fast);
  // In one block the archive's bytes are read once either way; in small ones they may not be.
  if (oneBlock) FUZZ_CHECK(fast.result.bytesRead == truth.result.bytesRead);
  return false;
}

// libdeflate on the entry held whole, with and without a restart to hand, against zlib at
// the declared size and, with the declared size set to what zlib gets from the stream
// unbounded, where the sizes match. Says in `tookMore` whether it took a stream zlib
// refuses at the declared size, and gives what it decoded there.
Decoded CheckHeldWhole(OpenArchive& archive, const Decoded& truth, size_t smallBlock,
                       bool& tookMore) {
  const Decoded held = Decode(archive, Workspace(kMaxDeclared, true, kWholeBudget), false);
  tookMore = CheckFast(truth, held, archive.catalogue.entries[0].size, true);
  CheckFast(truth, Decode(archive, Workspace(smallBlock, true, kWholeBudget), true),
            archive.catalogue.entries[0].size, false);
  FileEntry& entry = archive.catalogue.entries[0];
  const uint32_t declared = entry.size;
  entry.size = kMaxDeclared;
  const Decoded unbounded = Decode(archive, Workspace(kMaxDeclared, false), false);
  if (unbounded.result.status == EntryStatus::SizeMismatch) {
    entry.size = static_cast<uint32_t>(unbounded.bytes.size());  // now the stream's own size
    const Decoded matching = Decode(archive, Workspace(kMaxDeclared, false), false);
    FUZZ_CHECK(matching.result.Complete() && matching.bytes == unbounded.bytes);
    CheckFast(matching, Decode(archive, Workspace(smallBlock, true, kWholeBudget), false),
              entry.size, false);
  }
  entry.size = declared;
  return held;
}

// Random reads, then one pass from the start: every byte as the one-shot inflate gave it,
// nothing where it gave none, and in the end the same verdict.
// A mount reads small entries whole with the faster inflate: `fastWhole` is what that took
// where zlib would not, else null.
void CheckMountReader(OpenArchive& archive, const Decoded& truth, const Decoded* fastWhole,
                      const uint8_t* head, std::minstd_rand& random) {
  ReaderLimits limits;
  // Far smaller than the mount's own, so that blocks, points and their eviction all come
  // into play in a few KiB; not so small that every read starts over from far back.
  limits.blockSize = 64 + head[1] * 61u;
  limits.minPointSpan = 256 + (head[2] & 0x0F) * 997u;
  limits.maxPointsPerEntry = UINT64_MAX;  // so the span is minPointSpan, however small
  limits.blockCacheBytes = limits.blockSize * (4 << (head[2] >> 6));
  limits.pointCacheBytes = (256u << 10) * (1 + ((head[2] >> 4) & 3));
  limits.maxParkedDecoders = 1 + (head[0] >> 6);
  ArchiveReader reader;
  StartReader(reader, archive, limits);
  const uint64_t shown = ShownSize(archive.catalogue.entries[0]);
  const std::string& bytes = truth.bytes;
  std::vector<unsigned char> buffer(8192);
  const auto check = [&](uint64_t offset, size_t count) {
    const ReadResult read = ReadEntryAt(reader, 0, offset, buffer.data(), count);
    FUZZ_CHECK(read.length <= count);
    if (offset < bytes.size()) {
      FUZZ_CHECK(read.length > 0 && !read.failed);
      FUZZ_CHECK(read.length <= bytes.size() - offset);
      FUZZ_CHECK(std::memcmp(buffer.data(), bytes.data() + offset, read.length) == 0);
    } else {
      FUZZ_CHECK(read.length == 0);
      if (offset < shown) FUZZ_CHECK(read.failed);
    }
    return read.length;
  };
  for (int i = 0; i < 6; ++i) {
    const uint64_t offset = random() % (shown + 2);
    check(offset, 1 + random() % buffer.size());
  }
  uint64_t offset = 0;
  for (;;) {
    const size_t got = check(offset, 1 + random() % buffer.size());
    if (got == 0) break;
    offset += got;
  }
  FUZZ_CHECK(offset == bytes.size());
  const EntryCondition condition = ConditionOf(reader, 0);
  FUZZ_CHECK((condition == EntryCondition::Whole) == truth.result.Complete());

  ArchiveReader fresh;
  StartReader(fresh, archive, limits);
  std::vector<unsigned char> whole(shown);
  const bool wholeRead = ReadWholeEntry(fresh, 0, whole.data());
  const std::string& wholeBytes = wholeRead && fastWhole != nullptr ? fastWhole->bytes : bytes;
  if (!wholeRead || fastWhole == nullptr) FUZZ_CHECK(wholeRead == truth.result.Complete());
  if (wholeRead && !wholeBytes.empty()) {
    FUZZ_CHECK(std::memcmp(whole.data(), wholeBytes.data(), wholeBytes.size()) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHead) return 0;
  platform::SetMemoryFile("entry", data, size);
  OpenArchive archive;
  ArchiveCatalogue& catalogue = archive.catalogue;
  archive.file = platform::OpenForRead("entry");
  catalogue.fileLength = size;
  FileEntry entry;
  entry.flags = data[0] & 1;
  entry.dataOffset = kHead;
  entry.storedSize = static_cast<uint32_t>(size - kHead);
  uint32_t declared = 0;
  std::memcpy(&declared, data + 3, 4);
  entry.size = declared % (kMaxDeclared + 1);
  catalogue.entries = {entry};
  catalogue.fileNames = {"e"};
  catalogue.entryNames = {"e"};

  const Decoded truth = Decode(archive, Workspace(kMaxDeclared, false), false);
  FUZZ_CHECK(truth.bytes.size() <= entry.size);
  FUZZ_CHECK(truth.result.Complete() == (truth.bytes.size() == entry.size &&
                                         truth.result.status == EntryStatus::Complete));
  const size_t smallBlock = 1 + (data[0] >> 1) % 31 * 67;
  CheckSame(truth, Decode(archive, Workspace(smallBlock, false), false));
  Decoded fast;
  bool fastTookMore = false;
  if (FastInflateAvailable()) {
    fast = Decode(archive, Workspace(kMaxDeclared, true), true);
    fastTookMore = CheckFast(truth, fast, entry.size, true);
    CheckFast(truth, Decode(archive, Workspace(smallBlock, true), true), entry.size, false);
  }
  // The mount holds small entries whole, as extraction does: libdeflate's where it is there.
  if (WholeInflateAvailable()) {
    fast = CheckHeldWhole(archive, truth, smallBlock, fastTookMore);
  }
  std::minstd_rand random(data[7] * 256u + data[2]);
  CheckMountReader(archive, truth, fastTookMore ? &fast : nullptr, data, random);
  return 0;
}

#include "decode/entry_reader.h"

#include <algorithm>
#include <cstring>

namespace {

using Block = std::vector<unsigned char>;

uint64_t CacheKey(size_t entry, uint64_t number) {
  return (static_cast<uint64_t>(entry) << 40) | number;
}

EntrySource SourceOf(const ArchiveReader& reader, size_t entry) {
  const FileEntry& record = reader.archive->catalogue.entries[entry];
  EntrySource source;
  source.file = reader.archive->file.get();
  source.start =
      static_cast<uint64_t>(reader.archive->catalogue.header.dataOffset) + record.dataOffset;
  source.storedSize = record.storedSize;
  source.size = record.size;
  return source;
}

// Resume points every few MiB, further apart in very large entries so that one entry's
// points always fit in the point cache.
uint64_t PointSpan(const ArchiveReader& reader, size_t entry) {
  const uint64_t size = reader.archive->catalogue.entries[entry].size;
  const uint64_t step = 1u << 20;
  const uint64_t spread = (size / reader.limits.maxPointsPerEntry + step - 1) / step * step;
  return std::max(reader.limits.minPointSpan, spread);
}

PointHooks HooksFor(ArchiveReader& reader, size_t entry) {
  PointHooks hooks;
  hooks.span = PointSpan(reader, entry);
  hooks.wanted = [&reader, entry](uint64_t number) {
    std::lock_guard<std::mutex> lock(reader.mutex);
    return !CacheHas(reader.points, CacheKey(entry, number));
  };
  hooks.keep = [&reader, entry](uint64_t number, ResumePoint&& point) {
    const size_t cost = point.window.size() + sizeof(ResumePoint);
    auto kept = std::make_shared<const ResumePoint>(std::move(point));
    std::lock_guard<std::mutex> lock(reader.mutex);
    CachePut(reader.points, CacheKey(entry, number), std::move(kept), cost);
  };
  return hooks;
}

// Takes the parked decoder of `entry` nearest before `target` (exactly at it when `exact`),
// at most one point span before it.
std::unique_ptr<EntryDecoder> TakeDecoder(ArchiveReader& reader, size_t entry, uint64_t target,
                                          bool exact) {
  const EntrySource source = SourceOf(reader, entry);
  const uint64_t reach = exact ? 0 : PointSpan(reader, entry);
  std::lock_guard<std::mutex> lock(reader.mutex);
  auto best = reader.parked.end();
  for (auto it = reader.parked.begin(); it != reader.parked.end(); ++it) {
    const EntryDecoder& decoder = **it;
    const bool same = decoder.source.start == source.start &&
                      decoder.source.storedSize == source.storedSize &&
                      decoder.source.size == source.size;
    if (!same || decoder.out > target || target - decoder.out > reach) {
      continue;
    }
    if (best == reader.parked.end() || decoder.out > (*best)->out) best = it;
  }
  if (best == reader.parked.end()) return nullptr;
  std::unique_ptr<EntryDecoder> taken = std::move(*best);
  reader.parked.erase(best);
  return taken;
}

// The kept resume point nearest before `target`, or null for the stream's start.
std::shared_ptr<const ResumePoint> PointBefore(ArchiveReader& reader, size_t entry,
                                               uint64_t target) {
  const uint64_t span = PointSpan(reader, entry);
  std::lock_guard<std::mutex> lock(reader.mutex);
  for (uint64_t number = target / span; number >= 1; --number) {
    std::shared_ptr<const ResumePoint> point = CacheFind(reader.points, CacheKey(entry, number));
    if (point && point->out <= target) return point;
  }
  return nullptr;
}

std::unique_ptr<EntryDecoder> DecoderFor(ArchiveReader& reader, size_t entry, uint64_t target) {
  std::unique_ptr<EntryDecoder> parked = TakeDecoder(reader, entry, target, false);
  const std::shared_ptr<const ResumePoint> point = PointBefore(reader, entry, target);
  if (parked && (!point || parked->out >= point->out)) return parked;
  auto decoder = std::make_unique<EntryDecoder>();
  if (!StartDecoder(*decoder, SourceOf(reader, entry), point.get(), PointSpan(reader, entry))) {
    return nullptr;
  }
  return decoder;
}

// Records what an entry was found to be, the first time that is known; a damaged one is
// reported then, once.
void Settle(ArchiveReader& reader, size_t entry, bool whole, uint64_t salvaged,
            const std::string& why) {
  {
    std::lock_guard<std::mutex> lock(reader.mutex);
    EntryHealth& health = reader.health[entry];
    if (health.condition != EntryCondition::Unknown) return;
    health.condition = whole ? EntryCondition::Whole : EntryCondition::Damaged;
    health.salvaged = salvaged;
  }
  if (!whole && reader.reportDamage) {
    const uint64_t size = reader.archive->catalogue.entries[entry].size;
    reader.reportDamage(entry, why + " (" + std::to_string(salvaged) + " of " +
                                   std::to_string(size) + " bytes readable)");
  }
}

// Records what a decoder found out about its entry, and parks it when it can go on.
void ReturnDecoder(ArchiveReader& reader, size_t entry, std::unique_ptr<EntryDecoder> decoder) {
  if (decoder->state == DecoderState::Running) {
    std::lock_guard<std::mutex> lock(reader.mutex);
    reader.parked.push_front(std::move(decoder));
    if (reader.parked.size() > reader.limits.maxParkedDecoders) reader.parked.pop_back();
    return;
  }
  const bool whole = decoder->state == DecoderState::Ended && decoder->out == decoder->source.size;
  const char* why = decoder->inputCut                       ? "archive read cut short"
                    : decoder->state == DecoderState::Ended ? "fewer bytes than its declared size"
                                                            : "damaged zlib stream";
  Settle(reader, entry, whole, decoder->out, why);
}

// A compressed entry inflated whole by extraction's own code (and its faster inflate where
// the build has one), so that what it salvages of a damaged stream is extraction's to the
// byte. False when it is damaged or memory is short.
bool InflateWhole(ArchiveReader& reader, size_t entry, unsigned char* buffer, size_t size) {
  // One per thread that serves the mount, so small blocks: memory stays low however many.
  thread_local DecodeWorkspace workspace = [] {
    DecodeWorkspace small;
    small.blockSize = 128u << 10;
    return small;
  }();
  size_t got = 0;
  const EntrySink sink = [&](const unsigned char* data, size_t length) {
    length = std::min(length, size - got);
    std::memcpy(buffer + got, data, length);
    got += length;
    return true;
  };
  const EntryRestart restart = [&] {
    got = 0;
    return true;
  };
  const EntryResult result = DecodeEntry(*reader.archive, entry, workspace, sink, restart);
  if (result.status == EntryStatus::OutOfMemory) return false;
  Settle(reader, entry, result.Complete() && got == size, got, DescribeEntryStatus(result));
  return result.Complete() && got == size;
}

std::shared_ptr<const Block> InflateBlock(ArchiveReader& reader, size_t entry, uint64_t number,
                                          uint64_t shown) {
  const uint64_t start = number * reader.limits.blockSize;
  const size_t length =
      static_cast<size_t>(std::min<uint64_t>(reader.limits.blockSize, shown - start));
  std::unique_ptr<EntryDecoder> decoder = DecoderFor(reader, entry, start);
  if (!decoder) return nullptr;
  const PointHooks hooks = HooksFor(reader, entry);
  auto block = std::make_shared<Block>(length);
  Decode(*decoder, nullptr, static_cast<size_t>(start - decoder->out), hooks);
  size_t got = 0;
  if (decoder->out == start) got = Decode(*decoder, block->data(), length, hooks);
  block->resize(got);
  ReturnDecoder(reader, entry, std::move(decoder));
  std::shared_ptr<const Block> kept = std::move(block);
  std::lock_guard<std::mutex> lock(reader.mutex);
  CachePut(reader.blocks, CacheKey(entry, number), kept, reader.limits.blockSize);
  return kept;
}

size_t ReadThroughBlocks(ArchiveReader& reader, size_t entry, uint64_t offset,
                         unsigned char* buffer, size_t count, uint64_t shown) {
  size_t done = 0;
  while (done < count) {
    const uint64_t at = offset + done;
    const uint64_t number = at / reader.limits.blockSize;
    std::shared_ptr<const Block> block;
    {
      std::lock_guard<std::mutex> lock(reader.mutex);
      block = CacheFind(reader.blocks, CacheKey(entry, number));
    }
    if (!block) block = InflateBlock(reader, entry, number, shown);
    const size_t within = static_cast<size_t>(at - number * reader.limits.blockSize);
    if (!block || within >= block->size()) break;
    const size_t length = std::min(count - done, block->size() - within);
    std::memcpy(buffer + done, block->data() + within, length);
    done += length;
  }
  return done;
}

size_t ReadCompressed(ArchiveReader& reader, size_t entry, uint64_t offset, unsigned char* buffer,
                      size_t count, uint64_t shown) {
  // A reader going on where it stopped, or starting at the beginning (most read a file
  // from there to its end): inflate straight into its buffer, keeping the cache for
  // reads elsewhere.
  std::unique_ptr<EntryDecoder> decoder = TakeDecoder(reader, entry, offset, true);
  if (!decoder && offset == 0) decoder = DecoderFor(reader, entry, 0);
  if (!decoder) return ReadThroughBlocks(reader, entry, offset, buffer, count, shown);
  const size_t got = Decode(*decoder, buffer, count, HooksFor(reader, entry));
  ReturnDecoder(reader, entry, std::move(decoder));
  return got;
}

// The bytes the archive still holds of a stored entry from its start, at most `shown`.
uint64_t StoredBytesLeft(const ArchiveReader& reader, size_t entry, uint64_t shown) {
  uint64_t length = 0;
  const uint64_t start = SourceOf(reader, entry).start;
  if (!platform::FileLength(*reader.archive->file, length) || length <= start) return 0;
  return std::min(shown, length - start);
}

// A stored entry is read straight from the archive. Every byte it shows must come: a short
// read is the archive cut or failing under the mount, and an error rather than a file
// silently ending early. Past the stored bytes of an entry that declares more than it
// stores comes an error too, as extraction counts it damaged.
ReadResult ReadStored(ArchiveReader& reader, size_t entry, uint64_t offset, unsigned char* buffer,
                      size_t count) {
  ReadResult result;
  const FileEntry& record = reader.archive->catalogue.entries[entry];
  const uint64_t end = ShownSize(record);
  if (offset >= end) {
    result.failed = record.size > end;
    if (result.failed) Settle(reader, entry, false, end, "fewer bytes than its declared size");
    return result;
  }
  const size_t want = static_cast<size_t>(std::min<uint64_t>(count, end - offset));
  const EntrySource source = SourceOf(reader, entry);
  result.length = platform::ReadAt(*source.file, source.start + offset, buffer, want);
  if (result.length < want) {
    Settle(reader, entry, false, StoredBytesLeft(reader, entry, end), "archive read cut short");
    result.length = 0;
    result.failed = true;
  }
  return result;
}

}  // namespace

void StartReader(ArchiveReader& reader, OpenArchive& archive, const ReaderLimits& limits) {
  reader.archive = &archive;
  reader.limits = limits;
  reader.blocks.budget = limits.blockCacheBytes;
  reader.points.budget = limits.pointCacheBytes;
  reader.health.assign(archive.catalogue.entries.size(), EntryHealth());
}

ReadResult ReadEntryAt(ArchiveReader& reader, size_t entry, uint64_t offset, unsigned char* buffer,
                       size_t count) {
  if (reader.archive->catalogue.entries[entry].flags == 0) {
    return ReadStored(reader, entry, offset, buffer, count);
  }
  ReadResult result;
  uint64_t end = ShownSize(reader.archive->catalogue.entries[entry]);
  bool damaged = false;
  {
    std::lock_guard<std::mutex> lock(reader.mutex);
    const EntryHealth& health = reader.health[entry];
    damaged = health.condition == EntryCondition::Damaged;
    if (damaged) end = std::min(end, health.salvaged);
  }
  if (offset >= end) {
    result.failed = damaged;
    return result;
  }
  const size_t want = static_cast<size_t>(std::min<uint64_t>(count, end - offset));
  result.length = ReadCompressed(reader, entry, offset, buffer, want, end);
  result.failed = result.length == 0;
  return result;
}

EntryCondition ConditionOf(ArchiveReader& reader, size_t entry) {
  const FileEntry& record = reader.archive->catalogue.entries[entry];
  std::lock_guard<std::mutex> lock(reader.mutex);
  const EntryCondition condition = reader.health[entry].condition;
  // A stored entry is whole by its records until a read finds otherwise.
  const bool storedWhole = record.flags == 0 && record.size <= record.storedSize;
  return condition == EntryCondition::Unknown && storedWhole ? EntryCondition::Whole : condition;
}

bool ReadWholeEntry(ArchiveReader& reader, size_t entry, unsigned char* buffer) {
  const size_t size = static_cast<size_t>(ShownSize(reader.archive->catalogue.entries[entry]));
  if (reader.archive->catalogue.entries[entry].flags != 0) {
    return ConditionOf(reader, entry) != EntryCondition::Damaged &&
           InflateWhole(reader, entry, buffer, size);
  }
  size_t done = 0;
  while (done < size) {
    const ReadResult result = ReadEntryAt(reader, entry, done, buffer + done, size - done);
    if (result.length == 0) break;
    done += result.length;
  }
  return done == size && ConditionOf(reader, entry) == EntryCondition::Whole;
}

#include "decode/entry_pair_compare.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "decode/entry_decoder.h"

namespace {

// Bytes read or compared at a time when nothing is held whole: two such pieces per thread.
constexpr size_t kStep = 64u << 10;

// No resume points: the bytes are wanted once, from the start.
constexpr uint64_t kNoPoints = uint64_t{1} << 62;

bool Compressed(const FileEntry& entry) { return entry.flags != 0; }

// Both entries store the very same bytes in the same form and declare the same size, so
// extraction writes the same for both, whatever the bytes hold.
bool StoredAlike(OpenArchive& older, const FileEntry& a, OpenArchive& newer, const FileEntry& b,
                 uint64_t& read) {
  if (Compressed(a) != Compressed(b) || a.size != b.size || a.storedSize != b.storedSize) {
    return false;
  }
  thread_local std::vector<unsigned char> left(kStep), right(kStep);
  const uint64_t startA = EntryDataStart(older.catalogue, a);
  const uint64_t startB = EntryDataStart(newer.catalogue, b);
  for (uint64_t at = 0; at < a.storedSize; at += kStep) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kStep, a.storedSize - at));
    const size_t gotA = platform::ReadAt(*older.file, startA + at, left.data(), want);
    const size_t gotB = platform::ReadAt(*newer.file, startB + at, right.data(), want);
    read += gotA + gotB;
    if (gotA != want || gotB != want || std::memcmp(left.data(), right.data(), want) != 0) {
      return false;
    }
  }
  return true;
}

// An entry's bytes pulled a piece at a time, as extraction writes them: stored bytes
// straight from the archive, compressed ones through zlib, which alone says what a damaged
// stream gives.
struct Pull {
  OpenArchive* archive = nullptr;
  const FileEntry* entry = nullptr;
  std::unique_ptr<EntryDecoder> decoder;
  uint64_t given = 0;
  bool ended = false;  // no byte more will come
  bool whole = false;  // once ended: every byte came and the stream checked out
  uint64_t read = 0;   // stored bytes read
};

bool StartPull(Pull& pull, OpenArchive& archive, size_t index) {
  pull = Pull();
  pull.archive = &archive;
  pull.entry = &archive.catalogue.entries[index];
  if (!Compressed(*pull.entry)) return true;
  pull.decoder.reset(new (std::nothrow) EntryDecoder);
  EntrySource source;
  source.file = archive.file.get();
  source.start = EntryDataStart(archive.catalogue, *pull.entry);
  source.storedSize = pull.entry->storedSize;
  source.size = pull.entry->size;
  return pull.decoder && StartDecoder(*pull.decoder, source, nullptr, kNoPoints);
}

size_t PullStored(Pull& pull, unsigned char* out, size_t count) {
  const FileEntry& entry = *pull.entry;
  const uint64_t shown = ShownSize(entry);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(count, shown - pull.given));
  const uint64_t at = EntryDataStart(pull.archive->catalogue, entry) + pull.given;
  const size_t got = want > 0 ? platform::ReadAt(*pull.archive->file, at, out, want) : 0;
  pull.read += got;
  pull.given += got;
  if (got < want || pull.given == shown) {
    pull.ended = true;
    pull.whole = got == want && entry.size <= entry.storedSize;
  }
  return got;
}

// Up to `count` bytes; fewer only once the entry has ended.
size_t PullBytes(Pull& pull, unsigned char* out, size_t count) {
  if (pull.ended) return 0;
  if (!pull.decoder) return PullStored(pull, out, count);
  EntryDecoder& decoder = *pull.decoder;
  PointHooks hooks;
  hooks.span = kNoPoints;
  const size_t got = Decode(decoder, out, count, hooks);
  pull.given += got;
  pull.read = decoder.fed;
  if (got < count || decoder.state != DecoderState::Running) {
    pull.ended = true;
    pull.whole = decoder.state == DecoderState::Ended && decoder.out == decoder.source.size;
  }
  return got;
}

// OLD's bytes, as they come from DecodeEntry, against NEW's: held whole, or pulled in step.
struct Matcher {
  const std::vector<unsigned char>* held = nullptr;
  Pull* pull = nullptr;
  OpenArchive* newArchive = nullptr;
  size_t newIndex = 0;
  uint64_t at = 0;
  bool differs = false;
  bool pullFailed = false;
};

bool MatchHeld(Matcher& m, const unsigned char* data, size_t count) {
  const std::vector<unsigned char>& held = *m.held;
  const size_t overlap =
      m.at >= held.size() ? 0 : static_cast<size_t>(std::min<uint64_t>(count, held.size() - m.at));
  m.differs = overlap > 0 && std::memcmp(held.data() + m.at, data, overlap) != 0;
  m.at += count;
  return !m.differs;
}

bool MatchPulled(Matcher& m, const unsigned char* data, size_t count) {
  thread_local std::vector<unsigned char> piece(kStep);
  for (size_t done = 0; done < count && !m.pull->ended;) {
    const size_t want = std::min(kStep, count - done);
    const size_t got = PullBytes(*m.pull, piece.data(), want);
    if (got > 0 && std::memcmp(piece.data(), data + done, got) != 0) {
      m.differs = true;
      return false;
    }
    done += got;
  }
  m.at += count;
  return true;
}

bool RestartMatch(Matcher& m) {
  m.at = 0;
  m.differs = false;
  if (m.pull && !StartPull(*m.pull, *m.newArchive, m.newIndex)) m.pullFailed = true;
  return !m.pullFailed;
}

// NEW's entry decoded whole into `held`, when the budget has room for it.
bool HoldNew(OpenArchive& newer, size_t index, DecodeWorkspace& workspace, HeldBudget* budget,
             std::vector<unsigned char>& held, EntryResult& result) {
  const uint64_t size = ShownSize(newer.catalogue.entries[index]);
  if (budget == nullptr) return false;
  uint64_t left = budget->left.load();
  do {
    if (left < size) return false;
  } while (!budget->left.compare_exchange_weak(left, left - size));
  try {
    held.reserve(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    budget->left += size;
    return false;
  }
  const EntrySink keep = [&](const unsigned char* data, size_t count) {
    held.insert(held.end(), data, data + count);
    return true;
  };
  const EntryRestart restart = [&] {
    held.clear();
    return true;
  };
  result = DecodeEntry(newer, index, workspace, keep, restart);
  return true;
}

struct Sides {
  OpenArchive* older;
  size_t oldIndex;
  OpenArchive* newer;
  size_t newIndex;
};

// One pass of OLD through DecodeEntry against NEW. True when the pass stands: no difference
// seen, or one seen in zlib's own bytes.
bool ComparePass(const Sides& s, DecodeWorkspace& workspace, Matcher& m, PairComparison& out) {
  if (!RestartMatch(m)) return true;
  const EntrySink sink = [&](const unsigned char* data, size_t count) {
    return m.held ? MatchHeld(m, data, count) : MatchPulled(m, data, count);
  };
  const EntryRestart restart = [&] { return RestartMatch(m); };
  out.oldResult = DecodeEntry(*s.older, s.oldIndex, workspace, sink, restart);
  return !m.differs || !workspace.fastInflate;
}

// The verdict once OLD has been gone through: a difference first met decides; else both
// whole is the same content, and anything else names the side(s) that are not whole.
void Settle(const Sides& s, DecodeWorkspace& workspace, Matcher& m, bool newWhole,
            PairComparison& out) {
  if (m.differs) {
    out.verdict = PairVerdict::Differs;
    return;
  }
  const bool oldWhole = out.oldResult.Complete();
  if (oldWhole && newWhole) {
    out.verdict = PairVerdict::Same;
    return;
  }
  out.verdict = PairVerdict::Unreadable;
  if (!newWhole && m.pull) {
    // The reason a pulled entry fell short is extraction's to tell.
    out.newResult = DecodeEntry(*s.newer, s.newIndex, workspace,
                                [](const unsigned char*, size_t) { return true; });
    if (out.newResult.Complete()) out.newResult.status = EntryStatus::StreamDamaged;
  }
}

void CompareDecoded(const Sides& s, DecodeWorkspace& workspace, HeldBudget* budget,
                    PairComparison& out) {
  std::vector<unsigned char> held;
  Matcher m;
  m.newArchive = s.newer;
  m.newIndex = s.newIndex;
  Pull pull;
  const uint64_t size = ShownSize(s.newer->catalogue.entries[s.newIndex]);
  const bool holding = HoldNew(*s.newer, s.newIndex, workspace, budget, held, out.newResult);
  if (holding) {
    m.held = &held;
  } else {
    m.pull = &pull;
  }
  if (!ComparePass(s, workspace, m, out)) {
    // A faster decoder's bytes of a damaged stream can differ from what zlib salvages:
    // only zlib's bytes may say that the entries differ.
    const bool fast = workspace.fastInflate;
    workspace.fastInflate = false;
    ComparePass(s, workspace, m, out);
    workspace.fastInflate = fast;
  }
  bool newWhole = false;
  if (holding) {
    newWhole = out.newResult.Complete();
    out.bytesRead += out.newResult.bytesRead;
    std::vector<unsigned char>().swap(held);
    budget->left += size;
  } else if (m.pullFailed) {
    out.newResult.status = EntryStatus::OutOfMemory;
  } else {
    // Past OLD's last byte NEW is read on to its end: only then is it known to be whole.
    thread_local std::vector<unsigned char> rest(kStep);
    while (!m.differs && !pull.ended && PullBytes(pull, rest.data(), kStep) > 0) {
    }
    newWhole = pull.whole && pull.given == size;
    out.bytesRead += pull.read;
  }
  out.bytesRead += out.oldResult.bytesRead;
  Settle(s, workspace, m, newWhole, out);
}

}  // namespace

PairComparison CompareEntryPair(OpenArchive& oldArchive, size_t oldIndex, OpenArchive& newArchive,
                                size_t newIndex, DecodeWorkspace& workspace, HeldBudget* held) {
  PairComparison out;
  const FileEntry& a = oldArchive.catalogue.entries[oldIndex];
  const FileEntry& b = newArchive.catalogue.entries[newIndex];
  const bool oldInside = EntryDataInsideFile(oldArchive.catalogue, a);
  const bool newInside = EntryDataInsideFile(newArchive.catalogue, b);
  if (!oldInside || !newInside) {
    out.verdict = PairVerdict::Unreadable;
    if (!oldInside) out.oldResult.status = EntryStatus::DataOutsideFile;
    if (!newInside) out.newResult.status = EntryStatus::DataOutsideFile;
    return out;
  }
  if (StoredAlike(oldArchive, a, newArchive, b, out.bytesRead)) {
    out.storedAlike = true;
    return out;
  }
  if (ShownSize(a) != ShownSize(b)) {
    out.verdict = PairVerdict::Differs;
    return out;
  }
  CompareDecoded({&oldArchive, oldIndex, &newArchive, newIndex}, workspace, held, out);
  return out;
}

std::optional<uint32_t> WholeEntryChecksum(OpenArchive& archive, size_t index,
                                           DecodeWorkspace& workspace) {
  uLong crc = crc32(0, Z_NULL, 0);
  const EntrySink sum = [&](const unsigned char* data, size_t count) {
    for (size_t done = 0; done < count;) {
      const uInt piece = static_cast<uInt>(std::min<size_t>(count - done, 1u << 30));
      crc = crc32(crc, data + done, piece);
      done += piece;
    }
    return true;
  };
  const EntryRestart restart = [&] {
    crc = crc32(0, Z_NULL, 0);
    return true;
  };
  if (!DecodeEntry(archive, index, workspace, sum, restart).Complete()) return std::nullopt;
  return static_cast<uint32_t>(crc);
}

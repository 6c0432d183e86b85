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
// extraction makes the same of both, whatever the bytes hold: the same file, or the same
// failure (stored bytes running past the archive's end included).
bool StoredAlike(OpenArchive& older, const FileEntry& a, OpenArchive& newer, const FileEntry& b,
                 uint64_t& read) {
  const DataSpan spanA = DataSpanInFile(older.catalogue, a);
  const DataSpan spanB = DataSpanInFile(newer.catalogue, b);
  const uint64_t length = spanA.end - spanA.start;
  if (Compressed(a) != Compressed(b) || a.size != b.size || a.storedSize != b.storedSize ||
      length != spanB.end - spanB.start) {
    return false;
  }
  thread_local std::vector<unsigned char> left(kStep), right(kStep);
  for (uint64_t at = 0; at < length; at += kStep) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kStep, length - at));
    const size_t gotA = platform::ReadAt(*older.file, spanA.start + at, left.data(), want);
    const size_t gotB = platform::ReadAt(*newer.file, spanB.start + at, right.data(), want);
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
  bool stop = true;  // stop OLD at the first difference
  bool pullFailed = false;
};

void MatchHeld(Matcher& m, const unsigned char* data, size_t count) {
  const std::vector<unsigned char>& held = *m.held;
  const size_t overlap =
      m.at >= held.size() ? 0 : static_cast<size_t>(std::min<uint64_t>(count, held.size() - m.at));
  m.differs = overlap > 0 && std::memcmp(held.data() + m.at, data, overlap) != 0;
}

void MatchPulled(Matcher& m, const unsigned char* data, size_t count) {
  thread_local std::vector<unsigned char> piece(kStep);
  for (size_t done = 0; done < count && !m.pull->ended && !m.differs;) {
    const size_t want = std::min(kStep, count - done);
    const size_t got = PullBytes(*m.pull, piece.data(), want);
    m.differs = got > 0 && std::memcmp(piece.data(), data + done, got) != 0;
    done += got;
  }
}

bool Match(Matcher& m, const unsigned char* data, size_t count) {
  if (!m.differs) {
    if (m.held) {
      MatchHeld(m, data, count);
    } else {
      MatchPulled(m, data, count);
    }
  }
  m.at += count;
  return !(m.differs && m.stop);
}

bool RestartMatch(Matcher& m) {
  m.at = 0;
  m.differs = false;
  if (m.pull && !StartPull(*m.pull, *m.newArchive, m.newIndex)) m.pullFailed = true;
  return !m.pullFailed;
}

struct Sides {
  OpenArchive* older;
  size_t oldIndex;
  OpenArchive* newer;
  size_t newIndex;
};

// One pass of OLD through DecodeEntry against NEW.
void ComparePass(const Sides& s, DecodeWorkspace& workspace, bool fast, bool stop, Matcher& m,
                 PairComparison& out) {
  const bool wasFast = workspace.fastInflate;
  workspace.fastInflate = fast && wasFast;
  m.stop = stop;
  if (RestartMatch(m)) {
    const EntrySink sink = [&](const unsigned char* data, size_t count) {
      return Match(m, data, count);
    };
    const EntryRestart restart = [&] { return RestartMatch(m); };
    out.oldResult = DecodeEntry(*s.older, s.oldIndex, workspace, sink, restart);
  }
  workspace.fastInflate = wasFast;
}

// OLD against NEW, stopping at the first difference that stands. A faster decoder streaming
// OLD may hand bytes it takes back later, so a difference in them is checked in zlib's:
// zlib's bytes are always the start of what extract writes, so one found there stands. If
// zlib finds none, OLD is gone through whole once more, its last bytes deciding.
void CompareOld(const Sides& s, DecodeWorkspace& workspace, Matcher& m, PairComparison& out) {
  ComparePass(s, workspace, true, true, m, out);
  if (!m.differs || !workspace.fastInflate) return;
  ComparePass(s, workspace, false, true, m, out);
  if (!m.differs) ComparePass(s, workspace, true, false, m, out);
}

// NEW's entry decoded whole into `held`. False when memory is short.
bool DecodeHeld(const Sides& s, DecodeWorkspace& workspace, std::vector<unsigned char>& held,
                EntryResult& result) {
  try {
    held.reserve(static_cast<size_t>(ShownSize(s.newer->catalogue.entries[s.newIndex])));
  } catch (const std::bad_alloc&) {
    result.status = EntryStatus::OutOfMemory;
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
  result = DecodeEntry(*s.newer, s.newIndex, workspace, keep, restart);
  return true;
}

bool Reserve(HeldBudget* budget, uint64_t size) {
  if (budget == nullptr) return false;
  uint64_t left = budget->left.load();
  do {
    if (left < size) return false;
  } while (!budget->left.compare_exchange_weak(left, left - size));
  return true;
}

// NEW held whole: the verdict follows from OLD's pass and NEW's result.
void CompareHeld(const Sides& s, DecodeWorkspace& workspace, PairComparison& out) {
  std::vector<unsigned char> held;
  if (DecodeHeld(s, workspace, held, out.newResult)) {
    Matcher m;
    m.held = &held;
    CompareOld(s, workspace, m, out);
    out.verdict = m.differs ? PairVerdict::Differs
                  : out.oldResult.Complete() && out.newResult.Complete() ? PairVerdict::Same
                                                                          : PairVerdict::Unreadable;
  } else {
    out.verdict = PairVerdict::Unreadable;
  }
  out.bytesRead += out.oldResult.bytesRead + out.newResult.bytesRead;
}

// NEW pulled by zlib in step with OLD, then read on to its end: only then is it known to be
// whole. Where zlib finds NEW not whole, a faster decoder may still give it whole to
// extract: then NEW is held after all, whatever its size, so that the verdict is extract's.
void ComparePulled(const Sides& s, DecodeWorkspace& workspace, PairComparison& out) {
  Matcher m;
  Pull pull;
  m.pull = &pull;
  m.newArchive = s.newer;
  m.newIndex = s.newIndex;
  CompareOld(s, workspace, m, out);
  thread_local std::vector<unsigned char> rest(kStep);
  while (!m.differs && !m.pullFailed && PullBytes(pull, rest.data(), kStep) > 0) {
  }
  out.bytesRead += out.oldResult.bytesRead + pull.read;
  const uint64_t size = ShownSize(s.newer->catalogue.entries[s.newIndex]);
  if (m.differs) {
    out.verdict = PairVerdict::Differs;
    return;
  }
  if (m.pullFailed) {
    out.newResult.status = EntryStatus::OutOfMemory;
  } else if (!pull.whole || pull.given != size) {
    const EntrySink none = [](const unsigned char*, size_t) { return true; };
    const EntryRestart again = [] { return true; };
    out.newResult = DecodeEntry(*s.newer, s.newIndex, workspace, none, again);
    if (out.newResult.Complete()) return CompareHeld(s, workspace, out);
  }
  out.verdict = out.oldResult.Complete() && out.newResult.Complete() ? PairVerdict::Same
                                                                     : PairVerdict::Unreadable;
}

void CompareDecoded(const Sides& s, DecodeWorkspace& workspace, HeldBudget* budget,
                    PairComparison& out) {
  // The decoders an entry goes through must not depend on how many threads compare, or
  // a stream one faster decoder takes and another refuses would compare differently.
  const size_t wholeBudget = workspace.wholeBudget;
  workspace.wholeBudget = kPairWholeBudget;
  const uint64_t size = ShownSize(s.newer->catalogue.entries[s.newIndex]);
  if (Reserve(budget, size)) {
    CompareHeld(s, workspace, out);
    budget->left += size;
  } else {
    ComparePulled(s, workspace, out);
  }
  workspace.wholeBudget = wholeBudget;
}

}  // namespace

PairComparison CompareEntryPair(OpenArchive& oldArchive, size_t oldIndex, OpenArchive& newArchive,
                                size_t newIndex, DecodeWorkspace& workspace, HeldBudget* held) {
  PairComparison out;
  const FileEntry& a = oldArchive.catalogue.entries[oldIndex];
  const FileEntry& b = newArchive.catalogue.entries[newIndex];
  if (StoredAlike(oldArchive, a, newArchive, b, out.bytesRead)) {
    out.storedAlike = true;
    return out;
  }
  const bool oldInside = EntryDataInsideFile(oldArchive.catalogue, a);
  const bool newInside = EntryDataInsideFile(newArchive.catalogue, b);
  if (!oldInside || !newInside) {
    out.verdict = PairVerdict::Unreadable;
    if (!oldInside) out.oldResult.status = EntryStatus::DataOutsideFile;
    if (!newInside) out.newResult.status = EntryStatus::DataOutsideFile;
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
  const size_t wholeBudget = workspace.wholeBudget;
  workspace.wholeBudget = kPairWholeBudget;
  const bool whole = DecodeEntry(archive, index, workspace, sum, restart).Complete();
  workspace.wholeBudget = wholeBudget;
  if (!whole) return std::nullopt;
  return static_cast<uint32_t>(crc);
}

#include "decode/entry_pair_compare.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "decode/entry_decoder.h"
#include "decode/fast_inflate.h"

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

// An entry's bytes pulled a piece at a time: stored bytes straight from the archive,
// compressed ones through zlib, which alone says what a damaged stream gives, or through
// the faster streaming inflate, whose bytes stand only once the stream has ended whole with
// exactly the declared size.
struct Pull {
  OpenArchive* archive = nullptr;
  const FileEntry* entry = nullptr;
  bool fast = false;
  std::unique_ptr<EntryDecoder> decoder;  // zlib's
  uint64_t given = 0;
  bool ended = false;  // no byte more will come
  bool whole = false;  // once ended: every byte came and the stream checked out
  uint64_t read = 0;   // stored bytes read
  std::vector<unsigned char> input;  // the faster inflate's stored bytes, a piece at a time
  const unsigned char* in = nullptr;
  size_t inLeft = 0;
};

FastInflatePtr& FastState() {
  thread_local FastInflatePtr state;
  return state;
}

bool StartPull(Pull& pull, OpenArchive& archive, size_t index) {
  const bool fast = pull.fast;
  pull = Pull();
  pull.fast = fast;
  pull.archive = &archive;
  pull.entry = &archive.catalogue.entries[index];
  if (!Compressed(*pull.entry)) return true;
  if (fast) {
    pull.input.resize(kStep);
    return StartFastInflate(FastState());
  }
  pull.decoder.reset(new (std::nothrow) EntryDecoder);
  EntrySource source;
  source.file = archive.file.get();
  source.start = EntryDataStart(archive.catalogue, *pull.entry);
  source.storedSize = pull.entry->storedSize;
  source.size = pull.entry->size;
  return pull.decoder && StartDecoder(*pull.decoder, source, nullptr, kNoPoints);
}

void EndPull(Pull& pull, bool whole) {
  pull.ended = true;
  pull.whole = whole;
}

size_t PullStored(Pull& pull, unsigned char* out, size_t count) {
  const FileEntry& entry = *pull.entry;
  const uint64_t shown = ShownSize(entry);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(count, shown - pull.given));
  const uint64_t at = EntryDataStart(pull.archive->catalogue, entry) + pull.given;
  const size_t got = want > 0 ? platform::ReadAt(*pull.archive->file, at, out, want) : 0;
  pull.read += got;
  pull.given += got;
  if (got < want || pull.given == shown) EndPull(pull, got == want && entry.size <= entry.storedSize);
  return got;
}

// Stored bytes for the faster inflate; false when the archive gives fewer than it holds or
// the stream is not one it reads as zlib does.
bool FeedFast(Pull& pull) {
  const FileEntry& entry = *pull.entry;
  const size_t want = static_cast<size_t>(std::min<uint64_t>(kStep, entry.storedSize - pull.read));
  const uint64_t at = EntryDataStart(pull.archive->catalogue, entry) + pull.read;
  const size_t got = platform::ReadAt(*pull.archive->file, at, pull.input.data(), want);
  const bool first = pull.read == 0;
  pull.read += got;
  pull.in = pull.input.data();
  pull.inLeft = got;
  return got == want && (!first || FastInflateTakes(pull.input.data(), got));
}

// The faster inflate, pulled: past the declared size one byte more is asked for, to tell a
// stream that ends there from one that goes on.
size_t PullFast(Pull& pull, unsigned char* out, size_t count) {
  const FileEntry& entry = *pull.entry;
  size_t produced = 0;
  while (!pull.ended && produced < count) {
    if (pull.inLeft == 0 && pull.read < entry.storedSize && !FeedFast(pull)) {
      EndPull(pull, false);
      break;
    }
    const size_t room =
        static_cast<size_t>(std::min<uint64_t>(count - produced, entry.size - pull.given));
    unsigned char spare = 0;
    unsigned char* const start = room > 0 ? out + produced : &spare;
    unsigned char* next = start;
    size_t left = room > 0 ? room : 1;
    const size_t inBefore = pull.inLeft;
    const FastStep step = FastInflate(*FastState(), pull.in, pull.inLeft, next, left);
    const size_t made = static_cast<size_t>(next - start);
    if (room == 0 && made > 0) {
      EndPull(pull, false);  // over-long
      break;
    }
    produced += made;
    pull.given += made;
    if (step != FastStep::Going) {
      EndPull(pull, step == FastStep::Ended && pull.given == entry.size);
    } else if (made == 0 && pull.inLeft == inBefore &&
               (pull.inLeft > 0 || pull.read == entry.storedSize)) {
      EndPull(pull, false);  // stuck: a cut stream
    }
  }
  return produced;
}

// Up to `count` bytes; fewer only once the entry has ended.
size_t PullBytes(Pull& pull, unsigned char* out, size_t count) {
  if (pull.ended) return 0;
  if (!Compressed(*pull.entry)) return PullStored(pull, out, count);
  if (pull.fast) return PullFast(pull, out, count);
  EntryDecoder& decoder = *pull.decoder;
  PointHooks hooks;
  hooks.span = kNoPoints;
  const size_t got = Decode(decoder, out, count, hooks);
  pull.given += got;
  pull.read = decoder.fed;
  if (got < count || decoder.state != DecoderState::Running) {
    EndPull(pull, decoder.state == DecoderState::Ended && decoder.out == decoder.source.size);
  }
  return got;
}

// OLD's bytes, as they come from DecodeEntry, against NEW's: held whole, or pulled in step.
struct Matcher {
  const unsigned char* held = nullptr;  // NEW held whole, when it is
  size_t heldSize = 0;
  Pull* pull = nullptr;
  OpenArchive* newArchive = nullptr;
  size_t newIndex = 0;
  uint64_t at = 0;
  bool differs = false;
  bool stop = true;  // stop OLD at the first difference
  bool pullFailed = false;
};

void MatchHeld(Matcher& m, const unsigned char* data, size_t count) {
  const size_t overlap =
      m.at >= m.heldSize ? 0 : static_cast<size_t>(std::min<uint64_t>(count, m.heldSize - m.at));
  m.differs = overlap > 0 && std::memcmp(m.held + m.at, data, overlap) != 0;
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
    if (m.pull == nullptr) {
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

// NEW's bytes decoded whole. Those the sink gets in one call stay where the decoding put
// them, in NEW's own workspace: nothing is copied unless they came in pieces.
struct Held {
  const unsigned char* data = nullptr;
  size_t size = 0;
  std::vector<unsigned char> pieces;
  bool inPieces = false;
};

void DecodeHeld(const Sides& s, DecodeWorkspace& newSide, Held& held, EntryResult& result) {
  // Only an entry's bytes all given at once stay put: blocks handed on one by one share
  // one buffer, so those are copied as they come.
  const uint64_t shown = ShownSize(s.newer->catalogue.entries[s.newIndex]);
  const EntrySink keep = [&](const unsigned char* data, size_t count) {
    if (!held.inPieces && count == shown) {
      held.data = data;
      held.size = count;
      return true;
    }
    held.inPieces = true;
    held.pieces.insert(held.pieces.end(), data, data + count);
    return true;
  };
  const EntryRestart restart = [&] {
    held = Held();
    return true;
  };
  try {
    result = DecodeEntry(*s.newer, s.newIndex, newSide, keep, restart);
  } catch (const std::bad_alloc&) {
    held = Held();
    result = EntryResult();
    result.status = EntryStatus::OutOfMemory;
  }
  if (held.inPieces) {
    held.data = held.pieces.data();
    held.size = held.pieces.size();
  }
}

// The workspace NEW's entries are decoded whole in, one per thread. Its room for an entry
// held whole stays with the thread, so only as many threads as the budget has room for
// get one; the others pull NEW in step.
struct NewSide {
  DecodeWorkspace workspace;
  uint64_t grantedBy = 0;  // the budget that counts its room
};

DecodeWorkspace* NewSideFor(HeldBudget* budget, const DecodeWorkspace& oldSide) {
  thread_local NewSide side;
  if (budget == nullptr) return nullptr;
  if (side.grantedBy != budget->id) {
    uint64_t left = budget->left.load();
    do {
      if (left < kPairWholeBudget) return nullptr;
    } while (!budget->left.compare_exchange_weak(left, left - kPairWholeBudget));
    side.grantedBy = budget->id;
  }
  side.workspace.blockSize = kStep;
  side.workspace.wholeBudget = kPairWholeBudget;
  side.workspace.fastInflate = oldSide.fastInflate;
  return &side.workspace;
}

// NEW held whole: the verdict follows from OLD's pass and NEW's result.
void CompareHeld(const Sides& s, DecodeWorkspace& workspace, DecodeWorkspace& newSide,
                 PairComparison& out) {
  Held held;
  DecodeHeld(s, newSide, held, out.newResult);
  Matcher m;
  m.held = held.data;
  m.heldSize = held.size;
  if (out.newResult.status != EntryStatus::OutOfMemory) CompareOld(s, workspace, m, out);
  out.verdict = m.differs ? PairVerdict::Differs
                : out.oldResult.Complete() && out.newResult.Complete() ? PairVerdict::Same
                                                                        : PairVerdict::Unreadable;
  out.bytesRead += out.oldResult.bytesRead + out.newResult.bytesRead;
}

// Pulls NEW to its end once OLD has been gone through.
void DrainPull(Matcher& m, Pull& pull) {
  thread_local std::vector<unsigned char> rest(kStep);
  while (!m.differs && !m.pullFailed && PullBytes(pull, rest.data(), kStep) > 0) {
  }
}

// NEW pulled through the faster inflate in step with OLD. It stands only when NEW came out
// whole with no difference seen: then both sides' bytes are what extract writes. Anything
// else is left to zlib (false).
bool CompareFastPulled(const Sides& s, DecodeWorkspace& workspace, PairComparison& out) {
  if (!workspace.fastInflate || !FastInflateAvailable()) return false;
  Matcher m;
  Pull pull;
  pull.fast = true;
  m.pull = &pull;
  m.newArchive = s.newer;
  m.newIndex = s.newIndex;
  ComparePass(s, workspace, true, true, m, out);
  DrainPull(m, pull);
  const uint64_t size = ShownSize(s.newer->catalogue.entries[s.newIndex]);
  if (m.pullFailed || m.differs || !pull.whole || pull.given != size) return false;
  out.bytesRead += out.oldResult.bytesRead + pull.read;
  out.newResult = EntryResult();
  out.verdict = out.oldResult.Complete() ? PairVerdict::Same : PairVerdict::Unreadable;
  return true;
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
  DrainPull(m, pull);
  out.bytesRead += out.oldResult.bytesRead + pull.read;
  const uint64_t size = ShownSize(s.newer->catalogue.entries[s.newIndex]);
  if (m.differs) {
    out.verdict = PairVerdict::Differs;
    return;
  }
  if (m.pullFailed) {
    out.newResult.status = EntryStatus::OutOfMemory;
  } else if (!pull.whole || pull.given != size) {
    DecodeWorkspace newSide;
    newSide.blockSize = kStep;
    newSide.wholeBudget = kPairWholeBudget;
    const EntrySink none = [](const unsigned char*, size_t) { return true; };
    const EntryRestart again = [] { return true; };
    out.newResult = DecodeEntry(*s.newer, s.newIndex, newSide, none, again);
    if (out.newResult.Complete()) return CompareHeld(s, workspace, newSide, out);
  }
  out.verdict = out.oldResult.Complete() && out.newResult.Complete() ? PairVerdict::Same
                                                                     : PairVerdict::Unreadable;
}

// NEW's entries are decoded as extract decodes them: those held whole where the budget has
// room for them, the others pulled in step through the decoder extract would use.
void CompareDecoded(const Sides& s, DecodeWorkspace& workspace, HeldBudget* budget,
                    PairComparison& out) {
  // The decoders an entry goes through must not depend on how many threads compare, or
  // a stream one faster decoder takes and another refuses would compare differently.
  const size_t wholeBudget = workspace.wholeBudget;
  workspace.wholeBudget = kPairWholeBudget;
  const FileEntry& entry = s.newer->catalogue.entries[s.newIndex];
  const bool whole = FitsWhole(entry, workspace);
  DecodeWorkspace* newSide = whole ? NewSideFor(budget, workspace) : nullptr;
  if (newSide != nullptr) {
    CompareHeld(s, workspace, *newSide, out);
  } else if (whole || !CompareFastPulled(s, workspace, out)) {
    const uint64_t read = out.bytesRead;
    out = PairComparison();
    out.bytesRead = read;
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

uint64_t NextHeldBudgetId() {
  static std::atomic<uint64_t> last{0};
  return ++last;
}

#include "pack/like_pieces.h"

#include <algorithm>

namespace like {

namespace {

// OLD's bytes [from, to) less the drops, as pieces.
void CopyOld(Builder& b, uint64_t from, uint64_t to, size_t& nextDrop) {
  const std::vector<Range>& drops = b.drops;
  while (from < to) {
    while (nextDrop < drops.size() && drops[nextDrop].end <= from) ++nextDrop;
    uint64_t until = to;
    if (nextDrop < drops.size() && drops[nextDrop].start <= from) {
      from = std::min(to, drops[nextDrop].end);
      continue;
    }
    if (nextDrop < drops.size()) until = std::min(to, drops[nextDrop].start);
    Piece piece;
    piece.kind = PieceKind::Old;
    piece.from = from;
    piece.length = until - from;
    b.layout.pieces.push_back(piece);
    from = until;
  }
}

}  // namespace

std::vector<Range> Drops(const Builder& b, const std::vector<Range>& data,
                         const std::vector<Range>& keptData) {
  const OldShape& shape = b.shape;
  std::vector<Range> drops;
  std::vector<Range> dataDrops;
  for (size_t k = 0; k < shape.fileCount; ++k) {
    if (b.plan.fates[k] == Fate::Kept) continue;
    dataDrops.push_back(data[k]);
    if (b.plan.fates[k] != Fate::LeftOut) continue;
    const uint64_t record = shape.files + uint64_t{shape.recordSize} * k;
    drops.push_back({record, record + shape.recordSize, Holds::Nothing, 0});
    const uint64_t name = FileNameAt(shape, b.old, k);
    const uint64_t next = FileNameAt(shape, b.old, k + 1);
    if (next > name) drops.push_back({name, next, Holds::Nothing, 0});
  }
  for (const Range& range : Without(Merged(dataDrops), keptData)) drops.push_back(range);
  // The loader shares the room up to the name table out over the records: fewer than one
  // byte per record may be left over.
  const uint64_t slack = shape.names - shape.fileTableEnd;
  const uint64_t keep = std::min<uint64_t>(slack, b.records.empty() ? 0 : b.records.size() - 1);
  if (keep < slack) drops.push_back({shape.fileTableEnd + keep, shape.names, Holds::Nothing, 0});
  return Merged(drops);
}

void BuildPieces(Builder& b) {
  std::stable_sort(b.events.begin(), b.events.end(), [](const Event& x, const Event& y) {
    if (x.at != y.at) return x.at < y.at;
    if (x.rank != y.rank) return x.rank < y.rank;
    return x.order < y.order;
  });
  const uint64_t length = b.shape.length;
  uint64_t cursor = 0;
  size_t nextDrop = 0;
  // OLD's bytes between two places where events are: at most one piece each, and one more
  // for each drop that splits them. Reserved as counted, not guessed twice over: with many
  // entries the pieces are among the largest things held.
  size_t places = 0;
  for (size_t e = 0; e < b.events.size(); ++e) {
    places += e == 0 || b.events[e].at != b.events[e - 1].at;
  }
  b.layout.pieces.reserve(b.events.size() + places + b.drops.size() + 1);
  for (const Event& event : b.events) {
    if (event.at > cursor) {
      CopyOld(b, cursor, std::min(event.at, length), nextDrop);
      cursor = event.at;
    }
    Piece piece = event.piece;
    // A position past OLD's end keeps its distance from the end.
    if (piece.kind == PieceKind::Mark) piece.from = event.at > length ? event.at - length : 0;
    b.layout.pieces.push_back(piece);
  }
  if (cursor < length) CopyOld(b, cursor, length, nextDrop);
  b.events = std::vector<Event>();
}

}  // namespace like

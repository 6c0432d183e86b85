#include "decode/entry_decoder.h"

#include <algorithm>
#include <climits>

namespace {

constexpr size_t kInputChunk = 64u << 10;
constexpr size_t kMaxWindow = 32u << 10;
constexpr size_t kDropChunk = 64u << 10;

// Hands zlib the next stored bytes once it has used up the last ones.
void Refill(EntryDecoder& decoder) {
  if (decoder.stream.avail_in > 0 || decoder.fed >= decoder.source.storedSize) return;
  const size_t want =
      static_cast<size_t>(std::min<uint64_t>(kInputChunk, decoder.source.storedSize - decoder.fed));
  const size_t got = platform::ReadAt(*decoder.source.file, decoder.source.start + decoder.fed,
                                      decoder.input.data(), want);
  // The bytes lie inside the file (checked when the tree was built): a short read is the
  // file changing or failing under us, and decoding stops there like a cut stream.
  decoder.fed += got;
  if (got < want) {
    decoder.source.storedSize = decoder.fed;
    decoder.inputCut = true;
  }
  decoder.stream.next_in = decoder.input.data();
  decoder.stream.avail_in = static_cast<uInt>(got);
}

uint64_t UsedInput(const EntryDecoder& decoder) {
  return decoder.fed - decoder.stream.avail_in;
}

bool NoMoreInput(const EntryDecoder& decoder) {
  return decoder.stream.avail_in == 0 && decoder.fed >= decoder.source.storedSize;
}

// A raw stream is resumed without its zlib wrapper: its trailer is checked here.
DecoderState StateAtStreamEnd(EntryDecoder& decoder) {
  if (!decoder.raw) return DecoderState::Ended;
  const uint64_t at = UsedInput(decoder);
  if (decoder.source.storedSize - at < 4) return DecoderState::Damaged;
  unsigned char trailer[4];
  if (platform::ReadAt(*decoder.source.file, decoder.source.start + at, trailer, 4) != 4) {
    return DecoderState::Damaged;
  }
  const uint32_t expected = (static_cast<uint32_t>(trailer[0]) << 24) |
                            (static_cast<uint32_t>(trailer[1]) << 16) |
                            (static_cast<uint32_t>(trailer[2]) << 8) | trailer[3];
  return expected == decoder.adler ? DecoderState::Ended : DecoderState::Damaged;
}

void Account(EntryDecoder& decoder, const unsigned char* produced, size_t length) {
  if (decoder.raw) {
    decoder.adler =
        static_cast<uint32_t>(adler32(decoder.adler, produced, static_cast<uInt>(length)));
  } else {
    decoder.adler = static_cast<uint32_t>(decoder.stream.adler);
  }
  decoder.out += length;
}

bool AtBlockBoundary(const z_stream& stream) {
  return (stream.data_type & 128) != 0 && (stream.data_type & 64) == 0;
}

void OfferPoint(EntryDecoder& decoder, const PointHooks& hooks) {
  const uint64_t number = decoder.nextPoint;
  decoder.nextPoint = decoder.out / hooks.span + 1;
  if (!hooks.wanted || !hooks.wanted(number)) return;
  ResumePoint point;
  point.out = decoder.out;
  point.in = UsedInput(decoder);
  point.bits = decoder.stream.data_type & 7;
  if (point.bits > 0 && platform::ReadAt(*decoder.source.file, decoder.source.start + point.in - 1,
                                         &point.partial, 1) != 1) {
    return;
  }
  point.adler = decoder.adler;
  point.window.resize(kMaxWindow);
  uInt length = 0;
  if (inflateGetDictionary(&decoder.stream, point.window.data(), &length) != Z_OK) return;
  point.window.resize(length);
  point.window.shrink_to_fit();
  hooks.keep(number, std::move(point));
}

// At the declared size: the stream must end there, as extraction requires; more output
// than declared (an over-long stream) or a missing end counts as damage.
void SettleEnd(EntryDecoder& decoder) {
  unsigned char none = 0;
  while (decoder.state == DecoderState::Running) {
    Refill(decoder);
    const uInt inBefore = decoder.stream.avail_in;
    decoder.stream.next_out = &none;
    decoder.stream.avail_out = 0;
    const int code = inflate(&decoder.stream, Z_NO_FLUSH);
    if (code == Z_STREAM_END) {
      decoder.state = StateAtStreamEnd(decoder);
    } else if ((code != Z_OK && code != Z_BUF_ERROR) ||
               (decoder.stream.avail_in == inBefore &&
                (decoder.stream.avail_in > 0 || NoMoreInput(decoder)))) {
      decoder.state = DecoderState::Damaged;
    }
  }
}

size_t DecodeInto(EntryDecoder& decoder, unsigned char* output, size_t count,
                  const PointHooks& hooks) {
  size_t done = 0;
  while (done < count && decoder.state == DecoderState::Running) {
    Refill(decoder);
    const bool pointDue = decoder.out >= decoder.nextPoint * hooks.span;
    const uInt room = static_cast<uInt>(std::min<size_t>(count - done, UINT_MAX));
    const uInt inBefore = decoder.stream.avail_in;
    decoder.stream.next_out = output + done;
    decoder.stream.avail_out = room;
    const int code = inflate(&decoder.stream, pointDue ? Z_BLOCK : Z_NO_FLUSH);
    const size_t produced = room - decoder.stream.avail_out;
    Account(decoder, output + done, produced);
    done += produced;
    if (code == Z_STREAM_END) {
      decoder.state = StateAtStreamEnd(decoder);
      break;
    }
    if (code != Z_OK && code != Z_BUF_ERROR) {
      decoder.state = DecoderState::Damaged;
      break;
    }
    if (pointDue && AtBlockBoundary(decoder.stream)) OfferPoint(decoder, hooks);
    const bool moved = produced > 0 || decoder.stream.avail_in < inBefore;
    if (!moved && (decoder.stream.avail_in > 0 || NoMoreInput(decoder))) {
      decoder.state = DecoderState::Damaged;  // cut short, or stuck on bad data
    }
  }
  return done;
}

}  // namespace

EntryDecoder::~EntryDecoder() {
  if (started) inflateEnd(&stream);
}

bool StartDecoder(EntryDecoder& decoder, const EntrySource& source, const ResumePoint* point,
                  uint64_t span) {
  decoder.source = source;
  decoder.input.resize(kInputChunk);
  decoder.stream = z_stream();
  decoder.raw = point != nullptr;
  if (!decoder.raw) {
    if (inflateInit(&decoder.stream) != Z_OK) return false;
    decoder.started = true;
    return true;
  }
  if (inflateInit2(&decoder.stream, -MAX_WBITS) != Z_OK) return false;
  decoder.started = true;
  if (point->bits > 0)
    inflatePrime(&decoder.stream, point->bits, point->partial >> (8 - point->bits));
  if (!point->window.empty()) {
    inflateSetDictionary(&decoder.stream, point->window.data(),
                         static_cast<uInt>(point->window.size()));
  }
  decoder.out = point->out;
  decoder.fed = point->in;
  decoder.adler = point->adler;
  decoder.nextPoint = point->out / span + 1;
  return true;
}

size_t Decode(EntryDecoder& decoder, unsigned char* output, size_t count, const PointHooks& hooks) {
  count = static_cast<size_t>(std::min<uint64_t>(count, decoder.source.size - decoder.out));
  size_t done = 0;
  if (output != nullptr) {
    done = DecodeInto(decoder, output, count, hooks);
  } else {
    std::vector<unsigned char> scratch(std::min(count, kDropChunk));
    while (done < count && decoder.state == DecoderState::Running) {
      done += DecodeInto(decoder, scratch.data(), std::min(count - done, scratch.size()), hooks);
    }
  }
  if (decoder.state == DecoderState::Running && decoder.out == decoder.source.size) {
    SettleEnd(decoder);
  }
  return done;
}

// Inflating one compressed entry from its start or from a resume point: a deflate block
// boundary where the decoder's bit position, Adler-32 and last 32 KiB of output were kept,
// so that a read far into an entry need not inflate it from the beginning again.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/file_io.h"

struct ResumePoint {
  uint64_t out = 0;                   // output offset decoding resumes at
  uint64_t in = 0;                    // offset in the stored bytes of the first byte not yet used
  int bits = 0;                       // bits of the byte before `in` still to be decoded (0-7)
  unsigned char partial = 0;          // that byte
  uint32_t adler = 1;                 // Adler-32 of the output before `out`
  std::vector<unsigned char> window;  // the last (up to 32 KiB) bytes of output before `out`
};

// Where one entry's stored bytes are, and the size it declares.
struct EntrySource {
  platform::File* file = nullptr;
  uint64_t start = 0;
  uint64_t storedSize = 0;
  uint64_t size = 0;
};

enum class DecoderState {
  Running,
  Ended,    // the stream ended and its check value matched
  Damaged,  // a damaged, cut or over-long stream: `out` bytes are all it gives
};

// Point number k is taken at the first block boundary at or after k * span bytes of output.
struct PointHooks {
  uint64_t span = 4u << 20;
  std::function<bool(uint64_t number)> wanted;  // not kept yet?
  std::function<void(uint64_t number, ResumePoint&& point)> keep;
};

// Holds a live zlib stream, which points back at its own record: never copied or moved.
struct EntryDecoder {
  z_stream stream{};
  bool started = false;
  bool raw = false;  // resumed: raw deflate, the Adler-32 computed here
  EntrySource source;
  uint64_t out = 0;  // output offset of the next byte produced
  uint64_t fed = 0;  // stored bytes handed to zlib so far
  uint32_t adler = 1;
  uint64_t nextPoint = 1;  // number of the next resume point to offer
  DecoderState state = DecoderState::Running;
  bool inputCut = false;  // the archive gave fewer stored bytes than it held when mounted
  std::vector<unsigned char> input;

  EntryDecoder() = default;
  EntryDecoder(const EntryDecoder&) = delete;
  EntryDecoder& operator=(const EntryDecoder&) = delete;
  ~EntryDecoder();
};

// Starts at the stream's beginning (point null) or at `point`. False when zlib cannot
// start (out of memory).
bool StartDecoder(EntryDecoder& decoder, const EntrySource& source, const ResumePoint* point,
                  uint64_t span);

// Decodes up to `count` bytes into `output` (null: decoded and dropped) and returns how
// many came; fewer only when the stream ends or fails. Offers resume points on the way.
// Reaching the declared size settles whether the stream ends there as it should.
size_t Decode(EntryDecoder& decoder, unsigned char* output, size_t count, const PointHooks& hooks);

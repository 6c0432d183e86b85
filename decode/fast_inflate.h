// A faster inflate than zlib's, where the build has one (ISA-L on Linux). It is only ever
// trusted with what zlib would do just the same: its bytes are kept for a stream that ends
// with its checksum and fills the declared size exactly. For anything else the entry is
// decoded again by zlib from its start, so what is salvaged of a damaged stream stays
// zlib's.
#pragma once

#include <cstddef>
#include <memory>

struct FastInflateState;  // the library's stream, one per workspace
struct FastInflateFree {
  void operator()(FastInflateState* state) const noexcept;
};
using FastInflatePtr = std::unique_ptr<FastInflateState, FastInflateFree>;

// Whether this build has the faster inflate.
bool FastInflateAvailable();

// Whether a zlib stream beginning with these bytes is one both inflates read alike: deflate
// with the 32 KiB window, a correct header check and no preset dictionary.
bool FastInflateTakes(const unsigned char* start, size_t length);

// Makes `state` ready for a new zlib stream, allocating it the first time. False where the
// build has no faster inflate or memory is short.
bool StartFastInflate(FastInflatePtr& state);

enum class FastStep {
  Going,   // needs more input or more room
  Ended,   // the stream ended and its checksum matched
  Failed,  // damaged, in whatever way
};

// Inflates from `input` into `output`, moving both on by what it used and produced.
FastStep FastInflate(FastInflateState& state, const unsigned char*& input, size_t& inputLeft,
                     unsigned char*& output, size_t& room);

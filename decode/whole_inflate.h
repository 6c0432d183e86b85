// Inflating an entry held whole in memory with libdeflate, where the build has it: the
// fastest decoder here, but one that takes the whole stream at once and never streams.
// Like the streamed faster inflate, it is only trusted with what zlib would do just the
// same: a stream that ends, checksum and all, with exactly the declared size.
#pragma once

#include <cstddef>
#include <memory>

struct WholeInflateState;  // the library's decompressor, one per workspace
struct WholeInflateFree {
  void operator()(WholeInflateState* state) const noexcept;
};
using WholeInflatePtr = std::unique_ptr<WholeInflateState, WholeInflateFree>;

// Whether this build has libdeflate.
bool WholeInflateAvailable();

// Inflates the zlib stream `input` into `output`, allocating `state` the first time.
// True only when the stream is whole, its checksum matched and it gave exactly `size`
// bytes; `output` holds anything at all otherwise.
bool InflateWhole(WholeInflatePtr& state, const unsigned char* input, size_t inputLength,
                  unsigned char* output, size_t size);

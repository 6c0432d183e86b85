#include "decode/fast_inflate.h"

#ifdef WZA_HAVE_ISAL

#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cstdint>
#include <new>

struct FastInflateState {
  inflate_state stream;
};

void FastInflateFree::operator()(FastInflateState* state) const noexcept {
  delete state;
}

bool FastInflateAvailable() {
  return true;
}

bool StartFastInflate(FastInflatePtr& state) {
  if (!state) state.reset(new (std::nothrow) FastInflateState);
  if (!state) return false;
  isal_inflate_init(&state->stream);
  state->stream.crc_flag = ISAL_ZLIB;  // header parsed, Adler-32 trailer checked
  return true;
}

FastStep FastInflate(FastInflateState& state, const unsigned char*& input, size_t& inputLeft,
                     unsigned char*& output, size_t& room) {
  inflate_state& stream = state.stream;
  // The library counts in 32 bits; the blocks handed in are far smaller.
  stream.next_in = const_cast<unsigned char*>(input);
  stream.avail_in = static_cast<uint32_t>(inputLeft);
  stream.next_out = output;
  stream.avail_out = static_cast<uint32_t>(room);
  const int code = isal_inflate(&stream);
  // At the stream's end the library gives back every byte it had read ahead, some of them
  // from an earlier call's block: the caller's pointer never moves back before this one.
  const size_t left = std::min<size_t>(stream.avail_in, inputLeft);
  input += inputLeft - left;
  inputLeft = left;
  output += room - stream.avail_out;
  room = stream.avail_out;
  if (code != ISAL_DECOMP_OK) return FastStep::Failed;
  return stream.block_state == ISAL_BLOCK_FINISH ? FastStep::Ended : FastStep::Going;
}

#else  // zlib alone

struct FastInflateState {};

void FastInflateFree::operator()(FastInflateState* state) const noexcept {
  delete state;
}

bool FastInflateAvailable() {
  return false;
}

bool StartFastInflate(FastInflatePtr&) {
  return false;
}

FastStep FastInflate(FastInflateState&, const unsigned char*&, size_t&, unsigned char*&, size_t&) {
  return FastStep::Failed;
}

#endif

bool FastInflateTakes(const unsigned char* start, size_t length) {
  if (length < 2) return false;
  const unsigned method = start[0];
  const unsigned flags = start[1];
  const bool deflate32k = method == 0x78;  // method 8, window 2^(7 + 8)
  const bool checked = (method * 256 + flags) % 31 == 0;
  const bool noDictionary = (flags & 0x20) == 0;
  return deflate32k && checked && noDictionary;
}

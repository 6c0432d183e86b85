#include "decode/whole_inflate.h"

#ifdef WZA_HAVE_LIBDEFLATE

#include <libdeflate.h>

#include <new>

struct WholeInflateState {
  libdeflate_decompressor* decompressor = nullptr;
};

void WholeInflateFree::operator()(WholeInflateState* state) const noexcept {
  if (state != nullptr) libdeflate_free_decompressor(state->decompressor);
  delete state;
}

bool WholeInflateAvailable() {
  return true;
}

bool InflateWhole(WholeInflatePtr& state, const unsigned char* input, size_t inputLength,
                  unsigned char* output, size_t size) {
  if (!state) {
    state.reset(new (std::nothrow) WholeInflateState);
    if (!state) return false;
    state->decompressor = libdeflate_alloc_decompressor();
  }
  if (state->decompressor == nullptr) return false;
  size_t produced = 0;
  // A stream longer than `size` fails for want of room, a shorter one gives fewer bytes:
  // both are zlib's to report.
  const libdeflate_result code = libdeflate_zlib_decompress(state->decompressor, input, inputLength,
                                                            output, size, &produced);
  return code == LIBDEFLATE_SUCCESS && produced == size;
}

#else  // zlib alone for whole entries

struct WholeInflateState {};

void WholeInflateFree::operator()(WholeInflateState* state) const noexcept {
  delete state;
}

bool WholeInflateAvailable() {
  return false;
}

bool InflateWhole(WholeInflatePtr&, const unsigned char*, size_t, unsigned char*, size_t) {
  return false;
}

#endif

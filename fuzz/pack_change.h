// How the pack target picks, from an input's bytes, whether to pack a changed tree and
// which change: shared with the seed maker, which makes seeds of every change.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kPackChanges = 5;  // another first byte, cut, a byte more, much more, a file added

inline uint64_t PackChoice(const uint8_t* data, size_t size) {
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 1099511628211ull;
  return hash;
}

// One input in eight: the changed tree costs a pack and an extraction more, and the target
// keeps most of its speed for the identity.
inline bool PacksChanged(uint64_t choice) {
  return (choice >> 40) % 8 == 0;
}

inline int PackChange(uint64_t choice) {
  return static_cast<int>((choice >> 16) % kPackChanges);
}

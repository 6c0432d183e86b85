// OLD's bytes as pieces: copied from start to end, less the ranges the change drops, with
// the placed events put in between.
#pragma once

#include <vector>

#include "pack/like_builder.h"

namespace like {

// What OLD loses: left-out records and names, the stored bytes of replaced and left-out
// entries that no kept entry uses, and slack the fewer records cannot keep.
std::vector<Range> Drops(const Builder& b, const std::vector<Range>& data,
                         const std::vector<Range>& keptData);
// The layout's pieces from the events and b.drops; the events are let go.
void BuildPieces(Builder& b);

}  // namespace like

// The tables of an archive packed --like OLD, written once every position is known:
// OLD's header and records with only the positions, sizes and counts the change forces.
#pragma once

#include <vector>

#include "pack/like_builder.h"

namespace like {

FinishTables Finisher(const Builder& b, std::vector<FolderEntry> ranges, Marks marks);

}  // namespace like

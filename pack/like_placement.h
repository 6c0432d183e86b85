// Where the new pieces go --like OLD: new folders, added files, replaced entries' data,
// and the marks kept things leave.
#pragma once

#include <cstddef>
#include <string>

#include "pack/like_builder.h"

namespace like {

Regions RegionsOf(const Builder& b);
// Folders: OLD's, then the new ones at the end of the table (a new table before the file
// table when OLD has none), their names before file record 0's.
bool PlaceFolders(Builder& b, const Regions& regions, Marks& marks, std::string& problem);
// Added file at new record `p`: its record, name and data.
bool PlaceAdded(Builder& b, const Regions& regions, size_t p, Marks& marks, std::string& problem);
// A kept record's name and data are marked; a replaced one's new bytes go where the old
// ones began, after kept data still there.
bool PlaceOld(Builder& b, const Regions& regions, size_t p, Marks& marks, std::string& problem);

}  // namespace like

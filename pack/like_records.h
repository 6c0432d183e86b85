// The new file table's order --like OLD, and each folder's range of files in it.
#pragma once

#include <string>
#include <vector>

#include "pack/like_builder.h"

namespace like {

// OLD's kept records in their order, each added file before the record it is anchored to.
void OrderRecords(Builder& b);
// Each folder's new range: its kept files and the files added to it, side by side.
bool FolderRanges(const Builder& b, std::vector<FolderEntry>& ranges, std::string& problem);
// How many folders cover each record, old and new: a file added where another folder's
// range runs would take that folder's name too.
bool CheckCoverage(const Builder& b, const std::vector<FolderEntry>& ranges, std::string& problem);

}  // namespace like

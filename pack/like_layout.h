// Where each byte of an archive packed --like OLD goes. The new file is OLD read from start
// to end with a few ranges dropped (the stored bytes of replaced and left-out entries that
// no kept entry still uses; left-out records and names; slack after the file table that
// fewer records cannot keep) and new pieces put in at fixed places (new records at their
// place in the tables, new names before the name of the record that follows them, new data
// where the old data began or after OLD's last entry data). Every position, size and count
// is then rewritten to follow what it points at; no other byte changes. With nothing
// changed, every field gets its own value back: the same file, byte for byte.
#pragma once

#include <string>

#include "archive/catalogue.h"
#include "pack/layout.h"
#include "pack/pack_plan.h"

// Lays out `plan` over `archive`, OLD (loaded, its file open). False, with what cannot be placed in
// `problem`, when OLD's regions overlap so that the change would alter something kept.
// Once laid out, OLD's catalogue no longer holds its entries' names (entryNames, fileNames).
bool LayoutLike(OpenArchive& archive, const PackPlan& plan, const SourceTree& tree,
                Layout& layout, std::string& problem);

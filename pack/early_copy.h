// Copying OLD into the new archive while its entries are still being compared.
//
// When a folder adds and leaves out nothing, the new archive is OLD with each replaced
// entry's data put where its old data began, so every other byte of OLD lands at its own
// offset moved by how much the replaced entries before it grew or shrank. That is known
// entry by entry as the comparisons come in. Copying OLD costs about what a `cp` of it
// does, so it runs beside the comparing instead of after it. The writer then copies only
// what was not copied to the place it wants: a copy made to a wrong place costs time,
// never a wrong byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "pack/entry_compare.h"
#include "pack/pack_plan.h"
#include "pack/source_tree.h"
#include "platform/file_io.h"

// OLD's bytes [from, from + length) are at `to` in the new file.
struct CopiedRange {
  uint64_t from = 0;
  uint64_t to = 0;
  uint64_t length = 0;
};

struct EarlyCopyInput {
  const ArchiveCatalogue* old = nullptr;
  platform::File* oldFile = nullptr;  // the one handle OLD is read through
  const Claims* claims = nullptr;
  const SourceTree* tree = nullptr;
  platform::File* out = nullptr;      // the new archive's temporary file
  int level = 6;                      // what replaced entries are deflated at
  std::function<bool()> interrupted;  // safe to call from any thread
};

struct EarlyCopy;
struct EarlyCopyStop {
  void operator()(EarlyCopy* copy) const noexcept;  // stops and waits for the thread
};
using EarlyCopyPtr = std::unique_ptr<EarlyCopy, EarlyCopyStop>;

// Whether copying early can pay: the folder adds and leaves out nothing, and comparing it
// takes a while (its entries hold a quarter of OLD or more).
bool EarlyCopyPays(const ArchiveCatalogue& old, const Claims& claims);

// Starts copying on a thread of its own, when it pays; null when it does not, or when no
// second handle on OLD's open file can be had.
EarlyCopyPtr StartEarlyCopy(const EarlyCopyInput& input);

// Comparison `index` of the claims' pairs came out as `comparison`.
void EntryCompared(EarlyCopy& copy, size_t index, const Comparison& comparison);

// Lets the copy run to its end once every comparison is in (or stops it at once when
// `stop`), waits for it, and gives what it copied, sorted by `from`.
std::vector<CopiedRange> FinishEarlyCopy(EarlyCopyPtr copy, bool stop);

// Of OLD's bytes from `from` on, bound for `to`: how many are there already (`copied`), or
// else how many come before the next that may be (UINT64_MAX when none follows).
struct CopiedRun {
  bool copied = false;
  uint64_t length = 0;
};
CopiedRun CopiedRunAt(const std::vector<CopiedRange>& ranges, uint64_t from, uint64_t to);

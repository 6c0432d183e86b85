// A loaded archive's entries as the commands show and choose them: names converted by
// --names, in the form `list` prints and -i and -x match, and whether those choose them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "names/entry_pattern.h"
#include "names/name_encoding.h"

struct ShownEntries {
  std::vector<std::string> names;  // ShownName of alias and full name, converted
  std::vector<bool> notConverted;  // empty: every name was converted
  std::vector<bool> chosen;
  uint64_t leftOut = 0;
};

// Converts the catalogue's names in place (--names) and shows them; notes on `patterns`
// which of them matched.
ShownEntries ShowEntries(const NameEncoding& names, EntryPatterns& patterns,
                         ArchiveCatalogue& catalogue);

bool NotConverted(const ShownEntries& shown, size_t index);

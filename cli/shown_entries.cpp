#include "cli/shown_entries.h"

ShownEntries ShowEntries(const NameEncoding& names, EntryPatterns& patterns,
                         ArchiveCatalogue& catalogue) {
  ShownEntries shown;
  shown.notConverted = ConvertCatalogueNames(names, catalogue);
  for (const std::string& name : catalogue.entryNames) {
    shown.names.push_back(ShownName(catalogue.alias + '\\' + name));
    shown.chosen.push_back(IsChosen(patterns, shown.names.back()));
    if (!shown.chosen.back()) ++shown.leftOut;
  }
  return shown;
}

bool NotConverted(const ShownEntries& shown, size_t index) {
  return index < shown.notConverted.size() && shown.notConverted[index];
}

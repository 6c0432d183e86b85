// The code page archive names are read in. Archives record none: the Windows builds take
// names in the system's ANSI code page, as the window always has; on Linux names are
// bytes, written as they are, unless --names gives a code page to convert them from.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "archive/catalogue.h"

struct NameConverter;  // an open conversion; defined where it is made
struct NameConverterCloser {
  void operator()(NameConverter* converter) const noexcept;
};

struct NameEncoding {
  std::string codePage;  // as the user gave it; empty: names are taken as they are
  std::unique_ptr<NameConverter, NameConverterCloser> converter;
};

// Prepares conversion from `codePage` (an iconv name: cp1252, cp932, utf-8...) to UTF-8.
// False, with the reason in *error, for a code page the system does not know.
bool OpenNameEncoding(const std::string& codePage, NameEncoding& encoding, std::string* error);

// The name or path `bytes` converted; false when it is not valid in the code page (`text` is
// then unchanged). A "\" or "/" that the code page reads as a character of its own
// separates folders and is kept as it is; one that is part of a character is converted with
// it. Without a code page the bytes are taken as they are.
bool ConvertName(const NameEncoding& encoding, const std::string& bytes, std::string& text);

// What names are read as, for the JSON listing: the code page of --names, "bytes" on
// Linux without it, and the ANSI code page on Windows ("ansi 1252").
std::string NamesReadAs(const NameEncoding& encoding);

// A name or path as UTF-8 where it can be: on Windows converted from the ANSI code page
// (unchanged when it is not valid there); elsewhere as it is, since --names has already
// converted names.
std::string AsUtf8(const std::string& text);

// The way back, for `wza pack`: names of files (UTF-8 on Linux) turned into the bytes an
// archive records in a code page. Empty code page: names are taken as they are.
struct NameEncodingBack {
  std::string codePage;
  std::unique_ptr<NameConverter, NameConverterCloser> converter;
  NameEncoding forward;  // reads the result again, to check it names the same file
};

// Prepares conversion from UTF-8 to `codePage`; false, reason in *error, for a code page
// the system does not know. On Windows names are already in the ANSI code page: false.
bool OpenNameEncodingBack(const std::string& codePage, NameEncodingBack& encoding,
                          std::string* error);

// One name (a file's or a folder's, no separator in it) converted to the code page; false
// when some character has no form there, or when the bytes would not read back as this one
// name (a "¥" that Shift-JIS writes as 0x5C, which separates folders): `bytes` is then
// unchanged.
bool ConvertNameBack(const NameEncodingBack& encoding, const std::string& text, std::string& bytes);

// Converts the alias, the folder names and the entries' own names of a loaded catalogue in
// place and joins them again. Returns, by entry, whether its name (or the alias) could not
// be converted and was left whole as it was; empty when all were converted.
std::vector<bool> ConvertCatalogueNames(const NameEncoding& encoding, ArchiveCatalogue& catalogue);

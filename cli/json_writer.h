// Writing a JSON document as it is made, for `list --json` and `diff --json`: pieces of
// some KiB go out as they fill, so memory grows neither with the entries nor with the
// archives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// JSON strings must be UTF-8, archive names need not be: a text that is not valid UTF-8 is
// written with U+FFFD for each byte that is not, and its exact bytes follow in a member of
// the same name with "_hex" appended (two lowercase hex digits a byte). Each document says
// so itself, in a "strings" member holding this note.
extern const char* const kJsonStringsNote;

struct JsonWriter {
  std::FILE* out = nullptr;
  std::string pending;  // written out in pieces of some KiB
};

// Raw text: punctuation, keys, numbers.
void PutJson(JsonWriter& writer, const std::string& text);
// "key": "text", and "key_hex": "..." after it when the text is not valid UTF-8.
void PutJsonText(JsonWriter& writer, const std::string& key, const std::string& text);
// "key": value.
void PutJsonNumber(JsonWriter& writer, const std::string& key, uint64_t value);
// Writes out what is pending.
void FlushJson(JsonWriter& writer);

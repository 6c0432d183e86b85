#include "cli/json_writer.h"

#include "names/printable_text.h"

const char* const kJsonStringsNote =
    "UTF-8; a text that is not valid UTF-8 has U+FFFD for each byte that is not, and its "
    "exact bytes in hex in a member of the same name ending in _hex";

namespace {

constexpr size_t kPieceSize = 64u << 10;
constexpr char kDigits[] = "0123456789abcdef";

void Put(JsonWriter& writer, const char* text, size_t length) {
  if (writer.pending.size() + length > kPieceSize) {
    FlushJson(writer);
    if (length >= kPieceSize) {
      std::fwrite(text, 1, length, writer.out);
      return;
    }
  }
  writer.pending.append(text, length);
}

bool IsPlain(unsigned char byte) {
  return byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
}

// "text" as a JSON string; false when it was not valid UTF-8. Runs of plain characters go
// out whole: names may be megabytes long.
bool PutQuoted(JsonWriter& writer, const std::string& text) {
  Put(writer, "\"", 1);
  bool valid = true;
  for (size_t i = 0; i < text.size();) {
    size_t plain = i;
    while (plain < text.size() && IsPlain(static_cast<unsigned char>(text[plain]))) ++plain;
    if (plain > i) {
      Put(writer, text.data() + i, plain - i);
      i = plain;
      continue;
    }
    const auto byte = static_cast<unsigned char>(text[i]);
    const size_t length = Utf8CharacterLength(text, i);
    if (length == 0) {
      Put(writer, "\xEF\xBF\xBD", 3);  // U+FFFD
      valid = false;
      ++i;
    } else if (byte == '"' || byte == '\\') {
      const char escaped[] = {'\\', text[i++]};
      Put(writer, escaped, 2);
    } else if (byte < 0x20 || byte == 0x7F) {
      const char escaped[] = {'\\', 'u', '0', '0', kDigits[byte >> 4], kDigits[byte & 0xF]};
      Put(writer, escaped, sizeof escaped);
      ++i;
    } else {
      Put(writer, text.data() + i, length);
      i += length;
    }
  }
  Put(writer, "\"", 1);
  return valid;
}

void PutHex(JsonWriter& writer, const std::string& bytes) {
  for (char c : bytes) {
    const char hex[] = {kDigits[static_cast<unsigned char>(c) >> 4],
                        kDigits[static_cast<unsigned char>(c) & 0xF]};
    Put(writer, hex, 2);
  }
}

}  // namespace

void PutJson(JsonWriter& writer, const std::string& text) {
  Put(writer, text.data(), text.size());
}

void PutJsonText(JsonWriter& writer, const std::string& key, const std::string& text) {
  PutJson(writer, "\"" + key + "\": ");
  if (PutQuoted(writer, text)) return;
  PutJson(writer, ", \"" + key + "_hex\": \"");
  PutHex(writer, text);
  Put(writer, "\"", 1);
}

void PutJsonNumber(JsonWriter& writer, const std::string& key, uint64_t value) {
  PutJson(writer, "\"" + key + "\": " + std::to_string(value));
}

void FlushJson(JsonWriter& writer) {
  std::fwrite(writer.pending.data(), 1, writer.pending.size(), writer.out);
  writer.pending.clear();
}

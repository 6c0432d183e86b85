#include "names/printable_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
  static const char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 0xF];
}

#ifndef _WIN32
// Code points that change the layout or the meaning of what follows instead of showing.
bool IsInvisibleControl(uint32_t c) {
  return c < 0xA0 ||                      // C1 controls
         (c >= 0x200B && c <= 0x200F) ||  // zero widths, direction marks
         (c >= 0x2028 && c <= 0x202E) ||  // line and paragraph separators, embeddings
         (c >= 0x2066 && c <= 0x2069) ||  // direction isolates
         c == 0xFEFF;
}

// Length of the well-formed, visible UTF-8 character at text[at] (a byte of 0x80 or
// more), or 0 when its bytes are to be escaped.
size_t VisibleCharacterAt(const std::string& text, size_t at) {
  const size_t length = Utf8CharacterLength(text, at);
  if (length < 2) return 0;
  uint32_t c = static_cast<unsigned char>(text[at]) & (0x7Fu >> length);
  for (size_t i = 1; i < length; ++i)
    c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3Fu);
  return IsInvisibleControl(c) ? 0 : length;
}
#endif

}  // namespace

size_t Utf8CharacterLength(const std::string& text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t c = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3Fu);
  }
  const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

std::string PrintableText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F) {
      out += text[i++];
      continue;
    }
#ifdef _WIN32
    const size_t visible = byte >= 0x80 ? 1 : 0;
#else
    const size_t visible = byte >= 0x80 ? VisibleCharacterAt(text, i) : 0;
#endif
    if (visible == 0) {
      AppendEscaped(out, byte);
      ++i;
    } else {
      out.append(text, i, visible);
      i += visible;
    }
  }
  return out;
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "wza: %s\n", PrintableText(message).c_str());
}

// What wza prints of names it did not choose: archive paths, aliases, entry names.
#pragma once

#include <cstddef>
#include <string>

// The text with every byte a terminal would not show as a character of its own written
// as \xNN (two lowercase hex digits): control bytes (ESC, BEL, CR, ...), DEL, and on
// POSIX terminals, which read UTF-8, bytes outside a well-formed UTF-8 character and the
// encoded C1 controls, line separators and direction overrides. A name can then neither
// move the cursor, retitle or clear the terminal, nor hide or reorder what follows it.
// On Windows the console reads bytes from 0x80 up as characters of its code page.
std::string PrintableText(const std::string& text);

// Bytes of the well-formed UTF-8 character at text[at]: 1 for ASCII, 0 when the bytes there
// are not one (a stray byte, an overlong form, a surrogate, a cut sequence).
size_t Utf8CharacterLength(const std::string& text, size_t at);
// One line on stderr, "wza: " and the message made printable: whatever it names comes
// from archives and command lines, and may hold bytes that drive the terminal.
void PrintError(const std::string& message);

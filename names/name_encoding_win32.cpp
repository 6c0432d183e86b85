// Windows side of name encodings: names are in the system's ANSI code page, as the window
// has always taken them, so there is nothing to convert them from.
#include "names/name_encoding.h"

#include "platform/ansi_text.h"

struct NameConverter {};

void NameConverterCloser::operator()(NameConverter* converter) const noexcept {
  delete converter;
}

bool OpenNameEncoding(const std::string&, NameEncoding&, std::string* error) {
  if (error != nullptr) *error = "names are read in the system's ANSI code page on Windows";
  return false;
}

bool ConvertName(const NameEncoding&, const std::string& bytes, std::string& text) {
  text = bytes;
  return true;
}

std::string NamesReadAs(const NameEncoding&) {
  return "ansi " + std::to_string(platform::AnsiCodePage());
}

std::string AsUtf8(const std::string& text) {
  std::string utf8;
  return platform::AnsiToUtf8(text, utf8) ? utf8 : text;
}

bool OpenNameEncodingBack(const std::string&, NameEncodingBack&, std::string* error) {
  if (error != nullptr) *error = "names are written in the system's ANSI code page on Windows";
  return false;
}

bool ConvertNameBack(const NameEncodingBack&, const std::string& text, std::string& bytes) {
  bytes = text;
  return true;
}

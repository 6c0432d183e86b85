#include "names/name_encoding.h"

#ifdef _WIN32
#include "platform/ansi_text.h"
#else
#include <iconv.h>

#include <cerrno>
#include <cstring>
#endif

#ifdef _WIN32
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
#else
struct NameConverter {
  iconv_t handle;
};

void NameConverterCloser::operator()(NameConverter* converter) const noexcept {
  if (converter == nullptr) return;
  iconv_close(converter->handle);
  delete converter;
}

bool OpenNameEncoding(const std::string& codePage, NameEncoding& encoding, std::string* error) {
  const iconv_t handle = iconv_open("UTF-8", codePage.c_str());
  if (handle == reinterpret_cast<iconv_t>(-1)) {
    if (error != nullptr) {
      *error = errno == EINVAL ? "not a code page this system converts from" : std::strerror(errno);
    }
    return false;
  }
  encoding.codePage = codePage;
  encoding.converter.reset(new NameConverter{handle});
  return true;
}

bool ConvertName(const NameEncoding& encoding, const std::string& bytes, std::string& text) {
  if (!encoding.converter) {
    text = bytes;
    return true;
  }
  const iconv_t handle = encoding.converter->handle;
  iconv(handle, nullptr, nullptr, nullptr, nullptr);  // a fresh start for each name
  std::string input = bytes;
  std::string output(bytes.size() * 4 + 16, '\0');  // no code page takes more per byte
  char* in = &input[0];
  size_t inLeft = input.size();
  char* out = &output[0];
  size_t outLeft = output.size();
  // A byte that cannot be converted fails the name rather than being dropped or replaced:
  // a mangled name would be written as a different file.
  if (iconv(handle, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) ||
      iconv(handle, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) {
    return false;
  }
  output.resize(output.size() - outLeft);
  text = output;
  return true;
}

std::string NamesReadAs(const NameEncoding& encoding) {
  return encoding.converter ? encoding.codePage : "bytes";
}

std::string AsUtf8(const std::string& text) {
  return text;
}

bool OpenNameEncodingBack(const std::string& codePage, NameEncodingBack& encoding,
                          std::string* error) {
  const iconv_t handle = iconv_open(codePage.c_str(), "UTF-8");
  if (handle == reinterpret_cast<iconv_t>(-1)) {
    if (error != nullptr) {
      *error = errno == EINVAL ? "not a code page this system converts to" : std::strerror(errno);
    }
    return false;
  }
  encoding.codePage = codePage;
  encoding.converter.reset(new NameConverter{handle});
  return true;
}

bool ConvertNameBack(const NameEncodingBack& encoding, const std::string& text, std::string& bytes) {
  if (!encoding.converter) {
    bytes = text;
    return true;
  }
  const iconv_t handle = encoding.converter->handle;
  iconv(handle, nullptr, nullptr, nullptr, nullptr);
  std::string input = text;
  std::string output(text.size() * 4 + 16, '\0');  // room for any code page's form
  char* in = &input[0];
  size_t inLeft = input.size();
  char* out = &output[0];
  size_t outLeft = output.size();
  // A character with no form in the code page fails the name: iconv would otherwise be
  // free to drop or replace it, and the archive would name another file.
  if (iconv(handle, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) ||
      iconv(handle, nullptr, nullptr, &out, &outLeft) == static_cast<size_t>(-1)) {
    return false;
  }
  output.resize(output.size() - outLeft);
  bytes = output;
  return true;
}
#endif

std::vector<bool> ConvertCatalogueNames(const NameEncoding& encoding, ArchiveCatalogue& catalogue) {
  if (!encoding.converter) return {};
  const size_t count = catalogue.entryNames.size();
  std::string converted;
  if (!ConvertName(encoding, catalogue.alias, converted)) return std::vector<bool>(count, true);
  catalogue.alias = converted;
  std::vector<bool> failed(count, false);
  bool anyFailed = false;
  for (size_t i = 0; i < count; ++i) {
    if (ConvertName(encoding, catalogue.entryNames[i], converted)) {
      catalogue.entryNames[i] = converted;
    } else {
      failed[i] = anyFailed = true;
    }
  }
  return anyFailed ? failed : std::vector<bool>();
}

// Name encodings through iconv (Linux): --names converts archive names from a code page to
// UTF-8, one folder or file name at a time.
#include "names/name_encoding.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "names/printable_text.h"

struct NameConverter {
  iconv_t handle;
};

void NameConverterCloser::operator()(NameConverter* converter) const noexcept {
  if (converter == nullptr) return;
  iconv_close(converter->handle);
  delete converter;
}

namespace {

// No code page has a character (or shift sequence) longer than this.
constexpr size_t kLongestCharacter = 16;

enum class Fed { Whole, Cut, Invalid };

void Restart(iconv_t handle) {
  iconv(handle, nullptr, nullptr, nullptr, nullptr);
}

// Runs bytes through the converter, appending what comes out to `text` (when given). Output
// is taken in pieces, so a name may grow by any factor. Cut: the bytes end inside a
// character, whose bytes are left unused. `used` counts the bytes taken.
Fed Feed(iconv_t handle, const char* bytes, size_t length, size_t& used, std::string* text) {
  char piece[1024];
  char* in = const_cast<char*>(bytes);
  size_t inLeft = length;
  for (;;) {
    char* out = piece;
    size_t outLeft = sizeof piece;
    const size_t done = iconv(handle, &in, &inLeft, &out, &outLeft);
    const int reason = errno;
    if (text != nullptr) text->append(piece, sizeof piece - outLeft);
    used = length - inLeft;
    if (done != static_cast<size_t>(-1)) return Fed::Whole;
    if (reason == EINVAL) return Fed::Cut;
    if (reason != E2BIG || outLeft == sizeof piece) return Fed::Invalid;
  }
}

// Appends what the converter still holds back (some pages wait for a combining character)
// and returns it to its initial state.
bool Flush(iconv_t handle, std::string& text) {
  char piece[1024];
  for (;;) {
    char* out = piece;
    size_t outLeft = sizeof piece;
    const size_t done = iconv(handle, nullptr, nullptr, &out, &outLeft);
    const int reason = errno;
    text.append(piece, sizeof piece - outLeft);
    if (done != static_cast<size_t>(-1)) return true;
    if (reason != E2BIG || outLeft == sizeof piece) return false;
  }
}

// Bytes of the character at name[at], as the converter in its present state reads it (and
// then stands after it); 0 when they are not valid or cut short.
size_t CharacterAt(iconv_t handle, const std::string& name, size_t at) {
  const size_t most = std::min(kLongestCharacter, name.size() - at);
  for (size_t length = 1; length <= most; ++length) {
    size_t used = 0;
    if (Feed(handle, name.data() + at, length, used, nullptr) == Fed::Invalid) return 0;
    if (used > 0) return used;
  }
  return 0;
}

// The positions of the bytes that separate folders in `name`: each "\" or "/" the code page
// reads as a character of its own, not as part of one (0x83 0x5C is one Shift-JIS
// character). Only the stretches around such bytes are gone through character by
// character; the converter's state (shift sequences) carries along in between. After a
// separator the converter starts afresh, as the conversion does. False for a name not valid
// in the code page.
bool FindSeparators(iconv_t handle, const std::string& name, std::vector<size_t>& separators) {
  Restart(handle);
  size_t at = 0;
  while (at < name.size()) {
    const size_t candidate = std::min(name.find_first_of("\\/", at), name.size());
    size_t used = 0;
    const Fed fed = Feed(handle, name.data() + at, candidate - at, used, nullptr);
    if (fed == Fed::Invalid || (fed == Fed::Cut && candidate == name.size())) return false;
    at += used;
    while (at <= candidate && at < name.size()) {
      const size_t length = CharacterAt(handle, name, at);
      if (length == 0) return false;
      if (at == candidate && length == 1) {
        separators.push_back(at);
        Restart(handle);
      }
      at += length;
    }
  }
  return true;
}

// glibc's reader of "UTF-8" passes some ill-formed bytes through as they are (F7 91 90 81,
// beyond U+10FFFF): what comes out is checked, so that no name is handed on as UTF-8 that
// is not.
bool IsWellFormedUtf8(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8CharacterLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace

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

// Each part between separators is converted on its own and the separators are kept as the
// bytes they are: in pages that read 0x5C as "¥" (Shift-JIS) or "*" (EBCDIC) a converted
// separator would no longer separate. A byte that cannot be converted fails the name rather
// than being dropped or replaced: a mangled name would be written as a different file.
bool ConvertName(const NameEncoding& encoding, const std::string& bytes, std::string& text) {
  if (!encoding.converter) {
    text = bytes;
    return true;
  }
  const iconv_t handle = encoding.converter->handle;
  std::vector<size_t> separators;
  if (!FindSeparators(handle, bytes, separators)) return false;
  separators.push_back(bytes.size());
  std::string converted;
  converted.reserve(bytes.size());
  Restart(handle);
  size_t start = 0;
  for (const size_t end : separators) {
    size_t used = 0;
    if (Feed(handle, bytes.data() + start, end - start, used, &converted) != Fed::Whole ||
        !Flush(handle, converted)) {
      return false;
    }
    if (end < bytes.size()) converted += bytes[end];
    start = end + 1;
  }
  if (!IsWellFormedUtf8(converted)) return false;
  text = std::move(converted);
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
  encoding.converter.reset(new NameConverter{handle});
  if (!OpenNameEncoding(codePage, encoding.forward, error)) {
    encoding.converter.reset();
    return false;
  }
  encoding.codePage = codePage;
  return true;
}

// A character with no form in the code page fails the name: iconv would otherwise be free
// to drop or replace it, and the archive would name another file. So does a result that
// reads back as something else: a character written as a byte that separates folders there.
bool ConvertNameBack(const NameEncodingBack& encoding, const std::string& text, std::string& bytes) {
  if (!encoding.converter) {
    bytes = text;
    return true;
  }
  const iconv_t handle = encoding.converter->handle;
  Restart(handle);
  std::string converted;
  size_t used = 0;
  if (Feed(handle, text.data(), text.size(), used, &converted) != Fed::Whole ||
      !Flush(handle, converted)) {
    return false;
  }
  std::vector<size_t> separators;
  std::string again;
  if (!FindSeparators(encoding.forward.converter->handle, converted, separators) ||
      !separators.empty() || !ConvertName(encoding.forward, converted, again) || again != text) {
    return false;
  }
  bytes = std::move(converted);
  return true;
}

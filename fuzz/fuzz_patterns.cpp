// libFuzzer target: an entry pattern, a NUL, then an entry name (as an archive holds it).
// The name is shown as wza shows it, and the pattern's answer must be that of a plain
// recursive matcher written from the rules in names/entry_pattern.h, one that is slow but
// plainly right. run.sh keeps inputs short, so the reference stays quick; the matcher's
// own time and memory are held by libFuzzer's limits.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "names/entry_pattern.h"

namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

struct Reference {
  std::string pattern;  // "\" already turned into "/"
  const std::string& name;
  std::vector<signed char> known;  // by (p, n): -1 not worked out yet, else the answer

  bool Matches(size_t p, size_t n) {
    signed char& answer = known[p * (name.size() + 1) + n];
    if (answer < 0) answer = Work(p, n) ? 1 : 0;
    return answer == 1;
  }

  bool AtFolderStart(size_t n) const { return n == 0 || name[n - 1] == '/'; }

  bool Work(size_t p, size_t n) {
    const size_t end = name.size();
    if (p == pattern.size()) return n == end;
    const char c = pattern[p];
    if (pattern.compare(p, 3, "**/") == 0 && (p == 0 || pattern[p - 1] == '/')) {
      // Whole folders or none: the rest at this folder's start, or after any later "/".
      if (AtFolderStart(n) && Matches(p + 3, n)) return true;
      for (size_t k = n; k < end; ++k) {
        if (name[k] == '/' && Matches(p + 3, k + 1)) return true;
      }
      return false;
    }
    if (pattern.compare(p, 2, "**") == 0) {  // any run, "/" included
      for (size_t k = n; k <= end; ++k) {
        if (Matches(p + 2, k)) return true;
      }
      return false;
    }
    if (c == '*') {  // any run without "/"
      for (size_t k = n;; ++k) {
        if (Matches(p + 1, k)) return true;
        if (k == end || name[k] == '/') return false;
      }
    }
    if (n == end) return false;
    if (c == '?') {  // one character, a whole UTF-8 one where there is one
      const size_t length = FuzzUtf8Length(name, n);
      return name[n] != '/' && Matches(p + 1, n + (length == 0 ? 1 : length));
    }
    return Lower(c) == Lower(name[n]) && Matches(p + 1, n + 1);
  }
};

bool ReferenceMatches(std::string pattern, const std::string& name) {
  for (char& c : pattern) {
    if (c == '\\') c = '/';
  }
  Reference reference{pattern, name, {}};
  reference.known.assign((pattern.size() + 1) * (name.size() + 1), -1);
  return reference.Matches(0, 0);
}

// Shown: "/" between non-empty components only.
void CheckShown(const std::string& shown) {
  FUZZ_CHECK(shown.find('\\') == std::string::npos);
  FUZZ_CHECK(shown.find("//") == std::string::npos);
  FUZZ_CHECK(shown.empty() || (shown.front() != '/' && shown.back() != '/'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t cut = input.find('\0');
  const std::string pattern = input.substr(0, cut);
  const std::string name = cut == std::string::npos ? "" : input.substr(cut + 1);
  const std::string shown = ShownName(name);
  CheckShown(shown);
  FUZZ_CHECK(MatchesPattern(pattern, shown) == ReferenceMatches(pattern, shown));
  // A pattern with no wildcard matches its own shown form.
  if (pattern.find_first_of("*?") == std::string::npos) {
    FUZZ_CHECK(MatchesPattern(pattern, ShownName(pattern)) ==
               ReferenceMatches(pattern, ShownName(pattern)));
  }

  EntryPatterns patterns;
  patterns.include = {pattern};
  patterns.exclude = {name};
  const bool chosen = IsChosen(patterns, shown);
  FUZZ_CHECK(chosen == (MatchesPattern(pattern, shown) && !MatchesPattern(name, shown)));
  return 0;
}

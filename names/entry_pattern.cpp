#include "names/entry_pattern.h"

#include <cstddef>

#include "names/printable_text.h"

namespace {

char Folded(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Bytes of the character at name[at]: a well-formed UTF-8 sequence counts as one.
size_t CharacterLength(const std::string& name, size_t at) {
  const size_t length = Utf8CharacterLength(name, at);
  return length == 0 ? 1 : length;
}

// Whether pattern[p..] matches name[n..], for every p and n, filled from the ends backward:
// no recursion, and patterns of many stars cost no more than the product of the lengths.
bool MatchTable(const std::string& pattern, const std::string& name) {
  const size_t width = name.size() + 1;
  std::vector<char> table((pattern.size() + 1) * width, 0);
  const auto at = [&](size_t p, size_t n) -> char& { return table[p * width + n]; };
  at(pattern.size(), name.size()) = 1;
  for (size_t p = pattern.size(); p-- > 0;) {
    const char c = pattern[p];
    const bool crossing = c == '*' && p + 1 < pattern.size() && pattern[p + 1] == '*';
    const size_t next = p + (crossing ? 2 : 1);
    // "**/" also stands for no folder at all.
    const bool noFolder = crossing && next < pattern.size() && pattern[next] == '/';
    for (size_t n = name.size() + 1; n-- > 0;) {
      const bool more = n < name.size();
      if (c == '*') {
        at(p, n) = at(next, n) || (noFolder && at(next + 1, n)) ||
                   (more && (crossing || name[n] != '/') && at(p, n + 1));
      } else if (c == '?') {
        at(p, n) = more && name[n] != '/' && at(p + 1, n + CharacterLength(name, n));
      } else {
        at(p, n) = more && Folded(c) == Folded(name[n]) && at(p + 1, n + 1);
      }
    }
  }
  return at(0, 0) != 0;
}

}  // namespace

std::string ShownName(const std::string& name) {
  std::string shown;
  std::string component;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '\\' || name[i] == '/') {
      if (!component.empty()) {
        if (!shown.empty()) shown += '/';
        shown += component;
      }
      component.clear();
    } else {
      component += name[i];
    }
  }
  return shown;
}

bool MatchesPattern(const std::string& pattern, const std::string& name) {
  std::string slashed = pattern;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  return MatchTable(slashed, name);
}

bool HasPatterns(const EntryPatterns& patterns) {
  return !patterns.include.empty() || !patterns.exclude.empty();
}

namespace {

// Whether any of `list` matches; each that does is noted in `matched`.
bool AnyMatches(const std::vector<std::string>& list, std::vector<bool>& matched,
                const std::string& name) {
  matched.resize(list.size(), false);
  bool any = false;
  for (size_t i = 0; i < list.size(); ++i) {
    if (!MatchesPattern(list[i], name)) continue;
    matched[i] = true;
    any = true;
  }
  return any;
}

}  // namespace

bool IsChosen(EntryPatterns& patterns, const std::string& shownName) {
  const bool included =
      patterns.include.empty() || AnyMatches(patterns.include, patterns.includeMatched, shownName);
  const bool excluded = AnyMatches(patterns.exclude, patterns.excludeMatched, shownName);
  return included && !excluded;
}

std::vector<std::string> UnmatchedPatterns(const EntryPatterns& patterns) {
  std::vector<std::string> unmatched;
  for (size_t i = 0; i < patterns.include.size(); ++i) {
    if (i >= patterns.includeMatched.size() || !patterns.includeMatched[i]) {
      unmatched.push_back("-i " + patterns.include[i]);
    }
  }
  for (size_t i = 0; i < patterns.exclude.size(); ++i) {
    if (i >= patterns.excludeMatched.size() || !patterns.excludeMatched[i]) {
      unmatched.push_back("-x " + patterns.exclude[i]);
    }
  }
  return unmatched;
}

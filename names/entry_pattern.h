// Choosing entries by name: the -i and -x patterns of wza.
#pragma once

#include <string>
#include <vector>

// The entry's name as wza shows it and patterns match it: alias first, "/" between
// components, the empty components of doubled separators left out. `name` separates its
// components with "\" or "/".
std::string ShownName(const std::string& name);

// Whether `name` (a shown name) matches `pattern`: "*" is any run of characters but "/",
// "**" any run including "/", "**/" at the start of a folder whole folders or none ("a/**/b"
// matches "a/b" and "a/x/y/b", not "a/xb"), "?" one character but "/" (a
// UTF-8 character counts as one); letters match regardless of case, as on Windows (ASCII
// letters only: names are 8-bit text of unknown code page). "\" in a pattern stands for "/".
bool MatchesPattern(const std::string& pattern, const std::string& name);

struct EntryPatterns {
  std::vector<std::string> include;  // none: every entry is included
  std::vector<std::string> exclude;  // wins over include
  std::vector<bool> includeMatched;  // by pattern: whether any entry matched it so far
  std::vector<bool> excludeMatched;
};

bool HasPatterns(const EntryPatterns& patterns);

// Whether the entry of that shown name is chosen; notes which patterns matched it.
bool IsChosen(EntryPatterns& patterns, const std::string& shownName);

// The patterns that matched no entry, each as the option that gave it ("-i data/*.txt").
std::vector<std::string> UnmatchedPatterns(const EntryPatterns& patterns);

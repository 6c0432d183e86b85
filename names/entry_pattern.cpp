#include "names/entry_pattern.h"

#include <algorithm>
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

// A pattern is read as a row of tokens; "**/" at the start of a folder is one, as it may
// also stand for no folder at all.
enum class Token { Literal, AnyOne, Star, Crossing, Folders };

struct PatternToken {
  Token kind;
  char literal = 0;
};

std::vector<PatternToken> Tokens(const std::string& pattern) {
  std::vector<PatternToken> tokens;
  for (size_t p = 0; p < pattern.size();) {
    const char c = pattern[p];
    const bool crossing = c == '*' && p + 1 < pattern.size() && pattern[p + 1] == '*';
    if (crossing && p + 2 < pattern.size() && pattern[p + 2] == '/' &&
        (p == 0 || pattern[p - 1] == '/')) {
      tokens.push_back({Token::Folders});
      p += 3;
    } else if (crossing) {
      tokens.push_back({Token::Crossing});
      p += 2;
    } else {
      tokens.push_back({c == '*' ? Token::Star : c == '?' ? Token::AnyOne : Token::Literal, c});
      ++p;
    }
  }
  return tokens;
}

// One row of the match: whether the tokens from one on match name[n..end), for each n from
// `begin` to `end`, given the same for the tokens after it (`after`).
void MatchRow(const PatternToken& token, const std::string& name, size_t begin, size_t end,
              const std::vector<char>& after, std::vector<char>& row) {
  const auto at = [&](const std::vector<char>& r, size_t n) { return n <= end && r[n - begin]; };
  bool throughFolders = false;  // "**/": some run ending in "/" at n, then the rest
  for (size_t n = end + 1; n-- > begin;) {
    const bool more = n < end;
    bool matches = false;
    switch (token.kind) {
      case Token::Literal:
        matches = more && Folded(token.literal) == Folded(name[n]) && at(after, n + 1);
        break;
      case Token::AnyOne:
        matches = more && name[n] != '/' && at(after, n + CharacterLength(name, n));
        break;
      case Token::Star:
        matches = at(after, n) || (more && name[n] != '/' && at(row, n + 1));
        break;
      case Token::Crossing:
        matches = at(after, n) || (more && at(row, n + 1));
        break;
      case Token::Folders:
        throughFolders = more && ((name[n] == '/' && at(after, n + 1)) || throughFolders);
        matches = throughFolders || ((n == 0 || name[n - 1] == '/') && at(after, n));
        break;
    }
    row[n - begin] = matches ? 1 : 0;
  }
}

// Whether `name` matches the tokens: the literal ones at either end are compared first,
// and the rest row by row from the last token back, two rows of the name's length at a
// time, so neither a long name nor a long pattern costs memory of their product.
bool MatchTokens(const std::vector<PatternToken>& tokens, const std::string& name) {
  size_t first = 0;
  size_t last = tokens.size();
  size_t begin = 0;
  size_t end = name.size();
  for (; first < last && tokens[first].kind == Token::Literal; ++first, ++begin) {
    if (begin == end || Folded(tokens[first].literal) != Folded(name[begin])) return false;
  }
  for (; last > first && tokens[last - 1].kind == Token::Literal; --last, --end) {
    if (end == begin || Folded(tokens[last - 1].literal) != Folded(name[end - 1])) return false;
  }
  if (first == last) return begin == end;
  std::vector<char> after(end - begin + 1, 0);
  std::vector<char> row(end - begin + 1, 0);
  after.back() = 1;
  for (size_t t = last; t-- > first;) {
    MatchRow(tokens[t], name, begin, end, after, row);
    after.swap(row);
    if (std::find(after.begin(), after.end(), 1) == after.end()) return false;
  }
  return after[0] != 0;
}

}  // namespace

std::string ShownName(const std::string& name) {
  std::string shown;
  shown.reserve(name.size());
  size_t start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '\\' && name[i] != '/') continue;
    if (i > start) {
      if (!shown.empty()) shown += '/';
      shown.append(name, start, i - start);
    }
    start = i + 1;
  }
  return shown;
}

bool MatchesPattern(const std::string& pattern, const std::string& name) {
  std::string slashed = pattern;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  return MatchTokens(Tokens(slashed), name);
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

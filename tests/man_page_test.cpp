// The manual page and `wza --help` name the same options, so neither falls behind the other.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>

#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

namespace {

using Options = std::set<std::string>;

// Every "-x" or "--word" that stands on its own, not inside a hyphenated word.
Options OptionsIn(const std::string& text) {
  static const std::regex option(R"((?:^|[^A-Za-z0-9_-])(--?[A-Za-z][A-Za-z0-9-]*))");
  Options found;
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

// The page's text without comments, font changes and escaped dashes.
std::string RoffText(const std::string& roff) {
  static const std::regex font(R"(\\f(\[[^\]]*\]|\(..|.))");
  std::istringstream lines(roff);
  std::string text;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(".\\\"", 0) == 0) continue;
    text += std::regex_replace(line, font, "") + "\n";
  }
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

std::string Listed(const Options& options) {
  std::string listed;
  for (const std::string& option : options) listed += " " + option;
  return listed;
}

TEST(WzaManPage, NamesExactlyTheOptionsOfHelp) {
  const ProgramResult help = RunWza({"--help"});
  ASSERT_EQ(help.exitCode, 0);
  const Options inHelp = OptionsIn(help.out);
  const Options inPage = OptionsIn(RoffText(ReadFile(WZA_MAN_PAGE)));
  ASSERT_TRUE(inHelp.count("--version")) << help.out;

  Options helpOnly;
  Options pageOnly;
  for (const std::string& option : inHelp) {
    if (!inPage.count(option)) helpOnly.insert(option);
  }
  for (const std::string& option : inPage) {
    if (!inHelp.count(option)) pageOnly.insert(option);
  }
  EXPECT_TRUE(helpOnly.empty()) << "in --help but not in the manual page:" << Listed(helpOnly);
  EXPECT_TRUE(pageOnly.empty()) << "in the manual page but not in --help:" << Listed(pageOnly);
}

}  // namespace

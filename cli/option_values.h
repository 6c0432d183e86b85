// The option parsing every command of wza shares: the walk through the arguments and the
// options more than one command takes (-h, -q, -j, -i and -x, --names).
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "names/entry_pattern.h"
#include "names/name_encoding.h"

// What a command's parser returns after -h or --help, for main to show the usage text.
constexpr const char* kHelpShown = "help";

// Goes through the arguments after the command (argv[2] on): operands, and everything after
// "--", to `operands`, each option to `option`, which may take argv[i + 1] by moving `i` on
// and returns "" or what is wrong, which ends the walk.
std::string WalkArguments(int argc, char** argv, std::vector<std::string>& operands,
                          const std::function<std::string(const std::string& arg, int& i)>& option);

inline bool IsHelp(const std::string& arg) {
  return arg == "-h" || arg == "--help";
}
inline bool IsQuiet(const std::string& arg) {
  return arg == "-q" || arg == "--quiet";
}
inline bool IsWorkers(const std::string& arg) {
  return arg.compare(0, 2, "-j") == 0;
}

// One thread per usable core, at most kMaxWorkers.
size_t AllCores();

// Each Take* returns "" or what is wrong. -j, -jN or -j N (the next argument taken only
// when it is a number: "-j a.big" names an archive) gives N, or AllCores() for -j alone;
// -i and -x add their pattern; --names opens its code page.
std::string TakeWorkers(const std::string& arg, int argc, char** argv, int& i, size_t& workers);
std::string TakePattern(const std::string& arg, int argc, char** argv, int& i,
                        EntryPatterns& patterns);
std::string TakeNames(const std::string& arg, int argc, char** argv, int& i, NameEncoding& names);

// The value of an option given as "-i VALUE" or "-iVALUE" ("--names VALUE" or
// "--names=VALUE"); false when it is missing or empty.
bool OptionValue(const std::string& arg, const std::string& option, int argc, char** argv, int& i,
                 std::string& value);

// Whether `arg` is `option` with its value in it or after it.
bool TakesValue(const std::string& arg, const std::string& option);

// Pieces of option parsing the commands share.
#pragma once

#include <cstddef>
#include <string>

// N of -j N: a whole number from 1 to kMaxWorkers, or 0 when `text` is none.
size_t WorkersIn(const std::string& text);

bool IsNumber(const std::string& text);

// One thread per usable core, at most kMaxWorkers.
size_t AllCores();

// The value of an option given as "-i VALUE" or "-iVALUE" ("--names VALUE" or
// "--names=VALUE"); false when it is missing or empty.
bool OptionValue(const std::string& arg, const std::string& option, int argc, char** argv, int& i,
                 std::string& value);

// Whether `arg` is `option` with its value in it or after it.
bool TakesValue(const std::string& arg, const std::string& option);

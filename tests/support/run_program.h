// Runs one of our programs as a child process and collects what it printed.
#pragma once

#include <string>
#include <vector>

struct ProgramResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `args` in the folder `workingFolder` (empty: the current one).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder = "");

// Path of a program built beside the running test executable ("wza" gives wza or wza.exe).
std::string SiblingProgram(const std::string& name);

// Runs one of our programs as a child process and collects what it printed.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct ProgramResult {
  int exitCode = -1;
  std::string out;  // on Windows with CR LF made LF, as text-mode output is compared
  std::string err;
  std::string rawOut;  // standard output byte for byte
  bool timedOut = false;  // killed after the time limit: a hang
  int signal = 0;         // POSIX: the signal that ended it, when one did
  long peakKiB = 0;       // POSIX: its peak resident memory
};

// A child that runs this long is taken as hung and killed, so a hang fails the test
// instead of stalling the suite.
constexpr int kProgramTimeLimitSeconds = 300;

// Called every few milliseconds while the child runs, with its process id: for tests
// that act on a running program, such as interrupting it.
using WhileRunning = std::function<void(long processId)>;

// Runs `program` with `args` in the folder `workingFolder` (empty: the current one).
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workingFolder = "",
                         const WhileRunning& whileRunning = nullptr);

// Runs the `wza` built beside the test executable; a hang fails the calling test.
ProgramResult RunWza(const std::vector<std::string>& args, const std::string& workingFolder = "",
                     const WhileRunning& whileRunning = nullptr);

#ifndef _WIN32
// Runs a /bin/sh command line in which "WZA" stands for the path of `wza`: for what only a
// shell sets up, such as a pseudo-terminal (script -qec) or a full disk (> /dev/full).
ProgramResult RunWzaInShell(const std::string& commandLine, const std::string& workingFolder,
                            const WhileRunning& whileRunning = nullptr);
#endif

// How often `what` occurs in `text`, and whether it does at all.
size_t CountOf(const std::string& text, const std::string& what);
bool Contains(const std::string& text, const std::string& what);

// Path of a program built beside the running test executable ("wza" gives wza or wza.exe).
std::string SiblingProgram(const std::string& name);

#include "cli/command_line.h"

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/option_values.h"
#include "extract/exit_codes.h"
#include "extract/parallel_run.h"
#include "names/printable_text.h"

namespace {

constexpr const char* kHelpShown = "help";

// Fills `options` from the arguments after the command; "" when they are fine, kHelpShown
// after --help, or what is wrong.
std::string ParseOptions(const std::string& command, int argc, char** argv, CliOptions& options) {
  const bool extract = command == "extract";
  bool optionsEnded = false;
  bool destinationGiven = false;
  std::string value;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      options.archives.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "-h" || arg == "--help") {
      return kHelpShown;
    } else if (arg.compare(0, 2, "-j") == 0 && command != "list") {
      // "-j" takes the next argument only when it is a number: "-j a.big" names an archive.
      std::string count = arg.substr(2);
      if (count.empty() && i + 1 < argc && IsNumber(argv[i + 1])) count = argv[++i];
      if (count.empty()) {
        options.workers = AllCores();
      } else if ((options.workers = WorkersIn(count)) == 0) {
        return "-j takes a number of threads from 1 to " + std::to_string(kMaxWorkers);
      }
    } else if (TakesValue(arg, "-d") && extract) {
      if (!OptionValue(arg, "-d", argc, argv, i, options.destination)) {
        return "-d needs a destination folder";
      }
      destinationGiven = true;
    } else if (TakesValue(arg, "-i") || TakesValue(arg, "-x")) {
      const bool include = arg[1] == 'i';
      if (!OptionValue(arg, include ? "-i" : "-x", argc, argv, i, value)) {
        return arg.substr(0, 2) + " needs a pattern";
      }
      (include ? options.patterns.include : options.patterns.exclude).push_back(value);
    } else if (TakesValue(arg, "--names")) {
      if (!OptionValue(arg, "--names", argc, argv, i, value)) return "--names needs a code page";
      std::string reason;
      if (!OpenNameEncoding(value, options.names, &reason)) {
        return "--names " + value + ": " + reason;
      }
    } else if (arg == "-n" && extract) {
      options.keepExisting = true;
    } else if (arg == "-p" && extract) {
      options.toStandardOutput = true;
    } else if (arg == "--json" && command == "list") {
      options.json = true;
    } else {
      return "unknown option '" + arg + "' for " + command;
    }
  }
  if (options.archives.empty()) return "no archive given";
  if (options.toStandardOutput && options.keepExisting) return "-p writes no files: -n has no use";
  if (options.toStandardOutput && destinationGiven) return "-p writes no files: -d has no use";
  return "";
}

}  // namespace

bool IsCliCommand(const std::string& command) {
  return command == "list" || command == "test" || command == "extract";
}

int UsageError(const std::string& message) {
  std::fprintf(stderr, "wza: %s\nTry 'wza --help'.\n", PrintableText(message).c_str());
  return kExitFailed;
}

int RunCliCommand(const std::string& command, int argc, char** argv) {
  CliOptions options;
  options.workers = AllCores();
  const std::string problem = ParseOptions(command, argc, argv, options);
  if (problem == kHelpShown) return kHelpAsked;
  if (!problem.empty()) return UsageError(problem);

  if (command == "list") return ListArchives(options);
  if (command == "test") return TestArchives(options);
  return ExtractArchives(options);
}

#include "cli/command_line.h"

#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/diff_command.h"
#include "cli/exit_codes.h"
#include "cli/option_values.h"
#include "cli/pack_command.h"
#include "names/printable_text.h"

namespace {

// Fills `options` from the arguments after the command; "" when they are fine, kHelpShown
// after --help, or what is wrong.
std::string ParseOptions(const std::string& command, int argc, char** argv, CliOptions& options) {
  const bool extract = command == "extract";
  bool destinationGiven = false;
  const auto option = [&](const std::string& arg, int& i) -> std::string {
    if (IsQuiet(arg)) {
      options.quiet = true;
    } else if (IsHelp(arg)) {
      return kHelpShown;
    } else if (IsWorkers(arg) && command != "list") {
      return TakeWorkers(arg, argc, argv, i, options.workers);
    } else if (TakesValue(arg, "-d") && extract) {
      if (!OptionValue(arg, "-d", argc, argv, i, options.destination)) {
        return "-d needs a destination folder";
      }
      destinationGiven = true;
    } else if (TakesValue(arg, "-i") || TakesValue(arg, "-x")) {
      return TakePattern(arg, argc, argv, i, options.patterns);
    } else if (TakesValue(arg, "--names")) {
      return TakeNames(arg, argc, argv, i, options.names);
    } else if (arg == "-n" && extract) {
      options.keepExisting = true;
    } else if (arg == "-p" && extract) {
      options.toStandardOutput = true;
    } else if (TakesValue(arg, "--changed-from") && extract) {
      if (!OptionValue(arg, "--changed-from", argc, argv, i, options.changedFrom)) {
        return "--changed-from needs an archive";
      }
    } else if (arg == "--json" && command == "list") {
      options.json = true;
    } else {
      return "unknown option '" + arg + "' for " + command;
    }
    return "";
  };
  const std::string problem = WalkArguments(argc, argv, options.archives, option);
  if (!problem.empty()) return problem;
  if (options.archives.empty()) return "no archive given";
  if (options.toStandardOutput && options.keepExisting) return "-p writes no files: -n has no use";
  if (options.toStandardOutput && destinationGiven) return "-p writes no files: -d has no use";
  return "";
}

}  // namespace

int UsageError(const std::string& message) {
  std::fprintf(stderr, "wza: %s\nTry 'wza --help'.\n", PrintableText(message).c_str());
  return kExitFailed;
}

int RunCliCommand(const std::string& command, int argc, char** argv) {
  if (command == "pack") return PackCommand(argc, argv);
  if (command == "diff") return DiffCommand(argc, argv);
  if (command != "list" && command != "test" && command != "extract") {
    return UsageError("unknown command '" + command + "'");
  }
  CliOptions options;
  options.workers = AllCores();
  const std::string problem = ParseOptions(command, argc, argv, options);
  if (problem == kHelpShown) return kHelpAsked;
  if (!problem.empty()) return UsageError(problem);

  if (command == "list") return ListArchives(options);
  if (command == "test") return TestArchives(options);
  return ExtractArchives(options);
}

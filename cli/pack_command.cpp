#include "cli/pack_command.h"

#include <cstdio>
#include <string>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/option_values.h"
#include "cli/progress_line.h"
#include "names/printable_text.h"
#include "pack/pack_run.h"
#include "platform/interrupt.h"

namespace {

struct PackOptions {
  PackRequest request;
  EntryPatterns patterns;
  bool quiet = false;
  bool newOnly = false;  // --version or --record given
};

bool TakeNumber(const std::string& text, std::initializer_list<uint32_t> allowed, uint32_t& value) {
  for (uint32_t one : allowed) {
    if (text == std::to_string(one)) {
      value = one;
      return true;
    }
  }
  return false;
}

// One option at argv[i]; "" when it is fine, else what is wrong.
std::string ParseOption(const std::string& arg, int argc, char** argv, int& i,
                        PackOptions& options) {
  PackRequest& request = options.request;
  std::string value;
  if (IsQuiet(arg)) {
    options.quiet = true;
  } else if (IsHelp(arg)) {
    return kHelpShown;
  } else if (arg.size() == 2 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9') {
    request.level = arg[1] - '0';
  } else if (IsWorkers(arg)) {
    return TakeWorkers(arg, argc, argv, i, request.workers);
  } else if (TakesValue(arg, "--like")) {
    if (!OptionValue(arg, "--like", argc, argv, i, request.like)) return "--like needs an archive";
  } else if (TakesValue(arg, "-o")) {
    if (!OptionValue(arg, "-o", argc, argv, i, request.output)) {
      return "-o needs the archive to write";
    }
  } else if (TakesValue(arg, "-x")) {
    return TakePattern(arg, argc, argv, i, options.patterns);
  } else if (TakesValue(arg, "--names")) {
    if (!OptionValue(arg, "--names", argc, argv, i, request.codePage)) {
      return "--names needs a code page";
    }
  } else if (TakesValue(arg, "--version")) {
    if (!OptionValue(arg, "--version", argc, argv, i, value) ||
        !TakeNumber(value, {1, 2, 4}, request.version)) {
      return "--version takes 1, 2 or 4";
    }
    options.newOnly = true;
  } else if (TakesValue(arg, "--record")) {
    if (!OptionValue(arg, "--record", argc, argv, i, value) ||
        !TakeNumber(value, {17, 20, 22}, request.recordSize)) {
      return "--record takes 17, 20 or 22";
    }
    options.newOnly = true;
  } else {
    return "unknown option '" + arg + "' for pack";
  }
  return "";
}

std::string ParsePackOptions(int argc, char** argv, PackOptions& options) {
  std::vector<std::string> folders;
  const std::string problem = WalkArguments(
      argc, argv, folders,
      [&](const std::string& arg, int& i) { return ParseOption(arg, argc, argv, i, options); });
  if (!problem.empty()) return problem;
  if (folders.size() != 1) return folders.empty() ? "no folder given" : "pack takes one folder";
  if (options.newOnly && !options.request.like.empty()) {
    return "--version and --record make a new archive; --like keeps OLD's";
  }
#ifdef _WIN32
  if (!options.request.codePage.empty()) {
    return "--names: names are written in the system's ANSI code page on Windows";
  }
#endif
  options.request.folder = folders[0];
  if (!options.patterns.exclude.empty()) options.request.patterns = &options.patterns;
  return "";
}

std::string ClosingLine(const PackOutcome& outcome) {
  return "packed " + PrintableText(outcome.output) + ": " + std::to_string(outcome.kept) +
         " kept, " + std::to_string(outcome.replaced) + " replaced, " +
         std::to_string(outcome.added) + " added, " + std::to_string(outcome.leftOut) +
         " left out, " + std::to_string(outcome.size) + " bytes";
}

}  // namespace

int PackCommand(int argc, char** argv) {
  PackOptions options;
  options.request.workers = AllCores();
  const std::string problem = ParsePackOptions(argc, argv, options);
  if (problem == kHelpShown) return kHelpAsked;
  if (!problem.empty()) return UsageError(problem);

  ProgressLine progress;
  progress.enabled = !options.quiet && StderrIsTerminal();
  PackCallbacks callbacks;
  callbacks.note = [&](const std::string& line) {
    ClearProgress(progress);
    PrintError(line);
  };
  callbacks.progress = [&](const char* phase, uint64_t done, uint64_t total) {
    if (!progress.enabled) return;
    progress.label = phase;
    DrawProgress(progress, total == 0 ? 100 : static_cast<int>(done * 100 / total));
  };
  // Ctrl-C removes the unfinished archive instead of leaving it.
  platform::CatchInterrupts();
  callbacks.interrupted = platform::Interrupted;
  const PackOutcome outcome = PackFolder(options.request, callbacks);
  ClearProgress(progress);
  if (outcome.interrupted) {
    PrintError("interrupted: nothing written");
    return platform::InterruptExitCode();
  }
  for (const std::string& line : outcome.problems) PrintError(line);
  if (outcome.result != PackResult::Written) {
    return outcome.result == PackResult::FilesUnreadable ? kExitPartial : kExitFailed;
  }
  if (!options.quiet) std::printf("%s\n", ClosingLine(outcome).c_str());
  return kExitOk;
}

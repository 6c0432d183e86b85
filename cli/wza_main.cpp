// wza: list, test and extract "_ARCHIVE" game archives (*.wza, *.big) from the command line.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/mount_command.h"
#include "cli/printable_text.h"
#include "extract/parallel_run.h"
#include "platform/usable_cores.h"

namespace {

// WZA_VERSION is the project version, passed in by the build.
constexpr const char* kVersion = "wza " WZA_VERSION;

constexpr const char* kUsage =
    "Usage: wza COMMAND [OPTIONS] ARCHIVE...\n"
#ifndef _WIN32
    "       wza mount [-f] [--names CODEPAGE] ARCHIVE MOUNTPOINT\n"
#else
    "       wza mount [-f] ARCHIVE MOUNTPOINT\n"
#endif
    "\n"
    "Commands:\n"
    "  list      list every entry: size, stored size, method and name\n"
    "  test      read and inflate every entry without writing anything\n"
    "  extract   write every entry below DEST/__ARCHIVE-NAME/ALIAS/\n"
    "  mount     show what extract would write below __ARCHIVE-NAME/ as a read-only\n"
    "            folder at MOUNTPOINT (Linux); `fusermount3 -u MOUNTPOINT` unmounts\n"
    "\n"
    "Options:\n"
    "  -i PATTERN     only entries whose name (as list shows it) matches; repeatable.\n"
    "                 * stays within a folder, ** crosses folders, ? is one character;\n"
    "                 case is ignored\n"
    "  -x PATTERN     leave out entries that match; repeatable, wins over -i\n"
#ifndef _WIN32
    "  --names CODEPAGE  archive names are in CODEPAGE (cp1252, cp932, cp936, utf-8...):\n"
    "                 shown, matched and written as UTF-8 (default: names are bytes)\n"
#endif
    "  -d DEST        extract into DEST (default: the current folder)\n"
    "  -n             extract: never replace a file; one that is there is kept\n"
    "  -p             extract: the chosen entries' bytes to standard output, in archive\n"
    "                 order; nothing is written to disk, messages go to standard error\n"
    "  --json         list: one JSON document for the whole run\n"
    "  -q             quiet: no progress bar, no summary; errors are still shown\n"
    "  -f             mount: stay in the foreground (Ctrl-C unmounts) instead of\n"
    "                 detaching once the mount is ready\n"
    "  -j [N]         test and extract with N threads; -j alone or left out: one per\n"
    "                 core the process may use; -j 1: one entry at a time\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit codes: 0 all good, 1 some entries failed, an archive was skipped or a pattern\n"
    "matched no entry, 2 usage error, nothing could be read or the output could not be\n"
    "written, 130 interrupted (Ctrl-C) while extracting.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "wza: %s\nTry 'wza --help'.\n", PrintableText(message).c_str());
  return kExitFailed;
}

// Output lost on a full disk or a closed pipe must not pass for success: the last buffered
// lines are written only now, so this is where a failed write shows.
int FinishStandardOutput(int exitCode) {
  const bool flushed = std::fflush(stdout) == 0;
  const int reason = errno;
  if (flushed && !std::ferror(stdout)) return exitCode;
  std::fprintf(stderr, "wza: cannot write to standard output%s%s\n", flushed ? "" : ": ",
               flushed ? "" : std::strerror(reason));
  return exitCode == kExitOk || exitCode == kExitPartial ? kExitFailed : exitCode;
}

// N of -j N: a whole number from 1 to kMaxWorkers, or 0 when `text` is none.
size_t WorkersIn(const std::string& text) {
  if (text.empty() || text.size() > 3 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const size_t workers = std::stoul(text);
  return workers <= kMaxWorkers ? workers : 0;
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

size_t AllCores() {
  return std::min(platform::UsableCores(), kMaxWorkers);
}

constexpr const char* kHelpShown = "help";

// The value of an option given as "-i VALUE" or "-iVALUE" ("--names VALUE" or
// "--names=VALUE"); false when it is missing.
bool OptionValue(const std::string& arg, const std::string& option, int argc, char** argv, int& i,
                 std::string& value) {
  if (arg != option) {
    value = arg.substr(option.size() + (option.size() > 2 ? 1 : 0));
    return true;
  }
  if (i + 1 >= argc) return false;
  value = argv[++i];
  return true;
}

bool TakesValue(const std::string& arg, const std::string& option) {
  if (option.size() > 2) return arg == option || arg.rfind(option + "=", 0) == 0;
  return arg.compare(0, 2, option) == 0;
}

// Fills `options` from the arguments after the command; "" when they are fine, kHelpShown
// after --help, or what is wrong.
std::string ParseOptions(const std::string& command, int argc, char** argv, CliOptions& options) {
  const bool extract = command == "extract";
  bool optionsEnded = false;
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
      std::fputs(kUsage, stdout);
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
  if (options.destination.empty()) return "the destination is empty";
  if (options.toStandardOutput && options.keepExisting) return "-p writes no files: -n has no use";
  return "";
}

int RunCommand(int argc, char** argv) {
  if (argc < 2) return UsageError("no command given");
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("%s\n", kVersion);
    return kExitOk;
  }
  if (command == "mount") return MountCommand(argc - 2, argv + 2);
  if (command != "list" && command != "test" && command != "extract") {
    return UsageError("unknown command '" + command + "'");
  }

  CliOptions options;
  options.workers = AllCores();
  const std::string problem = ParseOptions(command, argc, argv, options);
  if (problem == kHelpShown) return kExitOk;
  if (!problem.empty()) return UsageError(problem);

  if (command == "list") return ListArchives(options);
  if (command == "test") return TestArchives(options);
  return ExtractArchives(options);
}

}  // namespace

int main(int argc, char** argv) {
  return FinishStandardOutput(RunCommand(argc, argv));
}

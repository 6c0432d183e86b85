// wza: list, test and extract "_ARCHIVE" game archives (*.wza, *.big) from the command line.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "cli/printable_text.h"
#include "extract/parallel_run.h"
#include "platform/usable_cores.h"

namespace {

// WZA_VERSION is the project version, passed in by the build.
constexpr const char* kVersion = "wza " WZA_VERSION;

constexpr const char* kUsage =
    "Usage: wza COMMAND [OPTIONS] ARCHIVE...\n"
    "\n"
    "Commands:\n"
    "  list      list every entry: size, stored size, method and name\n"
    "  test      read and inflate every entry without writing anything\n"
    "  extract   write every entry below DEST/__ARCHIVE-NAME/ALIAS/\n"
    "\n"
    "Options:\n"
    "  -d DEST        extract into DEST (default: the current folder)\n"
    "  -q             quiet: no progress bar, no summary; errors are still shown\n"
    "  -j [N]         test and extract with N threads; -j alone or left out: one per\n"
    "                 core the process may use; -j 1: one entry at a time\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit codes: 0 all good, 1 some entries failed or an archive was skipped,\n"
    "2 usage error, nothing could be read or the output could not be written,\n"
    "130 interrupted (Ctrl-C) while extracting.\n";

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
  if (command != "list" && command != "test" && command != "extract") {
    return UsageError("unknown command '" + command + "'");
  }

  CliOptions options;
  const size_t allCores = std::min(platform::UsableCores(), kMaxWorkers);
  options.workers = allCores;
  bool optionsEnded = false;
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
      return kExitOk;
    } else if (arg.compare(0, 2, "-j") == 0 && command != "list") {
      // "-j" takes the next argument only when it is a number: "-j a.big" names an archive.
      std::string count = arg.substr(2);
      if (count.empty() && i + 1 < argc && IsNumber(argv[i + 1])) count = argv[++i];
      if (count.empty()) {
        options.workers = allCores;
      } else if ((options.workers = WorkersIn(count)) == 0) {
        return UsageError("-j takes a number of threads from 1 to " + std::to_string(kMaxWorkers));
      }
    } else if (arg == "-d" && command == "extract") {
      if (i + 1 >= argc) return UsageError("-d needs a destination folder");
      options.destination = argv[++i];
    } else if (arg.compare(0, 2, "-d") == 0 && command == "extract") {
      options.destination = arg.substr(2);
    } else {
      return UsageError("unknown option '" + arg + "' for " + command);
    }
  }
  if (options.archives.empty()) return UsageError("no archive given");
  if (options.destination.empty()) return UsageError("the destination is empty");

  if (command == "list") return ListArchives(options);
  if (command == "test") return TestArchives(options);
  return ExtractArchives(options);
}

}  // namespace

int main(int argc, char** argv) {
  return FinishStandardOutput(RunCommand(argc, argv));
}

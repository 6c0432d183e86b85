#include "cli/option_values.h"

#include <algorithm>

#include "extract/parallel_run.h"
#include "platform/usable_cores.h"

namespace {

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// N of -j N: a whole number from 1 to kMaxWorkers, or 0 when `text` is none.
size_t WorkersIn(const std::string& text) {
  if (text.size() > 3 || !IsNumber(text)) return 0;
  const size_t workers = std::stoul(text);
  return workers <= kMaxWorkers ? workers : 0;
}

}  // namespace

std::string WalkArguments(
    int argc, char** argv, std::vector<std::string>& operands,
    const std::function<std::string(const std::string& arg, int& i)>& option) {
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      operands.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (std::string problem = option(arg, i); !problem.empty()) {
      return problem;
    }
  }
  return "";
}

size_t AllCores() {
  return std::min(platform::UsableCores(), kMaxWorkers);
}

std::string TakeWorkers(const std::string& arg, int argc, char** argv, int& i, size_t& workers) {
  std::string count = arg.substr(2);
  if (count.empty() && i + 1 < argc && IsNumber(argv[i + 1])) count = argv[++i];
  workers = count.empty() ? AllCores() : WorkersIn(count);
  if (workers > 0) return "";
  return "-j takes a number of threads from 1 to " + std::to_string(kMaxWorkers);
}

std::string TakePattern(const std::string& arg, int argc, char** argv, int& i,
                        EntryPatterns& patterns) {
  const bool include = arg[1] == 'i';
  std::string value;
  if (!OptionValue(arg, include ? "-i" : "-x", argc, argv, i, value)) {
    return arg.substr(0, 2) + " needs a pattern";
  }
  (include ? patterns.include : patterns.exclude).push_back(value);
  return "";
}

std::string TakeNames(const std::string& arg, int argc, char** argv, int& i, NameEncoding& names) {
  std::string value;
  if (!OptionValue(arg, "--names", argc, argv, i, value)) return "--names needs a code page";
  std::string reason;
  if (!OpenNameEncoding(value, names, &reason)) return "--names " + value + ": " + reason;
  return "";
}

bool OptionValue(const std::string& arg, const std::string& option, int argc, char** argv, int& i,
                 std::string& value) {
  if (arg != option) {
    value = arg.substr(option.size() + (option.size() > 2 ? 1 : 0));
  } else if (i + 1 < argc) {
    value = argv[++i];
  } else {
    return false;
  }
  // An empty value is most often a variable that was never set ("--like $OLd"): taken as
  // no value at all it would quietly change what the command does.
  return !value.empty();
}

bool TakesValue(const std::string& arg, const std::string& option) {
  if (option.size() > 2) return arg == option || arg.rfind(option + "=", 0) == 0;
  return arg.compare(0, 2, option) == 0;
}

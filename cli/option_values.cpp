#include "cli/option_values.h"

#include <algorithm>

#include "extract/parallel_run.h"
#include "platform/usable_cores.h"

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

#include "cli/mount_command.h"

#include <vector>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/option_values.h"

int MountCommand(int argc, char** argv, MountRun mount) {
  constexpr const char* kTooMany = "mount takes one archive and one mount point";
  std::vector<std::string> operands;
  bool foreground = false;
  NameEncoding names;
  const std::string problem =
      WalkArguments(argc, argv, operands, [&](const std::string& arg, int& i) -> std::string {
        if (operands.size() > 2) return kTooMany;  // named before any option after it
        if (arg == "-f" || arg == "--foreground") {
          foreground = true;
          return "";
        }
        if (IsHelp(arg)) return kHelpShown;
        if (TakesValue(arg, "--names")) return TakeNames(arg, argc, argv, i, names);
        return "unknown option '" + arg + "' for mount";
      });
  if (problem == kHelpShown) return kHelpAsked;
  if (!problem.empty()) return UsageError(problem);
  if (operands.size() > 2) return UsageError(kTooMany);
  if (operands.size() < 2) return UsageError("mount needs an archive and a mount point");
  return mount(operands[0], operands[1], foreground, names) ? kExitOk : kExitFailed;
}

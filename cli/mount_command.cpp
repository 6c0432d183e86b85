#include "cli/mount_command.h"

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/option_values.h"

int MountCommand(int argc, char** argv, bool (*mount)(const MountOptions& options)) {
  MountOptions options;
  std::string operands[2];
  int count = 0;
  const std::string problem = WalkArguments(
      argc, argv,
      [&](const std::string& arg) {
        if (count == 2) return "mount takes one archive and one mount point";
        operands[count++] = arg;
        return "";
      },
      [&](const std::string& arg, int& i) -> std::string {
        if (arg == "-f" || arg == "--foreground") {
          options.foreground = true;
          return "";
        }
        if (TakesValue(arg, "--names")) return TakeNames(arg, argc, argv, i, options.names);
        return "unknown option '" + arg + "' for mount";
      });
  if (!problem.empty()) return UsageError(problem);
  if (count < 2) return UsageError("mount needs an archive and a mount point");
  options.archive = operands[0];
  options.mountPoint = operands[1];
  return mount(options) ? kExitOk : kExitFailed;
}

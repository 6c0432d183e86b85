#include "mount/mount_command.h"

#include <cstdio>

#include "extract/exit_codes.h"
#include "names/printable_text.h"

namespace {

int UsageError(const std::string& message) {
  PrintError(message);
  std::fputs("Try 'wza --help'.\n", stderr);
  return kExitFailed;
}

}  // namespace

int MountCommand(int argc, char** argv) {
  MountOptions options;
  std::string operands[2];
  int count = 0;
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (count == 2) return UsageError("mount takes one archive and one mount point");
      operands[count++] = arg;
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-f" || arg == "--foreground") {
      options.foreground = true;
    } else if (arg == "--names" || arg.rfind("--names=", 0) == 0) {
      if (arg == "--names" && i + 1 >= argc) return UsageError("--names needs a code page");
      const std::string codePage = arg == "--names" ? argv[++i] : arg.substr(8);
      // Empty, iconv would take the locale's code page: most likely a variable never set.
      if (codePage.empty()) return UsageError("--names needs a code page");
      std::string reason;
      if (!OpenNameEncoding(codePage, options.names, &reason)) {
        return UsageError("--names " + codePage + ": " + reason);
      }
    } else {
      return UsageError("unknown option '" + arg + "' for mount");
    }
  }
  if (count < 2) return UsageError("mount needs an archive and a mount point");
  options.archive = operands[0];
  options.mountPoint = operands[1];
  return RunMount(options);
}

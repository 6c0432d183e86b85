// The commands of wza that cli/ runs (list, test, extract, pack, diff): their options and
// their runs. mount's options are cli/'s too (cli/mount_command.h); main wires it to mount/.
#pragma once

#include <string>

// What the commands return when the arguments asked for the usage text.
constexpr int kHelpAsked = -1;

// Parses the arguments after the command (argv[2] on) and runs it; the exit code, or
// kHelpAsked. An unknown command is a usage error.
int RunCliCommand(const std::string& command, int argc, char** argv);

// "wza: MESSAGE" and a pointer to --help on stderr; the exit code of a usage error.
int UsageError(const std::string& message);

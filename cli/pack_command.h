// `wza pack`: its options, its progress line and its closing line.
#pragma once

// Parses the arguments after "pack" (argv[2] on) and packs; the exit code, or kHelpAsked.
int PackCommand(int argc, char** argv);

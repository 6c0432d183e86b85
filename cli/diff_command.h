// `wza diff OLD NEW`: what changed between two archives, entry by entry, as lines or as
// one JSON document; the exit code says whether anything did.
#pragma once

// Parses the arguments after "diff" (argv[2] on) and compares; the exit code, or
// kHelpAsked.
int DiffCommand(int argc, char** argv);

// wza: list, test, extract, mount, pack and diff "_ARCHIVE" game archives (*.wza, *.big) from the
// command line. main picks the front end: cli/ for every command's options and runs, and
// mount/, handed to cli/'s mount command, for the mount itself.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "cli/command_line.h"
#include "cli/exit_codes.h"
#include "cli/mount_command.h"
#include "mount/mount_fuse.h"

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
    "       wza pack [--like OLD] [-o NEW] [-x PATTERN]... [-j N] [-0...-9]\n"
    "                [--version 1|2|4] [--record 17|20|22] [--names CODEPAGE] [-q] FOLDER\n"
#ifndef _WIN32
    "       wza diff [-q] [-v] [--json] [-i PATTERN]... [-x PATTERN]... [--names CODEPAGE]\n"
    "                [-j N] OLD NEW\n"
#else
    "       wza diff [-q] [-v] [--json] [-i PATTERN]... [-x PATTERN]... [-j N] OLD NEW\n"
#endif
    "\n"
    "Commands:\n"
    "  list      list every entry: size, stored size, method and name\n"
    "  test      read and inflate every entry without writing anything\n"
    "  extract   write every entry below DEST/__ARCHIVE-NAME/ALIAS/\n"
    "  mount     show what extract would write below __ARCHIVE-NAME/ as a read-only\n"
    "            folder at MOUNTPOINT (Linux); `fusermount3 -u MOUNTPOINT` unmounts\n"
    "  pack      put FOLDER (as extract writes it: __NAME holding the alias folder)\n"
    "            back into an archive, by default NAME beside it\n"
    "  diff      what changed from OLD to NEW, by content, one line each: M NAME\n"
    "            changed, A added, D removed, R OLDNAME -> NEWNAME moved, ! NAME: WHY\n"
    "            not readable whole; NEW's order, then OLD's removals\n"
    "\n"
    "Options:\n"
    "  -i PATTERN     only entries whose name (as list shows it) matches; repeatable.\n"
    "                 * stays within a folder, ** crosses folders, ? is one character;\n"
    "                 case is ignored\n"
    "  -x PATTERN     leave out entries that match; repeatable, wins over -i; pack:\n"
    "                 entries and files that match are not packed\n"
#ifndef _WIN32
    "  --names CODEPAGE  archive names are in CODEPAGE (cp1252, cp932, cp936, utf-8...):\n"
    "                 shown, matched and written as UTF-8 (default: names are bytes)\n"
#endif
    "  -d DEST        extract into DEST (default: the current folder)\n"
    "  -n             extract: never replace a file; one that is there is kept\n"
    "  -p             extract: the chosen entries' bytes to standard output, in archive\n"
    "                 order; nothing is written to disk, messages go to standard error\n"
    "  --json         list, diff: one JSON document for the whole run\n"
    "  -v             diff: also = NAME for each entry with the same content, saying\n"
    "                 when it is stored differently\n"
    "  -q             quiet: no progress bar, no summary; errors are still shown;\n"
    "                 diff: nothing printed, only the exit code\n"
    "  --changed-from OLD  extract: only entries whose content differs from OLD's entry\n"
    "                 of the same name, or that OLD lacks; the rest are left out as\n"
    "                 unchanged and counted\n"
    "  -f             mount: stay in the foreground (Ctrl-C unmounts) instead of\n"
    "                 detaching once the mount is ready\n"
    "  -j [N]         test, extract, pack and diff with N threads (diff: at most 16);\n"
    "                 -j alone or left out: one per core the process may use; -j 1: one\n"
    "                 entry at a time\n"
    "  --like OLD     pack: keep OLD's entries, order and every byte of it that the\n"
    "                 changed files do not force to change\n"
    "  -o NEW         pack: the archive to write (may be OLD itself, replaced whole)\n"
    "  -0 ... -9      pack: zlib level for new and changed compressed entries (6)\n"
    "  --version V    pack without --like: archive version 1, 2 or 4 (2)\n"
    "  --record R     pack without --like: file record size 17, 20 or 22 (20)\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n"
    "\n"
    "Exit codes: 0 all good, 1 some entries failed, an archive was skipped or a pattern\n"
    "matched no entry, 2 usage error, nothing could be read or the output could not be\n"
    "written, 130 interrupted (Ctrl-C) while extracting.\n"
    "pack: 0 written, 1 some files of FOLDER could not be read, 2 usage error or a\n"
    "refusal, 130 interrupted; in every case but 0 nothing is written.\n"
    "diff: 0 the same content, 1 differences (a ! entry too), 2 trouble: an archive\n"
    "that does not load, a usage error, a pattern that matched no entry.\n";

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
  const int exitCode = command == "mount" ? MountCommand(argc, argv, RunMount)
                                          : RunCliCommand(command, argc, argv);
  if (exitCode != kHelpAsked) return exitCode;
  std::fputs(kUsage, stdout);
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  int exitCode = kExitFailed;
  try {
    exitCode = RunCommand(argc, argv);
  } catch (const std::bad_alloc&) {
    // Each command lets an archive that does not fit fail alone; what is left is a run
    // that cannot go on at all, which is said, not left to an abort.
    std::fputs("wza: not enough memory to go on\n", stderr);
  }
  return FinishStandardOutput(exitCode);
}

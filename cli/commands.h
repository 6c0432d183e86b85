// list, test and extract: the commands of `wza` that read archives' entries. Each returns
// the process exit code:
// 0 all good, 1 some entries failed, an archive was skipped or a pattern matched nothing,
// 2 nothing could be read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "names/entry_pattern.h"
#include "names/name_encoding.h"

struct CliOptions {
  std::vector<std::string> archives;
  std::string destination = ".";
  bool quiet = false;
  EntryPatterns patterns;         // -i and -x; notes which patterns matched
  NameEncoding names;             // --names
  bool keepExisting = false;      // -n
  bool toStandardOutput = false;  // -p
  bool json = false;              // --json
  std::string changedFrom;        // --changed-from OLD: extract leaves out unchanged entries
  size_t workers = 1;  // threads for test and extract
};

int ListArchives(CliOptions& options);
int TestArchives(CliOptions& options);
int ExtractArchives(CliOptions& options);

// The three commands of `wza`. Each returns the process exit code:
// 0 all good, 1 some entries failed or an archive was skipped, 2 nothing could be read.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr int kExitOk = 0;
constexpr int kExitPartial = 1;
constexpr int kExitFailed = 2;  // also a usage error

struct CliOptions {
  std::vector<std::string> archives;
  std::string destination = ".";
  bool quiet = false;
  size_t workers = 1;  // threads for test and extract
};

int ListArchives(const CliOptions& options);
int TestArchives(const CliOptions& options);
int ExtractArchives(const CliOptions& options);

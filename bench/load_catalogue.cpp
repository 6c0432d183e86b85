// Times LoadCatalogue alone, without the printing of `wza list`: loads the archive
// several times and prints the fastest and the median load in milliseconds.
//
//   wza_bench_load ARCHIVE [TIMES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "archive/catalogue.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: wza_bench_load ARCHIVE [TIMES]\n");
    return 2;
  }
  const int times = argc > 2 ? std::max(1, std::atoi(argv[2])) : 15;
  std::vector<double> ms;
  size_t entries = 0;
  for (int i = 0; i < times; ++i) {
    OpenArchive archive;
    const auto start = std::chrono::steady_clock::now();
    const LoadOutcome outcome = LoadCatalogue(argv[1], archive);
    const auto end = std::chrono::steady_clock::now();
    if (outcome != LoadOutcome::Loaded) {
      std::fprintf(stderr, "wza_bench_load: %s does not load\n", argv[1]);
      return 1;
    }
    entries = archive.catalogue.entries.size();
    ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("%zu entries: fastest %.2f ms, median %.2f ms over %d loads\n", entries, ms.front(),
              ms[ms.size() / 2], times);
  return 0;
}

// libFuzzer target: the bytes of one archive, written to a file in memory (tmpfs). An
// archive the loader accepts is extracted as `wza extract` does it, and its extraction
// packed --like it as `wza pack --like` does it: that must give the archive back byte for
// byte, whatever the archive held (unsafe names, damaged streams, shared or stray bytes).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "archive/catalogue.h"
#include "extract/extraction_run.h"
#include "fuzz/fuzz_check.h"
#include "pack/pack_run.h"

namespace fs = std::filesystem;

namespace {

struct Workspace {
  fs::path root;
  std::string archive;  // root/a.big
  std::string dest;     // root/x/, ends with a separator
  std::string packed;   // root/b.big
};

const Workspace& Work() {
  // Never destroyed: the handler that removes its folder at exit still reads it then.
  static const Workspace& work = *new Workspace([] {
    Workspace w;
    const char* given = std::getenv("WZA_FUZZ_WORKDIR");
    const fs::path base = given != nullptr         ? fs::path(given)
                          : fs::exists("/dev/shm") ? fs::path("/dev/shm")
                                                   : fs::temp_directory_path();
    w.root = base / ("wza-fuzz-pack-" + std::to_string(::getpid()));
    fs::create_directories(w.root);
    w.archive = (w.root / "a.big").string();
    w.dest = (w.root / "x").string() + "/";
    w.packed = (w.root / "b.big").string();
    if (given == nullptr) {
      std::atexit([] {
        std::error_code ignored;
        fs::remove_all(Work().root, ignored);
      });
    }
    return w;
  }());
  return work;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Workspace& work = Work();
  {
    std::ofstream out(work.archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  {
    OpenArchive archive;
    if (LoadCatalogue(work.archive, archive) != LoadOutcome::Loaded) return 0;
  }
  std::error_code ignored;
  fs::remove_all(work.dest, ignored);
  fs::remove(work.packed, ignored);
  fs::create_directories(work.dest);
  RunArchives({work.archive}, work.dest, size, RunCallbacks());
  // An archive none of whose entries could be written leaves no folder: an empty one
  // stands for it.
  fs::create_directories(work.dest + "__a.big");

  PackRequest request;
  request.folder = work.dest + "__a.big";
  request.like = work.archive;
  request.output = work.packed;
  PackCallbacks callbacks;
  std::string notes;
  callbacks.note = [&](const std::string& line) { notes += line + "\n"; };
  const PackOutcome outcome = PackFolder(request, callbacks);
  if (outcome.exitCode != 0 || ReadAll(work.packed) != std::string(reinterpret_cast<const char*>(data), size)) {
    std::fprintf(stderr, "exit %d\n%s", outcome.exitCode, notes.c_str());
    for (const std::string& problem : outcome.problems) std::fprintf(stderr, "%s\n", problem.c_str());
    FUZZ_CHECK(!"the extraction packed --like its archive gives the archive back");
  }
  return 0;
}

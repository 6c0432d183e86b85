// libFuzzer entry point: the input is the bytes of one archive. It is written to a file,
// loaded with LoadCatalogue and every entry is extracted below a fresh folder, exactly as
// `wza extract` does it, by one thread or two. Besides the sanitizers' findings, anything
// written outside that folder is a finding: no archive may make the run write outside its
// destination. The destination lies several folders deep in the work folder, and the whole
// work folder is compared before and after, so that a write any number of levels above the
// destination is caught. Where the build has the faster inflate, every entry must also come
// out of it exactly as out of zlib.
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "decode/entry_decode.h"
#include "extract/extraction_run.h"

namespace fs = std::filesystem;

namespace {

struct Workspace {
  fs::path root;        // private to this process; holds only the archive and dest/
  std::string archive;  // root/a.big
  std::string dest;     // root/d1/d2/d3/d4/dest/, ends with a separator
  bool ownsRoot = false;
};

Workspace& Work() {
  // Never destroyed: the handler that removes its folder at exit still reads it then.
  static Workspace& work = *new Workspace([] {
    Workspace w;
    // run.sh hands a folder it removes afterwards; run by hand, a folder of our own.
    const char* given = std::getenv("WZA_FUZZ_WORKDIR");
    const fs::path base = given != nullptr         ? fs::path(given)
                          : fs::exists("/dev/shm") ? fs::path("/dev/shm")
                                                   : fs::temp_directory_path();
    w.root = base / ("wza-fuzz-" + std::to_string(::getpid()));
    fs::create_directories(w.root);
    w.ownsRoot = given == nullptr;
    w.archive = (w.root / "a.big").string();
    w.dest = (w.root / "d1" / "d2" / "d3" / "d4" / "dest").string() + "/";
    if (w.ownsRoot) {
      std::atexit([] {
        std::error_code ignored;
        fs::remove_all(Work().root, ignored);
      });
    }
    return w;
  }());
  return work;
}

// The bytes and outcome of one entry, through the faster inflate or zlib alone.
std::string Decoded(OpenArchive& archive, size_t index, DecodeWorkspace& workspace,
                    EntryResult& result) {
  std::string bytes;
  result = DecodeEntry(
      archive, index, workspace,
      [&](const unsigned char* data, size_t length) {
        bytes.append(reinterpret_cast<const char*>(data), length);
        return true;
      },
      [&] {
        bytes.clear();
        return true;
      });
  return bytes;
}

void CompareInflates(const std::string& path) {
  OpenArchive archive;
  if (!FastInflateAvailable() || LoadCatalogue(path, archive) != LoadOutcome::Loaded) return;
  const ArchiveCatalogue& catalogue = archive.catalogue;
  DecodeWorkspace fast;
  DecodeWorkspace zlibOnly;
  zlibOnly.fastInflate = false;
  for (size_t i = 0; i < catalogue.entries.size(); ++i) {
    // A zlib bomb is zlib's alone to decode: its size says nothing about the other one.
    if (catalogue.entries[i].size > (1u << 24)) continue;
    EntryResult one;
    EntryResult other;
    if (Decoded(archive, i, fast, one) != Decoded(archive, i, zlibOnly, other) ||
        one.status != other.status || one.bytesRead != other.bytesRead) {
      std::fprintf(stderr, "entry %zu: the faster inflate differs from zlib\n", i);
      std::abort();
    }
  }
}

// Everything in the work folder but the destination's inside: each path with its kind and
// size, and its time of change, so that a file written over is seen too.
std::map<std::string, std::string> WorkFolderState(const Workspace& work) {
  std::map<std::string, std::string> state;
  const fs::path dest = fs::path(work.dest).parent_path();
  for (auto it = fs::recursive_directory_iterator(work.root);
       it != fs::recursive_directory_iterator(); ++it) {
    const fs::directory_entry& item = *it;
    const bool folder = item.is_directory();
    const auto changed = fs::last_write_time(item.path()).time_since_epoch().count();
    state[item.path().string()] =
        folder ? "/" : std::to_string(item.file_size()) + "@" + std::to_string(changed);
    if (folder && item.path() == dest) it.disable_recursion_pending();
  }
  return state;
}

void WriteArchive(const std::string& path, const uint8_t* data, size_t size) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Workspace& work = Work();
  WriteArchive(work.archive, data, size);
  fs::create_directories(work.dest);
  const std::map<std::string, std::string> before = WorkFolderState(work);

  RunCallbacks callbacks;  // none needed: the run reports through its summary
  // Inputs of odd length are extracted by two threads side by side.
  const size_t workers = 1 + size % 2;
  const RunSummary summary = RunArchives({work.archive}, work.dest, size, callbacks, workers);
  if (summary.entriesFailed > summary.entriesAttempted) std::abort();

  const std::map<std::string, std::string> after = WorkFolderState(work);
  if (after != before) {
    for (const auto& [path, state] : after) {
      const auto was = before.find(path);
      if (was == before.end() || was->second != state) {
        std::fprintf(stderr, "written outside the destination: %s\n", path.c_str());
      }
    }
    std::abort();
  }
  fs::remove_all(work.dest);
  CompareInflates(work.archive);
  return 0;
}

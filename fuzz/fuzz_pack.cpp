// libFuzzer target: the bytes of one archive, written to a file in memory (tmpfs). An
// archive the loader accepts is extracted as `wza extract` does it, and its extraction
// packed --like it as `wza pack --like` does it: that must give the archive back byte for
// byte, whatever the archive held (unsafe names, damaged streams, shared or stray bytes).
// Then, for one input in eight, one extracted file chosen by the input is changed (its bytes,
// shortened, grown a little or a lot, or a file added beside it) and the tree packed --like
// again: that must be refused (exit 2, nothing written) or give an archive whose extraction
// is the changed tree, so that the layout's room for a changed entry is fuzzed too, not only
// its identity.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "archive/catalogue.h"
#include "extract/extraction_run.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/pack_change.h"
#include "pack/pack_run.h"

namespace fs = std::filesystem;

namespace {

struct Workspace {
  fs::path root;
  std::string archive;  // root/a.big
  std::string dest;     // root/x/, ends with a separator
  std::string packed;   // root/b.big
  fs::path changedAt;   // root/p/: holds only what the changed tree's pack writes
  std::string again;    // root/y/: where that archive is extracted
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
    w.changedAt = w.root / "p";
    w.again = (w.root / "y").string() + "/";
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

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Extracts `archive` into a fresh `dest`, as `wza extract` does; returns its folder, made
// when no entry could be written (an empty one stands for it).
std::string Extracted(const std::string& archive, const std::string& dest) {
  std::error_code ignored;
  fs::remove_all(dest, ignored);
  fs::create_directories(dest);
  RunArchives({archive}, dest, fs::file_size(archive), RunCallbacks());
  const std::string folder = dest + "__" + fs::path(archive).filename().string();
  fs::create_directories(folder);
  return folder;
}

PackOutcome PackLike(const std::string& folder, const std::string& output, std::string& notes) {
  PackRequest request;
  request.folder = folder;
  request.like = Work().archive;
  request.output = output;
  PackCallbacks callbacks;
  callbacks.note = [&](const std::string& line) { notes += line + "\n"; };
  return PackFolder(request, callbacks);
}

void Report(const PackOutcome& outcome, const std::string& notes) {
  std::fprintf(stderr, "result %d\n%s", static_cast<int>(outcome.result), notes.c_str());
  for (const std::string& problem : outcome.problems) std::fprintf(stderr, "%s\n", problem.c_str());
}

// Every file and folder below `folder`, by relative path: a file's bytes, "/" for a folder.
std::map<std::string, std::string> TreeOf(const fs::path& folder) {
  std::map<std::string, std::string> tree;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(item.path(), folder).string();
    tree[name] = item.is_directory() ? std::string("/") : "=" + ReadAll(item.path());
  }
  return tree;
}

// Changes one file of the tree, picked by `choice`: another first byte, cut to half, a byte
// more, grown past any room between entries, or a new file beside it (so that the folders'
// ranges of files are laid out afresh).
void ChangeOneFile(const fs::path& folder, uint64_t choice) {
  std::vector<fs::path> files;
  for (const auto& item : fs::recursive_directory_iterator(folder)) {
    if (item.is_regular_file()) files.push_back(item.path());
  }
  if (files.empty()) return;
  std::sort(files.begin(), files.end());
  const fs::path& file = files[choice % files.size()];
  std::string bytes = ReadAll(file);
  switch (PackChange(choice)) {
    case 0:
      if (bytes.empty()) bytes = "x";
      bytes[0] = static_cast<char>(bytes[0] ^ 0x55);
      break;
    case 1:
      bytes.resize(bytes.size() / 2);
      break;
    case 2:
      bytes += '+';
      break;
    case 3:
      bytes += std::string(5000 + choice % 3000, static_cast<char>(choice >> 24));
      break;
    default:
      WriteAll(file.parent_path() / "added by fuzz_pack.txt", "new");
      return;
  }
  WriteAll(file, bytes);
}

void ReportDifferences(const std::map<std::string, std::string>& changed,
                       const std::map<std::string, std::string>& extracted) {
  for (const auto& [name, bytes] : changed) {
    const auto found = extracted.find(name);
    if (found == extracted.end() || found->second != bytes) {
      std::fprintf(stderr, "differs: %s\n", name.c_str());
    }
  }
  for (const auto& [name, bytes] : extracted) {
    if (changed.count(name) == 0) {
      std::fprintf(stderr, "not in the changed tree: %s\n", name.c_str());
    }
  }
}

// The changed tree packed --like the archive: refused with nothing written, or an archive
// whose extraction is that tree.
void CheckChangedTree(const std::string& folder, uint64_t choice) {
  const Workspace& work = Work();
  std::error_code ignored;
  fs::remove_all(work.changedAt, ignored);
  fs::create_directories(work.changedAt);
  ChangeOneFile(folder, choice);
  const fs::path output = work.changedAt / "a.big";
  std::string notes;
  const PackOutcome outcome = PackLike(folder, output.string(), notes);
  if (outcome.result == PackResult::Refused && fs::is_empty(work.changedAt)) return;
  if (outcome.result != PackResult::Written) {
    Report(outcome, notes);
    FUZZ_CHECK(!"a changed tree is packed, or refused with nothing written");
  }
  // An archive the loader refuses extracts as an empty tree: never the changed one.
  const std::string again = Extracted(output.string(), work.again);
  const std::map<std::string, std::string> changed = TreeOf(folder);
  const std::map<std::string, std::string> extracted = TreeOf(again);
  if (extracted != changed) {
    Report(outcome, notes);
    ReportDifferences(changed, extracted);
    FUZZ_CHECK(!"the archive packed from a changed tree extracts as that tree");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Workspace& work = Work();
  WriteAll(work.archive, std::string(reinterpret_cast<const char*>(data), size));
  {
    OpenArchive archive;
    if (LoadCatalogue(work.archive, archive) != LoadOutcome::Loaded) return 0;
  }
  std::error_code ignored;
  fs::remove(work.packed, ignored);
  const std::string folder = Extracted(work.archive, work.dest);

  std::string notes;
  const PackOutcome outcome = PackLike(folder, work.packed, notes);
  if (outcome.result != PackResult::Written ||
      ReadAll(work.packed) != std::string(reinterpret_cast<const char*>(data), size)) {
    Report(outcome, notes);
    FUZZ_CHECK(!"the extraction packed --like its archive gives the archive back");
  }
  const uint64_t choice = PackChoice(data, size);
  if (PacksChanged(choice)) CheckChangedTree(folder, choice);
  return 0;
}

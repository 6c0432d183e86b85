// Archives of just over 4 GiB with entries beyond 2 GiB and 4 GiB, for `wza list`, `test`
// and `extract`. The files are sparse: only the tables and the entries' bytes take disk.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/archive_writer.h"
#include "tests/support/run_program.h"
#include "tests/support/test_files.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr uint64_t k2GiB = uint64_t{1} << 31;
constexpr uint64_t k4GiB = uint64_t{1} << 32;

struct Piece {
  uint64_t at;
  std::string bytes;
};

// Writes a file of `length` bytes holding `pieces` and holes elsewhere. Returns why it
// could not, or "" when done. A file system that would spend real disk on the holes
// counts as refusing.
std::string WriteSparse(const fs::path& path, uint64_t length, const std::vector<Piece>& pieces) {
#ifdef _WIN32
  const HANDLE file = CreateFileW(path.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "cannot create the file";
  DWORD ignored = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  std::string why;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(length);
  if (!SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
    why = "the file system refuses a file of this length";
  }
  for (const Piece& piece : pieces) {
    if (!why.empty()) break;
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(piece.at);
    where.OffsetHigh = static_cast<DWORD>(piece.at >> 32);
    DWORD put = 0;
    if (!WriteFile(file, piece.bytes.data(), static_cast<DWORD>(piece.bytes.size()), &put,
                   &where) ||
        put != piece.bytes.size()) {
      why = "cannot write at a position beyond 4 GiB";
    }
  }
  CloseHandle(file);
  return why;
#else
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return "cannot create the file";
  std::string why;
  if (::ftruncate(fd, static_cast<off_t>(length)) != 0) {
    why = "the file system refuses a file of this length";
  }
  for (const Piece& piece : pieces) {
    if (!why.empty()) break;
    if (::pwrite(fd, piece.bytes.data(), piece.bytes.size(), static_cast<off_t>(piece.at)) !=
        static_cast<ssize_t>(piece.bytes.size())) {
      why = "cannot write at a position beyond 4 GiB";
    }
  }
  struct stat info {};
  if (why.empty() && (::fstat(fd, &info) != 0 || uint64_t(info.st_blocks) * 512 > (64u << 20))) {
    why = "the file system does not keep holes";
  }
  ::close(fd);
  return why;
#endif
}

struct LargeEntry {
  TestEntry entry;
  uint64_t at;  // absolute position of its stored bytes; 0: where the writer put them
};

// Builds the archive's tables with the writer, then moves every entry's bytes to its
// position and sets its data offset relative to `dataOffset` (the header's; 0 keeps the
// writer's).
std::vector<Piece> LargeArchive(const std::vector<LargeEntry>& entries, uint32_t dataOffset) {
  ArchiveSpec spec;
  spec.alias = "big";
  spec.folders = {{"", {}}, {"far", {}}};
  for (size_t i = 0; i < entries.size(); ++i) {
    spec.folders[i == 0 ? 0 : 1].entries.push_back(entries[i].entry);
  }
  BuiltArchive built = BuildArchive(spec);
  const uint32_t base = dataOffset != 0 ? dataOffset : built.dataOffset;
  PutU32(built.bytes, 176, base);
  std::vector<Piece> pieces;
  for (size_t i = 0; i < entries.size(); ++i) {
    const size_t from = built.entryDataAt[i];
    const size_t to = i + 1 < entries.size() ? built.entryDataAt[i + 1] : built.bytes.size();
    const uint64_t at = entries[i].at != 0 ? entries[i].at : from;
    EXPECT_GE(at, base);
    EXPECT_LE(at - base, 0xFFFFFFFFu);
    PutU32(built.bytes, built.fileAt + i * 20 + 8, static_cast<uint32_t>(at - base));
    pieces.push_back({at, built.bytes.substr(from, to - from)});
  }
  pieces.insert(pieces.begin(), {0, built.bytes.substr(0, built.entryDataAt[0])});
  return pieces;
}

std::string Pattern(const std::string& seed, size_t length) {
  std::string bytes;
  while (bytes.size() < length) bytes += seed + std::to_string(bytes.size()) + "|";
  bytes.resize(length);
  return bytes;
}

TEST(LargeArchive, EntriesBeyond2And4GiBAreListedTestedAndExtracted) {
  const std::string across = Pattern("across", 256);
  const std::string beyond = Pattern("beyond 4 GiB ", 300000);
  const std::string past2 = Pattern("past 2 GiB ", 5000);
  // A: a small header data offset and entry offsets up to nearly 4 GiB; B: a header data
  // offset of 3 GiB, so that only the 64-bit sum of the two reaches the entries.
  struct Layout {
    const char* name;
    uint32_t dataOffset;
    std::vector<LargeEntry> entries;
  };
  const std::vector<Layout> layouts = {
      {"low.big",
       0,
       // The header's data offset plus 32 bits reach a few hundred bytes past 4 GiB.
       {{{"low.txt", "near the start"}, 0},
        {{"past2.bin", past2}, k2GiB + 16},
        {{"across.bin", across}, k4GiB - 128},
        {{"edge.txt", "just past 4 GiB"}, k4GiB + 136},
        {{"beyond.z", beyond, true}, k4GiB + 200}}},
      {"high.big",
       0xC0000000u,
       {{{"low.txt", "at 3 GiB"}, 0xC0000000u},
        {{"past2.bin", past2}, 0xC0001000u},
        {{"across.bin", across}, k4GiB - 128},
        {{"edge.txt", "far past 4 GiB"}, k4GiB + 0x40000000u},
        {{"beyond.z", beyond, true}, k4GiB + 0x40000000u + 4096}}},
  };
  TempFolder folder;
  for (const Layout& layout : layouts) {
    const fs::path archive = folder.path / layout.name;
    const std::vector<Piece> pieces = LargeArchive(layout.entries, layout.dataOffset);
    uint64_t length = 0;
    for (const Piece& piece : pieces) length = std::max(length, piece.at + piece.bytes.size());
    ASSERT_GT(length, k4GiB);
    const std::string why = WriteSparse(archive, length, pieces);
    if (!why.empty()) {
      std::error_code ignored;
      fs::remove(archive, ignored);
      GTEST_SKIP() << "no sparse file of " << length << " bytes here: " << why;
    }

    const ProgramResult list =
        RunProgram(SiblingProgram("wza"), {"list", layout.name}, folder.path.string());
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("        5000         5000  stored     big/far/past2.bin\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("      300000 "), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("compressed big/far/beyond.z\n"), std::string::npos) << list.out;

    const ProgramResult test =
        RunProgram(SiblingProgram("wza"), {"test", layout.name}, folder.path.string());
    EXPECT_EQ(test.exitCode, 0) << test.err;
    EXPECT_EQ(test.out, std::string(layout.name) + ": 5 entries ok\n");

    const ProgramResult extract = RunProgram(
        SiblingProgram("wza"), {"extract", "-q", "-d", "out", layout.name}, folder.path.string());
    EXPECT_EQ(extract.exitCode, 0) << extract.err;
    const fs::path out = folder.path / "out" / ("__" + std::string(layout.name)) / "big";
    EXPECT_EQ(ReadFile(out / "low.txt"), layout.entries[0].entry.data) << layout.name;
    EXPECT_EQ(ReadFile(out / "far" / "past2.bin"), past2) << layout.name;
    EXPECT_EQ(ReadFile(out / "far" / "across.bin"), across) << layout.name;
    EXPECT_EQ(ReadFile(out / "far" / "beyond.z"), beyond) << layout.name;
    EXPECT_EQ(ReadFile(out / "far" / "edge.txt"), layout.entries[3].entry.data) << layout.name;
    fs::remove(archive);
  }
}

}  // namespace
